#pragma once
// A small PNG writer for 24-bit RGB pictures (stored, uncompressed deflate
// blocks): enough for thumbnails, with no library behind it.
#include <cstdint>
#include <filesystem>

// Writes width x height pixels of R, G, B bytes, rows from the top. False
// when the file cannot be written, with the system's error number in *error
// (0 when the picture itself is empty); no file is left at `path` then.
bool WriteRgbPng(const std::filesystem::path& path, uint32_t width, uint32_t height, const uint8_t* rgb,
                 int* error = nullptr);
