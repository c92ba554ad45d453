#pragma once
// Compound files (structured storage) as a tree in memory: storages with their class
// identifiers and streams with their bytes. An AAF file is one such tree; it is built
// whole in memory and written in one go over libgsf's MSOLE writer (512-byte sectors),
// and read back whole the same way (the session's own checks and the tests).
//
// Any thread may call these; each call works on its own tree and file.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane {

using ClassId = std::array<uint8_t, 16>;  // as stored: the first three fields little-endian

struct CompoundNode {
    std::string name;
    bool storage = true;  // false: a stream
    ClassId classId{};
    std::vector<uint8_t> bytes;  // a stream's contents
    std::vector<std::unique_ptr<CompoundNode>> children;

    CompoundNode* AddStorage(const std::string& childName, const ClassId& id);
    CompoundNode* AddStream(const std::string& childName, std::vector<uint8_t> data);
    const CompoundNode* Child(const std::string& childName) const;
};

// What went wrong while writing: the step that failed and why, in one line.
struct CompoundWriteError {
    bool openFailed = false;  // the file could not be created at all
    std::string why;
};

// Writes `root` (its class id becomes the file's root class id) to `path`.
bool WriteCompoundFile(const std::string& path, const CompoundNode& root, CompoundWriteError* error);

// Reads the whole file; null (with `why`) when it is not a compound file.
std::unique_ptr<CompoundNode> ReadCompoundFile(const std::string& path, std::string* why);

}  // namespace morvane
