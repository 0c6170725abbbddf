#include "dicom/DicomFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "dicom/LoaderRules.h"

using quillon::AllocBlock;

namespace {

// Bytes 4 and 5 of a bare data set that name a VR mean explicit VR.
bool LooksLikeExplicitVR(uint8_t a, uint8_t b) {
    static const char* const kCodes[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH",
                                         "ST", "TM", "UI", "UN", "UT", "AT", "FL", "FD", "SL", "SS", "UL",
                                         "US", "OB", "OW", "SQ", "OD", "OF", "OL", "OV", "SV", "UC", "UR", "UV"};
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
    m_pixel = {};
}

bool CDicomFile::Load(const std::filesystem::path& path) {
    m_problems.Clear();
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
    if (!AttachFile(fd)) {
        Reset();
        return false;
    }
    if (!RecogniseAndParse()) return Refuse();
    return FinishLoad();
}

bool CDicomFile::LoadMemory(const uint8_t* data, std::size_t size) {
    m_problems.Clear();
    Reset();
    if (!AttachMemory(data, size) || !RecogniseAndParse()) return Refuse();
    return FinishLoad();
}

bool CDicomFile::Refuse(const char* reason) {
    if (!m_problems.Stopped()) Stop(Position(), 0, 0, reason ? reason : "the bytes here cannot be read as a data set");
    m_problems.ForgetNodes();
    Reset();
    return false;
}

bool CDicomFile::FinishLoad() {
    if (m_tags.size() < quillon::rules::kMinimumElements)
        return Refuse("fewer elements than a DICOM file has: not taken for one");
    ReleaseSource();
    SettleItemLengths();
    quillon::LoadPixelDescription(m_tags, m_pixel);
    if (IsPaletteColor() && !quillon::LoadPaletteLuts(m_tags, m_pixel))
        return Refuse("the palette colour lookup tables cannot be read");
    return true;
}

bool CDicomFile::RecogniseAndParse() {
    SeekTo(0);
    if (FileSize() < quillon::rules::kPreambleAndMagic) {
        m_hasPreamble = false;
        m_explicitVR = false;
        m_littleEndian = LittleEndianTagTest();
        if (!m_littleEndian && !BigEndianTagTest()) return false;
        return ReadDataSet();
    }
    uint8_t head[quillon::rules::kPreambleAndMagic];
    if (!CopyAt(0, head, sizeof head)) return false;
    if (quillon::rules::HasRefusedSignature(head))
        return Stop(0, 0, 0, "a file with this signature is not a DICOM file");
    if (std::memcmp(head + 128, "DICM", 4) == 0) {
        m_hasPreamble = true;
        SeekTo(quillon::rules::kPreambleAndMagic);
        if (!LittleEndianTagTest() && !BigEndianTagTest())
            return Stop(Position(), 0, 0, "the first tag of the file meta information is implausible");
        if (!ReadMetaInformation()) return false;
        ApplyTransferSyntax();
        return ReadDataSet();
    }
    // A bare data set.
    m_hasPreamble = false;
    m_explicitVR = LooksLikeExplicitVR(head[4], head[5]);
    m_littleEndian = LittleEndianTagTest();
    if (!m_littleEndian && !BigEndianTagTest())
        return Stop(0, uint16_t(head[0] | head[1] << 8), uint16_t(head[2] | head[3] << 8),
                    "no DICM at byte 128, and the first tag is implausible in either byte order");
    if (!m_explicitVR || !quillon::rules::kRetryBareDataSetAsImplicit) return ReadDataSet();
    const std::size_t before = m_problems.Size();
    if (ReadDataSet()) return true;
    // Taken as explicit VR and failed: start again as implicit VR. What the
    // abandoned parse found goes, but where it stopped is said.
    std::string stopped = "read as explicit VR, the data set stopped";
    if (m_problems.Stopped()) {
        const SLoadProblem& stop = m_problems.All().back();
        stopped += " at offset " + std::to_string(stop.offset) + " (" + stop.text + ")";
    }
    m_problems.Truncate(before);
    Note(ProblemCode::ImplicitRetry, 0, 0, 0, nullptr, stopped + "; it is read again as implicit VR");
    RemoveAll();
    m_pixel = {};
    SeekTo(0);
    m_explicitVR = false;
    m_littleEndian = LittleEndianTagTest();
    if (!m_littleEndian && !BigEndianTagTest()) return false;
    return ReadDataSet();
}
