#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/open_external.h"
#include "support/test_support.h"

using namespace morvane;

namespace {

// Runs body with PATH holding only `folder`, then restores PATH.
template <typename F>
void WithPath(const std::string& folder, F body) {
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", folder.c_str(), 1);
    body();
    setenv("PATH", saved.c_str(), 1);
}

std::string WaitForFile(const std::filesystem::path& path) {
    for (int i = 0; i < 200 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return test::ReadFile(path);
}

}  // namespace

TEST(OpenWithDesktop, HandsTheTargetToXdgOpenUninterpreted) {
    test::TempDir dir;
    const auto bin = dir.path / "bin";
    std::filesystem::create_directory(bin);
    // A stand-in for the desktop's handler that records what it was given.
    const auto record = dir.path / "args";
    test::WriteFile(bin / "xdg-open",
                    "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" + record.string() + ".tmp'\nmv '" +
                        record.string() + ".tmp' '" + record.string() + "'\n");
    chmod((bin / "xdg-open").c_str(), 0755);

    const std::string page = "https://example.test/notes?a=1&b=2 $(touch pwned);x";
    bool started = false;
    WithPath(bin.string() + ":/usr/bin:/bin", [&] { started = OpenWithDesktop(page); });
    EXPECT_TRUE(started);
    EXPECT_EQ(WaitForFile(record), "1|" + page + "|");
    EXPECT_FALSE(std::filesystem::exists(dir.path / "pwned"));

    // An option is never passed on, and nothing to open opens nothing.
    std::filesystem::remove(record);
    WithPath(bin.string() + ":/usr/bin:/bin", [&] {
        EXPECT_FALSE(OpenWithDesktop("--version"));
        EXPECT_FALSE(OpenWithDesktop(""));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(std::filesystem::exists(record));

    // Without a handler installed the caller is told.
    WithPath((dir.path / "empty").string(), [&] { EXPECT_FALSE(OpenWithDesktop("https://example.test/")); });
}
