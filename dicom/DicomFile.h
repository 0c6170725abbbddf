#pragma once
// A DICOM file loaded into an element tree.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "dicom/DicomHeader.h"

class CDicomFile : public CDicomHeader {
public:
    CDicomFile();
    ~CDicomFile() override;

    // Reads and parses the file. True: loaded. False: the object is reset.
    bool Load(const std::filesystem::path& path);
    // The same from bytes already in memory (copied); used by tools and tests.
    bool LoadMemory(const uint8_t* data, std::size_t size);

    void Reset();

private:
    bool RecogniseAndParse();
    bool FinishLoad();
};
