#include "dicom/DicomFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

using quillon::AllocBlock;

namespace {

// Bytes 4 and 5 of a bare data set that name a VR mean explicit VR.
bool LooksLikeExplicitVR(uint8_t a, uint8_t b) {
    static const char* const kCodes[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT",
                                         "PN", "SH", "ST", "TM", "UI", "UN", "UT", "AT", "FL",
                                         "FD", "SL", "SS", "UL", "US", "OB", "OW", "SQ"};
    auto upper = [](uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c; };
    for (const char* code : kCodes)
        if (upper(a) == uint8_t(code[0]) && upper(b) == uint8_t(code[1])) return true;
    return false;
}

}  // namespace

CDicomFile::CDicomFile() { Reset(); }

CDicomFile::~CDicomFile() = default;

void CDicomFile::Reset() {
    ResetHeader();
    ClearPixelModule();
    m_rescaleSlope = 1.0;
}

bool CDicomFile::Load(const std::filesystem::path& path) {
    Reset();
    // Only regular files: a directory, a pipe or a device has no size to read.
    // Opened without blocking, because opening a named pipe for reading would
    // otherwise wait for a writer; a regular file reads the same either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return false;
    }
    m_file = file;
    if (fseeko(file, 0, SEEK_END) != 0) {
        Reset();
        return false;
    }
    const off_t end = ftello(file);
    if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) {
        Reset();
        return false;
    }
    m_fileSize = uint64_t(end);
    // The buffer is filled from the open file as the parse advances (FillTo);
    // without a buffer the parser reads from the file itself. A file that
    // yields fewer bytes than its size fails the parse either way.
    m_buffer.reset(static_cast<uint8_t*>(AllocBlock(m_fileSize)));
    m_filled = 0;
    if (!RecogniseAndParse()) {
        Reset();
        return false;
    }
    return FinishLoad();
}

bool CDicomFile::LoadMemory(const uint8_t* data, std::size_t size) {
    Reset();
    m_fileSize = size;
    m_buffer.reset(static_cast<uint8_t*>(AllocBlock(size)));
    if (!m_buffer) {
        Reset();
        return false;
    }
    if (size) std::memcpy(m_buffer.get(), data, size);
    m_filled = size;
    if (!RecogniseAndParse()) {
        Reset();
        return false;
    }
    return FinishLoad();
}

bool CDicomFile::FinishLoad() {
    if (m_tags.size() < 6) {
        Reset();
        return false;
    }
    m_buffer.reset();
    m_filled = 0;
    LoadPixelModule(m_tags);
    if (IsPaletteColor() && !LoadPaletteLuts(m_tags)) {
        Reset();
        return false;
    }
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    return true;
}

bool CDicomFile::RecogniseAndParse() {
    m_position = 0;
    if (m_fileSize < 132) {
        m_hasPreamble = false;
        m_explicitVR = false;
        m_littleEndian = LittleEndianTagTest();
        if (!m_littleEndian && !BigEndianTagTest()) return false;
        return ReadDataSet();
    }
    uint8_t head[132];
    if (!CopyAt(0, head, sizeof head)) return false;
    if (std::memcmp(head, "PAPYRUS", 7) == 0) return false;
    if (std::memcmp(head + 128, "DICM", 4) == 0) {
        m_hasPreamble = true;
        m_position = 132;
        if (!LittleEndianTagTest() && !BigEndianTagTest()) return false;
        if (!ReadMetaInformation()) return false;
        ApplyTransferSyntax();
        return ReadDataSet();
    }
    // A bare data set.
    m_hasPreamble = false;
    m_explicitVR = LooksLikeExplicitVR(head[4], head[5]);
    m_littleEndian = LittleEndianTagTest();
    if (!m_littleEndian && !BigEndianTagTest()) return false;
    if (!m_explicitVR) return ReadDataSet();
    if (ReadDataSet()) return true;
    // Taken as explicit VR and failed: start again as implicit VR.
    RemoveAll();
    ClearPixelModule();
    m_rescaleSlope = 1.0;
    m_position = 0;
    m_explicitVR = false;
    m_littleEndian = LittleEndianTagTest();
    if (!m_littleEndian && !BigEndianTagTest()) return false;
    return ReadDataSet();
}
