#include "export/partial_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "model/timeline.h"
#include "platform/folders.h"

namespace morvane {

namespace {

void SetWhy(std::string* why, const std::string& text) {
    if (why != nullptr) *why = text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool CloseSoundFile(PartialSoundFile& partial, std::string* why) {
    std::string problem;
    if (partial.file != nullptr && sf_close(partial.file) != 0) problem = "the sound library could not finish it";
    partial.file = nullptr;
    if (partial.fd >= 0) {
        if (::fsync(partial.fd) != 0 && problem.empty()) problem = std::strerror(errno);
        if (::close(partial.fd) != 0 && problem.empty()) problem = std::strerror(errno);
        partial.fd = -1;
    }
    if (problem.empty()) return true;
    SetWhy(why, "cannot write " + partial.path + ": " + problem);
    return false;
}

thread_local FolderSyncBatch* tBatch = nullptr;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool RenameIntoPlace(PartialSoundFile& partial, std::string* why) {
    if (::rename(partial.temporary.c_str(), partial.path.c_str()) != 0) {
        SetWhy(why, "cannot create " + partial.path + ": " + std::strerror(errno));
        ::unlink(partial.temporary.c_str());
        return false;
    }
    if (tBatch != nullptr) tBatch->folders.insert(FolderOf(partial.path));
    else SyncFolderOf(partial.path);
    return true;
}

// MORVANE_TEST_KILL_AT_FILE=N kills the process with SIGKILL as the N-th file of this
// process is about to be finished: its samples are in the temporary, the files before
// it are in place. Tests use it to stop an export at a known point, as a crash would.
void StopHereWhenTesting() {
    static const long killAt = [] {
        const char* text = std::getenv("MORVANE_TEST_KILL_AT_FILE");
        return text != nullptr ? std::strtol(text, nullptr, 10) : 0L;
    }();
    static std::atomic<long> finished{0};
    if (killAt > 0 && finished.fetch_add(1) + 1 == killAt) ::kill(::getpid(), SIGKILL);
}

}  // namespace

FolderSyncBatch::FolderSyncBatch() : outer(tBatch) { tBatch = this; }

FolderSyncBatch::~FolderSyncBatch() {
    tBatch = outer;
    // "dir/" names the folder itself as the parent of an empty name; "." the working folder.
    for (const std::string& folder : folders) SyncFolderOf(folder == "." ? std::string("./") : folder);
}

std::string PartialPathOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t suffixLength = std::strlen(kPartialFileSuffix);
    return path.substr(0, nameStart) + CutText(path.substr(nameStart), kMaxPartialNameBytes - suffixLength) +
           kPartialFileSuffix;
}

bool OpenPartialSoundFile(const std::string& path, int format, int channels, int sampleRate, PartialSoundFile* out,
                          std::string* why) {
    *out = PartialSoundFile{};
    out->path = path;
    out->temporary = PartialPathOf(path);
    // A leftover is removed rather than opened: whatever it is (a link, a pipe), the
    // new temporary is a fresh regular file of ours.
    ::unlink(out->temporary.c_str());
    out->fd = ::open(out->temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out->fd < 0) {
        SetWhy(why, "cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    out->file = sf_open_fd(out->fd, SFM_WRITE, &info, SF_FALSE);
    if (out->file == nullptr) {
        SetWhy(why, "cannot write " + path + ": " + sf_strerror(nullptr));
        AbandonPartialSoundFile(*out);
        return false;
    }
    return true;
}

void AbandonPartialSoundFile(PartialSoundFile& partial) {
    if (partial.file != nullptr) sf_close(partial.file);
    partial.file = nullptr;
    if (partial.fd >= 0) ::close(partial.fd);
    partial.fd = -1;
    ::unlink(partial.temporary.c_str());
}

bool FinishPartialSoundFile(PartialSoundFile& partial, std::string* why,
                            const std::function<void(const std::string& temporary)>& fixUp) {
    StopHereWhenTesting();
    if (!CloseSoundFile(partial, why)) {
        AbandonPartialSoundFile(partial);
        return false;
    }
    if (fixUp) fixUp(partial.temporary);
    return RenameIntoPlace(partial, why);
}

int RemoveLeftoverPartialFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // The extensible fix-up writes "<temporary>.tmp" beside the temporary.
        if (!EndsWith(name, kPartialFileSuffix) && !EndsWith(name, std::string(kPartialFileSuffix) + ".tmp")) continue;
        const std::string path = folder + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace morvane
