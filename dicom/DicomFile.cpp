#include "dicom/DicomFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "dicom/DicomReader.h"
#include "dicom/LoaderRules.h"
#include "dicom/OpenFile.h"
#include "dicom/ProblemChecks.h"

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

CDicomFile::CDicomFile() : m_inflateLimit(quillon::rules::kInflatedDataSetLimit) { Reset(); }

CDicomFile::~CDicomFile() = default;

void CDicomFile::Reset() {
    m_partial = false;
    m_stopOffset = 0;
    m_inflation.reset();
    m_reader.reset();
    m_checks.reset();
    m_dataSet.Clear();
    m_source.reset();
    m_encoding = {};
    m_pixel = {};
    m_fragments = {};
}

const CDicomTag7FE0* CDicomFile::PixelData() const {
    // A data set holds one of the three; (7FE0,0010) is looked for first.
    for (const quillon::Tag tag :
         {quillon::tags::kPixelData, quillon::tags::kFloatPixelData, quillon::tags::kDoubleFloatPixelData})
        if (const CDicomTag* element = Find(tag)) return dynamic_cast<const CDicomTag7FE0*>(element);
    return nullptr;
}

CDicomTag7FE0* CDicomFile::PixelData() {
    return const_cast<CDicomTag7FE0*>(static_cast<const CDicomFile*>(this)->PixelData());
}

bool CDicomFile::AttachFile(int fd) {
    m_source = quillon::FileBytes::FromDescriptor(fd);
    return StartReader();
}

bool CDicomFile::AttachMemory(const uint8_t* data, std::size_t size) {
    m_source = quillon::FileBytes::FromMemory(data, size);
    return StartReader();
}

bool CDicomFile::StartReader() {
    if (!m_source) return false;
    m_checks = std::make_unique<quillon::ProblemChecks>(m_problems);
    m_reader = std::make_unique<quillon::DicomReader>(m_source, m_pixel, m_problems, *m_checks);
    return true;
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
        if (!RecogniseAndParse()) return Stopped();
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
        if (!RecogniseAndParse()) return Stopped();
        return FinishLoad();
    } catch (const std::bad_alloc&) {
        return ShortOfMemory();
    }
}

quillon::Status CDicomFile::Refuse(const char* reason) {
    const uint64_t size = m_reader ? m_reader->FileSize() : m_source ? m_source->Size() : 0;
    if (!m_problems.Stopped())
        m_problems.Add(ProblemCode::Stopped, m_reader ? m_reader->Position() : 0, 0, 0, nullptr,
                       reason ? reason : "the bytes here cannot be read as a data set");
    m_problems.ForgetNodes();
    Reset();
    return quillon::RefusedBytes(size, m_problems.All().back());
}

quillon::Status CDicomFile::Stopped() {
    if (!m_reader || !m_problems.Stopped()) return Refuse();
    const TagList& read = m_reader->Tree().Elements();
    const bool onlyGroup0000 =
        std::all_of(read.begin(), read.end(), [](const auto& e) { return !e || e->m_group == 0x0000; });
    if (!quillon::rules::KeepsPartialParse(m_reader->GetEncoding().hasPreamble, read.size(), onlyGroup0000,
                                           m_reader->StoppedOutsideDataSet()))
        return Refuse();
    const SLoadProblem stop = m_problems.All().back();
    // Palette tables that cannot be read leave a partial file without them.
    KeepWhatWasRead(true);
    // Problems may name nodes the parse built but did not keep (the element
    // it stopped at): those keep their offset and tag only.
    std::unordered_map<const CDicomTag*, bool> named;
    for (const SLoadProblem& p : m_problems.All())
        if (p.node) named.emplace(p.node, false);
    if (!named.empty()) {
        std::vector<const CDicomTag*> pending;
        for (const auto& e : m_dataSet.Elements()) pending.push_back(e.get());
        while (!pending.empty()) {
            const CDicomTag* node = pending.back();
            pending.pop_back();
            if (!node) continue;
            if (const auto at = named.find(node); at != named.end()) at->second = true;
            for (const auto& child : node->m_children) pending.push_back(child.get());
        }
        m_problems.ForgetNodesIf([&named](const CDicomTag* node) { return !named[node]; });
    }
    const uint64_t size = m_reader->FileSize();
    m_reader.reset();
    m_checks.reset();
    m_partial = true;
    m_stopOffset = stop.offset;
    return quillon::RefusedBytes(size, stop);
}

quillon::Status CDicomFile::ShortOfMemory() {
    // Half a parse: neither its nodes nor its problems are kept.
    m_problems.Clear();
    Reset();
    return quillon::OutOfMemory();
}

bool CDicomFile::KeepWhatWasRead(bool parseStopped) {
    m_dataSet = m_reader->TakeTree();
    m_encoding = m_reader->GetEncoding();
    quillon::UnsettledLengths unsettled = m_reader->TakeUnsettledLengths();
    if (parseStopped) {
        // The parse left off part way through its bookkeeping: the item
        // lengths are settled over the whole tree as read.
        unsettled = {};
        unsettled.settledIn[!m_encoding.explicitVR] = true;
    }
    quillon::SettleItemLengths(m_dataSet, m_encoding.explicitVR, unsettled);
    quillon::LoadPixelDescription(m_dataSet.Elements(), m_pixel);
    const bool luts = !IsPaletteColor() || quillon::LoadPaletteLuts(m_dataSet.Elements(), m_pixel);
    if (const CDicomTag* pixelData = PixelData())
        m_fragments = quillon::FrameFragments::Read(*pixelData, m_pixel.numberOfFrames,
                                                    Find(quillon::tags::kExtendedOffsetTable));
    return luts;
}

quillon::Status CDicomFile::FinishLoad() {
    const bool luts = KeepWhatWasRead(false);
    if (m_dataSet.Size() < quillon::rules::kMinimumElements)
        return Refuse("fewer elements than a DICOM file has: not taken for one");
    if (!luts) return Refuse("the palette colour lookup tables cannot be read");
    // The reader goes with its window; the source stays for whoever shows the file.
    m_reader.reset();
    m_checks.reset();
    return {};
}

bool CDicomFile::RecogniseAndParse() {
    quillon::DicomReader& reader = *m_reader;
    reader.SeekTo(0);
    if (reader.FileSize() < quillon::rules::kPreambleAndMagic) {
        const bool littleEndian = reader.LittleEndianTagTest();
        reader.SetEncoding({.hasPreamble = false, .explicitVR = false, .littleEndian = littleEndian});
        if (!littleEndian && !reader.BigEndianTagTest()) return false;
        return reader.ReadDataSet();
    }
    uint8_t head[quillon::rules::kPreambleAndMagic];
    if (!reader.CopyAt(0, head, sizeof head)) return false;
    if (quillon::rules::HasRefusedSignature(head))
        return reader.Stop(0, 0, 0, "a file with this signature is not a DICOM file");
    if (std::memcmp(head + 128, "DICM", 4) == 0) {
        // The file meta information is explicit VR little endian.
        reader.SetEncoding({.hasPreamble = true, .explicitVR = true, .littleEndian = true});
        reader.SeekTo(quillon::rules::kPreambleAndMagic);
        if (!reader.LittleEndianTagTest() && !reader.BigEndianTagTest())
            return reader.Stop(reader.Position(), 0, 0, "the first tag of the file meta information is implausible");
        if (!reader.ReadMetaInformation()) return false;
        reader.ApplyTransferSyntax();
        if (reader.DataSetDeflated()) return InflateAndParse();
        return reader.ReadDataSet();
    }
    // A bare data set.
    const bool explicitVR = LooksLikeExplicitVR(head[4], head[5]);
    const bool littleEndian = reader.LittleEndianTagTest();
    reader.SetEncoding({.hasPreamble = false, .explicitVR = explicitVR, .littleEndian = littleEndian});
    if (!littleEndian && !reader.BigEndianTagTest())
        return reader.Stop(0, uint16_t(head[0] | head[1] << 8), uint16_t(head[2] | head[3] << 8),
                           "no DICM at byte 128, and the first tag is implausible in either byte order");
    if (!explicitVR || !quillon::rules::kRetryBareDataSetAsImplicit) return reader.ReadDataSet();
    const std::size_t before = m_problems.Size();
    if (reader.ReadDataSet()) return true;
    // Taken as explicit VR and failed: start again as implicit VR. What the
    // abandoned parse found goes, but where it stopped is said.
    std::string stopped = "read as explicit VR, the data set stopped";
    const uint64_t explicitStop = m_problems.Stopped() ? m_problems.All().back().offset : 0;
    if (m_problems.Stopped()) {
        const SLoadProblem& stop = m_problems.All().back();
        stopped += " at offset " + std::to_string(stop.offset) + " (" + stop.text + ")";
    }
    m_problems.Truncate(before);
    m_problems.Add(ProblemCode::ImplicitRetry, 0, 0, 0, nullptr, stopped + "; it is read again as implicit VR");
    reader.ClearTree();
    m_pixel = {};
    reader.SeekTo(0);
    const bool retryLittleEndian = reader.LittleEndianTagTest();
    reader.SetEncoding({.hasPreamble = false, .explicitVR = false, .littleEndian = retryLittleEndian});
    if ((retryLittleEndian || reader.BigEndianTagTest()) && reader.ReadDataSet()) return true;
    // Neither reading holds to the end: a partial load keeps the one that got
    // further (a cut explicit VR data set reads as junk in implicit VR, and
    // stops sooner), the implicit one on a tie.
    if (!m_problems.Stopped() || m_problems.All().back().offset >= explicitStop) return false;
    m_problems.Truncate(before);
    reader.ClearTree();
    m_pixel = {};
    reader.SeekTo(0);
    reader.SetEncoding({.hasPreamble = false, .explicitVR = true, .littleEndian = littleEndian});
    return reader.ReadDataSet();
}

bool CDicomFile::InflateAndParse() {
    quillon::DicomReader& reader = *m_reader;
    const uint64_t from = reader.Position();
    quillon::InflateResult inflated = quillon::InflateDataSet(*m_source, from, m_inflateLimit, m_inflateProgress);
    m_inflation = inflated.outcome;
    const quillon::InflateOutcome& outcome = *m_inflation;
    m_source->AttachInflated(from, std::move(inflated.bytes));
    reader.SourceChanged();
    const bool parsed = reader.ReadDataSet();
    const uint64_t end = m_source->Size();
    if (outcome.end == quillon::InflateEnd::Complete) {
        // Bytes of the file after the stream are not shown.
        if (outcome.trailing && parsed)
            m_problems.Add(ProblemCode::TrailingBytes, end, 0, 0, nullptr,
                           std::to_string(outcome.trailing) + " bytes of the file follow the end of the deflated stream (from byte " +
                               std::to_string(outcome.fileOffset) + " of the file); they are not shown");
        return parsed;
    }
    // The inflation stopped early: that is the stop, at the parser's stop
    // when the inflated bytes ended inside an element, else where they end.
    const std::string sentence = quillon::InflateFailureSentence(outcome, end, m_inflateLimit);
    if (parsed || !m_problems.Stopped()) return reader.Stop(end, 0, 0, sentence);
    const SLoadProblem stop = m_problems.All().back();
    m_problems.Truncate(m_problems.Size() - 1);
    m_problems.Add(ProblemCode::Stopped, stop.offset, stop.group, stop.element, stop.node, stop.text + "; " + sentence);
    return false;
}
