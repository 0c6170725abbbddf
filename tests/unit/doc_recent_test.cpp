// The recent-files places and their stored values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/RecentFiles.h"

using namespace quillon;
using Places = std::vector<std::u16string>;

namespace {

std::u16string P(int n) { return Format16("/data/file%d.dcm", n); }

// A store holding `paths` in URL1.. (the rest empty), and the list loaded from it.
struct Fixture {
    explicit Fixture(const Places& paths) : list(store) {
        for (std::size_t i = 0; i < paths.size(); ++i)
            store.values[std::u16string(kRecentSection) + u"/" + RecentValueName(i)] = paths[i];
        list.Load();
        store.writes = 0;
    }
    std::u16string Stored(std::size_t place) { return store.Read(kRecentSection, RecentValueName(place)); }
    Places StoredPlaces() {
        Places out;
        for (std::size_t i = 0; i < kRecentPlaces; ++i) out.push_back(Stored(i));
        return out;
    }
    Places ListPlaces() { return Places(list.Places().begin(), list.Places().end()); }

    MemoryRecentStore store;
    quillon::RecentFiles list;
};

Places Padded(Places p) {
    p.resize(kRecentPlaces);
    return p;
}

}  // namespace

TEST(DocRecent, ValueNames) {
    EXPECT_EQ(RecentValueName(0), u"URL1");
    EXPECT_EQ(RecentValueName(7), u"URL8");
    EXPECT_EQ(std::u16string(kRecentSection), u"Recent DICOM HEX File");
}

TEST(DocRecent, KnownPathKeepsItsPlaceAndTheStore) {
    Fixture f({P(0), P(1), P(2), P(3)});
    const auto r = f.list.Remember(P(3));
    EXPECT_EQ(r.change, quillon::RecentFiles::Change::Existing);
    EXPECT_EQ(r.place, 3u);
    EXPECT_EQ(r.entry, 3u);
    EXPECT_EQ(f.store.writes, 0u);
    EXPECT_EQ(f.ListPlaces(), Padded({P(0), P(1), P(2), P(3)}));
}

TEST(DocRecent, NewPathTakesTheFirstFreePlace) {
    Fixture f({P(0), P(1), P(2), P(3)});
    const auto r = f.list.Remember(P(4));
    EXPECT_EQ(r.change, quillon::RecentFiles::Change::Inserted);
    EXPECT_EQ(r.place, 4u);
    EXPECT_EQ(r.entry, 4u);
    EXPECT_EQ(f.store.writes, 1u);  // only URL5
    EXPECT_EQ(f.Stored(4), P(4));
    EXPECT_EQ(f.StoredPlaces(), Padded({P(0), P(1), P(2), P(3), P(4)}));
}

TEST(DocRecent, FullListDropsTheOldest) {
    Fixture f({P(0), P(1), P(2), P(3), P(4), P(5), P(6), P(7)});
    const auto r = f.list.Remember(P(8));
    EXPECT_EQ(r.change, quillon::RecentFiles::Change::Shifted);
    EXPECT_EQ(r.place, 7u);
    EXPECT_EQ(r.entry, 7u);
    EXPECT_EQ(f.store.writes, 8u);  // all eight rewritten
    EXPECT_EQ(f.StoredPlaces(), Places({P(1), P(2), P(3), P(4), P(5), P(6), P(7), P(8)}));

    // That new path then fails to open: seven remain, the dropped one does not come back.
    f.list.Forget(P(8));
    EXPECT_EQ(f.StoredPlaces(), Padded({P(1), P(2), P(3), P(4), P(5), P(6), P(7)}));
    EXPECT_EQ(f.store.writes, 16u);
}

TEST(DocRecent, PathsCompareExactly) {
    Fixture f({});
    f.list.Remember(u"C:\\a.dcm");
    const auto r = f.list.Remember(u"c:\\A.DCM");
    EXPECT_EQ(r.change, quillon::RecentFiles::Change::Inserted);
    EXPECT_EQ(f.list.Entries(), Places({u"C:\\a.dcm", u"c:\\A.DCM"}));
}

TEST(DocRecent, ForgetMovesLaterPlacesUp) {
    struct Case {
        const char* name;
        Places before;
        std::u16string path;
        Places after;
    } cases[] = {
        {"middle", {P(0), P(1), P(2)}, P(1), {P(0), P(2)}},
        {"first of a full list",
         {P(0), P(1), P(2), P(3), P(4), P(5), P(6), P(7)},
         P(0),
         {P(1), P(2), P(3), P(4), P(5), P(6), P(7)}},
        {"absent", {P(0), P(1)}, P(9), {P(0), P(1)}},
        {"two apart", {P(0), P(1), P(0), P(2)}, P(0), {P(1), P(2)}},
        // One walk: the copy that moves into the current position is passed over.
        {"two together", {P(0), P(0), P(1)}, P(0), {P(0), P(1)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.before);
        f.list.Forget(c.path);
        EXPECT_EQ(f.ListPlaces(), Padded(c.after));
        EXPECT_EQ(f.StoredPlaces(), Padded(c.after));
        EXPECT_EQ(f.store.writes, 8u);
    }
}

// Values are taken as stored, holes included; drop-down entries skip the holes.
TEST(DocRecent, HolesInTheStore) {
    Fixture f({u"", P(1), u"", P(3)});
    EXPECT_EQ(f.list.Entries(), Places({P(1), P(3)}));
    EXPECT_EQ(f.list.EntryOfPlace(3), 1u);
    const auto r = f.list.Remember(P(5));
    EXPECT_EQ(r.place, 0u);
    EXPECT_EQ(r.entry, 0u);
    EXPECT_EQ(f.Stored(0), P(5));
    const auto again = f.list.Remember(P(3));
    EXPECT_EQ(again.place, 3u);
    EXPECT_EQ(again.entry, 2u);
    EXPECT_EQ(f.list.Entries(), Places({P(5), P(1), P(3)}));
}
