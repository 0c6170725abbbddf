// The 12-bit build of the JPEG library.
#include <cstdio>
extern "C" {
#include <gdcmjpeg/12/jpeglib.h>
}

#define QUILLON_JPEG_DECODE DecodeJpeg12
#include "image/JpegDecoderBuild.inc"
