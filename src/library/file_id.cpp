#include "library/file_id.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <filesystem>

namespace morvane {

namespace {

constexpr uint64_t kHashPrime = 0x100000001b3ull;
constexpr uint64_t kHashWindow = 65536;

// Moves an identity to a new path, keeping the old one among its other paths so
// that relinking can look there.
void MovePath(FileIdentity& identity, const std::string& path) {
    if (identity.path == path) return;
    auto& others = identity.otherPaths;
    others.erase(std::remove(others.begin(), others.end(), path), others.end());
    if (!identity.path.empty() && std::find(others.begin(), others.end(), identity.path) == others.end())
        others.push_back(identity.path);
    identity.path = path;
    identity.checkGeneration = 0;  // the cached resolution described the old path
}

}  // namespace

uint64_t HashBytes(const void* data, size_t size, uint64_t hash) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= kHashPrime;
    }
    return hash;
}

bool contentHash(const std::string& path, uint64_t* hash, uint64_t* size) {
    std::error_code error;
    const uintmax_t fileSize = std::filesystem::file_size(path, error);
    if (error) return false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(fileSize, kHashWindow)));
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (static_cast<size_t>(file.gcount()) != buffer.size()) return false;
    uint64_t h = HashBytes(buffer.data(), buffer.size());
    if (fileSize > kHashWindow) {
        file.seekg(static_cast<std::streamoff>(fileSize - kHashWindow));
        buffer.resize(kHashWindow);
        file.read(buffer.data(), static_cast<std::streamsize>(kHashWindow));
        if (!file || static_cast<uint64_t>(file.gcount()) != kHashWindow) return false;
        h = HashBytes(buffer.data(), buffer.size(), h);
    }
    unsigned char sizeBytes[8];
    for (int i = 0; i < 8; ++i) sizeBytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(fileSize) >> (8 * i));
    h = HashBytes(sizeBytes, 8, h);
    *hash = h == 0 ? 1 : h;
    *size = fileSize;
    return true;
}

FileIdRegistry& TheFileIdRegistry() {
    static FileIdRegistry registry;
    return registry;
}

std::string NewFileId() {
    unsigned char bytes[8] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // Without the system generator an identity would not be unique; the
            // device file is the same generator on every Linux that lacks the call.
            std::ifstream device("/dev/urandom", std::ios::binary);
            device.read(reinterpret_cast<char*>(bytes), sizeof bytes);
            break;
        }
    }
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char byte : bytes) {
        id += kHex[byte >> 4];
        id += kHex[byte & 15];
    }
    return id;
}

std::string AssignFileId(const std::string& path, uint64_t hash, uint64_t size) {
    FileIdRegistry& registry = TheFileIdRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto known = registry.byContent.find({hash, size});
    if (known != registry.byContent.end() && !known->second->fileId.empty()) {
        MovePath(*known->second, path);
        return known->second->fileId;
    }
    std::string id;
    do id = NewFileId();
    while (registry.byId.count(id) != 0);
    FileIdentity& identity = registry.byId[id];
    identity.fileId = id;
    identity.path = path;
    identity.contentHash = hash;
    identity.fileSize = size;
    registry.byContent[{hash, size}] = &identity;
    return id;
}

void RegisterFileId(const std::string& fileId, const std::string& path, uint64_t hash, uint64_t size) {
    if (fileId.empty()) return;
    FileIdRegistry& registry = TheFileIdRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    FileIdentity& identity = registry.byId[fileId];
    if (identity.fileId.empty()) {
        identity.fileId = fileId;
        identity.path = path;
    } else {
        MovePath(identity, path);
    }
    if (hash != 0) {
        identity.contentHash = hash;
        identity.fileSize = size;
        registry.byContent.emplace(std::make_pair(hash, size), &identity);
    }
}

bool LookupFileId(const std::string& fileId, FileIdentity* out) {
    FileIdRegistry& registry = TheFileIdRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.byId.find(fileId);
    if (found == registry.byId.end()) return false;
    *out = found->second;
    return true;
}

}  // namespace morvane
