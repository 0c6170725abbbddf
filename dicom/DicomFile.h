#pragma once
// A DICOM file loaded into an element tree.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "dicom/DicomHeader.h"
#include "dicom/Status.h"

class CDicomFile : public CDicomHeader {
public:
    CDicomFile();
    ~CDicomFile() override;

    // Reads and parses the file. Success: loaded. A failure says why
    // (dicom/OpenFile.h words every reason): no file, a folder, a special
    // file, not allowed, unreadable, empty, no memory, or not DICOM, whose
    // sentence says where the parse stopped. After a failure the object is
    // reset, and Problems() holds what the parse found, if it got that far.
    quillon::Status Load(const std::filesystem::path& path);
    // The same from bytes already in memory (copied); used by tools and tests.
    quillon::Status LoadMemory(const uint8_t* data, std::size_t size);

    void Reset();

private:
    bool RecogniseAndParse();
    quillon::Status FinishLoad();
    // A refused load: says where the parse stopped (when nothing said it yet),
    // keeps the problems without their nodes, resets the object; its reason.
    quillon::Status Refuse(const char* reason = nullptr);
    // An allocation failed: the object is reset, without problems.
    quillon::Status ShortOfMemory();
};
