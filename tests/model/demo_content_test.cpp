#include "model/demo_content.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "model/preferences.h"
#include "platform/folders.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedHome;
using test::TempDir;
using test::WriteFile;

// A private home, an empty settings state and a demo folder shipped "beside the program".
class DemoContent : public testing::Test {
protected:
    void SetUp() override {
        Prefs() = Preferences{};
        SetProgramDataFolder(data.path.string());
        demo = data.path / "DemoContent";
        docs = home.dir.path / "Documents/Morvane";
    }
    void TearDown() override {
        SetProgramDataFolder("");
        Prefs() = Preferences{};
        TakePreferencesDirty();
    }
    void ShipDemo() {
        fs::create_directories(demo / "Projects/Chase/Audio");
        fs::create_directories(demo / "Recipes");
        fs::create_directories(demo / "Chains");
        fs::create_directories(demo / "Libraries");
        fs::create_directories(demo / "Extras");
        WriteFile(demo / "Projects/Chase.mvproj", "{\"format\":\"Morvane\"}");
        WriteFile(demo / "Projects/Arrival.MVPROJ", "{\"format\":\"Morvane\"}");
        WriteFile(demo / "Projects/Chase/Audio/door.wav", "RIFF");
        WriteFile(demo / "Projects/readme.txt", "demo");
        WriteFile(demo / "Recipes/Whoosh.mvrecipe", "shipped recipe");
        WriteFile(demo / "Chains/Hits.mvchain", "shipped chain");
        WriteFile(demo / "Libraries/Demo.mvlib", "index");
        WriteFile(demo / "Extras/not-copied.txt", "only the four folders are demo material");
    }

    ScopedHome home;
    TempDir data;
    fs::path demo, docs;
};

TEST_F(DemoContent, InstallsOnceKeepsUserFilesAndReinstallsWhenTheMarkerGoes) {
    ShipDemo();
    fs::create_directories(docs / "Recipes");
    WriteFile(docs / "Recipes/Whoosh.mvrecipe", "the user's own recipe");
    AddRecentProject(Prefs(), "/home/user/Earlier.mvproj");

    DemoInstallResult first = InstallDemoContent(false);
    EXPECT_TRUE(first.sourceFound);
    EXPECT_EQ(first.filesCopied, 6);
    EXPECT_EQ(first.filesKept, 1);
    EXPECT_EQ(first.failures, 0);
    EXPECT_TRUE(first.markerWritten);
    EXPECT_EQ(ReadFile(docs / ".demo_version"), "installed\n");
    EXPECT_EQ(ReadFile(docs / "Recipes/Whoosh.mvrecipe"), "the user's own recipe");
    EXPECT_EQ(ReadFile(docs / "Chains/Hits.mvchain"), "shipped chain");
    EXPECT_EQ(ReadFile(docs / "Projects/Chase/Audio/door.wav"), "RIFF");
    EXPECT_EQ(ReadFile(docs / "Libraries/Demo.mvlib"), "index");
    EXPECT_FALSE(fs::exists(docs / "Extras"));

    // The copied projects (and only projects) join the recent list, in name order,
    // ahead of what the user opened before.
    const std::string arrival = (docs / "Projects/Arrival.MVPROJ").string();
    const std::string chase = (docs / "Projects/Chase.mvproj").string();
    EXPECT_EQ(first.projectsAdded, (std::vector<std::string>{arrival, chase}));
    EXPECT_EQ(Prefs().recentProjects, (std::vector<std::string>{arrival, chase, "/home/user/Earlier.mvproj"}));
    // ...and the preferences were saved with them.
    const std::string saved = ReadFile(home.dir.path / ".config/Morvane/com.morvane.prefs");
    EXPECT_NE(saved.find("recentProject=" + arrival + "\nrecentProject=" + chase + "\n"), std::string::npos);

    // A second start finds the marker and copies nothing, even what the user deleted.
    fs::remove(docs / "Chains/Hits.mvchain");
    Prefs().recentProjects.clear();
    DemoInstallResult second = InstallDemoContent(false);
    EXPECT_TRUE(second.alreadyInstalled);
    EXPECT_EQ(second.filesCopied, 0);
    EXPECT_FALSE(fs::exists(docs / "Chains/Hits.mvchain"));
    EXPECT_TRUE(Prefs().recentProjects.empty());

    // Without the marker the demo material comes back; existing files stay as they are.
    fs::remove(docs / ".demo_version");
    WriteFile(docs / "Projects/Chase.mvproj", "edited by the user");
    DemoInstallResult third = InstallDemoContent(false);
    EXPECT_FALSE(third.alreadyInstalled);
    EXPECT_EQ(third.filesCopied, 1);
    EXPECT_EQ(third.filesKept, 6);
    EXPECT_EQ(ReadFile(docs / "Chains/Hits.mvchain"), "shipped chain");
    EXPECT_EQ(ReadFile(docs / "Projects/Chase.mvproj"), "edited by the user");
    EXPECT_TRUE(third.projectsAdded.empty());
    EXPECT_EQ(ReadFile(docs / ".demo_version"), "installed\n");

    // From the settings tab (force), with the marker present.
    fs::remove(docs / "Projects/Arrival.MVPROJ");
    DemoInstallResult forced = InstallDemoContent(true);
    EXPECT_EQ(forced.filesCopied, 1);
    EXPECT_EQ(forced.projectsAdded, (std::vector<std::string>{arrival}));
    EXPECT_EQ(Prefs().recentProjects.front(), arrival);
}

TEST_F(DemoContent, WithoutDemoMaterialNothingIsCopiedAndNoMarkerIsWritten) {
    // No "DemoContent" beside the program.
    DemoInstallResult r = InstallDemoContent(false);
    EXPECT_FALSE(r.sourceFound);
    EXPECT_EQ(r.filesCopied, 0);
    EXPECT_FALSE(r.markerWritten);
    EXPECT_FALSE(fs::exists(docs / ".demo_version"));
    EXPECT_FALSE(fs::exists(home.dir.path / ".config/Morvane/com.morvane.prefs"));
    EXPECT_TRUE(InstallDemoContent(true).projectsAdded.empty());
    EXPECT_FALSE(fs::exists(docs));

    // A "DemoContent" that is a file, not a folder, is no demo material either.
    WriteFile(demo, "not a folder");
    EXPECT_FALSE(InstallDemoContent(false).sourceFound);
    EXPECT_FALSE(fs::exists(docs / ".demo_version"));
}

TEST_F(DemoContent, AFailedCopyLeavesNoMarkerSoTheNextStartFinishesTheJob) {
    ShipDemo();
    // Something in the way of the Chains folder.
    fs::create_directories(docs);
    WriteFile(docs / "Chains", "a file where a folder belongs");

    DemoInstallResult r = InstallDemoContent(false);
    EXPECT_GE(r.failures, 1);
    EXPECT_FALSE(r.markerWritten);
    EXPECT_FALSE(fs::exists(docs / ".demo_version"));
    EXPECT_EQ(ReadFile(docs / "Recipes/Whoosh.mvrecipe"), "shipped recipe");  // the rest arrived
    EXPECT_EQ(r.projectsAdded.size(), 2u);

    fs::remove(docs / "Chains");
    DemoInstallResult next = InstallDemoContent(false);
    EXPECT_EQ(next.failures, 0);
    EXPECT_EQ(next.filesCopied, 1);
    EXPECT_TRUE(next.markerWritten);
    EXPECT_EQ(ReadFile(docs / "Chains/Hits.mvchain"), "shipped chain");
}

TEST_F(DemoContent, WithoutAHomeNothingIsWrittenAnywhere) {
    ShipDemo();
    unsetenv("HOME");
    DemoInstallResult r = InstallDemoContent(true);
    setenv("HOME", home.dir.path.c_str(), 1);
    EXPECT_TRUE(r.sourceFound);
    EXPECT_EQ(r.filesCopied, 0);
    EXPECT_FALSE(r.markerWritten);
    EXPECT_TRUE(fs::is_empty(home.dir.path));
}

}  // namespace
}  // namespace morvane
