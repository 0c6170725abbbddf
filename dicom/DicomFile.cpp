#include "dicom/DicomFile.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "dicom/LoaderRules.h"
#include "dicom/OpenFile.h"

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
    ClearPixelModule();
    m_rescaleSlope = 1.0;
}

quillon::Status CDicomFile::Load(const std::filesystem::path& path) {
    m_problems.Clear();
    Reset();
    int fd = -1;
    if (quillon::Status opened = quillon::OpenForReading(path, &fd); !opened) return opened;
    try {
        if (!AttachFile(fd)) {
            const int error = errno;
            Reset();
            return quillon::CannotReadFile(error);
        }
        if (!RecogniseAndParse()) return Refuse();
        return FinishLoad();
    } catch (const std::bad_alloc&) {
        return ShortOfMemory();
    }
}

quillon::Status CDicomFile::LoadMemory(const uint8_t* data, std::size_t size) {
    m_problems.Clear();
    Reset();
    try {
        if (!AttachMemory(data, size)) return ShortOfMemory();
        if (!RecogniseAndParse()) return Refuse();
        return FinishLoad();
    } catch (const std::bad_alloc&) {
        return ShortOfMemory();
    }
}

quillon::Status CDicomFile::Refuse(const char* reason) {
    const uint64_t size = FileSize();
    if (!m_problems.Stopped()) Stop(Position(), 0, 0, reason ? reason : "the bytes here cannot be read as a data set");
    m_problems.ForgetNodes();
    Reset();
    return quillon::RefusedBytes(size, m_problems.All().back());
}

quillon::Status CDicomFile::ShortOfMemory() {
    // Half a parse: neither its nodes nor its problems are kept.
    m_problems.Clear();
    Reset();
    return quillon::OutOfMemory();
}

quillon::Status CDicomFile::FinishLoad() {
    if (m_tags.size() < quillon::rules::kMinimumElements)
        return Refuse("fewer elements than a DICOM file has: not taken for one");
    ReleaseSource();
    SettleItemLengths();
    LoadPixelModule(m_tags);
    if (IsPaletteColor() && !LoadPaletteLuts(m_tags)) return Refuse("the palette colour lookup tables cannot be read");
    return {};
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
    ClearPixelModule();
    m_rescaleSlope = 1.0;
    SeekTo(0);
    m_explicitVR = false;
    m_littleEndian = LittleEndianTagTest();
    if (!m_littleEndian && !BigEndianTagTest()) return false;
    return ReadDataSet();
}
