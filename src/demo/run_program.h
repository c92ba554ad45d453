#pragma once
// Runs an external program (ffmpeg) directly with fork/exec, never through a shell,
// so no argument is ever interpreted, and waits for it.
#include <string>
#include <vector>

namespace morvane::demo {

struct ProgramRun {
    bool started = false;  // the program could be found and started
    int exitCode = -1;     // its exit status; -1 when it did not exit normally
    std::string lastErrorLine;  // the last non-empty line it wrote to stderr
};

// argv[0] is looked up on PATH. Standard input is /dev/null; standard output is dropped.
ProgramRun RunProgram(const std::vector<std::string>& argv);

}  // namespace morvane::demo
