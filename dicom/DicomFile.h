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

    // Reads and parses the file. True: loaded. False: the object is reset,
    // and Problems() says where and why the parse stopped.
    bool Load(const std::filesystem::path& path);
    // The same from bytes already in memory (copied); used by tools and tests.
    bool LoadMemory(const uint8_t* data, std::size_t size);

    void Reset();

    // The image pixel description of the loaded data set.
    const quillon::PixelDescription& Pixel() const { return m_pixel; }

private:
    bool RecogniseAndParse();
    bool FinishLoad();
    // A refused load: says where the parse stopped (when nothing said it yet),
    // keeps the problems without their nodes, resets the object; false.
    bool Refuse(const char* reason = nullptr);
};
