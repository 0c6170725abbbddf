#pragma once
// The picture button's thumbnail bitmap: a frame's thumbnail image in the
// pixel format of the screen.
#include <QPixmap>

class MCImage;

namespace quillon {

// The side of the square picture, in pixels.
constexpr int kThumbnailCanvas = 128;

// Bits per pixel of the screen the window is shown on (32 when unknown).
int ScreenDepth();

// The 128 x 128 picture of `image` (fitted to the square when it is not
// 128 x 128) at `screenDepth` bits per pixel. No image, or one that cannot be
// shown, gives the cleared (black) picture; a screen depth other than 8, 16,
// 24 or 32 gives it too.
QPixmap LoadFromMCImage(const MCImage* image, int screenDepth);

}  // namespace quillon
