// HTJ2K frames through OpenJPH: a bare codestream whose image header was
// checked against the frame first (PlausibleJpeg2000Header). OpenJPH
// decodes line by line into the output; a stream it cannot read throws,
// and its messages are kept from standard error.
#include <openjph/ojph_arch.h>
#include <openjph/ojph_codestream.h>
#include <openjph/ojph_file.h>
#include <openjph/ojph_mem.h>
#include <openjph/ojph_message.h>
#include <openjph/ojph_params.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

#include "image/FrameCodecs.h"

using quillon::AllocBlock;
using quillon::HeapPtr;
using quillon::Reason;

namespace {

// Components beyond these are not kept (the frame has at most four samples).
constexpr unsigned kMaxHtj2kComponents = 16;

// OpenJPH reports through process-wide handlers: information and warnings
// are dropped, errors become an exception carrying the library's sentence.
// (The stream that the dropped notes would go to is opened once and kept.)
class SilentInfo : public ojph::message_info {
public:
    void operator()(int, const char*, int, const char*, ...) override {}
};
class SilentWarning : public ojph::message_warning {
public:
    void operator()(int, const char*, int, const char*, ...) override {}
};
class ThrowingError : public ojph::message_error {
public:
    void operator()(int, const char*, int, const char* format, ...) override {
        char text[200];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        throw std::runtime_error(text);
    }
};

void ConfigureMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        static SilentInfo info;
        static SilentWarning warning;
        static ThrowingError error;
        ojph::configure_info(&info);
        ojph::configure_warning(&warning);
        ojph::configure_error(&error);
        // The library's reader writes its notes through its own default
        // handler whatever is configured: they go nowhere.
        if (FILE* nowhere = std::fopen("/dev/null", "w")) {
            ojph::set_info_stream(nowhere);
            ojph::set_warning_stream(nowhere);
        }
    });
}

// A sentence of the library's message: its first letter upper case, ending
// with a full stop.
std::string Sentence(const char* message) {
    std::string text(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) return "The HTJ2K decoder refused the stream.";
    if (text.back() != '.') text.push_back('.');
    return "The HTJ2K decoder refused the stream: " + text;
}

}  // namespace

quillon::Status DecodeHtj2kFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                 DecodedFrame& out) {
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (length < 2 || bytes[0] != 0xFF || bytes[1] != 0x4F)
        return FrameFailure(Reason::CodecRefused, "The stream does not start with a JPEG 2000 codestream marker.");
    if (quillon::Status status = PlausibleJpeg2000Header(bytes, length, d); !status) return status;
    if (quillon::Status status = CheckDecodedSize(d); !status) return status;
    const int allocated = d.pixel.bitsAllocated;
    if (allocated != 8 && allocated != 16 && allocated != 32)
        return FrameFailure(Reason::CodecRefused, "The HTJ2K decoder does not take frames of %d bits allocated.",
                            allocated);
    ConfigureMessages();

    const uint64_t size = ExpectedDecodedSize(d);
    const unsigned samples = DecodedSamples(d);
    const unsigned sampleBytes = unsigned(allocated / 8);
    const uint32_t width = d.pixel.columns, height = d.pixel.rows;
    try {
        ojph::mem_infile file;
        file.open(bytes, std::size_t(length));
        ojph::codestream stream;
        stream.enable_resilience();
        stream.read_headers(&file);
        ojph::param_siz siz = stream.access_siz();
        const unsigned components = siz.get_num_components();
        for (unsigned c = 0; c < components; ++c) {
            const ojph::point step = siz.get_downsampling(c);
            if (step.x != 1 || step.y != 1)
                return FrameFailure(Reason::CodecRefused, "The HTJ2K decoder does not take subsampled components.");
            if (int(siz.get_bit_depth(c)) > allocated)
                return FrameFailure(Reason::DimensionsDiffer,
                                    "The stream's samples have %u bits; the file allocates %d bits to each.",
                                    siz.get_bit_depth(c), allocated);
        }
        HeapPtr<uint8_t> output(static_cast<uint8_t*>(AllocBlock(std::size_t(size))));
        if (!output)
            return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                                static_cast<unsigned long long>(size));
        std::memset(output.get(), 0, std::size_t(size));
        stream.create();
        // Each pulled line is one row of one component; components past the
        // frame's samples are read and dropped. A lossy stream's samples may
        // overshoot their component's range and are held to it.
        int32_t low[kMaxHtj2kComponents] = {}, high[kMaxHtj2kComponents] = {};
        for (unsigned c = 0; c < components && c < kMaxHtj2kComponents; ++c) {
            const int bits = std::clamp(int(siz.get_bit_depth(c)), 1, 31);
            low[c] = siz.is_signed(c) ? -(int32_t(1) << (bits - 1)) : 0;
            high[c] = siz.is_signed(c) ? (int32_t(1) << (bits - 1)) - 1 : int32_t((int64_t(1) << bits) - 1);
        }
        auto store = [&](uint32_t y, unsigned c, const ojph::line_buf* line) {
            if (c >= samples || c >= kMaxHtj2kComponents || !line) return;
            const uint32_t n = uint32_t(std::min<std::size_t>(line->size, width));
            uint8_t* row = output.get() + (uint64_t(y) * width * samples + c) * sampleBytes;
            const int32_t* values = line->i32;
            for (uint32_t x = 0; x < n; ++x) {
                const uint32_t v = uint32_t(std::clamp(values[x], low[c], high[c]));
                uint8_t* at = row + uint64_t(x) * samples * sampleBytes;
                for (unsigned b = 0; b < sampleBytes; ++b) at[b] = uint8_t(v >> (8 * b));
            }
        };
        ojph::ui32 component = 0;
        if (stream.is_planar()) {
            for (unsigned c = 0; c < components; ++c)
                for (uint32_t y = 0; y < height; ++y) {
                    const ojph::line_buf* line = stream.pull(component);
                    store(y, component, line);
                }
        } else {
            for (uint32_t y = 0; y < height; ++y)
                for (unsigned c = 0; c < components; ++c) {
                    const ojph::line_buf* line = stream.pull(component);
                    store(y, component, line);
                }
        }
        stream.close();
        out.data = std::move(output);
        out.size = size;
        return {};
    } catch (const std::bad_alloc&) {
        return FrameFailure(Reason::OverBudget, "There is no memory for the HTJ2K decoder.");
    } catch (const std::exception& e) {
        return quillon::Status::Fail(Reason::CodecRefused, Sentence(e.what()));
    }
}
