#pragma once
// A DICOM file loaded into an element tree: the top-level elements, the
// encoding they were read in, the bytes of the file, the pixel description
// and what the load found wrong.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "dicom/DataSet.h"
#include "dicom/Encoding.h"
#include "dicom/FileBytes.h"
#include "dicom/Geometry.h"
#include "dicom/InflatedDataSet.h"
#include "dicom/LoadProblems.h"
#include "dicom/OffsetTable.h"
#include "dicom/PixelDescription.h"
#include "dicom/Status.h"
#include "dicom/Tags.h"

namespace quillon {
class DicomReader;
class ProblemChecks;
}  // namespace quillon

class CDicomFile {
public:
    CDicomFile();
    CDicomFile(const CDicomFile&) = delete;
    CDicomFile& operator=(const CDicomFile&) = delete;
    ~CDicomFile();

    // Reads and parses the file. Success: loaded. A failure says why
    // (dicom/OpenFile.h words every reason): no file, a folder, a special
    // file, not allowed, unreadable, empty, no memory, or not DICOM, whose
    // sentence says where the parse stopped. After a failure the object is
    // reset, and Problems() holds what the parse found, if it got that far;
    // except when the parse of a DICOM file stopped part way (Partial()):
    // then the object holds every element read before the stop, as after a
    // load, and the problems end with the stop.
    quillon::Status Load(const std::filesystem::path& path);
    // The same from bytes already in memory (copied); used by tools and tests.
    quillon::Status LoadMemory(const uint8_t* data, std::size_t size);

    void Reset();

    // --- deflated data sets (transfer syntax 1.2.840.10008.1.2.1.99) ---
    // The data set after the file meta information is inflated and read as
    // explicit VR little endian; the byte source shows the meta information
    // and then the inflated bytes, so every offset past InflatedFrom() is a
    // position in the inflated data set. An inflation that does not complete
    // (a corrupt or cut stream, the limit reached) leaves a partial load
    // whose stop names the byte of the file where inflating stopped.
    // Where the inflated bytes begin (the end of the meta information);
    // UINT64_MAX for a file that is not deflated.
    uint64_t InflatedFrom() const { return m_source ? m_source->InflatedFrom() : UINT64_MAX; }
    bool Deflated() const { return m_source && m_source->HasInflated(); }
    // How the last load's inflation ended; none when it inflated nothing.
    const std::optional<quillon::InflateOutcome>& Inflation() const { return m_inflation; }
    // The most bytes a data set may inflate to (rules::kInflatedDataSetLimit
    // unless set; tests set less). Kept across loads.
    void SetInflateLimit(uint64_t limit) { m_inflateLimit = limit; }
    uint64_t InflateLimit() const { return m_inflateLimit; }
    // Hears the compressed bytes inflated so far and their total while a
    // data set is inflated, on the loading thread. Kept across loads.
    void SetInflateProgress(std::function<void(uint64_t done, uint64_t total)> progress) {
        m_inflateProgress = std::move(progress);
    }

    // --- the elements ---
    const quillon::DataSet& DataSet() const { return m_dataSet; }
    const TagList& Elements() const { return m_dataSet.Elements(); }
    // The first top-level element with the tag, or null. Nested items are never searched.
    CDicomTag* Find(uint16_t group, uint16_t element) const { return m_dataSet.Find(group, element); }
    CDicomTag* Find(quillon::Tag tag) const { return m_dataSet.Find(tag); }
    // Value text of the first top-level (0008,0005), or empty.
    std::u16string GetSpecificCharacterSet() const { return m_dataSet.GetSpecificCharacterSet(); }
    // The first top-level Pixel Data element, or null: (7FE0,0010), else
    // Float Pixel Data (7FE0,0008), else Double Float Pixel Data (7FE0,0009).
    const CDicomTag7FE0* PixelData() const;
    CDicomTag7FE0* PixelData();

    // Encoding of the data set (after the load: of the main data set).
    const quillon::Encoding& Encoding() const { return m_encoding; }

    // The image pixel description of the loaded data set.
    const quillon::PixelDescription& Pixel() const { return m_pixel; }
    // Which fragments of the first top-level Pixel Data make each frame, and
    // which frame owns each fragment, worked out once at the end of the load
    // (the Extended Offset Table included); none without encapsulated pixel data.
    const quillon::FrameFragments& Fragments() const { return m_fragments; }

    // --- element byte ranges, in the encoding of the main data set ---
    // Queries only (quillon::Geometry): they read the tree and the encoding
    // and change neither, so they may run while the document is shown, from
    // any thread.
    uint32_t HeaderSize(const CDicomTag* element) const { return Geometry().HeaderSize(element); }
    uint64_t TagOffset(const CDicomTag* element) const { return Geometry().TagOffset(element); }
    // First and last byte of the element in the file, both inclusive.
    std::pair<uint64_t, uint64_t> ElementRange(const CDicomTag* element) const {
        return Geometry().ElementRange(element);
    }
    // Total bytes of an element or item, header, items and delimiters
    // included, measured as encoded in `explicitVR` (the items of a UN
    // sequence always as implicit VR); without it, in the data set's encoding.
    uint64_t Extent(const CDicomTag* node, bool explicitVR) const { return Geometry().Extent(node, explicitVR); }
    uint64_t Extent(const CDicomTag* node) const { return Geometry().Extent(node); }
    quillon::Geometry Geometry() const { return quillon::Geometry(m_encoding); }

    // --- transfer syntax families (first top-level (0002,0010)) ---
    bool IsRLE() const;
    bool IsJPEG() const;
    bool IsJPEGLossless() const;
    bool IsJPEGLSLossless() const;
    bool IsJPEGLSLossy() const;
    bool IsJPEG2000Lossless() const;
    bool IsJPEG2000Lossy() const;
    bool IsUncompressed() const;
    // --- photometric interpretation (first top-level (0028,0004)) ---
    bool IsRGB() const;
    bool IsCMYK() const;
    bool IsARGB() const;
    bool IsYBRFull() const;
    bool IsYBRFull422() const;
    bool IsYBRPartial422() const;
    bool IsYBRICT() const;
    bool IsPaletteColor() const;
    bool IsMonochrome1() const;
    bool IsMonochrome2() const;
    bool IsMonochrome() const;

    // What the last load found wrong, kept also after a refused load.
    const quillon::LoadProblems& Problems() const { return m_problems; }

    // Whether the last load failed but kept what it read: the parse stopped
    // after it had read elements of what is taken for a DICOM file. Not a
    // DICOM file at all is a file without "DICM" whose parse read no element,
    // or fewer than a whole one must have, or met bytes that are no data set.
    bool Partial() const { return m_partial; }
    // Where the parse of a partial load stopped: the first byte not read
    // into the tree (the offset of the stop in Problems()). 0 otherwise.
    uint64_t StopOffset() const { return m_partial ? m_stopOffset : 0; }

    // The bytes of the loaded file, shared with whoever shows it; null
    // before a load and after a failed one.
    const std::shared_ptr<quillon::FileBytes>& Source() const { return m_source; }

private:
    // The source of the bytes to load, and the reader over it with the checks
    // that listen to it; false when the bytes cannot be had.
    bool AttachFile(int fd);
    bool AttachMemory(const uint8_t* data, std::size_t size);
    bool StartReader();
    bool RecogniseAndParse();
    // The data set of a deflated file, from the cursor: inflated, attached to
    // the source, parsed; false when the parse stopped (or the inflation did
    // not complete, which then is the stop).
    bool InflateAndParse();
    // Takes the tree the reader built, its encoding, the settled item
    // lengths, the pixel description and the frames' fragments; false when
    // the palette colour tables cannot be read.
    bool KeepWhatWasRead(bool parseStopped);
    quillon::Status FinishLoad();
    // A refused load: says where the parse stopped (when nothing said it yet),
    // keeps the problems without their nodes, resets the object; its reason.
    quillon::Status Refuse(const char* reason = nullptr);
    // A parse that stopped: kept as a partial load when what was read is
    // taken for a DICOM file, else refused; the reason either way.
    quillon::Status Stopped();
    // An allocation failed: the object is reset, without problems.
    quillon::Status ShortOfMemory();

    quillon::DataSet m_dataSet;
    quillon::Encoding m_encoding;
    std::shared_ptr<quillon::FileBytes> m_source;  // the file, read where it lies
    quillon::PixelDescription m_pixel;
    quillon::FrameFragments m_fragments;
    quillon::LoadProblems m_problems;
    bool m_partial = false;
    uint64_t m_stopOffset = 0;
    std::optional<quillon::InflateOutcome> m_inflation;
    uint64_t m_inflateLimit;
    std::function<void(uint64_t, uint64_t)> m_inflateProgress;
    // While a load runs: the checks behind the problems report and the reader.
    std::unique_ptr<quillon::ProblemChecks> m_checks;
    std::unique_ptr<quillon::DicomReader> m_reader;
};
