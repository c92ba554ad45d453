#include "demo/run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace morvane::demo {

ProgramRun RunProgram(const std::vector<std::string>& argv) {
    ProgramRun run;
    if (argv.empty()) return run;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return run;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        return run;
    }
    if (pid == 0) {
        // The child: only async-signal-safe calls until exec.
        const int devNull = ::open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
        }
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    ::close(errPipe[1]);
    // Keep only the tail of what it says: ffmpeg's last line names the failure.
    std::string tail;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        tail.append(buffer, static_cast<size_t>(n));
        if (tail.size() > 16384) tail.erase(0, tail.size() - 8192);
    }
    ::close(errPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.started = run.exitCode != 127;
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' ')) tail.pop_back();
    const size_t lineStart = tail.find_last_of("\r\n");
    run.lastErrorLine = lineStart == std::string::npos ? tail : tail.substr(lineStart + 1);
    return run;
}

}  // namespace morvane::demo
