#pragma once
// Shared pieces of the document's unit tests: paths as the document takes
// them, and records found by tag.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"

namespace docunit {

inline std::u16string U16(const std::filesystem::path& p) { return quillon::FromUtf8(p.string()); }

// The index of the nth record (from 1) whose element has the tag; a test
// failure and 0 when there is none.
inline std::size_t IndexOf(const quillon::QuillonDocument& doc, uint16_t group, uint16_t element, int nth = 1) {
    const auto& records = doc.Records();
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].Element()->Is(group, element) && --nth == 0) return i;
    ADD_FAILURE() << "no such record";
    return 0;
}

}  // namespace docunit
