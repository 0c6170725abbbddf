#include "app/ThumbnailCanvas.h"

#include <QImage>
#include <QPainter>

namespace quillon {

QPixmap ComposeThumbnail(const FrameThumbnail& t) {
    if (t.width <= 0 || t.height <= 0 || t.pixels.size() < std::size_t(t.width) * std::size_t(t.height)) return {};
    const QImage frame(reinterpret_cast<const uchar*>(t.pixels.data()), t.width, t.height, t.width * 4,
                       QImage::Format_ARGB32);
    QImage canvas(kThumbnailCanvas, kThumbnailCanvas, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    const QImage scaled =
        frame.scaled(kThumbnailCanvas, kThumbnailCanvas, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&canvas);
    painter.drawImage((kThumbnailCanvas - scaled.width()) / 2, (kThumbnailCanvas - scaled.height()) / 2, scaled);
    painter.end();
    return QPixmap::fromImage(canvas);
}

}  // namespace quillon
