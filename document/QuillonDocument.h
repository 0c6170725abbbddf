#pragma once
// The document of the main window without the window: the open flow and its
// outcome, the file bytes that the hex view shows, the tree records, the
// property rows of a selected element and the element under a clicked byte.
// Plain C++, so that the flow is tested without a display.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/HeapBlock.h"
#include "dicom/Status.h"
#include "document/DocumentProblems.h"
#include "document/DocumentTree.h"
#include "document/FrameStarts.h"
#include "document/ThumbnailQueue.h"
#include "image/FrameDecoder.h"
#include "image/MCImage.h"

namespace quillon {

// The four texts of the error message box (the four blanks belong to them).
inline constexpr const char16_t* kMsgFileNotFound = u"The file was not found    ";
inline constexpr const char16_t* kMsgMemoryError = u"Memory allocation error    ";
inline constexpr const char16_t* kMsgInvalidFile = u"Invalid DICOM file    ";
inline constexpr const char16_t* kMsgNoData = u"File does not contain data    ";
// Shown when the open file is truncated, rewritten, replaced or deleted on
// disk while it is shown.
inline constexpr const char16_t* kMsgFileChanged = u"The file changed on disk    ";

// "Size : %d" with the byte count, as an unsigned number (files of 2 GiB and more).
std::u16string SizeText(uint64_t size);

enum class OpenStatus {
    Opened,     // a document is shown
    EmptyPath,  // nothing to open, no message
    NotFound,
    NoMemory,
    Invalid,
    NoData,
};

// Whether a failure's reason says more than the message box's first line:
// a folder, a special file, a file the system does not let be read or cannot
// read, an empty file. A missing file's and a memory shortage's reasons only
// repeat the message, and a refused parse says where it stopped instead.
bool ReasonTellsMore(Reason reason);

// What an open makes beyond the parsed file, its bytes and its frames. The
// window wants all of it; a tool that prints one thing can leave the rest.
struct OpenOptions {
    // Make every frame's thumbnail, in the background once the open has
    // returned (see ThumbnailState). Without, the entries exist
    // (ThumbnailCount) but none is made.
    bool thumbnails = true;
    // Worker threads that make them; 0: one per core.
    unsigned thumbnailThreads = 0;
    // Build the tree records and tie the problems to them. Without, there
    // are no records and every problem belongs to the root.
    bool treeRecords = true;
};

struct OpenResult {
    OpenStatus status = OpenStatus::EmptyPath;
    // Text of the error message box; empty when no box is shown.
    std::u16string message;
    // The path leaves the recent-files list.
    bool forgetPath = false;
    // A line that goes under the message: for a refused file, where and why
    // the parse stopped; for a path that gave nothing to parse, the reason
    // when it tells more than the message (ReasonTellsMore).
    std::u16string detail;
    // Why the loader took no file (CDicomFile::Load's reason). Success when
    // the open succeeded or failed past the loader: no path, memory running
    // out around the load, the file changing between the parse and the last look.
    Status reason;
    // Opened as a partial document: the parse stopped part way, and the
    // document holds what was read before the stop. The status is Opened,
    // and the message, the detail and the reason are those of the refused
    // file, for the box to show before the document.
    bool partial = false;

    bool Opened() const { return status == OpenStatus::Opened; }
    // The whole text of the box: the message, then the detail on a line of its own.
    std::u16string Text() const { return detail.empty() ? message : message + u"\n" + detail; }
};

// What an open is busy with when it reports progress.
enum class OpenStage {
    Inflating,  // inflating a deflated data set: compressed bytes done of their total
};

// What CollectThumbnails found since its last call.
struct ThumbnailNews {
    // Frames whose thumbnail became final (made or failed), in that order.
    std::vector<std::size_t> frames;
    // Frame-decode problems added for them.
    std::size_t problems = 0;
};

// The property list's value column for one selection.
enum class HighlightRequest {
    Keep,   // no document: the hex view's highlight is left as it is
    Clear,  // the root (no element): no highlight, hex view back to its first line
    Range,  // highlight first..last
};

constexpr std::size_t kPropertyRows = 7;
// Names of the rows, column 0.
extern const std::array<const char16_t*, kPropertyRows> kPropertyNames;

struct ElementProperties {
    std::array<std::u16string, kPropertyRows> values;
    HighlightRequest highlight = HighlightRequest::Keep;
    uint64_t first = 0;
    uint64_t last = 0;
    // Frame whose thumbnail the picture shows (index into the thumbnails),
    // when the element is a frame node or a fragment that has one.
    std::optional<std::size_t> thumbnail;
    // The root of a partial document: the bytes the parse never read (from
    // the stop to the end of the file, both inclusive), shown as unread.
    std::optional<std::pair<uint64_t, uint64_t>> unread;
};

// The Data Value row: texts of 512 characters or more are cut to their first
// 252 characters and "...".
std::u16string CutValueText(std::u16string text);

class QuillonDocument {
public:
    QuillonDocument();
    QuillonDocument(const QuillonDocument&) = delete;
    QuillonDocument& operator=(const QuillonDocument&) = delete;
    virtual ~QuillonDocument();

    // Tears the document down: stops the thumbnails' workers (no new frame
    // starts, the frames in flight are waited for), then thumbnails, file
    // bytes, tree records and the parsed file. Afterwards there is no document.
    void Close();

    // Closes the current document, then parses the file, adds the frame
    // nodes, checks the file once more (it may have changed meanwhile),
    // builds the tree records and the frame starts, and sets the workers
    // making the thumbnails; it returns without waiting for them. `options`
    // may leave out the thumbnails and the records. The bytes shown are the
    // parser's source, read where they lie: the file is not read a second
    // time. On failure there is no document. An empty path opens nothing and
    // says nothing.
    OpenResult Open(const std::u16string& path, OpenOptions options = {});
    // The same for a path as the system spells it (the command-line tools):
    // an empty one is a file that does not exist.
    OpenResult OpenPath(const std::filesystem::path& path, OpenOptions options = {});

    // Opens the path of the open document again, the file as it is on disk
    // now. `selected` is the record selected before; afterwards it is the
    // record of the element at the same tag path in the new tree, or none
    // (the root) when there is no such element or no document.
    OpenResult Reload(std::optional<std::size_t>& selected, OpenOptions options = {});

    bool IsOpen() const { return m_file != nullptr; }
    // A document of a file whose parse stopped part way (OpenResult::partial):
    // the tree holds what was read; the bytes from StopOffset() to the end
    // belong to the root and to no element.
    bool Partial() const { return m_file && m_file->Partial(); }
    uint64_t StopOffset() const { return m_file ? m_file->StopOffset() : 0; }
    // Where the inflated data set of a deflated file begins in the bytes
    // shown; none for other files.
    std::optional<uint64_t> InflatedFrom() const {
        if (!m_file || !m_file->Deflated()) return std::nullopt;
        return m_file->InflatedFrom();
    }
    // The unread bytes of a partial document, both ends inclusive; none
    // otherwise (also when the stop lies at the end of the file).
    std::optional<std::pair<uint64_t, uint64_t>> UnreadRange() const;
    // The root item's label: `shown` (the path as the window shows it); for
    // a deflated file InflatedNote() in parentheses; for a partial document
    // " (read up to byte N)", N the stop offset in decimal.
    std::u16string RootLabel(const std::u16string& shown) const;
    // For a deflated file: "deflated: offsets from byte N on are positions in
    // the inflated data set", N where the inflated bytes begin (the end of
    // the file meta information); empty otherwise.
    std::u16string InflatedNote() const;
    // Tag paths of records, to find an element again in a reloaded file.
    TagPath TagPathOf(std::size_t record) const { return ::TagPathOf(m_records, record); }
    std::optional<std::size_t> RecordOfTagPath(const TagPath& path) const { return ::RecordOfTagPath(m_records, path); }
    CDicomFile* File() const { return m_file.get(); }
    const std::u16string& Path() const { return m_path; }
    // The bytes of the open file, shared with the parsed file and borrowed
    // by the hex view; null without a document.
    const std::shared_ptr<FileBytes>& Source() const { return m_source; }
    uint64_t DataSize() const { return m_dataSize; }
    // Copies bytes of the open file; false outside it, without a document,
    // or when the file no longer holds them.
    bool ReadData(uint64_t offset, void* dst, std::size_t n) const {
        return m_source && offset < m_dataSize && n <= m_dataSize - offset && m_source->Read(offset, dst, n);
    }
    // True when the open file was truncated or rewritten since it was opened,
    // or its path was deleted or now names another file.
    bool FileChanged() const { return m_source && (m_source->Changed() || m_source->Replaced()); }

    // One entry per frame (the number of frames of the file); an entry may be none.
    std::size_t ThumbnailCount() const { return m_thumbnailCount; }
    // Thumbnails are made for the frames before this one, the others have
    // none: only frames whose bytes exist are decoded. 0 when the open made none.
    std::size_t ThumbnailFrames() const { return m_queue ? m_queue->Count() : 0; }
    // Of those, the frames whose thumbnail is final (made or failed).
    std::size_t ThumbnailsFinished() const { return m_queue ? m_queue->Finished() : 0; }
    // The 128 x 128 24-bit thumbnail of a frame, or none (yet).
    const MCImage* Thumbnail(std::size_t frame) const { return m_queue ? m_queue->Image(frame) : nullptr; }
    ThumbnailState ThumbnailStateOf(std::size_t frame) const {
        return m_queue ? m_queue->State(frame) : ThumbnailState::None;
    }
    // A frame whose thumbnail is pending is the next one made.
    void PrioritiseThumbnail(std::size_t frame) {
        if (m_queue) m_queue->Prioritise(frame);
    }
    // Waits until frame i's thumbnail is final, making it next.
    void WaitForThumbnail(std::size_t frame) {
        if (m_queue) m_queue->Wait(frame);
    }
    // Waits until every thumbnail is final, then collects them
    // (CollectThumbnails): the frame-decode problems are all there.
    ThumbnailNews WaitForThumbnails();
    // On the thread that owns the document: the thumbnails that became final
    // since the last call, and a frame-decode problem for each failed frame
    // whose decoder gave a reason (see CheckFrames). The problems of a
    // document grow only here and in CheckFrames.
    ThumbnailNews CollectThumbnails();
    // Called on a worker thread each time a thumbnail becomes final; it
    // must only pass the news on to the document's thread, which then calls
    // CollectThumbnails. Set before Open; kept across opens.
    void SetThumbnailHandler(std::function<void()> handler) { m_thumbnailHandler = std::move(handler); }
    // The frames of the open document; none without a document.
    FrameDecoder* Frames() const { return m_decoder.get(); }

    // Called on the opening thread while a deflated data set is inflated
    // (compressed bytes), with what is done so far and its total.
    void SetProgressHandler(std::function<void(OpenStage stage, std::size_t done, std::size_t total)> handler) {
        m_progress = std::move(handler);
    }

    const std::vector<TreeItemRecord>& Records() const { return m_records; }
    // The label of record `index`'s tree item, made when asked (empty out of range).
    std::u16string Label(std::size_t index) const {
        return m_file && index < m_records.size() ? RecordLabel(*m_file, m_records[index], m_thumbnailCount)
                                                  : std::u16string();
    }

    // What the loader found wrong in the open file, or in the file whose open
    // was refused last (then every problem belongs to the root, and the last
    // one says where the parse stopped). Empty after any other failure.
    const DocumentProblems& Problems() const { return m_problems; }
    // Decodes each frame with bytes and adds a frame-decode problem, with the
    // decoder's reason, for each that cannot be decoded: at the frame's first
    // fragment item, or at its frame node for native data. An open with
    // thumbnails finds them as the thumbnails are made: then this waits for
    // them all instead. Once per open: returns the problems added, 0 after
    // the first call.
    std::size_t CheckFrames();
    // Whether the tree item of a record (none: the root) carries a problem.
    bool RecordHasProblem(std::optional<std::size_t> record) const { return m_problems.HasProblem(record); }
    // The frames that the Basic Offset Table of the open file starts at its fragments.
    const quillon::FrameStarts& FrameStarts() const { return m_frameStarts; }

    // The rows of the element of record `index`; `index` none (or out of
    // range) stands for the root item. Without a document every row is " ".
    ElementProperties Properties(std::optional<std::size_t> index);

    // The byte range of record `index`'s element, both ends inclusive. In a
    // partial document it ends before the stop: what lies beyond was not read.
    std::pair<uint64_t, uint64_t> Range(std::size_t index);
    // An element range as the document shows it (see Range).
    std::pair<uint64_t, uint64_t> ShownRange(std::pair<uint64_t, uint64_t> range) const;

    // The first record in pre-order whose range holds `offset`: the
    // outermost element that contains the byte. None when no range does.
    std::optional<std::size_t> RecordAtOffset(uint64_t offset);

protected:
    // Seams for tests: the allocation of the file object and of the page
    // cache of the bytes shown (null: out of memory), the thumbnail of one
    // frame, and a call between the parse and the last check of the file.
    // MakeThumbnail runs on the worker threads: a class that overrides it
    // closes the document in its own destructor, so that no worker calls it
    // once that class is gone.
    virtual std::unique_ptr<CDicomFile> NewFile();
    virtual uint8_t* AllocateData(uint64_t size);
    virtual std::unique_ptr<MCImage> MakeThumbnail(FrameDecoder& frames, std::size_t frame);
    virtual void Parsed(const std::u16string& path);

private:
    OpenResult OpenFile(const std::filesystem::path& fsPath, const std::u16string& path, OpenOptions options);
    // The outcome of a file the loader did not take.
    OpenResult Refused(const Status& reason);
    // Ends an open without a document (Release) and says so.
    OpenResult Fail(OpenStatus status, const char16_t* message, bool forget);
    // Tears down everything of the document.
    void Release();
    void ComputeHulls();
    // The frame-decode problem of frame i, which its decoder refused for `why`.
    SLoadProblem FrameProblem(std::size_t frame, const Status& why) const;
    // Adds problems of FrameProblem, each tied to the record of its node.
    void AddFrameProblems(const std::vector<SLoadProblem>& found);

    std::unique_ptr<CDicomFile> m_file;
    std::u16string m_path;
    std::shared_ptr<FileBytes> m_source;
    uint64_t m_dataSize = 0;
    std::size_t m_thumbnailCount = 0;
    // Decodes the file's frames; goes before the file.
    std::unique_ptr<FrameDecoder> m_decoder;
    // Makes the thumbnails and holds them; goes before the decoder.
    std::unique_ptr<ThumbnailQueue> m_queue;
    std::function<void()> m_thumbnailHandler;
    std::function<void(OpenStage, std::size_t, std::size_t)> m_progress;
    std::vector<TreeItemRecord> m_records;
    DocumentProblems m_problems;
    quillon::FrameStarts m_frameStarts;
    // The frame-decode problems have been added (CheckFrames runs once).
    bool m_framesChecked = false;

    // Per document: each record's range, and the smallest range that holds
    // the ranges of its whole subtree (for skipping subtrees in the caret
    // lookup). Filled on first use; the tree does not change while open.
    std::vector<std::pair<uint64_t, uint64_t>> m_ranges;
    std::vector<uint8_t> m_rangeKnown;
    std::vector<std::pair<uint64_t, uint64_t>> m_hulls;
    // Where a range of a child held compactly is looked at.
    std::unique_ptr<CDicomTag> m_rangeScratch;
};

}  // namespace quillon
