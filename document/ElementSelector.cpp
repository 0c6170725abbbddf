#include "document/ElementSelector.h"

#include <cstdio>

namespace quillon {

std::optional<ElementSelector> ParseElementSelector(const std::string& text) {
    unsigned group = 0, element = 0, nth = 1;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%4x,%4x/%u%c", &group, &element, &nth, &rest) == 3) {
        if (nth < 1) return std::nullopt;
        return ElementSelector{uint16_t(group), uint16_t(element), nth};
    }
    if (std::sscanf(text.c_str(), "%4x,%4x%c", &group, &element, &rest) == 2)
        return ElementSelector{uint16_t(group), uint16_t(element), 1};
    return std::nullopt;
}

std::optional<std::size_t> FindSelectedRecord(const std::vector<TreeItemRecord>& records,
                                              const ElementSelector& selector) {
    unsigned seen = 0;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].IsTag(selector.group, selector.element) && ++seen == selector.nth) return i;
    return std::nullopt;
}

}  // namespace quillon
