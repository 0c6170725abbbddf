#pragma once
// The picture button's thumbnail: a frame's image scaled to fit and centred
// on the 128 x 128 black canvas.
#include <QPixmap>

#include "doc/QuillonDocument.h"

namespace quillon {

// The side of the square canvas, in pixels.
constexpr int kThumbnailCanvas = 128;

// The thumbnail drawn on the canvas; a null pixmap when it has no pixels
// (or fewer than its size says).
QPixmap ComposeThumbnail(const FrameThumbnail& thumbnail);

}  // namespace quillon
