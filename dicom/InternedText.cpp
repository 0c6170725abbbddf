#include "dicom/InternedText.h"

#include <mutex>
#include <unordered_set>

namespace quillon {

const std::u16string& InternedText::Empty() {
    static const std::u16string empty;
    return empty;
}

InternedText& InternedText::operator=(std::u16string_view text) {
    if (text.empty()) {
        clear();
        return *this;
    }
    // Nodes are made on any thread (files load in the background).
    static std::mutex mutex;
    // Set nodes do not move: the addresses handed out stay valid.
    static std::unordered_set<std::u16string> pool;
    std::lock_guard lock(mutex);
    m_text = &*pool.emplace(text).first;
    return *this;
}

}  // namespace quillon
