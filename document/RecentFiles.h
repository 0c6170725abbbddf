#pragma once
// The recent-files list: eight places, stored as the values "URL1" to "URL8"
// of the section "Recent DICOM HEX File". Entries keep their places; a new
// path takes the first free place, and when all eight are in use the path in
// place 0 is dropped and the others move up. Paths compare exactly.
#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

inline constexpr const char16_t* kRecentSection = u"Recent DICOM HEX File";
constexpr std::size_t kRecentPlaces = 8;

// Where the places are kept. A value that is missing or cannot be read reads
// as the empty text.
class RecentStore {
public:
    virtual ~RecentStore() = default;
    virtual std::u16string Read(const std::u16string& section, const std::u16string& name) = 0;
    virtual void Write(const std::u16string& section, const std::u16string& name, const std::u16string& value) = 0;
};

// A store in memory (tests, tools). `writes` counts every Write.
class MemoryRecentStore : public RecentStore {
public:
    std::u16string Read(const std::u16string& section, const std::u16string& name) override;
    void Write(const std::u16string& section, const std::u16string& name, const std::u16string& value) override;

    std::map<std::u16string, std::u16string> values;  // key: section + "/" + name
    std::size_t writes = 0;
};

// "URL1" .. "URL8" for places 0 .. 7.
std::u16string RecentValueName(std::size_t place);

class RecentFiles {
public:
    // What Remember did, and which drop-down entry to select.
    enum class Change {
        Existing,  // the path was in the list already: nothing changed or saved
        Inserted,  // the path took a free place: one value written, entry inserted
        Shifted,   // the list was full: place 0 dropped, all eight values written
    };
    struct Remembered {
        Change change = Change::Existing;
        std::size_t place = 0;
        // Index in the drop-down (the non-empty places in place order) of the entry.
        std::size_t entry = 0;
    };

    explicit RecentFiles(RecentStore& store) : m_store(store) {}

    // Reads the eight values into the places, as they are.
    void Load();
    // Writes all eight values, the empty ones too.
    void Save();
    // Puts `path` in the list (see Change) and stores the change.
    Remembered Remember(const std::u16string& path);
    // Walks the places once; a place equal to `path` is removed and the later
    // places move up (the walk goes on after it, so of two equal places next
    // to each other only the first goes). Then saves all eight.
    void Forget(const std::u16string& path);

    const std::array<std::u16string, kRecentPlaces>& Places() const { return m_places; }
    // The drop-down's entries: the non-empty places in place order.
    std::vector<std::u16string> Entries() const;
    // The drop-down index of a place's entry (the non-empty places before it).
    std::size_t EntryOfPlace(std::size_t place) const;

private:
    RecentStore& m_store;
    std::array<std::u16string, kRecentPlaces> m_places;
};

}  // namespace quillon
