#include "document/SavedBytes.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "document/QuillonDocument.h"
#include "image/FrameDecoder.h"
#include "image/MCImage.h"

namespace quillon {

namespace {

// A block at a time, so that a frame or value of any size passes through a
// small buffer.
constexpr std::size_t kBlock = 1 << 20;

// Copies bytes [offset, offset + size) of the document's bytes to `write`.
bool CopyBytes(const QuillonDocument& doc, uint64_t offset, uint64_t size, const ByteSink& write, std::string& error) {
    std::vector<uint8_t> buffer(std::size_t(std::min<uint64_t>(size, kBlock)));
    while (size > 0) {
        const std::size_t n = std::size_t(std::min<uint64_t>(size, kBlock));
        if (!doc.ReadData(offset, buffer.data(), n)) {
            error = "cannot read bytes " + std::to_string(offset) + " to " + std::to_string(offset + n - 1) +
                    " of the file";
            return false;
        }
        if (!write(buffer.data(), n)) return false;
        offset += n;
        size -= n;
    }
    return true;
}

}  // namespace

bool WriteValueBytes(const QuillonDocument& doc, std::size_t record, const ByteSink& write, std::string& error) {
    if (record >= doc.Records().size()) {
        error = "no such element";
        return false;
    }
    std::unique_ptr<CDicomTag> scratch;
    const CDicomTag* element = doc.Records()[record].PeekElement(scratch);
    if (!element) {
        error = "the element cannot be read";
        return false;
    }
    const uint64_t last = doc.ShownRange(doc.File()->ElementRange(element)).second;
    const uint64_t start = element->m_dataOffset;
    uint64_t size = last + 1 > start ? last + 1 - start : 0;
    if (element->GetLength() != kUndefinedLength) size = std::min<uint64_t>(size, element->GetLength());
    return CopyBytes(doc, start, size, write, error);
}

bool WriteFrameBytes(const QuillonDocument& doc, uint64_t frame, const ByteSink& write, std::string& error) {
    const CDicomFile* file = doc.File();
    const CDicomTag7FE0* pixelData = file ? file->PixelData() : nullptr;
    const std::string name = "frame " + std::to_string(frame);
    if (!pixelData) {
        error = "no " + name + ": the file has no pixel data";
        return false;
    }
    if (pixelData->FragmentCount() > 0) {
        const FrameFragments& fragments = file->Fragments();
        if (frame >= fragments.FrameCount()) {
            error = "no " + name + ": the pixel data has " + std::to_string(fragments.FrameCount()) +
                    " frames with fragments";
            return false;
        }
        const FragmentRange range = fragments.Range(std::size_t(frame));
        for (std::size_t k = range.first; k < range.last; ++k)
            if (!CopyBytes(doc, pixelData->FragmentDataOffset(k), pixelData->FragmentLength(k), write, error))
                return false;
        return true;
    }
    if (frame >= pixelData->FrameCount()) {
        error = "no " + name + ": the pixel data has " + std::to_string(pixelData->FrameCount()) + " frames";
        return false;
    }
    return CopyBytes(doc, pixelData->FrameOffset(std::size_t(frame)), pixelData->FrameBytes(std::size_t(frame)), write,
                     error);
}

std::string_view FrameFileExtension(std::optional<Compression> compression) {
    switch (compression.value_or(Compression::None)) {
        case Compression::JPEG:
        case Compression::JPEGLossless: return ".jpg";
        case Compression::JPEGLSLossless:
        case Compression::JPEGLSLossy: return ".jls";
        case Compression::JPEG2000Lossless:
        case Compression::JPEG2000Lossy: return ".j2k";
        case Compression::HTJ2KLossless:
        case Compression::HTJ2KLosslessRPCL:
        case Compression::HTJ2K: return ".jph";
        case Compression::JPEGXLLossless:
        case Compression::JPEGXLRecompression:
        case Compression::JPEGXL: return ".jxl";
        case Compression::MPEG2: return ".mpg";
        case Compression::H264: return ".mp4";
        case Compression::HEVC: return ".hevc";
        case Compression::RLE: return ".rle";
        default: return ".raw";
    }
}

std::string FrameFileName(const std::filesystem::path& path, uint64_t frame, std::string_view extension) {
    char number[32];
    std::snprintf(number, sizeof number, "-frame%04llu", static_cast<unsigned long long>(frame + 1));
    std::string stem = path.stem().string();
    if (stem.empty()) stem = "frame";
    return stem + number + std::string(extension);
}

std::unique_ptr<MCImage> FramePicture(QuillonDocument& doc, std::size_t frame, Status& why) {
    FrameDecoder* frames = doc.Frames();
    if (!frames) {
        why = Status::Fail(Reason::NoDecoder, "The file has no frames to decode.");
        return nullptr;
    }
    const std::shared_ptr<const MCImage> decoded = frames->GetFrameImage(frame);
    if (!decoded) {
        why = frames->FrameStatus(frame);
        return nullptr;
    }
    auto picture = std::make_unique<MCImage>(*decoded);
    if (frames->Description().pixel.IsMonochrome1()) picture->Invert();
    if (picture->ConvertTo24Bit() == 0) {
        why = Status::Fail(Reason::NoMemory, "The picture cannot be converted to RGB.");
        return nullptr;
    }
    return picture;
}

}  // namespace quillon
