#pragma once
// Reads an AAF session back the way a workstation does: from the root storage to the
// header, the top-level composition and its slots, each clip through its master mob
// to the file source mob, its descriptor and its locator; weak references resolved
// against the dictionary (a dangling one is an error). Positions are worked out from
// the sequence the way readers do: transitions overlap their neighbours.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aaf/aaf_session.h"
#include "aaf/compound_file.h"

namespace morvane::test {

struct WalkedClip {
    int64_t position = 0, length = 0, sourceOffset = 0;
    std::string masterName, url, path;  // path: the URL decoded
    int32_t rate = 0;
    uint32_t channels = 0;
    int64_t mediaLength = 0;
    std::string operation;  // of a wrapping operation group, else empty
    std::string interpolation;
    std::vector<std::pair<double, double>> points;  // (time, value) of its varying parameter
};

struct WalkedTransition {
    int64_t position = 0, length = 0;
    std::string operation;
    std::vector<double> levels;
};

struct WalkedTrack {
    std::string name;
    int64_t length = 0;
    int components = 0;
    std::vector<WalkedClip> clips;
    std::vector<WalkedTransition> transitions;
};

struct WalkedSession {
    bool ok = false;
    std::string error;
    ClassId rootClass{};
    std::string company, product, versionString, platform;
    std::vector<uint8_t> productVersion, toolkitVersion;
    std::map<std::string, std::string> definitions;  // identifier -> name, every dictionary set
    int compositions = 0, topLevel = 0;
    std::string compositionName;
    int32_t tcRate = 0;
    int64_t tcStart = 0;
    uint16_t tcFps = 0;
    std::vector<WalkedTrack> tracks;
    std::vector<std::pair<int64_t, std::string>> markers;
};

WalkedSession WalkAafSession(const std::string& path);

}  // namespace morvane::test
