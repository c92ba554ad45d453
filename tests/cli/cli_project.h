#pragma once
// A folder of tones and a project whose events ask for them, in a temporary home:
// what the whole-program tests scan, build and export.
#include <filesystem>
#include <string>
#include <vector>

#include "library/sound_fixtures.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {

struct CliProject {
    test::ScopedHome home;
    std::string dir = home.dir / "work";
    std::string project = dir + "/Reel 2.mvproj";

    // One event of "metal hit" at each of `times` (seconds) on an 8 s timeline that
    // starts at timecode 01:00:00:00. Not scanned and not built yet.
    explicit CliProject(const std::vector<float>& times = {1.5f, 3.0f, 5.0f}) {
        std::filesystem::create_directories(dir + "/sounds");
        for (int i = 0; i < 12; ++i) {
            test::SoundParams p;
            p.frames = 24000 + 6000 * i;
            p.frequency = 300.0 + 50.0 * i;
            test::WriteSound(dir + "/sounds/IMPTMetl_Hit " + std::to_string(i) + ".wav", p);
        }
        Project pr;
        pr.timeline.settings.totalDuration = 8.0f;
        pr.timeline.settings.startTC = 3600.0f;
        for (float t : times) {
            Event ev;
            ev.time = t;
            ev.duration = 1.0f;
            ev.keywords = "metal hit";
            pr.timeline.events.push_back(ev);
        }
        SaveProject(project, pr);
    }
};

}  // namespace morvane
