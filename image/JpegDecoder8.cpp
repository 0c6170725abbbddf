// The 8-bit build of the JPEG library.
#include <cstdio>
extern "C" {
#include <gdcmjpeg/8/jpeglib.h>
}

#define QUILLON_JPEG_DECODE DecodeJpeg8
#include "image/JpegDecoderBuild.inc"
