#pragma once
// The bytes of the picture button's bitmap: a 128 x 128 thumbnail in the pixel
// format of the screen.
#include <cstdint>
#include <vector>

class MCImage;

// Thumbnail size of a width x height image: the longer side 128, the other
// trunc(128 / x + 0.5) or trunc(x x 128 + 0.5) for x = width / height.
// (0, 0) for a height of 0.
struct ThumbnailSize {
    uint32_t width = 0;
    uint32_t height = 0;
};
ThumbnailSize ThumbnailFitSize(uint32_t width, uint32_t height);

// The bytes of a 128 x 128 bitmap at `screenDepth` bits per pixel, rows from the
// top (32: B G R 0, 24: B G R, 16: 5-6-5 words low byte first, 8: a 15-level
// grey index), made from a copy of `image` fitted to 128 x 128 (nearest
// neighbour, centred on the canvas when not square) and converted to 24 bits.
// `bits` first becomes 65536 zero bytes (the cleared picture) and stays so when
// the result is false: no image, no pixels or a failed step. Another screen
// depth gives true and no bytes: nothing to draw, the picture stays cleared.
bool MakeThumbnailBitmapBits(const MCImage* image, int screenDepth, std::vector<uint8_t>& bits);
