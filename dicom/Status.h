#pragma once
// The outcome of an operation that can fail for a reason the user should
// read: opening a file, decoding a frame. A failure carries a code (for
// callers that branch on it) and one sentence in the viewer's own words
// (for whoever shows it); success carries neither.
#include <cstdint>
#include <string>
#include <utility>

namespace quillon {

enum class Reason {
    None,  // success
    // Opening a file.
    NotFound,          // no file at the path
    Directory,         // the path names a folder
    NotRegularFile,    // a pipe, a device, a socket
    PermissionDenied,  // the system refused to open it for reading
    CannotRead,        // opened, but a read failed (the system's own text)
    Empty,             // a file of no bytes
    NotDicom,          // the bytes are no data set; the text says where the parse stopped
    NoMemory,          // an allocation failed
    // Decoding a frame.
    NoDecoder,          // no decoder for this transfer syntax
    NoBytes,            // the frame has no bytes in the file
    CodecRefused,       // the decoder rejected the stream
    StreamEndsEarly,    // the stream ends before the image is complete
    DimensionsDiffer,   // the stream's image is not the one the file describes
    OverBudget,         // decoding would need more memory than a frame may take
};

class Status {
public:
    // Success.
    Status() = default;
    static Status Fail(Reason reason, std::string text) { return Status(reason, std::move(text)); }

    explicit operator bool() const { return m_reason == Reason::None; }
    bool Ok() const { return m_reason == Reason::None; }
    Reason Code() const { return m_reason; }
    // One sentence, without a line end; empty on success.
    const std::string& Text() const { return m_text; }

private:
    Status(Reason reason, std::string text) : m_reason(reason), m_text(std::move(text)) {}
    Reason m_reason = Reason::None;
    std::string m_text;
};

}  // namespace quillon
