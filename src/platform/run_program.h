#pragma once
// The one way the program starts another program (ffmpeg for the demo content,
// xdg-open for pages and folders): directly with posix_spawn, never through a shell,
// so no argument is ever interpreted. Standard input is /dev/null.
//
// Any thread may call it.
#include <string>
#include <vector>

namespace morvane {

struct RunOptions {
    // Wait for the program to end, dropping what it prints and keeping the last line
    // of its error output. Otherwise return once it has started; it keeps this
    // program's error output and is reaped in the background when it ends.
    bool wait = true;
};

struct ProgramRun {
    bool started = false;       // the program could be found and started
    int exitCode = -1;          // its exit status; -1 when it did not exit normally or was not waited for
    std::string lastErrorLine;  // the last non-empty line it wrote to stderr (waited runs)
};

// args[0] is looked up on PATH; an empty list starts nothing.
ProgramRun RunProgram(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace morvane
