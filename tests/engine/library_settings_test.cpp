// What a build draws on after the user switched libraries in the Library tab: the
// index files still say "enabled"; the preference lines decide.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "build_fixtures.h"
#include "engine/event_build.h"
#include "engine/project_roots.h"
#include "library/index_file.h"
#include "library/libraries.h"
#include "support/test_support.h"

namespace morvane {
namespace {

Library FolderLibrary(const std::string& folder, const std::string& name, int count) {
    Library library;
    library.folder = folder;
    library.name = name;
    for (int i = 0; i < count; ++i) {
        LibraryEntry entry = test::NeutralEntry(name + "_" + std::to_string(i), 2.0f);
        entry.path = folder + "/" + entry.name + ".wav";
        library.entries.push_back(entry);
    }
    return library;
}

std::vector<std::string> BuiltFiles(const std::vector<Library>& libraries, int events) {
    Project project;
    for (int i = 0; i < events; ++i) {
        Event event;
        event.shape = EventShape::Spot;
        event.time = 2.0f * static_cast<float>(i);
        event.duration = 1.0f;
        project.timeline.events.push_back(event);
    }
    BuildOptions options;
    options.useFixedSeed = true;
    options.fixedSeed = 7;
    options.envelopes = [](const std::string&) { return std::vector<float>{}; };
    options.probe = [](const std::string&) { return SoundFileInfo{}; };
    BuildEvents(project, ProjectLibraryRoots(project, libraries), -1, -1.0f, -1.0f, 1, options);
    std::vector<std::string> files;
    for (const Layer& layer : project.timeline.results) files.push_back(layer.filepath);
    return files;
}

bool AnyFrom(const std::vector<std::string>& files, const std::string& folder) {
    return std::any_of(files.begin(), files.end(), [&](const std::string& f) { return f.rfind(folder + "/", 0) == 0; });
}

TEST(LibrarySettings, BuildsUseTheLibrariesAsTheUserSetThem) {
    test::TempDir dir;
    LibrarySet set;
    set.indexFolder = dir / "index";
    std::filesystem::create_directories(set.indexFolder);
    ASSERT_TRUE(SaveLibraryIndex(FolderLibrary("/sounds/doors", "doors", 6), LibraryIndexPath(set, "doors")));
    ASSERT_TRUE(SaveLibraryIndex(FolderLibrary("/sounds/wind", "wind", 6), LibraryIndexPath(set, "wind")));
    ASSERT_EQ(LoadAllLibraries(set), 2);

    // Both enabled as scanned: a build of many events draws on both.
    std::vector<std::string> files = BuiltFiles(set.libraries, 24);
    ASSERT_FALSE(files.empty());
    EXPECT_TRUE(AnyFrom(files, "/sounds/doors"));
    EXPECT_TRUE(AnyFrom(files, "/sounds/wind"));

    // Switched off in the tab (the line's folder written with a trailing slash, as a
    // hand-edited preference file may have it): none of its files, ever.
    ApplyFolderSettings(set.libraries, {{"/sounds/doors/", false, -1}, {"/sounds/wind", true, -1}});
    files = BuiltFiles(set.libraries, 24);
    ASSERT_FALSE(files.empty());
    EXPECT_FALSE(AnyFrom(files, "/sounds/doors"));
    EXPECT_TRUE(AnyFrom(files, "/sounds/wind"));

    // Reading the index files again (as a render does) keeps the user's choice once
    // the settings are applied, and an out-of-range weight class is clamped.
    set.libraries.clear();
    LoadAllLibraries(set);
    ApplyFolderSettings(set.libraries, {{"/sounds/doors", false, 9}});
    const auto doors = std::find_if(set.libraries.begin(), set.libraries.end(), [](const Library& l) { return l.name == "doors"; });
    ASSERT_NE(doors, set.libraries.end());
    EXPECT_FALSE(doors->enabled);
    EXPECT_EQ(doors->weightClass, 2);
    EXPECT_FALSE(AnyFrom(BuiltFiles(set.libraries, 24), "/sounds/doors"));

    // Everything switched off: nothing is chosen from either.
    ApplyFolderSettings(set.libraries, {{"/sounds/doors", false, -1}, {"/sounds/wind", false, -1}});
    files = BuiltFiles(set.libraries, 8);
    EXPECT_FALSE(AnyFrom(files, "/sounds/doors"));
    EXPECT_FALSE(AnyFrom(files, "/sounds/wind"));
}

}  // namespace
}  // namespace morvane
