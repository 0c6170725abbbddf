#include "app/QuillonResources.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>

namespace quillon {

QString LoadString(int id) {
    if (id == IDS_ABOUTBOX) return QStringLiteral("&About Quillon...");
    return {};
}

QImage DefaultPictureImage() {
    QImage image(128, 128, QImage::Format_Indexed8);
    // A 16-colour table; the picture uses two of its entries.
    QList<QRgb> colours;
    for (int i = 0; i < 16; ++i) colours.push_back(qRgb(0, 0, 0));
    colours[7] = qRgb(0xC0, 0xC0, 0xC0);
    colours[15] = qRgb(0xFF, 0xFF, 0xFF);
    image.setColorTable(colours);
    image.fill(7);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x)
            if (x >= 126 || y >= 126) image.setPixel(x, y, 15);
    }
    return image;
}

QPixmap DefaultPicture() { return QPixmap::fromImage(DefaultPictureImage().convertToFormat(QImage::Format_RGB32)); }

QPixmap DecodingPicture() {
    QImage image = DefaultPictureImage().convertToFormat(QImage::Format_RGB32);
    QPainter p(&image);
    p.setPen(Qt::black);
    p.setFont(DialogFont());
    p.drawText(QRect(0, 0, 126, 126), Qt::AlignCenter, QStringLiteral("decoding..."));
    p.end();
    return QPixmap::fromImage(image);
}

namespace {

// A page of hex lines with one highlighted band and a folded corner.
QPixmap IconPixmap(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, size >= 24);
    const qreal s = size / 32.0;
    const QRectF page(4 * s, 2 * s, 24 * s, 28 * s);
    const qreal fold = 7 * s;
    QPainterPath outline;
    outline.moveTo(page.left(), page.top());
    outline.lineTo(page.right() - fold, page.top());
    outline.lineTo(page.right(), page.top() + fold);
    outline.lineTo(page.right(), page.bottom());
    outline.lineTo(page.left(), page.bottom());
    outline.closeSubpath();
    p.fillPath(outline, QColor(0xFF, 0xFF, 0xFF));
    p.setPen(QPen(QColor(0x30, 0x30, 0x60), qMax<qreal>(1.0, s)));
    p.drawPath(outline);
    QPainterPath corner;
    corner.moveTo(page.right() - fold, page.top());
    corner.lineTo(page.right() - fold, page.top() + fold);
    corner.lineTo(page.right(), page.top() + fold);
    p.fillPath(corner, QColor(0xEE, 0xD8, 0x80));
    p.drawPath(corner);
    // Byte rows, the third one highlighted as the selected element.
    for (int row = 0; row < 5; ++row) {
        const qreal y = page.top() + (11 + row * 3.4) * s;
        const QRectF band(page.left() + 3 * s, y, page.width() - 6 * s, 2 * s);
        p.fillRect(band, row == 2 ? QColor(0x00, 0x00, 0xE0) : QColor(0xA0, 0xA0, 0xB0));
    }
    p.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(IconPixmap(size));
    return icon;
}

QFont DialogFont() {
    QFont font;
    for (const char* family : {"MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif", "Tahoma"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            font = QFont(QString::fromLatin1(family), 8);
            return font;
        }
    }
    // Pinned, so that the dialog's geometry does not depend on what else is installed.
    font = QFont(QStringLiteral("DejaVu Sans"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace quillon
