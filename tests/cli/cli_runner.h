#pragma once
// Runs morvane-cli as a user would, without a shell, for the whole-program tests.
// stdout and stderr go to files in a folder the test owns (a large output can never
// block the child), and the child is given an alarm: a command that hangs is killed
// and its test fails instead of stalling the test run.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane::test {

// Far beyond what any command of a test takes, even under a sanitizer.
inline constexpr unsigned kCliTimeoutSeconds = 300;

struct CliRun {
    int code = -1;   // the exit code, -1 when the process did not exit by itself
    int signal = 0;  // the signal that ended it (SIGALRM: it hung)
    std::string out, err;
};

// A run started in the background (two runs at once, a run held at a test gate).
struct CliChild {
    pid_t pid = -1;
    std::string outPath, errPath;
};

// Starts morvane-cli; its output goes to dir/<tag>-stdout.txt and -stderr.txt.
// `environment` holds "NAME=value" settings added to the test's own environment.
inline CliChild StartCli(const std::vector<std::string>& args, const std::string& dir, const std::string& tag = "cli",
                         const std::vector<std::string>& environment = {}) {
    CliChild child;
    child.outPath = dir + "/" + tag + "-stdout.txt";
    child.errPath = dir + "/" + tag + "-stderr.txt";
    child.pid = ::fork();
    if (child.pid == 0) {
        FILE* out = std::fopen(child.outPath.c_str(), "wb");
        FILE* err = std::fopen(child.errPath.c_str(), "wb");
        if (out) ::dup2(fileno(out), 1);
        if (err) ::dup2(fileno(err), 2);
        for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> argv{const_cast<char*>(MORVANE_CLI)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::alarm(kCliTimeoutSeconds);  // survives the exec; its default action ends the process
        ::execv(MORVANE_CLI, argv.data());
        ::_exit(127);
    }
    return child;
}

inline CliRun FinishCli(const CliChild& child) {
    CliRun run;
    if (child.pid < 0) return run;
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0)
        if (errno != EINTR) return run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.out = ReadFile(child.outPath);
    run.err = ReadFile(child.errPath);
    if (run.signal == SIGALRM) run.err += "[test] morvane-cli did not finish and was stopped\n";
    return run;
}

inline CliRun RunCli(const std::vector<std::string>& args, const std::string& dir,
                     const std::vector<std::string>& environment = {}) {
    return FinishCli(StartCli(args, dir, "cli", environment));
}

inline CliRun RunCli(const std::vector<std::string>& args, const TempDir& dir,
                     const std::vector<std::string>& environment = {}) {
    return RunCli(args, dir.path.string(), environment);
}

}  // namespace morvane::test
