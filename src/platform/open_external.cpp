#include "platform/open_external.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace morvane {

bool OpenWithDesktop(const std::string& target) {
    if (target.empty() || target[0] == '-') return false;
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
    // Reap it whenever it ends, so no finished child lingers.
    try {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    } catch (...) {
    }
    return true;
}

}  // namespace morvane
