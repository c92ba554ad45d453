#include "demo/demo_content_maker.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "demo/demo_project.h"
#include "demo/demo_video.h"
#include "platform/run_program.h"
#include "demo/sound_catalogue.h"
#include "demo/sound_families.h"
#include "demo/wav_with_metadata.h"
#include "model/project_file.h"
#include "model/recipes.h"

namespace fs = std::filesystem;

namespace morvane::demo {

namespace {

WavMetadata MetadataOf(const DemoSound& sound) {
    WavMetadata m;
    m.description = sound.description;
    m.catId = sound.catId;
    m.category = sound.category;
    m.subCategory = sound.subCategory;
    m.fxName = sound.fxName;
    m.keywords = sound.keywords;
    return m;
}

// Writes every file of one catalogue sound into folder.
bool WriteSound(const DemoSound& sound, const std::string& folder, std::string* error, int* files) {
    const WavMetadata metadata = MetadataOf(sound);
    if (sound.speakerSuffixes.empty()) {
        SynthRng rng(sound.seed);
        const std::vector<Signal> channels = SynthesiseSound(sound.params, sound.sampleRate, rng);
        if (!WriteWavWithMetadata(folder + "/" + DemoSoundFileName(sound), channels, sound.sampleRate, metadata,
                                  error))
            return false;
        ++*files;
        return true;
    }
    // The multi-mono set: one mono take per speaker, decorrelated by seed, the LFE
    // channel kept to the low end.
    std::vector<Signal> takes;
    for (size_t i = 0; i < sound.speakerSuffixes.size(); ++i) {
        SynthRng rng(sound.seed * 31u + static_cast<uint32_t>(i));
        SoundParams params = sound.params;
        params.channels = 1;
        Signal take = SynthesiseSound(params, sound.sampleRate, rng)[0];
        if (sound.speakerSuffixes[i] == "LFE") LowPass(take, sound.sampleRate, 120.0f, 120.0f);
        takes.push_back(std::move(take));
    }
    NormalisePeak(takes, sound.params.peakDb);
    for (size_t i = 0; i < takes.size(); ++i) {
        WavMetadata m = metadata;
        m.description += " (" + sound.speakerSuffixes[i] + ")";
        if (!WriteWavWithMetadata(folder + "/" + DemoSoundFileName(sound, sound.speakerSuffixes[i]), {takes[i]},
                                  sound.sampleRate, m, error))
            return false;
        ++*files;
    }
    return true;
}

// The reel's guide track: a quiet room with a knock on every flash and the landing,
// so the video's own sound lines up with its picture.
std::vector<Signal> GuideTrack(const DemoVideoPlan& plan, int rate) {
    SynthRng rng(77);
    SoundParams room;
    room.family = SoundFamily::RoomTone;
    room.seconds = plan.duration;
    room.peakDb = -30.0f;
    room.channels = 1;
    Signal mix = SynthesiseSound(room, rate, rng)[0];
    std::vector<float> hits = plan.flashes;
    for (float t : hits) {
        SoundParams knock;
        knock.family = SoundFamily::WoodImpact;
        knock.seconds = 0.8f;
        knock.size = 0.3f;
        knock.peakDb = -14.0f;
        MixInto(mix, SynthesiseSound(knock, rate, rng)[0], FramesOf(t, rate), 1.0f);
    }
    return {mix, mix};
}

}  // namespace

DemoContentResult MakeDemoContent(const std::string& contentFolder, const DemoProgress& progress) {
    DemoContentResult result;
    auto report = [&](float fraction, const std::string& step) {
        if (progress) progress(fraction, step);
    };
    auto fail = [&](const std::string& error) {
        result.error = error;
        return result;
    };
    // The reel needs the ffmpeg program: say so before spending time on the sounds.
    if (!RunProgram({"ffmpeg", "-hide_banner", "-version"}).started)
        return fail("cannot make the demo video: the ffmpeg program is not installed");
    const std::string partial = contentFolder + ".partial";
    std::error_code ec;
    fs::remove_all(partial, ec);
    const std::string library = partial + "/Libraries/" + kDemoLibraryFolderName;
    const std::string projectFolder = partial + "/Projects/" + kDemoProjectName;
    for (const std::string& folder : {library, projectFolder, partial + "/Recipes", partial + "/Chains"}) {
        fs::create_directories(folder, ec);
        if (ec) return fail("cannot create " + folder + ": " + ec.message());
    }

    // Sounds: two workers over the catalogue; each sound has its own seed, so the
    // files do not depend on which worker made them.
    const std::vector<DemoSound> catalogue = DemoSoundCatalogue();
    std::atomic<size_t> next{0};
    std::atomic<int> files{0};
    std::mutex errorMutex;
    std::string firstError;
    auto worker = [&] {
        for (size_t i = next++; i < catalogue.size(); i = next++) {
            std::string error;
            int made = 0;
            if (!WriteSound(catalogue[i], library, &error, &made)) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (firstError.empty()) firstError = error;
            }
            files += made;
        }
    };
    std::thread helper(worker);
    worker();
    helper.join();
    if (!firstError.empty()) {
        fs::remove_all(partial, ec);
        return fail(firstError);
    }
    report(0.6f, "sounds");

    const DemoVideoPlan plan = DemoVideoTimeline();
    const std::string guide = partial + "/guide.wav";
    const std::string video = projectFolder + "/" + kDemoProjectName + ".mp4";
    std::string error;
    WavMetadata guideMetadata;
    guideMetadata.description = "Morvane demo reel guide track";
    if (!WriteWavWithMetadata(guide, GuideTrack(plan, 48000), 48000, guideMetadata, &error) ||
        !MakeDemoVideo(video, plan, guide, &error)) {
        fs::remove_all(partial, ec);
        return fail(error);
    }
    fs::remove(guide, ec);
    report(0.9f, "video");

    const Project project = MakeDemoProject(plan, video, library);
    const std::string projectPath = projectFolder + "/" + kDemoProjectName + kProjectExtension;
    bool saved = SaveProject(projectPath, project);
    for (const EventPreset& recipe : DemoRecipes()) saved = saved && SaveRecipe(recipe, partial + "/Recipes");
    for (const Chain& chain : DemoChains()) saved = saved && SaveChain(chain.name, chain.events, partial + "/Chains");
    if (!saved) {
        fs::remove_all(partial, ec);
        return fail("cannot write the demo project, recipes or chains in " + partial);
    }

    fs::remove_all(contentFolder, ec);
    fs::rename(partial, contentFolder, ec);
    if (ec) return fail("cannot move the demo content into place at " + contentFolder + ": " + ec.message());
    report(1.0f, "done");
    result.ok = true;
    result.soundFiles = files.load();
    result.libraryFolder = contentFolder + "/Libraries/" + kDemoLibraryFolderName;
    result.projectPath = contentFolder + "/Projects/" + kDemoProjectName + "/" + kDemoProjectName + kProjectExtension;
    result.videoPath = contentFolder + "/Projects/" + kDemoProjectName + "/" + kDemoProjectName + ".mp4";
    return result;
}

}  // namespace morvane::demo
