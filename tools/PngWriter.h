#pragma once
// A small PNG writer for 24-bit RGB pictures (stored, uncompressed deflate
// blocks): enough for thumbnails, with no library behind it.
#include <cstdint>
#include <filesystem>

// Writes width x height pixels of R, G, B bytes, rows from the top. False,
// with errno set and nothing left at `path`, when the file cannot be written.
bool WriteRgbPng(const std::filesystem::path& path, uint32_t width, uint32_t height, const uint8_t* rgb);
