#include "platform/regular_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file";
    if (S_ISFIFO(mode)) return "is a named pipe, not a file";
    if (S_ISSOCK(mode)) return "is a socket, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
    return "is not a regular file";
}

void SetWhy(std::string* why, const std::string& text) {
    if (why) *why = text;
}

}  // namespace

int OpenRegularFileForReading(const std::string& path, std::string* why) {
    if (path.empty()) {
        SetWhy(why, "no file named");
        return -1;
    }
    // O_NOCTTY: a terminal device named by mistake must not become our controlling tty.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        SetWhy(why, std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        SetWhy(why, std::strerror(errno));
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        SetWhy(why, KindOf(st.st_mode));
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::string RegularFileProblem(const std::string& path) {
    std::string why;
    const int fd = OpenRegularFileForReading(path, &why);
    if (fd < 0) return why.empty() ? "cannot be opened" : why;
    ::close(fd);
    return {};
}

std::string ProblemWithPresentFile(const std::string& path) {
    std::string why;
    const int fd = OpenRegularFileForReading(path, &why);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    struct stat st {};
    const bool absent = !path.empty() && ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
    return absent ? std::string() : why;
}

bool ReadRegularFile(const std::string& path, std::string& bytes, std::string* why, size_t maxBytes) {
    bytes.clear();
    const int fd = OpenRegularFileForReading(path, why);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > maxBytes) {
        SetWhy(why, "is too large");
        ::close(fd);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetWhy(why, std::strerror(errno));
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<size_t>(n) > maxBytes) {
            SetWhy(why, "is too large");
            ::close(fd);
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace morvane
