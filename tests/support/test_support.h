#pragma once
// Shared test fixtures: every test works in its own temporary home, never the user's.
#include <filesystem>
#include <string>

namespace morvane::test {

// A fresh temporary folder, removed when the object goes away.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path path;
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Points HOME and the XDG folders at a temporary home for the lifetime of the object,
// and restores the previous values afterwards.
struct ScopedHome {
    ScopedHome();
    ~ScopedHome();
    TempDir dir;
    std::string previousHome, previousConfig, previousDocuments, previousRuntime;
    bool hadHome = false, hadConfig = false, hadDocuments = false, hadRuntime = false;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace morvane::test
