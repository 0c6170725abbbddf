// The 16-bit build of the JPEG library.
#include <cstdio>
extern "C" {
#include <gdcmjpeg/16/jpeglib.h>
}

#define QUILLON_JPEG_DECODE DecodeJpeg16
#include "image/JpegDecoderBuild.inc"
