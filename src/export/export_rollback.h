#pragma once
// The export rollback guard: an export registers every file it writes and every
// folder it creates; unless it commits, the guard removes them again when it goes
// away, so a failed or cancelled export leaves nothing of itself behind.
#include <string>
#include <vector>

namespace morvane {

struct ExportRollbackGuard {
    std::vector<std::string> files;
    std::vector<std::string> directories;  // in order of creation
    bool committed = false;
    bool rolledBack = false;

    ExportRollbackGuard() = default;
    ExportRollbackGuard(const ExportRollbackGuard&) = delete;
    ExportRollbackGuard& operator=(const ExportRollbackGuard&) = delete;
    ~ExportRollbackGuard();

    void AddFile(const std::string& path) { files.push_back(path); }
    void AddDirectory(const std::string& path) { directories.push_back(path); }
    void Commit() { committed = true; }

    // Deletes every registered file, then removes the registered folders newest
    // first (a folder that is not empty stays), and logs "[Export] Rollback: ...".
    // Returns the number of files removed. Does nothing once committed or rolled back.
    int Rollback();
};

// Creates `path` and any missing parents, registering with `guard` each folder this
// call created. True when the folder exists afterwards.
bool CreateExportFolder(const std::string& path, ExportRollbackGuard& guard);

}  // namespace morvane
