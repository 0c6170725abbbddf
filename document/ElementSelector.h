#pragma once
// Picking an element by tag on a command line: "GGGG,EEEE" for the first
// element with that tag in tree order, "GGGG,EEEE/N" for the Nth (from 1).
// quillon-snapshot's --select and quillon-dump's --extract read it alike.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/DocumentTree.h"

namespace quillon {

struct ElementSelector {
    uint16_t group = 0;
    uint16_t element = 0;
    // Which of the elements with the tag, in tree order, from 1.
    unsigned nth = 1;
};

// The selector a text names; none when it is not of that form.
std::optional<ElementSelector> ParseElementSelector(const std::string& text);

// The record of the selected element in pre-order records; none when the
// tree holds fewer such elements.
std::optional<std::size_t> FindSelectedRecord(const std::vector<TreeItemRecord>& records,
                                              const ElementSelector& selector);

}  // namespace quillon
