#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace morvane {

namespace {

constexpr char kTag[4] = {'M', 'V', 'F', 'L'};
// A path longer than this is not a path the file system would accept.
constexpr size_t kMaxPathBytes = 4096;

bool EndsWithProjectExtension(const std::string& arg) {
    static const char ext[] = ".mvproj";
    const size_t n = sizeof ext - 1;
    if (arg.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = arg[arg.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ext[i]) return false;
    }
    return true;
}

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Connected socket to the listener at path, or -1.
int ConnectTo(const std::string& path) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One message from an accepted client: the tag, then the path up to its NUL.
// Returns false for anything else.
bool ReadMessage(int fd, std::string& path) {
    std::string bytes;
    char buf[1024];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) break;  // a silent client must not stall the frame
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
        if (bytes.size() > 4 && bytes.find('\0', 4) != std::string::npos) break;
        if (bytes.size() > 4 + kMaxPathBytes + 1) return false;
    }
    if (bytes.size() < 4 || std::memcmp(bytes.data(), kTag, 4) != 0) return false;
    size_t end = bytes.find('\0', 4);
    path = bytes.substr(4, end == std::string::npos ? std::string::npos : end - 4);
    return !path.empty() && path.size() <= kMaxPathBytes;
}

}  // namespace

std::string FindProjectArgument(int argc, const char* const* argv,
                                const std::vector<std::string>& optionsWithValue) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg.empty()) continue;
        if (arg[0] == '-') {
            for (const auto& option : optionsWithValue)
                if (arg == option) ++i;  // its value follows and is not the project
            continue;
        }
        if (EndsWithProjectExtension(arg)) return arg;
    }
    return {};
}

std::string InstanceSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/morvane.sock";
    return "/tmp/morvane-" + std::to_string(getuid()) + ".sock";
}

bool HandOverToRunningInstance(const std::string& projectPath) {
    if (projectPath.empty() || projectPath.size() > kMaxPathBytes) return false;
    int fd = ConnectTo(InstanceSocketPath());
    if (fd < 0) return false;
    std::string message(kTag, 4);
    message += projectPath;
    message.push_back('\0');
    // The message waits in the socket until the running copy's frame loop reads it, even
    // after this process has ended; a copy still starting up takes it on its first frame.
    const bool sent = SendAll(fd, message.data(), message.size());
    close(fd);
    return sent;
}

bool StartInstanceListener(InstanceListener& listener) {
    const std::string path = InstanceSocketPath();
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EADDRINUSE) {
            close(fd);
            return false;
        }
        // Something is there. A copy that answers is alive and keeps its socket. A file
        // that nobody answers on was left by a copy that died; it is removed, but only
        // when it is our own socket (in /tmp another user could have put anything there).
        int alive = ConnectTo(path);
        struct stat st;
        if (alive >= 0 || lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
            st.st_uid != getuid()) {
            if (alive >= 0) close(alive);
            close(fd);
            return false;
        }
        unlink(path.c_str());
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            return false;
        }
    }
    chmod(path.c_str(), 0600);
    if (listen(fd, 8) != 0) {
        close(fd);
        unlink(path.c_str());
        return false;
    }
    struct stat st;
    listener.inode = lstat(path.c_str(), &st) == 0 ? static_cast<unsigned long>(st.st_ino) : 0;
    listener.fd = fd;
    listener.path = path;
    return true;
}

std::vector<std::string> PollInstanceListener(InstanceListener& listener) {
    std::vector<std::string> paths;
    if (listener.fd < 0) return paths;
    for (;;) {
        int client = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) break;  // EAGAIN: nobody else waiting
        std::string path;
        if (ReadMessage(client, path)) paths.push_back(path);
        close(client);
    }
    return paths;
}

void StopInstanceListener(InstanceListener& listener) {
    if (listener.fd < 0) return;
    close(listener.fd);
    listener.fd = -1;
    // Remove the file only while it is still the one this copy made; a copy started
    // after a stale-socket clean-up may own the name now.
    struct stat st;
    if (!listener.path.empty() && lstat(listener.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        static_cast<unsigned long>(st.st_ino) == listener.inode)
        unlink(listener.path.c_str());
    listener.path.clear();
}

}  // namespace morvane
