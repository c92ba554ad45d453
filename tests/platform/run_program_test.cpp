#include <gtest/gtest.h>

#include <filesystem>

#include "platform/run_program.h"
#include "support/test_support.h"

namespace morvane {
namespace {

TEST(RunProgram, ArgumentsReachTheProgramUninterpretedAndFailuresComeBack) {
    // A name with shell syntax reaches the program as one literal argument.
    test::TempDir dir;
    const std::string odd = dir / "a; touch injected";
    ProgramRun run = RunProgram({"ls", odd});
    EXPECT_TRUE(run.started);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.lastErrorLine.find("a; touch injected"), std::string::npos) << run.lastErrorLine;
    EXPECT_FALSE(std::filesystem::exists("injected"));

    run = RunProgram({"morvane-no-such-program-here"});
    EXPECT_FALSE(run.started);
    EXPECT_FALSE(RunProgram({}).started);

    // The exit status and the last line of several on stderr; what it prints is dropped.
    run = RunProgram({"sh", "-c", "echo chatter; echo first >&2; echo 'last words' >&2; exit 3"});
    EXPECT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.lastErrorLine, "last words");
    // Standard input is empty, so a program that reads it does not hang.
    run = RunProgram({"cat"});
    EXPECT_EQ(run.exitCode, 0);
}

}  // namespace
}  // namespace morvane
