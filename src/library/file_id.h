#pragma once
// Content identities of sound files: every file gets a `fileId` that follows its
// bytes, not its path, so moved and renamed files are found again.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvane {

// The 64-bit FNV-1a variant used for content hashes and multi-mono group ids
// (prime 0x100000001b3, start 0x14650fb0739d0383).
constexpr uint64_t kHashStart = 0x14650fb0739d0383ull;
uint64_t HashBytes(const void* data, size_t size, uint64_t hash = kHashStart);

// Hash of the first and last 64 KiB of the file and of its size; 0 is never
// returned. False when the file cannot be opened or read.
bool contentHash(const std::string& path, uint64_t* hash, uint64_t* size);

struct FileIdentity {
    std::string fileId;
    std::string path;                     // current path
    uint64_t contentHash = 0;
    uint64_t fileSize = 0;
    std::vector<std::string> otherPaths;  // earlier paths of the same content
    uint64_t checkGeneration = 0;         // generation of the last resolution
    bool found = false;                   // result of that resolution
};

struct ContentKeyHash {
    size_t operator()(const std::pair<uint64_t, uint64_t>& key) const {
        return static_cast<size_t>(key.first ^ (key.second * 0x9e3779b97f4a7c15ull));
    }
};

// The process-wide identity table. Every operation holds `mutex` throughout. Both
// tables are hashed, so every look-up costs the same in a library of any size.
struct FileIdRegistry {
    std::mutex mutex;
    std::unordered_map<std::string, FileIdentity> byId;
    // (hash, size) -> its identity in byId (whose entries are never removed, so the
    // pointers stay valid).
    std::unordered_map<std::pair<uint64_t, uint64_t>, FileIdentity*, ContentKeyHash> byContent;
    uint64_t generation = 1;  // raised by every "Relink all"
};

FileIdRegistry& TheFileIdRegistry();

// The identity of the content (hash, size): a known one (whose path becomes `path`)
// or a new random one.
std::string AssignFileId(const std::string& path, uint64_t hash, uint64_t size);

// Enters a known identity; an empty fileId is ignored.
void RegisterFileId(const std::string& fileId, const std::string& path, uint64_t hash, uint64_t size);

// A copy of the identity; false when unknown.
bool LookupFileId(const std::string& fileId, FileIdentity* out);

// 16 lower-case hex digits from 8 bytes of the system's cryptographic generator.
std::string NewFileId();

}  // namespace morvane
