#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "platform/single_instance.h"
#include "support/test_support.h"

using namespace morvane;

namespace {

// Polls the listener until `count` paths arrived or two seconds passed.
std::vector<std::string> Receive(InstanceListener& listener, size_t count) {
    std::vector<std::string> all;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (all.size() < count && std::chrono::steady_clock::now() < until) {
        for (auto& p : PollInstanceListener(listener)) all.push_back(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return all;
}

// Sends raw bytes to the socket, as a foreign or broken client would.
void SendRaw(const std::string& bytes) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, InstanceSocketPath().c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

}  // namespace

TEST(CommandLine, OnlyNonOptionArgumentsEndingInTheProjectExtensionAreProjects) {
    auto find = [](std::vector<const char*> args, std::vector<std::string> withValue = {}) {
        args.insert(args.begin(), "morvane");
        return FindProjectArgument(static_cast<int>(args.size()), args.data(), withValue);
    };
    EXPECT_EQ(find({}), "");
    EXPECT_EQ(find({"notes.txt", "", "Reel 1.mvproj"}), "Reel 1.mvproj");
    // An absolute Linux path is a project; an option is never one, whatever its ending.
    EXPECT_EQ(find({"/home/ana/Film/REEL2.MVPROJ"}), "/home/ana/Film/REEL2.MVPROJ");
    EXPECT_EQ(find({"-open.mvproj", "--x=a.mvproj"}), "");
    EXPECT_EQ(find({"Film.mvproj.bak", "a.mvpro"}), "");
    // The first project wins.
    EXPECT_EQ(find({"a.mvproj", "b.mvproj"}), "a.mvproj");
    // The value of an option that takes one is not the project.
    EXPECT_EQ(find({"--ui-script", "steps.mvproj", "real.Mvproj"}, {"--ui-script"}), "real.Mvproj");
}

TEST(SingleInstance, SocketLivesInTheRuntimeFolderElseInTmpPerUser) {
    test::ScopedHome home;
    EXPECT_EQ(InstanceSocketPath(), (home.dir.path / "morvane.sock").string());
    setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(InstanceSocketPath(), "/tmp/morvane-" + std::to_string(getuid()) + ".sock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceSocketPath(), "/tmp/morvane-" + std::to_string(getuid()) + ".sock");
}

TEST(SingleInstance, ASecondStartHandsItsProjectToTheRunningCopy) {
    test::ScopedHome home;
    // Nobody running: the second start must go on and start normally.
    EXPECT_FALSE(HandOverToRunningInstance("/films/a.mvproj"));

    InstanceListener running;
    ASSERT_TRUE(StartInstanceListener(running));
    const std::string first = "/films/Sc\xc3\xa8ne 12/r\xc3\xa9" "el.mvproj";
    const std::string second = "/films/b.MVPROJ";
    auto sender = std::async(std::launch::async, [&] {
        return HandOverToRunningInstance(first) && HandOverToRunningInstance(second);
    });
    auto got = Receive(running, 2);
    EXPECT_TRUE(sender.get());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], first);  // UTF-8 bytes unchanged
    EXPECT_EQ(got[1], second);

    // Foreign or broken clients are ignored and do not stop later hand-overs.
    SendRaw("XXXX/films/c.mvproj");
    SendRaw(std::string("MVFL\0", 5));
    SendRaw("MV");
    auto third = std::async(std::launch::async, [] { return HandOverToRunningInstance("/films/d.mvproj"); });
    got = Receive(running, 1);
    EXPECT_TRUE(third.get());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "/films/d.mvproj");

    StopInstanceListener(running);
    EXPECT_FALSE(std::filesystem::exists(InstanceSocketPath()));
    EXPECT_FALSE(HandOverToRunningInstance("/films/e.mvproj"));
}

TEST(SingleInstance, AStaleSocketIsReplacedAndALiveOneIsLeftAlone) {
    test::ScopedHome home;
    // A copy that died leaves its socket file with nobody listening.
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, InstanceSocketPath().c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    ASSERT_TRUE(std::filesystem::exists(InstanceSocketPath()));
    EXPECT_FALSE(HandOverToRunningInstance("/films/a.mvproj"));

    InstanceListener first;
    ASSERT_TRUE(StartInstanceListener(first));

    // A copy started while the first runs (without a project) does not steal the socket.
    InstanceListener second;
    EXPECT_FALSE(StartInstanceListener(second));
    StopInstanceListener(second);
    ASSERT_TRUE(std::filesystem::exists(InstanceSocketPath()));

    auto sender = std::async(std::launch::async, [] { return HandOverToRunningInstance("/films/x.mvproj"); });
    auto got = Receive(first, 1);
    EXPECT_TRUE(sender.get());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "/films/x.mvproj");
    StopInstanceListener(first);

    // A plain file in the socket's place is not ours to delete.
    test::WriteFile(InstanceSocketPath(), "not a socket");
    InstanceListener third;
    EXPECT_FALSE(StartInstanceListener(third));
    EXPECT_EQ(test::ReadFile(InstanceSocketPath()), "not a socket");
}
