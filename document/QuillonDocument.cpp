#include "document/QuillonDocument.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <map>
#include <unordered_map>
#include <vector>

#include "dicom/LoaderRules.h"
#include "dicom/OffsetTable.h"
#include "dicom/OpenFile.h"
#include "dicom/Tags.h"
#include "dicom/TextUtil.h"

namespace quillon {

const std::array<const char16_t*, kPropertyRows> kPropertyNames = {
    u"Tag", u"Description", u"VR", u"Tag Offset", u"Data Offset", u"Data Size", u"Data Value",
};

bool ReasonTellsMore(Reason reason) {
    switch (reason) {
        case Reason::Directory:
        case Reason::NotRegularFile:
        case Reason::PermissionDenied:
        case Reason::CannotRead:
        case Reason::Empty: return true;
        default: return false;
    }
}

std::u16string SizeText(uint64_t size) { return Format16("Size : %llu", static_cast<unsigned long long>(size)); }

std::u16string CutValueText(std::u16string text) {
    if (text.size() < 512) return text;
    std::size_t keep = 252;
    // Never end on the first half of a surrogate pair.
    if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
    text.resize(keep);
    text += u"...";
    return text;
}

namespace {

std::filesystem::path ToFsPath(const std::u16string& path) { return std::filesystem::path(ToUtf8(path)); }

std::size_t ChildIndex(const CDicomTag* parent, const CDicomTag* child) {
    const std::size_t i = parent->IndexOfChild(child);
    return i == SIZE_MAX ? std::size_t(-1) : i;
}

std::u16string TagText(uint16_t group, uint16_t element) { return Format16("%04X, %04X", group, element); }

}  // namespace

quillon::QuillonDocument::QuillonDocument() = default;

quillon::QuillonDocument::~QuillonDocument() { Close(); }

void quillon::QuillonDocument::Close() {
    m_thumbnailCount = 0;
    m_framesChecked = false;
    Release();
}

void quillon::QuillonDocument::Release() {
    // The workers read the decoder and the file: they stop first, the
    // frames in flight at their next band of rows.
    if (m_decoder) m_decoder->Abandon();
    m_queue.reset();
    m_source.reset();
    m_dataSize = 0;
    // The records point into the file's tree: they go first.
    m_records.clear();
    m_records.shrink_to_fit();
    m_ranges.clear();
    m_rangeKnown.clear();
    m_hulls.clear();
    m_problems.Clear();
    m_frameStarts = quillon::FrameStarts();
    m_decoder.reset();
    m_file.reset();
    m_path.clear();
}

std::unique_ptr<CDicomFile> quillon::QuillonDocument::NewFile() {
    return std::unique_ptr<CDicomFile>(new (std::nothrow) CDicomFile);
}

uint8_t* quillon::QuillonDocument::AllocateData(uint64_t size) {
    if (size > SIZE_MAX) return nullptr;
    return static_cast<uint8_t*>(AllocBlock(std::size_t(size)));
}

std::unique_ptr<MCImage> quillon::QuillonDocument::MakeThumbnail(quillon::FrameDecoder& frames, std::size_t frame) {
    return frames.GetFrameThumbnail(frame);
}

void quillon::QuillonDocument::Parsed(const std::u16string&) {}

OpenResult quillon::QuillonDocument::Fail(OpenStatus status, const char16_t* message, bool forget) {
    Release();
    return OpenResult{status, message ? std::u16string(message) : std::u16string(), forget, {}, {}};
}

OpenResult quillon::QuillonDocument::Refused(const Status& reason) {
    // The problems of a refused file stay, without a tree to hang on.
    const quillon::LoadProblems problems = m_file->Problems();
    OpenResult refused = reason.Code() == Reason::NotFound ? Fail(OpenStatus::NotFound, kMsgFileNotFound, true)
                         : reason.Code() == Reason::NoMemory
                             // The file itself may be fine: it stays in the list.
                             ? Fail(OpenStatus::NoMemory, kMsgMemoryError, false)
                             : Fail(OpenStatus::Invalid, kMsgInvalidFile, true);
    refused.reason = reason;
    m_problems.Assign(problems, {}, {});
    // Under the message: where the parse stopped when it got that far (also
    // for an empty file), else the reason when it tells more.
    if (const SLoadProblem* stop = m_problems.Stop())
        refused.detail = FromUtf8(StopSentence(*stop));
    else if (ReasonTellsMore(reason.Code()))
        refused.detail = FromUtf8(reason.Text());
    return refused;
}

OpenResult quillon::QuillonDocument::Open(const std::u16string& path, OpenOptions options) {
    if (path.empty()) {
        Close();
        return Fail(OpenStatus::EmptyPath, nullptr, false);
    }
    return OpenFile(ToFsPath(path), path, options);
}

OpenResult quillon::QuillonDocument::OpenPath(const std::filesystem::path& path, OpenOptions options) {
    return OpenFile(path, FromUtf8(path.native()), options);
}

OpenResult quillon::QuillonDocument::OpenFile(const std::filesystem::path& fsPath, const std::u16string& path,
                                      OpenOptions options) {
    Close();
    try {
        m_file = NewFile();
        if (!m_file) return Fail(OpenStatus::NoMemory, kMsgMemoryError, false);
        if (m_progress)
            m_file->SetInflateProgress([this](uint64_t done, uint64_t total) {
                m_progress(OpenStage::Inflating, std::size_t(done), std::size_t(total));
            });
        // A parse that stopped part way still gives a document of what it read.
        const Status loaded = m_file->Load(fsPath);
        if (!loaded && !m_file->Partial()) return Refused(loaded);

        // One thumbnail entry per frame. Only frames whose bytes exist can be
        // decoded; the entries beyond them are none without being stored, so
        // that a bogus Number of Frames costs nothing.
        m_thumbnailCount = m_file->Pixel().numberOfFrames;
        m_decoder = std::make_unique<quillon::FrameDecoder>(*m_file);

        AddFrameNodes(*m_file);
        Parsed(path);

        // The file may have changed since the parse: a file gone or no
        // longer regular is refused, an emptied one has no data, and one
        // that grew shows its bytes as they are now (the tree stays as parsed).
        struct stat st {};
        if (::stat(fsPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return Fail(OpenStatus::Invalid, kMsgInvalidFile, true);
        if (st.st_size == 0) return Fail(OpenStatus::NoData, kMsgNoData, true);
        m_source = m_file->Source();
        if (!m_source || !m_source->Refresh()) return Fail(OpenStatus::Invalid, kMsgInvalidFile, true);
        if (m_source->Size() == 0) return Fail(OpenStatus::NoData, kMsgNoData, true);
        if (!m_source->UseCache(HeapPtr<uint8_t>(AllocateData(quillon::FileBytes::kCacheBytes))))
            return Fail(OpenStatus::NoMemory, kMsgMemoryError, true);
        m_dataSize = m_source->Size();
        m_source->WatchPath(fsPath);

        if (options.treeRecords) m_records = BuildTreeRecords(*m_file, m_thumbnailCount);
        m_problems.Assign(
            m_file->Problems(), m_records, [this](std::size_t record) { return Range(record); }, m_file->Partial());
        m_frameStarts = quillon::FrameStarts(*m_file);
        m_path = path;
        // Last, once the tree no longer changes: the workers read the file
        // while the document is shown.
        if (options.thumbnails) {
            quillon::FrameDecoder* frames = m_decoder.get();
            m_queue = std::make_unique<ThumbnailQueue>(
                FramesWithBytes(*m_file),
                [this, frames](std::size_t frame, Status& why) {
                    std::unique_ptr<MCImage> thumbnail = MakeThumbnail(*frames, frame);
                    // A frame stopped by the close has no reason to find.
                    if (!thumbnail && !frames->Abandoned()) why = frames->FrameStatus(frame);
                    return thumbnail;
                },
                options.thumbnailThreads, m_thumbnailHandler);
        }
        OpenResult opened{OpenStatus::Opened, {}, false, {}, {}};
        if (m_file->Partial()) {
            opened.partial = true;
            opened.message = kMsgInvalidFile;
            opened.reason = loaded;
            if (const SLoadProblem* stop = m_problems.Stop()) opened.detail = FromUtf8(StopSentence(*stop));
        }
        return opened;
    } catch (const std::bad_alloc&) {
        // The tree table or the thumbnails' slots ran out of memory: no document,
        // and the path stays in the list (the file itself may be fine).
        return Fail(OpenStatus::NoMemory, kMsgMemoryError, false);
    }
}

OpenResult quillon::QuillonDocument::Reload(std::optional<std::size_t>& selected, OpenOptions options) {
    const std::u16string path = m_path;
    const TagPath at = selected ? TagPathOf(*selected) : TagPath();
    selected.reset();
    if (path.empty()) {
        Close();
        return Fail(OpenStatus::EmptyPath, nullptr, false);
    }
    OpenResult result = Open(path, options);
    if (result.Opened()) selected = RecordOfTagPath(at);
    return result;
}

std::optional<std::pair<uint64_t, uint64_t>> quillon::QuillonDocument::UnreadRange() const {
    if (!Partial() || StopOffset() >= m_dataSize) return std::nullopt;
    return std::make_pair(StopOffset(), m_dataSize - 1);
}

std::u16string quillon::QuillonDocument::InflatedNote() const {
    const std::optional<uint64_t> from = InflatedFrom();
    if (!from) return {};
    return Format16("deflated: offsets from byte %llu on are positions in the inflated data set",
                    static_cast<unsigned long long>(*from));
}

std::u16string quillon::QuillonDocument::RootLabel(const std::u16string& shown) const {
    std::u16string label = shown;
    if (const std::u16string note = InflatedNote(); !note.empty()) label += u" (" + note + u")";
    if (!Partial()) return label;
    return label + Format16(" (read up to byte %llu)", static_cast<unsigned long long>(StopOffset()));
}

std::pair<uint64_t, uint64_t> quillon::QuillonDocument::ShownRange(std::pair<uint64_t, uint64_t> range) const {
    // An element the parse stopped in ends where reading stopped; one that
    // would start there (none does) is left empty, last before first.
    if (Partial() && range.second >= StopOffset()) range.second = std::max(range.first, StopOffset()) - 1;
    return range;
}

std::pair<uint64_t, uint64_t> quillon::QuillonDocument::Range(std::size_t index) {
    if (!m_file || index >= m_records.size()) return {0, 0};
    if (m_records[index].child != kNoChild) {
        // A child held compactly: its node made for the look, not kept.
        std::unique_ptr<CDicomTag>& scratch = m_rangeScratch;
        return ShownRange(m_file->ElementRange(m_records[index].PeekElement(scratch)));
    }
    if (m_ranges.size() != m_records.size()) {
        m_ranges.assign(m_records.size(), {0, 0});
        m_rangeKnown.assign(m_records.size(), 0);
    }
    if (!m_rangeKnown[index]) {
        std::unique_ptr<CDicomTag> scratch;
        m_ranges[index] = ShownRange(m_file->ElementRange(m_records[index].PeekElement(scratch)));
        m_rangeKnown[index] = 1;
    }
    return m_ranges[index];
}

void quillon::QuillonDocument::ComputeHulls() {
    const std::size_t n = m_records.size();
    m_hulls.resize(n);
    for (std::size_t i = 0; i < n; ++i) m_hulls[i] = Range(i);
    // Children come after their parent in pre-order: walking backwards, a
    // record's hull is complete before it is merged into its parent's.
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t parent = m_records[i].parent;
        if (parent == kRootRecord || parent >= n) continue;
        auto& hull = m_hulls[parent];
        hull.first = std::min(hull.first, m_hulls[i].first);
        hull.second = std::max(hull.second, m_hulls[i].second);
    }
}

std::optional<std::size_t> quillon::QuillonDocument::RecordAtOffset(uint64_t offset) {
    if (!m_file || m_records.empty()) return std::nullopt;
    if (m_hulls.size() != m_records.size()) ComputeHulls();
    // The same answer as testing every record in pre-order, but a subtree
    // whose ranges all miss the offset is skipped in one step.
    const std::size_t n = m_records.size();
    std::size_t i = 0;
    while (i < n) {
        const auto& hull = m_hulls[i];
        if (offset < hull.first || offset > hull.second) {
            i = std::max(m_records[i].end, i + 1);
            continue;
        }
        const auto range = Range(i);
        if (range.first <= offset && offset <= range.second) return i;
        ++i;
    }
    return std::nullopt;
}

quillon::ThumbnailNews quillon::QuillonDocument::WaitForThumbnails() {
    if (m_queue) m_queue->WaitAll();
    return CollectThumbnails();
}

quillon::ThumbnailNews quillon::QuillonDocument::CollectThumbnails() {
    ThumbnailNews news;
    if (!m_queue || !m_file) return news;
    news.frames = m_queue->TakeFinished();
    std::vector<SLoadProblem> found;
    // In frame order within what arrived together. Failure is success for a
    // made frame, and for one that decodes but gives no thumbnail: neither
    // is a decode problem.
    std::vector<std::size_t> arrived = news.frames;
    std::sort(arrived.begin(), arrived.end());
    for (const std::size_t frame : arrived)
        if (const Status why = m_queue->Failure(frame); !why) found.push_back(FrameProblem(frame, why));
    AddFrameProblems(found);
    news.problems = found.size();
    if (m_queue->Finished() == m_queue->Count()) m_framesChecked = true;
    return news;
}

std::size_t quillon::QuillonDocument::CheckFrames() {
    if (!m_file || !m_decoder || m_framesChecked) return 0;
    if (m_queue) {
        // The thumbnails' workers decode the frames: their failures are the problems.
        const std::size_t before = m_problems.Size();
        WaitForThumbnails();
        m_framesChecked = true;
        return m_problems.Size() - before;
    }
    m_framesChecked = true;
    if (!m_file->PixelData()) return 0;
    const std::size_t frames = FramesWithBytes(*m_file);
    std::vector<SLoadProblem> found;
    for (std::size_t i = 0; i < frames; ++i) {
        Status status = m_decoder->FrameStatus(i);
        if (status) continue;
        // A frame over the decode budget is a problem only when not even a
        // reduced decode gives its thumbnail.
        if (status.Code() == Reason::OverBudget) {
            if (m_decoder->GetFrameThumbnail(i)) continue;
            status = m_decoder->FrameStatus(i);
        }
        found.push_back(FrameProblem(i, status));
    }
    AddFrameProblems(found);
    return found.size();
}

SLoadProblem quillon::QuillonDocument::FrameProblem(std::size_t i, const Status& status) const {
    CDicomTag* pixelData = m_file->PixelData();
    const bool encapsulated =
        pixelData && pixelData->ChildCount() != 0 && pixelData->Child(0) && pixelData->Child(0)->IsItem();
    // Where the frame's bytes begin: its first fragment item, or its frame node.
    SLoadProblem problem;
    problem.code = ProblemCode::FrameDecode;
    if (encapsulated) {
        const quillon::FragmentRange fragments = m_file->Fragments().Range(i);
        const std::size_t child = fragments.first + 1;
        if (fragments.last > fragments.first && child < pixelData->ChildCount()) {
            if (CDicomTag* item = pixelData->Child(child)) {
                problem.node = item;
                problem.offset = m_file->TagOffset(item);
                problem.group = 0xFFFE;
                problem.element = 0xE000;
            }
        }
    } else if (CDicomTag* frameNode = pixelData ? pixelData->Child(i) : nullptr) {
        problem.node = frameNode;
        problem.offset = problem.node->m_dataOffset;
    }
    if (!problem.node && pixelData) {
        problem.node = pixelData;
        problem.offset = m_file->TagOffset(pixelData);
    }
    if (problem.group == 0) {
        // The pixel data element the frames belong to (float pixel data too).
        problem.group = pixelData ? pixelData->m_group : quillon::tags::kPixelData.group;
        problem.element = pixelData ? pixelData->m_element : quillon::tags::kPixelData.element;
    }
    // One sentence: the reason follows a colon, its first word lowered
    // unless it is a name ("JPEG ...").
    std::string reason = status.Text();
    if (reason.size() > 1 && reason[0] >= 'A' && reason[0] <= 'Z' && reason[1] >= 'a' && reason[1] <= 'z')
        reason[0] = char(reason[0] - 'A' + 'a');
    if (reason.empty()) reason = "the decoder gives no reason.";
    problem.text = "Frame " + std::to_string(i + 1) + " cannot be decoded: " + reason;
    return problem;
}

void quillon::QuillonDocument::AddFrameProblems(const std::vector<SLoadProblem>& found) {
    if (found.empty()) return;
    // The records of the nodes, in one walk over the table.
    std::map<ElementKey, std::size_t> records;
    for (const SLoadProblem& p : found) records.emplace(KeyOfElement(p.node), SIZE_MAX);
    for (std::size_t r = 0; r < m_records.size(); ++r) {
        const auto at = records.find(KeyOf(m_records[r]));
        if (at != records.end() && at->second == SIZE_MAX) at->second = r;
    }
    for (const SLoadProblem& p : found) {
        const std::size_t r = records[KeyOfElement(p.node)];
        m_problems.Add(p, r == SIZE_MAX ? std::nullopt : std::optional<std::size_t>(r));
    }
}

ElementProperties quillon::QuillonDocument::Properties(std::optional<std::size_t> index) {
    ElementProperties p;
    if (!m_file || m_records.empty()) {
        p.values.fill(u" ");
        p.highlight = HighlightRequest::Keep;
        return p;
    }
    if (!index || *index >= m_records.size() || !m_records[*index].Element()) {
        p.values.fill(u" ");
        // A deflated file says on the root how its offsets read.
        if (const std::u16string note = InflatedNote(); !note.empty()) {
            p.values[1] = note;
            p.values[1][0] = u'D';
        }
        p.highlight = HighlightRequest::Clear;
        p.unread = UnreadRange();
        return p;
    }
    const TreeItemRecord& record = m_records[*index];
    const CDicomTag* e = record.Element();
    const CDicomTag* pixelData = m_file->PixelData();

    if (pixelData && e->m_parent == pixelData && e->m_group != quillon::rules::kFrameNodeGroup) {
        // Offset table or fragment item of encapsulated pixel data.
        p.values[0] = TagText(e->m_group, e->m_element);
        const std::size_t j = ChildIndex(pixelData, e);
        if (j != std::size_t(-1) && j >= 1) {
            // Every fragment shows the picture of the frame that owns it.
            const auto owner = m_file->Fragments().Owner(j - 1);
            if (owner && *owner < m_thumbnailCount) p.thumbnail = *owner;
        }
    } else if (pixelData && e->m_parent == pixelData) {
        // Frame node: the tag of the pixel data element that holds it.
        p.values[0] = TagText(pixelData->m_group, pixelData->m_element);
        const std::size_t n = e->m_element;
        if (n >= 1 && m_thumbnailCount >= n) p.thumbnail = n - 1;
    } else {
        p.values[0] = TagText(e->m_group, e->m_element);
    }

    if (e->IsItem()) {
        p.values[1] = m_frameStarts.ItemDescription(e);
    } else {
        p.values[1] = e->GetDescription();
        p.values[2] = e->m_vr.GetVR();
    }
    // Offsets and sizes are unsigned: files of 2 GiB and more show them as they are.
    p.values[3] = Format16("%llu", static_cast<unsigned long long>(m_file->TagOffset(e)));
    p.values[4] = Format16("%llu", static_cast<unsigned long long>(e->m_dataOffset));
    const uint32_t length = e->GetLength();
    p.values[5] = length == kUndefinedLength ? std::u16string(u"FFFFFFFF") : Format16("%u", length);
    if (e->HasValue()) p.values[6] = CutValueText(e->GetValueText(record.charset));

    const auto [first, last] = Range(*index);
    p.highlight = HighlightRequest::Range;
    p.first = first;
    p.last = last;
    return p;
}

}  // namespace quillon
