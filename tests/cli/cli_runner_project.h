#pragma once
// Runs morvane-cli as a user would, for the whole-program tests: without a shell, with
// stdout and stderr kept in files (a large output cannot block the child), and with an
// alarm set before the program starts, so a run that hangs (a pipe it waits on for good)
// ends as a killed run and fails its test instead of blocking the test run.
//
// Called from the test's main thread.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace morvane::test {

struct CliRun {
    int code = -1;  // the exit status; -1 when the program was killed (a hang ended by the alarm)
    std::string out, err;
};

// Seconds a run may take before the alarm kills it; far above any real run.
inline constexpr unsigned kCliHangSeconds = 60;

using CliEnvironment = std::vector<std::pair<std::string, std::string>>;

struct CliChild {
    pid_t pid = -1;
    std::string outPath, errPath;
};

// Starts morvane-cli with the arguments (and extra environment variables) in the
// background; its output goes to logFolder/<tag>.out and .err.
inline CliChild StartCli(const std::vector<std::string>& args, const std::string& logFolder, const std::string& tag,
                         const CliEnvironment& environment = {}) {
    CliChild child;
    child.outPath = logFolder + "/" + tag + ".out";
    child.errPath = logFolder + "/" + tag + ".err";
    child.pid = ::fork();
    if (child.pid == 0) {
        FILE* out = std::fopen(child.outPath.c_str(), "wb");
        FILE* err = std::fopen(child.errPath.c_str(), "wb");
        if (out) ::dup2(fileno(out), 1);
        if (err) ::dup2(fileno(err), 2);
        for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
        ::alarm(kCliHangSeconds);  // kept across exec: a hang kills the program
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(MORVANE_CLI));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
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
    run.out = ReadFile(child.outPath);
    run.err = ReadFile(child.errPath);
    return run;
}

inline CliRun RunCli(const std::vector<std::string>& args, const std::string& logFolder,
                     const CliEnvironment& environment = {}) {
    return FinishCli(StartCli(args, logFolder, "run", environment));
}

}  // namespace morvane::test
