#pragma once
// One running copy of the program per user. A second start that names a project hands
// the path to the running copy over a UNIX socket and ends; the running copy opens it.
#include <string>
#include <vector>

namespace morvane {

// The project named on the command line, or empty. Only arguments beginning with "-"
// are options; the first other argument ending in ".mvproj" (any case) is the project.
// optionsWithValue lists the options whose following argument is their value, so that
// a value is never mistaken for the project.
std::string FindProjectArgument(int argc, const char* const* argv,
                                const std::vector<std::string>& optionsWithValue = {});

// $XDG_RUNTIME_DIR/morvane.sock, or /tmp/morvane-<uid>.sock when that variable is unset
// or empty.
std::string InstanceSocketPath();

// Sends "MVFL" + path + NUL to the running copy. True when a running copy took the
// message; false when none is listening (the caller then starts normally).
bool HandOverToRunningInstance(const std::string& projectPath);

// The running copy's end of the socket.
struct InstanceListener {
    int fd = -1;
    std::string path;   // the socket file this listener created, removed by Stop
    unsigned long inode = 0;  // of that file, to tell it from a later copy's socket
};

// Listens at InstanceSocketPath(). A socket file left behind by a copy that died is
// removed first. False when another copy is alive and listening (this copy then runs
// without receiving hand-overs) or the socket cannot be made.
bool StartInstanceListener(InstanceListener& listener);

// Project paths handed over since the last call, in arrival order. Never blocks for
// long: a client that connects and sends nothing is dropped after a short wait.
std::vector<std::string> PollInstanceListener(InstanceListener& listener);

void StopInstanceListener(InstanceListener& listener);

}  // namespace morvane
