#include "demo/demo_project.h"

#include <cmath>

#include "demo/sound_catalogue.h"

namespace morvane::demo {

namespace {

// A file of the demo library by its UCS CatID and FX name.
std::string LibraryFile(const std::string& folder, const std::string& catId, const std::string& fxName) {
    for (const DemoSound& sound : DemoSoundCatalogue())
        if (sound.catId == catId && sound.fxName == fxName) return folder + "/" + DemoSoundFileName(sound);
    return {};
}

Event MakeEvent(EventShape shape, float time, float duration, const char* keywords) {
    Event e;
    e.shape = shape;
    e.time = time;
    e.duration = duration;
    e.keywords = keywords;
    return e;
}

// A curve rising to its top at `peak` (0..1 of the event) and falling back.
Curve BellCurve(float peak, float width) {
    Curve c{};
    for (int i = 0; i < kCurvePoints; ++i) {
        const float x = static_cast<float>(i) / (kCurvePoints - 1);
        c[static_cast<size_t>(i)] = 0.15f + 0.85f * std::exp(-(x - peak) * (x - peak) / (2.0f * width * width));
    }
    return c;
}

EventPreset Preset(const char* name, EventShape shape, float duration, const char* keywords) {
    EventPreset p;
    p.name = name;
    p.shape = shape;
    p.duration = duration;
    p.keywords = keywords;
    return p;
}

}  // namespace

Project MakeDemoProject(const DemoVideoPlan& plan, const std::string& videoPath, const std::string& libraryFolder) {
    Project p;
    p.videoPath = videoPath;
    p.projectSampleRate = 48000;
    p.projectDescription = "Morvane demo: a reel with cuts, flashes and moving objects, built from the demo library";
    TimelineState& t = p.timeline;
    t.settings.totalDuration = plan.duration;
    t.settings.fps = static_cast<float>(plan.fps);

    // Bed: the room tone under the first shot, looped.
    Event bed = MakeEvent(EventShape::Bed, 0.0f, plan.cuts[0], "room tone");
    bed.pinnedFiles = {LibraryFile(libraryFolder, "AMBRoom", "Office Room Tone")};
    bed.pinnedFileIds = {""};
    bed.bedLayerLoop = {1};
    bed.bedLayerWeight = {0.35f};
    t.events.push_back(bed);

    // Contour: the box crossing the frame, loudest as it passes the middle.
    Event pass = MakeEvent(EventShape::Contour, plan.passStart, plan.passEnd - plan.passStart, "whoosh passby");
    pass.intensity = BellCurve(0.5f, 0.18f);
    pass.stereo = true;
    t.events.push_back(pass);

    // Spot: a door slam on the cut into the grey room.
    Event slam = MakeEvent(EventShape::Spot, plan.cuts[0], 1.0f, "door slam wood");
    slam.hero = true;
    t.events.push_back(slam);

    // Bloom: tension rising into the fire-lit room.
    Event rise = MakeEvent(EventShape::Bloom, plan.cuts[1] - 3.0f, 3.0f, "riser drone");
    t.events.push_back(rise);

    // Fill: the fire room itself, the scene's background.
    Event fire = MakeEvent(EventShape::Fill, plan.cuts[1], plan.cuts[2] - plan.cuts[1], "fire crackle burning");
    fire.sceneLink = 0;
    fire.sceneFill = true;
    t.events.push_back(fire);

    // Scatter: footsteps across the last shot before the drop.
    Event steps = MakeEvent(EventShape::Scatter, plan.cuts[2] + 0.3f, plan.dropStart - plan.cuts[2] + 0.4f, "footsteps");
    t.events.push_back(steps);

    // Clip: a tuned hit exactly where the box lands.
    Event hit = MakeEvent(EventShape::Clip, plan.dropLand, 3.0f, "tonal hit");
    hit.pinnedFile = LibraryFile(libraryFolder, "DSGNTonl", "Tonal Hit C3");
    hit.hasPinnedFile = true;
    hit.clipSourceDuration = 3.0f;
    hit.clipFadeOut = 0.5f;
    t.events.push_back(hit);

    // Backgrounds under the grey room and the last shot, so the mix never drops to
    // digital silence between hits; the last one runs into the fade to black.
    Event hum = MakeEvent(EventShape::Bed, plan.cuts[0], plan.cuts[1] - plan.cuts[0], "room tone");
    hum.pinnedFiles = {LibraryFile(libraryFolder, "AMBRoom", "Basement Hum")};
    hum.pinnedFileIds = {""};
    hum.bedLayerLoop = {1};
    hum.bedLayerWeight = {0.3f};
    t.events.push_back(hum);
    Event outside = MakeEvent(EventShape::Fill, plan.cuts[2], plan.duration - plan.cuts[2], "ambience wind forest stream rain");
    outside.gain = 0.7f;
    t.events.push_back(outside);

    t.scenes.push_back(Scene{"Fire room", plan.cuts[1], plan.cuts[2], "fire crackle"});

    t.trackLayout.groups[0].name = "Backgrounds";
    t.trackLayout.groups[1].name = "Hits";
    t.trackLayout.groups[2].name = "Movement";
    return p;
}

std::vector<EventPreset> DemoRecipes() {
    std::vector<EventPreset> recipes = {
        Preset("Door Slam", EventShape::Spot, 1.0f, "door slam"),
        Preset("Metal Hit", EventShape::Spot, 1.5f, "metal impact"),
        Preset("Glass Smash", EventShape::Spot, 2.0f, "glass break smash"),
        Preset("Passby", EventShape::Contour, 3.0f, "whoosh passby"),
        Preset("Tension Riser", EventShape::Bloom, 4.0f, "riser drone"),
        Preset("Fire Bed", EventShape::Fill, 8.0f, "fire"),
        Preset("Footsteps", EventShape::Scatter, 3.0f, "footsteps"),
    };
    recipes[3].intensity = BellCurve(0.5f, 0.2f);
    recipes[4].intensity = BellCurve(0.95f, 0.35f);
    return recipes;
}

std::vector<Chain> DemoChains() {
    auto step = [](const char* keywords, EventShape shape, float relTime, float duration, bool hero) {
        ChainEvent e;
        e.settings = Preset(keywords, shape, duration, keywords);
        e.relTime = relTime;
        e.hero = hero;
        return e;
    };
    Chain fight{"Fight Beat",
                {step("punch face", EventShape::Spot, 0.0f, 0.6f, false),
                 step("punch body", EventShape::Spot, 0.45f, 0.7f, false),
                 step("bodyfall", EventShape::Spot, 1.1f, 1.5f, true)},
                {}};
    Chain accident{"Glass Accident",
                   {step("glass clink", EventShape::Spot, 0.0f, 1.0f, false),
                    step("bottle smash", EventShape::Spot, 0.5f, 2.0f, true),
                    step("footsteps", EventShape::Scatter, 1.5f, 2.5f, false)},
                   {}};
    return {fight, accident};
}

}  // namespace morvane::demo
