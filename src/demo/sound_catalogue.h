#pragma once
// The demo sound library: every sound's UCS name, descriptions, keywords, format and
// synthesis parameters. File names follow the UCS convention
// "CatID_FXName_CreatorID_SourceID.wav"; the members of the multi-mono set add a
// speaker suffix ("_L", "_R", ...) so the scan groups them.
#include <cstdint>
#include <string>
#include <vector>

#include "demo/sound_families.h"

namespace morvane::demo {

inline constexpr const char* kDemoCreatorId = "MV";
inline constexpr const char* kDemoSourceId = "Demo";
inline constexpr const char* kDemoLibraryFolderName = "Morvane Demo Sounds";

struct DemoSound {
    std::string catId;        // a UCS CatID, e.g. "WOODImpt"
    std::string category;     // its UCS category and subcategory, for iXML
    std::string subCategory;
    std::string fxName;       // "Door Slam"
    std::string description;  // the bext description: what a designer would search for
    std::string keywords;     // extra words, space separated
    int sampleRate = 48000;
    SoundParams params;
    uint32_t seed = 1;
    // Empty for an ordinary file; otherwise one mono file per speaker suffix, all made
    // from the same synthesis with slightly different seeds (a decorrelated bed).
    std::vector<std::string> speakerSuffixes;
};

std::vector<DemoSound> DemoSoundCatalogue();

// The file name of a sound (suffix empty for ordinary files).
std::string DemoSoundFileName(const DemoSound& sound, const std::string& speakerSuffix = {});

// Every file name the catalogue produces, in catalogue order.
std::vector<std::string> DemoSoundFileNames();

}  // namespace morvane::demo
