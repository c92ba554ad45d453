#include "platform/regular_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

// Every kind of path a careless or hostile user can put where a document is expected:
// none may block, and each is refused with a reason that names what it is.
TEST(RegularFile, RefusesEverythingButARegularFileWithoutBlocking) {
    test::TempDir dir;
    const std::string fifo = dir / "pipe.mvproj";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string loop = dir / "loop";
    fs::create_symlink(loop, loop);
    const std::string text = dir / "ok.txt";
    test::WriteFile(text, "hello");

    EXPECT_EQ(RegularFileProblem(fifo), "is a named pipe, not a file");
    EXPECT_EQ(RegularFileProblem(dir.path.string()), "is a folder, not a file");
    EXPECT_EQ(RegularFileProblem("/dev/null"), "is a device, not a file");
    EXPECT_FALSE(RegularFileProblem(loop).empty());
    EXPECT_FALSE(RegularFileProblem(dir / "missing").empty());
    EXPECT_TRUE(RegularFileProblem(text).empty());

    std::string bytes, why;
    EXPECT_FALSE(ReadRegularFile(fifo, bytes, &why));
    EXPECT_FALSE(ReadRegularFile(text, bytes, &why, 4));
    EXPECT_EQ(why, "is too large");
    ASSERT_TRUE(ReadRegularFile(text, bytes, &why));
    EXPECT_EQ(bytes, "hello");
}

}  // namespace
}  // namespace morvane
