// 8-bit lossy JPEG through libjpeg-turbo (SIMD): the same pixels as the IJG
// 8-bit build's integer IDCT, in a fraction of the time. Its symbols are
// the plain jpeg_* names; the IJG builds' are prefixed, so both link.
#include <cstdio>
extern "C" {
#include <jpeglib.h>
}

#define QUILLON_JPEG_DECODE DecodeJpegTurbo
#define QUILLON_JPEG_LOSSY_ONLY 1
#include "image/JpegDecoderBuild.inc"
