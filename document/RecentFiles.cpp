#include "document/RecentFiles.h"

#include "dicom/TextUtil.h"

namespace quillon {

std::u16string MemoryRecentStore::Read(const std::u16string& section, const std::u16string& name) {
    const auto it = values.find(section + u"/" + name);
    return it == values.end() ? std::u16string() : it->second;
}

void MemoryRecentStore::Write(const std::u16string& section, const std::u16string& name, const std::u16string& value) {
    values[section + u"/" + name] = value;
    ++writes;
}

std::u16string RecentValueName(std::size_t place) { return Format16("URL%zu", place + 1); }

void quillon::RecentFiles::Load() {
    for (std::size_t i = 0; i < kRecentPlaces; ++i) m_places[i] = m_store.Read(kRecentSection, RecentValueName(i));
}

void quillon::RecentFiles::Save() {
    for (std::size_t i = 0; i < kRecentPlaces; ++i) m_store.Write(kRecentSection, RecentValueName(i), m_places[i]);
}

std::vector<std::u16string> quillon::RecentFiles::Entries() const {
    std::vector<std::u16string> entries;
    for (const auto& place : m_places)
        if (!place.empty()) entries.push_back(place);
    return entries;
}

std::size_t quillon::RecentFiles::EntryOfPlace(std::size_t place) const {
    std::size_t entry = 0;
    for (std::size_t i = 0; i < place && i < kRecentPlaces; ++i)
        if (!m_places[i].empty()) ++entry;
    return entry;
}

quillon::RecentFiles::Remembered quillon::RecentFiles::Remember(const std::u16string& path) {
    for (std::size_t i = 0; i < kRecentPlaces; ++i)
        if (m_places[i] == path) return {Change::Existing, i, EntryOfPlace(i)};
    for (std::size_t j = 0; j < kRecentPlaces; ++j) {
        if (m_places[j].empty()) {
            m_places[j] = path;
            m_store.Write(kRecentSection, RecentValueName(j), path);
            return {Change::Inserted, j, EntryOfPlace(j)};
        }
    }
    for (std::size_t i = 1; i < kRecentPlaces; ++i) m_places[i - 1] = std::move(m_places[i]);
    m_places[kRecentPlaces - 1] = path;
    Save();
    return {Change::Shifted, kRecentPlaces - 1, kRecentPlaces - 1};
}

void quillon::RecentFiles::Forget(const std::u16string& path) {
    // One walk: after a removal the next place has moved into the current
    // position, and the walk goes on with the position after it.
    for (std::size_t i = 0; i < kRecentPlaces; ++i) {
        if (m_places[i] != path) continue;
        for (std::size_t k = i + 1; k < kRecentPlaces; ++k) m_places[k - 1] = std::move(m_places[k]);
        m_places[kRecentPlaces - 1].clear();
    }
    Save();
}

}  // namespace quillon
