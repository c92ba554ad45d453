#include "platform/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace morvane {

namespace {

constexpr size_t kKeptErrorBytes = 8192;

// The child's standard streams: input from /dev/null; for a waited run, output
// dropped and error output into `errorPipe`.
struct SpawnStreams {
    posix_spawn_file_actions_t actions;
    explicit SpawnStreams(int errorPipe) {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (errorPipe < 0) return;
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, errorPipe, STDERR_FILENO);
    }
    ~SpawnStreams() { posix_spawn_file_actions_destroy(&actions); }
};

// Everything the program writes to `fd` until it closes it; only the tail is kept,
// since a failing program names the failure last.
std::string ReadTail(int fd) {
    std::string tail;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        tail.append(buffer, static_cast<size_t>(n));
        if (tail.size() > 2 * kKeptErrorBytes) tail.erase(0, tail.size() - kKeptErrorBytes);
    }
    return tail;
}

std::string LastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    const size_t lineStart = text.find_last_of("\r\n");
    return lineStart == std::string::npos ? text : text.substr(lineStart + 1);
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Spawn(const std::vector<std::string>& args, int errorPipe, pid_t* pid) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    SpawnStreams streams(errorPipe);
    // posix_spawnp reports a program that cannot be found or executed as an error.
    return posix_spawnp(pid, argv[0], &streams.actions, nullptr, argv.data(), environ) == 0;
}

ProgramRun RunDetached(const std::vector<std::string>& args) {
    ProgramRun run;
    pid_t pid = 0;
    if (!Spawn(args, -1, &pid)) return run;
    run.started = true;
    // Reap it whenever it ends, so no finished child lingers.
    try {
        std::thread([pid] { WaitForExit(pid); }).detach();
    } catch (...) {
    }
    return run;
}

ProgramRun RunAndWait(const std::vector<std::string>& args) {
    ProgramRun run;
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) return run;
    pid_t pid = 0;
    // The child's copy of the write end is made by dup2, which clears close-on-exec.
    const bool spawned = Spawn(args, errorPipe[1], &pid);
    ::close(errorPipe[1]);
    if (!spawned) {
        ::close(errorPipe[0]);
        return run;
    }
    run.started = true;
    const std::string tail = ReadTail(errorPipe[0]);
    ::close(errorPipe[0]);
    run.exitCode = WaitForExit(pid);
    run.lastErrorLine = LastLine(tail);
    return run;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& args, const RunOptions& options) {
    if (args.empty() || args[0].empty()) return {};
    return options.wait ? RunAndWait(args) : RunDetached(args);
}

}  // namespace morvane
