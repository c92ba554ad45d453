#include "platform/folders.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace fs = std::filesystem;

bool WriteFully(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SyncFolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    const char* folder = parent.empty() ? "." : parent.c_str();
    int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

namespace {

// An environment folder counts only when it is set, not empty and absolute: a
// relative value would silently put the user's files below whatever the current
// folder happens to be.
std::string AbsoluteEnvFolder(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return {};
    std::string folder = value;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::mutex gDataFolderMutex;
std::string gDataFolderOverride;

std::string ExecutableFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path().string();
}

// Folders searched for shipped items, most specific first.
std::vector<std::string> ProgramDataCandidates() {
    {
        std::lock_guard<std::mutex> lock(gDataFolderMutex);
        if (!gDataFolderOverride.empty()) return {gDataFolderOverride};
    }
    std::string env = AbsoluteEnvFolder("MORVANE_DATA_DIR");
    if (!env.empty()) return {env};
    std::string exe = ExecutableFolder();
    if (exe.empty()) return {};
    return {exe, (fs::path(exe) / ".." / "share" / "morvane").lexically_normal().string()};
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The start of the unique temporaries of `path`; the writer's process id follows.
std::string TemporaryPrefix(const std::string& path) { return path + ".tmp-"; }

// A temporary file beside `path`, so the final rename stays on one file system. The
// writer's process id in the name tells an abandoned temporary from one being written.
int MakeTemporaryBeside(const std::string& path, std::string& temporaryPath) {
    temporaryPath = TemporaryPrefix(path) + std::to_string(::getpid()) + "-XXXXXX";
    return ::mkostemp(temporaryPath.data(), O_CLOEXEC);
}


// Moves the finished temporary file to `destination` unless something is already
// there. Returns 1 when moved, 0 when the destination existed, -1 on failure.
int MoveIntoPlaceWithoutReplacing(const std::string& temporary, const std::string& destination) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
        return 1;
    if (errno == EEXIST) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // File systems without the no-replace rename: a hard link fails when the
    // destination exists, which gives the same guarantee.
    if (::link(temporary.c_str(), destination.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return 1;
    }
    if (errno == EEXIST) return 0;
    if (Exists(destination)) return 0;
    return ::rename(temporary.c_str(), destination.c_str()) == 0 ? 1 : -1;
}

// Copies one regular file. Returns 1 copied, 0 kept (destination exists), -1 failed.
int CopyFileKeepingExisting(const std::string& from, const std::string& to) {
    if (Exists(to)) return 0;
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in < 0) return -1;
    std::string temporary;
    int out = MakeTemporaryBeside(to, temporary);
    if (out < 0) {
        ::close(in);
        return -1;
    }
    bool ok = true;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteFully(out, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    // mkstemp makes the file private; copied documents should look like any other.
    ::fchmod(out, 0644);
    if (::close(out) != 0) ok = false;
    int moved = ok ? MoveIntoPlaceWithoutReplacing(temporary, to) : -1;
    if (moved != 1) ::unlink(temporary.c_str());
    return moved;
}

std::string DocumentsSubfolder(const char* name) {
    std::string documents = DocumentsFolder();
    return documents.empty() ? std::string() : JoinPath(documents, name);
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string AppDataFolder() {
    std::string config = AbsoluteEnvFolder("XDG_CONFIG_HOME");
    if (!config.empty()) return JoinPath(config, "Morvane");
    std::string home = AbsoluteEnvFolder("HOME");
    if (!home.empty()) return JoinPath(home, ".config/Morvane");
    return {};
}

std::string DocumentsFolder() {
    std::string documents = AbsoluteEnvFolder("XDG_DOCUMENTS_DIR");
    if (!documents.empty()) return JoinPath(documents, "Morvane");
    std::string home = AbsoluteEnvFolder("HOME");
    if (!home.empty()) return JoinPath(home, "Documents/Morvane");
    return {};
}

std::string ProjectsFolder() { return DocumentsSubfolder("Projects"); }
std::string LibrariesFolder() { return DocumentsSubfolder("Libraries"); }
std::string VariationsFolder() { return DocumentsSubfolder("Variations/"); }
std::string RecipesFolder() { return DocumentsSubfolder("Recipes"); }
std::string ChainsFolder() { return DocumentsSubfolder("Chains"); }

std::string ResolveProgramDataFolder(const std::string& executableFolder) {
    if (executableFolder.empty()) return {};
    std::string installed =
        (fs::path(executableFolder) / ".." / "share" / "morvane").lexically_normal().string();
    for (const std::string& candidate : {executableFolder, installed}) {
        if (IsFolder(JoinPath(candidate, "DemoContent")) || IsFolder(JoinPath(candidate, "Fonts")))
            return candidate;
    }
    return executableFolder;
}

std::string ProgramDataFolder() {
    {
        std::lock_guard<std::mutex> lock(gDataFolderMutex);
        if (!gDataFolderOverride.empty()) return gDataFolderOverride;
    }
    std::string env = AbsoluteEnvFolder("MORVANE_DATA_DIR");
    if (!env.empty()) return env;
    return ResolveProgramDataFolder(ExecutableFolder());
}

std::string ProgramDataPath(const std::string& name) {
    for (const std::string& candidate : ProgramDataCandidates()) {
        std::string path = JoinPath(candidate, name);
        if (Exists(path)) return path;
    }
    std::string folder = ProgramDataFolder();
    return folder.empty() ? std::string() : JoinPath(folder, name);
}

void SetProgramDataFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gDataFolderMutex);
    gDataFolderOverride = folder;
    while (gDataFolderOverride.size() > 1 && gDataFolderOverride.back() == '/')
        gDataFolderOverride.pop_back();
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

bool EnsureUserFolders() {
    std::error_code ec;
    std::string appData = AppDataFolder();
    if (!appData.empty()) fs::create_directories(appData, ec);
    for (const std::string& folder :
         {ProjectsFolder(), LibrariesFolder(), VariationsFolder(), RecipesFolder(), ChainsFolder()}) {
        if (!folder.empty()) fs::create_directories(folder, ec);
    }
    return IsFolder(appData);
}

TreeCopyResult CopyTreeKeepingExisting(const std::string& from, const std::string& to) {
    TreeCopyResult result;
    if (!IsFolder(from)) return result;
    std::error_code ec;
    fs::create_directories(to, ec);
    if (!IsFolder(to)) {
        ++result.failures;
        return result;
    }
    const fs::path root(from);
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    if (ec) {
        ++result.failures;
        return result;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            ++result.failures;
            break;
        }
        const fs::directory_entry& entry = *it;
        const fs::path relative = entry.path().lexically_relative(root);
        const std::string destination = (fs::path(to) / relative).string();
        std::error_code statusError;
        const bool isLink = entry.is_symlink(statusError);
        if (entry.is_directory(statusError)) {
            if (isLink) continue;  // the iterator does not descend into it either
            fs::create_directories(destination, statusError);
            if (!IsFolder(destination)) {
                ++result.failures;
                it.disable_recursion_pending();
            }
            continue;
        }
        if (!entry.is_regular_file(statusError)) continue;
        switch (CopyFileKeepingExisting(entry.path().string(), destination)) {
            case 1: result.copiedFiles.push_back(destination); break;
            case 0: ++result.keptFiles; break;
            default: ++result.failures; break;
        }
    }
    return result;
}

AtomicWriteResult ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                                        const std::string& temporarySuffix, unsigned newFileMode,
                                        void (*afterOpen)()) {
    AtomicWriteResult result;
    if (path.empty()) {
        result.error = ENOENT;
        return result;
    }
    std::string target = path;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        fs::path resolved = fs::canonical(path, ec);
        if (!ec) target = resolved.string();
    }
    // Keep the permissions of the file being replaced; a new file gets newFileMode.
    mode_t mode = static_cast<mode_t>(newFileMode);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;
    int fd = -1;
    if (temporarySuffix.empty()) {
        fd = MakeTemporaryBeside(target, result.temporary);
        if (fd >= 0) ::fchmod(fd, mode);
    } else {
        result.temporary = target + temporarySuffix;
        fd = ::open(result.temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    }
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    if (afterOpen) afterOpen();
    bool ok = WriteFully(fd, bytes.data(), bytes.size());
    if (!ok) result.error = errno ? errno : EIO;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        result.error = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        result.error = errno;
    }
    if (ok && ::rename(result.temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        result.renameFailed = true;
        result.error = errno;
    }
    if (!ok) {
        ::unlink(result.temporary.c_str());
        return result;
    }
    SyncFolderOf(target);
    result.ok = true;
    return result;
}

bool ProcessIsRunning(long pid) {
    if (pid <= 0 || pid > INT_MAX) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void RemoveAbandonedTemporaries(const std::string& path) {
    const fs::path target(path);
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const std::string prefix = TemporaryPrefix(target.filename().string());
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        char* after = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &after, 10);
        if (after == name.c_str() + prefix.size() || *after != '-' || ProcessIsRunning(pid)) continue;
        std::error_code removeError;
        if (it->is_regular_file(removeError) && !it->is_symlink(removeError)) fs::remove(it->path(), removeError);
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    // A new file stays private to the user.
    return ReplaceFileAtomically(path, bytes, "", 0600).ok;
}

}  // namespace morvane
