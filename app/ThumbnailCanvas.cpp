#include "app/ThumbnailCanvas.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <vector>

#include "image/ThumbnailBitmap.h"

namespace quillon {

int ScreenDepth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 32;
}

QPixmap LoadFromMCImage(const MCImage* image, int screenDepth) {
    std::vector<uint8_t> bits;
    MakeThumbnailBitmapBits(image, screenDepth, bits);
    const int side = kThumbnailCanvas;
    QImage picture;
    switch (bits.size()) {
        case std::size_t(side * side * 4):  // B, G, R, 0
            picture = QImage(bits.data(), side, side, side * 4, QImage::Format_RGB32).copy();
            break;
        case std::size_t(side * side * 3):  // B, G, R
            picture = QImage(bits.data(), side, side, side * 3, QImage::Format_BGR888).copy();
            break;
        case std::size_t(side * side * 2):  // 5-6-5 words, low byte first
            picture = QImage(bits.data(), side, side, side * 2, QImage::Format_RGB16).copy();
            break;
        case std::size_t(side * side): {
            // Indices into the screen's palette: 0 black, 255 white and the
            // grey levels 1..13 at 234..246.
            picture = QImage(bits.data(), side, side, side, QImage::Format_Indexed8).copy();
            QList<QRgb> table(256, qRgb(0, 0, 0));
            for (int v = 1; v < 14; ++v) table[233 + v] = qRgb(v * 255 / 14, v * 255 / 14, v * 255 / 14);
            table[255] = qRgb(255, 255, 255);
            picture.setColorTable(table);
            break;
        }
        default: break;
    }
    if (picture.isNull()) {
        picture = QImage(side, side, QImage::Format_RGB32);
        picture.fill(Qt::black);
    }
    return QPixmap::fromImage(picture);
}

}  // namespace quillon
