#pragma once
// Paths that name something other than a regular file, for the tests that check every
// reader refuses them at once: a named pipe (whose open waits for a writer for ever), a
// device that never ends, a folder and a symbolic link that points at itself.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane::test {

struct HostilePath {
    std::string kind;  // what the reader should say it is, in its own words
    std::string path;
};

// Makes the four in `dir`, each named with `extension` (".wav", ".mp4", ...) so that no
// reader can tell them from real documents by name.
inline std::vector<HostilePath> MakeHostilePaths(const TempDir& dir, const std::string& extension) {
    const std::string pipe = dir / ("pipe" + extension), folder = dir / ("folder" + extension),
                      loop = dir / ("loop" + extension);
    ::mkfifo(pipe.c_str(), 0600);
    std::filesystem::create_directory(folder);
    ::symlink(loop.c_str(), loop.c_str());
    return {{"is a named pipe, not a file", pipe},
            {"is a device, not a file", "/dev/zero"},
            {"is a folder, not a file", folder},
            {"Too many levels of symbolic links", loop}};
}

// A reader that blocks ends the test program (SIGALRM) instead of stalling the run.
struct HangGuard {
    explicit HangGuard(unsigned seconds = 120) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;
};

}  // namespace morvane::test
