#include "export/export_rollback.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace morvane {

ExportRollbackGuard::~ExportRollbackGuard() { Rollback(); }

int ExportRollbackGuard::Rollback() {
    if (committed || rolledBack) return 0;
    rolledBack = true;
    int removed = 0;
    for (const std::string& file : files)
        if (::unlink(file.c_str()) == 0) ++removed;
    for (auto it = directories.rbegin(); it != directories.rend(); ++it) ::rmdir(it->c_str());  // stays when not empty
    std::printf("[Export] Rollback: removed %d files\n", removed);
    std::fflush(stdout);
    files.clear();
    directories.clear();
    return removed;
}

bool CreateExportFolder(const std::string& path, ExportRollbackGuard& guard) {
    if (path.empty()) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !CreateExportFolder(path.substr(0, slash), guard)) return false;
    if (::mkdir(path.c_str(), 0755) == 0) {
        guard.AddDirectory(path);
        return true;
    }
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace morvane
