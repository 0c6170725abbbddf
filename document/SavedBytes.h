#pragma once
// What the window's Save Value / Save Frame / Save Picture and
// quillon-dump --extract write: an element's value bytes or a frame's stored
// bytes as they lie in the file (in a deflated file, in its inflated data
// set), and a frame decoded at full size as the thumbnail shows it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/Status.h"
#include "dicom/TransferSyntax.h"

class MCImage;

namespace quillon {

class QuillonDocument;

// Receives the bytes in blocks; false stops the copy (a write failed).
using ByteSink = std::function<bool(const uint8_t*, std::size_t)>;

// The value of tree record `record`: its length's bytes from the data
// offset; for an undefined length everything up to the element's end (its
// items and the delimitation item); never past what the document holds.
// False with the reason in `error` when the bytes cannot be read, or
// without one when `write` refused them.
bool WriteValueBytes(const QuillonDocument& doc, std::size_t record, const ByteSink& write, std::string& error);

// Frame `frame`'s stored bytes (from 0): native data its bytes, encapsulated
// data its fragments' values joined, without item headers.
bool WriteFrameBytes(const QuillonDocument& doc, uint64_t frame, const ByteSink& write, std::string& error);

// The file name extension, with its dot, of a frame stored with that
// compression: ".jpg", ".j2k", ".jph", ".jls", ".jxl", ".mpg", ".mp4",
// ".hevc", ".rle"; ".raw" for native and other data.
std::string_view FrameFileExtension(std::optional<Compression> compression);

// The name offered for saving frame `frame` (from 0) of the file at `path`:
// "NAME-frame0001.jpg", numbered from 1 as the tree's frame labels are.
// `extension` with its dot.
std::string FrameFileName(const std::filesystem::path& path, uint64_t frame, std::string_view extension);

// Frame `frame` of the open document decoded at full size as a 24-bit RGB
// image (rows from the top, R G B), windowed and, for MONOCHROME1, inverted
// as its thumbnail is; none with the decoder's reason in `why`.
std::unique_ptr<MCImage> FramePicture(QuillonDocument& doc, std::size_t frame, Status& why);

}  // namespace quillon
