#include "tools/PngWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include <zlib.h>

namespace {

// zlib's CRC-32 and Adler-32 (the PNG's and its zlib stream's), which run
// many bytes a step.
uint32_t Crc(uint32_t c, const char* bytes, std::size_t n) {
    return uint32_t(crc32_z(c, reinterpret_cast<const Bytef*>(bytes), n));
}

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xFF));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    Put32(png, uint32_t(data.size()));
    png.append(type, 4);
    png += data;
    const uint32_t crc = Crc(Crc(0, type, 4), data.data(), data.size());
    Put32(png, crc);
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

}  // namespace

bool WriteRgbPng(const std::filesystem::path& path, uint32_t width, uint32_t height, const uint8_t* rgb, int* error) {
    if (error) *error = 0;
    if (width == 0 || height == 0 || !rgb) return false;
    // Raw scan lines, each with filter type 0.
    std::string raw;
    const std::size_t rowBytes = std::size_t(width) * 3;
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(rgb + y * rowBytes), rowBytes);
    }
    // zlib stream of stored blocks, then the Adler-32 of the raw bytes.
    std::string z = {'\x78', '\x01'};
    for (std::size_t pos = 0; pos < raw.size() || raw.empty(); pos += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        z.push_back(pos + n >= raw.size() ? '\x01' : '\x00');
        z.push_back(char(n & 0xFF));
        z.push_back(char(n >> 8));
        z.push_back(char(~n & 0xFF));
        z.push_back(char((~n >> 8) & 0xFF));
        z.append(raw, pos, n);
        if (raw.empty()) break;
    }
    Put32(z, uint32_t(adler32_z(1, reinterpret_cast<const Bytef*>(raw.data()), raw.size())));

    std::string png = "\x89PNG\r\n\x1A\n";
    std::string header;
    Put32(header, width);
    Put32(header, height);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", std::string());

    // Written under a temporary name beside the target and renamed when
    // complete, so that a failed write never leaves a partial PNG.
    std::filesystem::path temp = path;
    temp += ".part";
    const auto fail = [&](int code) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        if (error) *error = code;
        return false;
    };
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(temp.c_str(), "wb"));
    if (!f) {
        if (error) *error = errno;
        return false;
    }
    if (std::fwrite(png.data(), 1, png.size(), f.get()) != png.size()) {
        const int code = errno;
        f.reset();
        return fail(code);
    }
    if (std::fclose(f.release()) != 0) return fail(errno);
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) return fail(ec.value());
    return true;
}
