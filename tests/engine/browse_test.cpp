// The Library tab's browser: what a search finds and the orders it sorts in.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "build_fixtures.h"
#include "engine/browse.h"
#include "engine/event_build.h"

namespace morvane {
namespace {

LibraryEntry Entry(const std::string& name, float duration, const std::string& description = "",
                   const std::string& keywords = "") {
    LibraryEntry entry = test::NeutralEntry(name, duration);
    entry.path = "/sfx/" + name + ".wav";
    entry.description = description;
    entry.keywords = keywords;
    return entry;
}

Library Doors() {
    Library library;
    library.name = "Doors";
    library.folder = "/sfx";
    library.entries = {Entry("DOORWood_Slam_01", 1.2f, "heavy oak door", "door slam wood"),
                       Entry("DOORWood_Slam_02", 0.8f, "light door", "door slam"),
                       Entry("DOORMetl_Creak", 3.0f, "", "door creak metal"),
                       Entry("doorway_ambience", 12.0f, "room tone in a doorway"),
                       Entry("METLImpt_Clang", 0.5f, "", "metal impact"),
                       Entry("slams_compilation", 30.0f)};
    return library;
}

std::vector<std::string> Names(const std::vector<const LibraryEntry*>& rows) {
    std::vector<std::string> names;
    for (const LibraryEntry* row : rows) names.push_back(row->name);
    return names;
}

std::vector<std::string> Search(const std::vector<Library>& libraries, const std::string& search) {
    BrowserQuery query;
    query.search = search;
    return Names(BrowseEntries(libraries, query));
}

using Names_ = std::vector<std::string>;

TEST(Browse, SearchFollowsTheKeywordRules) {
    const std::vector<Library> libraries = {Doors()};
    // Whole words, case-blind: "door" is not found inside "doorway" ...
    EXPECT_EQ(Search(libraries, "Door"), (Names_{"DOORMetl_Creak", "DOORWood_Slam_01", "DOORWood_Slam_02"}));
    // ... unless a "*" lifts the boundary on that side.
    EXPECT_EQ(Search(libraries, "door*"),
              (Names_{"DOORMetl_Creak", "doorway_ambience", "DOORWood_Slam_01", "DOORWood_Slam_02"}));
    EXPECT_EQ(Search(libraries, "slam*"), (Names_{"DOORWood_Slam_01", "DOORWood_Slam_02", "slams_compilation"}));
    // Required and excluded terms; plain terms are any-of.
    EXPECT_EQ(Search(libraries, "+slam -02"), (Names_{"DOORWood_Slam_01"}));
    EXPECT_EQ(Search(libraries, "creak clang"), (Names_{"DOORMetl_Creak", "METLImpt_Clang"}));
    EXPECT_EQ(Search(libraries, "+metal -door"), (Names_{"METLImpt_Clang"}));
    // Description and keywords count as well as the name; commas separate like spaces.
    EXPECT_EQ(Search(libraries, "oak"), (Names_{"DOORWood_Slam_01"}));
    EXPECT_EQ(Search(libraries, "+door,+metal"), (Names_{"DOORMetl_Creak"}));
    // The list's quick text search agrees with the word rules on every file, short
    // and wildcard terms included.
    for (const char* search : {"+l*", "*a*", "+door* -oak", "o", "creak*", "+slam,-light"}) {
        const Names_ listed = Search(libraries, search);
        for (const LibraryEntry& entry : libraries[0].entries)
            EXPECT_EQ(EntryMatchesSearch(entry, search), std::count(listed.begin(), listed.end(), entry.name) == 1)
                << search << " on " << entry.name;
    }
    // Nothing matches: an empty list, not everything.
    EXPECT_TRUE(Search(libraries, "+thunder").empty());
    EXPECT_EQ(Search(libraries, "").size(), 6u);
}

TEST(Browse, ShowsOneLibraryOrEveryEnabledOne) {
    Library doors = Doors();
    Library off;
    off.name = "Off";
    off.enabled = false;
    off.entries = {Entry("DOORPlas_Slam", 1.0f)};
    const std::vector<Library> libraries = {doors, off};
    // The whole view leaves a switched-off library out, as a build does ...
    EXPECT_EQ(Search(libraries, "+slam"), (Names_{"DOORWood_Slam_01", "DOORWood_Slam_02"}));
    // ... but the user can still open it on its own.
    BrowserQuery query;
    query.library = "Off";
    EXPECT_EQ(Names(BrowseEntries(libraries, query)), (Names_{"DOORPlas_Slam"}));
    query.library = "Nowhere";
    EXPECT_TRUE(BrowseEntries(libraries, query).empty());
}

// What the browser finds for "+" and "-" terms is what a build with the same keywords
// chooses from: every file the build draws is among the search's results.
TEST(Browse, FindsWhatABuildWouldChooseFrom) {
    const std::vector<Library> libraries = {Doors()};
    for (const std::string keywords : {"+slam -02", "+door -slam", "+metal"}) {
        std::set<std::string> found;
        BrowserQuery query;
        query.search = keywords;
        for (const LibraryEntry* row : BrowseEntries(libraries, query)) found.insert(row->path);
        Project project;
        for (int i = 0; i < 12; ++i) {
            Event event;
            event.shape = EventShape::Spot;
            event.time = 4.0f * static_cast<float>(i);
            event.duration = 1.0f;
            event.keywords = keywords;
            project.timeline.events.push_back(event);
        }
        BuildOptions options;
        options.useFixedSeed = true;
        options.fixedSeed = 3;
        options.envelopes = [](const std::string&) { return std::vector<float>{}; };
        options.probe = [](const std::string&) { return SoundFileInfo{}; };
        BuildEvents(project, RootsOf(libraries), -1, -1.0f, -1.0f, 1, options);
        std::set<std::string> drawn;
        for (const Layer& layer : project.timeline.results)
            if (!IsPlaceholderLayer(layer) && !layer.filepath.empty()) drawn.insert(layer.filepath);
        ASSERT_FALSE(drawn.empty()) << keywords;
        for (const std::string& path : drawn) EXPECT_TRUE(found.count(path)) << keywords << ": " << path;
    }
}

TEST(Browse, SortOrders) {
    Library library = Doors();
    library.entries.push_back(Entry("ambience_b", 1.2f));
    library.entries.push_back(Entry("Ambience_a", 1.2f));
    library.entries[0].sampleRate = 96000.0f;
    library.entries[4].channels = 2;
    const std::vector<Library> libraries = {library};
    BrowserQuery query;
    // Names sort without regard to case, in both directions.
    EXPECT_EQ(Names(BrowseEntries(libraries, query)).front(), "Ambience_a");
    EXPECT_EQ(Names(BrowseEntries(libraries, query))[1], "ambience_b");
    query.ascending = false;
    EXPECT_EQ(Names(BrowseEntries(libraries, query)).front(), "slams_compilation");
    // Lengths: shortest first; equal lengths fall back to the name, so the order is
    // stable in both directions.
    query.sortBy = BrowserColumn::Duration;
    query.ascending = true;
    EXPECT_EQ(Names(BrowseEntries(libraries, query)),
              (Names_{"METLImpt_Clang", "DOORWood_Slam_02", "Ambience_a", "ambience_b", "DOORWood_Slam_01",
                      "DOORMetl_Creak", "doorway_ambience", "slams_compilation"}));
    query.ascending = false;
    EXPECT_EQ(Names(BrowseEntries(libraries, query)).front(), "slams_compilation");
    EXPECT_EQ(Names(BrowseEntries(libraries, query))[3], "DOORWood_Slam_01");
    query.sortBy = BrowserColumn::Rate;
    EXPECT_EQ(Names(BrowseEntries(libraries, query)).front(), "DOORWood_Slam_01");
    query.sortBy = BrowserColumn::Channels;
    EXPECT_EQ(Names(BrowseEntries(libraries, query)).front(), "METLImpt_Clang");
    // Category: by the UCS CatID the name starts with; names without one come first.
    query.sortBy = BrowserColumn::Category;
    query.ascending = true;
    const Names_ byCategory = Names(BrowseEntries(libraries, query));
    const auto at = [&](const std::string& name) { return std::find(byCategory.begin(), byCategory.end(), name) - byCategory.begin(); };
    EXPECT_LT(at("DOORMetl_Creak"), at("DOORWood_Slam_01"));
    EXPECT_LT(at("DOORWood_Slam_02"), at("METLImpt_Clang"));
    EXPECT_LT(at("slams_compilation"), at("DOORMetl_Creak"));
    // Sorting works on the search's results.
    query.search = "+slam";
    query.sortBy = BrowserColumn::Duration;
    EXPECT_EQ(Names(BrowseEntries(libraries, query)), (Names_{"DOORWood_Slam_02", "DOORWood_Slam_01"}));
}

TEST(Browse, SummaryLineCountsFilesInGoodEnglish) {
    Library library;
    EXPECT_EQ(LibrarySummaryLine(library), "0 files");
    library.entries.resize(1);
    EXPECT_EQ(LibrarySummaryLine(library), "1 file");
    library.entries.resize(2);
    EXPECT_EQ(LibrarySummaryLine(library), "2 files");
    library.summary = "2 files, bright";
    EXPECT_EQ(LibrarySummaryLine(library), "2 files, bright");
}

}  // namespace
}  // namespace morvane
