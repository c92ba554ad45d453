#include "support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace morvane::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

static void Save(const char* name, std::string& value, bool& had) {
    const char* v = std::getenv(name);
    had = v != nullptr;
    if (v) value = v;
}

static void Restore(const char* name, const std::string& value, bool had) {
    if (had) setenv(name, value.c_str(), 1);
    else unsetenv(name);
}

ScopedHome::ScopedHome() {
    Save("HOME", previousHome, hadHome);
    Save("XDG_CONFIG_HOME", previousConfig, hadConfig);
    Save("XDG_DOCUMENTS_DIR", previousDocuments, hadDocuments);
    Save("XDG_RUNTIME_DIR", previousRuntime, hadRuntime);
    setenv("HOME", dir.path.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DOCUMENTS_DIR");
    setenv("XDG_RUNTIME_DIR", dir.path.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    Restore("HOME", previousHome, hadHome);
    Restore("XDG_CONFIG_HOME", previousConfig, hadConfig);
    Restore("XDG_DOCUMENTS_DIR", previousDocuments, hadDocuments);
    Restore("XDG_RUNTIME_DIR", previousRuntime, hadRuntime);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace morvane::test
