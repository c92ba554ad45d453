#pragma once
// Runs morvane-cli as a user would, without a shell, and keeps what it printed. A run
// that hangs is ended by an alarm set in the child, so a reader that blocks fails the
// test (the run reports no exit code) instead of stalling the whole test run.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane::test {

struct CliRun {
    int code = -1;  // the exit code; -1 when the program was killed (the alarm, a crash)
    std::string out, err;
};

inline CliRun RunCli(const std::vector<std::string>& args, const TempDir& dir, unsigned alarmSeconds = 120) {
    CliRun run;
    const std::string outPath = dir / "cli_stdout.txt", errPath = dir / "cli_stderr.txt";
    const pid_t child = ::fork();
    if (child == 0) {
        FILE* out = std::fopen(outPath.c_str(), "wb");
        FILE* err = std::fopen(errPath.c_str(), "wb");
        if (out) ::dup2(fileno(out), 1);
        if (err) ::dup2(fileno(err), 2);
        ::alarm(alarmSeconds);  // survives exec; its signal ends the program
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(MORVANE_CLI));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(MORVANE_CLI, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

}  // namespace morvane::test
