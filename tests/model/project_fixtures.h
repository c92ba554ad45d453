#pragma once
// Projects and sound files for the project file, lifecycle and recipe tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "model/timeline.h"
#include "support/test_support.h"

namespace morvane::test {

// A minimal 16-bit mono RIFF/WAVE file; `salt` varies the samples so that two files of
// the same length differ in content.
inline void WriteTinyWav(const std::filesystem::path& path, int frames, int salt) {
    std::string data;
    for (int i = 0; i < frames; ++i) {
        int16_t sample = static_cast<int16_t>((i * 37 + salt * 101) % 2000 - 1000);
        data.push_back(static_cast<char>(sample & 0xFF));
        data.push_back(static_cast<char>((sample >> 8) & 0xFF));
    }
    auto le32 = [](std::string& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto le16 = [](std::string& out, uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    };
    std::string file = "RIFF";
    le32(file, static_cast<uint32_t>(36 + data.size()));
    file += "WAVEfmt ";
    le32(file, 16);
    le16(file, 1);
    le16(file, 1);
    le32(file, 48000);
    le32(file, 96000);
    le16(file, 2);
    le16(file, 16);
    file += "data";
    le32(file, static_cast<uint32_t>(data.size()));
    file += data;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path, file);
}

// Values with few significant digits survive "%.4g" and "%.6g" exactly.
inline void FillCurve(std::span<float> curve, int salt) {
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = static_cast<float>((i * 3 + static_cast<size_t>(salt)) % 9) / 8.0f;
}

// A project in which every stored field differs from its default. Its sound files are
// written inside folder/Audio, so a save keeps their paths and a load gives them back.
inline Project FullProject(const std::string& folder) {
    const std::string audio = folder + "/Audio/";
    WriteTinyWav(audio + "door.wav", 400, 1);
    WriteTinyWav(audio + "sub/glass.wav", 300, 2);
    WriteTinyWav(audio + "mid.wav", 200, 3);
    WriteTinyWav(audio + "high.wav", 210, 4);
    WriteTinyWav(audio + "env.wav", 220, 5);
    WriteTinyWav(audio + "bed1.wav", 230, 6);
    WriteTinyWav(audio + "bed2.wav", 240, 7);

    std::filesystem::create_directories(folder + "/picture");
    WriteFile(folder + "/picture/reel1.mp4", "not really a video");

    Project p;
    TimelineState& t = p.timeline;
    t.settings.totalDuration = 95.5f;
    t.settings.fps = 25.0f;
    t.settings.startTC = 3600.0f;
    t.settings.maxEventDuration = 12.0f;
    t.settings.scaleType = 5;
    t.settings.scaleRoot = 7;
    t.settings.pitchShiftProb = 40;
    t.settings.freqShiftIntensity = 30;
    t.settings.reverseProb = 20;
    t.settings.normalizeLUFS = false;
    t.settings.alloyAlgorithm = 1;
    t.settings.alloyTransferDepth = 0.5f;
    t.settings.alloyAttackGraft = 0.1f;
    t.settings.alloyMicroPitch = 0.1f;
    t.settings.alloyFilterBands = 16;

    UserShape shape;
    shape.name = "Whoosh";
    shape.keywords = "air, swish";
    shape.defaultDuration = 3.5f;
    shape.spread = 0.5f;
    shape.weightCenter = 0.25f;
    shape.intensityScale = 0.75f;
    shape.weightOffset = 0.125f;
    shape.syncOffset = -0.25f;
    FillCurve(shape.weight, 1);
    FillCurve(shape.intensity, 2);
    t.userShapes = {shape, shape};
    t.userShapes[1].name = "Hit";

    t.scenes = {Scene{"Kitchen", 1.5f, 20.25f, "dishes, room tone"}, Scene{"Street", 20.25f, 60.0f, "traffic"}};

    Event bloom;
    bloom.time = 4.5f;
    bloom.duration = 2.25f;
    bloom.spread = 0.75f;
    bloom.weightCenter = 0.625f;
    bloom.intensityScale = 1.5f;
    bloom.weightOffset = -0.125f;
    bloom.syncOffset = 0.0625f;
    bloom.shape = EventShape::Bloom;
    bloom.userShapeIdx = 1;
    bloom.locked = bloom.muted = bloom.stereo = bloom.hero = true;
    bloom.gain = 0.5f;
    bloom.alloy = true;
    bloom.alloyMorph = 0.25f;
    bloom.pitchVariation = 0.5f;
    bloom.scaleTuneOverride = 2;
    bloom.reverbSend = 0.375f;
    bloom.fillLayers = 6;
    bloom.groupOverride = 2;
    bloom.sceneLink = 1;
    bloom.sceneCrossfade = 12;
    bloom.keywords = "door slam, wood";
    bloom.pinnedFile = audio + "door.wav";
    bloom.hasPinnedFile = true;
    bloom.pinnedFileId = "lib-door";
    bloom.folder = "Act 1";
    bloom.libFilter = "Foley";
    bloom.presetName = "Door Slam";
    bloom.intensityMode = IntensityMode::ShapedNoFloor;
    FillCurve(bloom.weight, 3);
    FillCurve(bloom.intensity, 4);
    bloom.hasTraceGain = true;
    FillCurve(bloom.traceGain, 5);

    Event bed;
    bed.time = 0.0f;
    bed.duration = 60.0f;
    bed.shape = EventShape::Bed;
    bed.sceneLink = 0;
    bed.sceneCrossfade = 0;
    bed.sceneFill = true;
    bed.keywords = "room tone";
    bed.pinnedFiles = {audio + "bed1.wav", audio + "bed2.wav"};
    bed.pinnedFileIds = {"lib-bed1", "lib-bed2"};
    bed.bedLayerLoop = {1, 0};
    bed.bedLayerWeight = {0.25f, -1.0f};

    Event clip;
    clip.time = 30.0f;
    clip.duration = 1.5f;
    clip.shape = EventShape::Clip;
    clip.pinnedFile = audio + "sub/glass.wav";
    clip.hasPinnedFile = true;
    clip.clipWeight = 0.75f;
    clip.clipSourceOffset = 0.25f;
    clip.clipSourceDuration = 1.25f;
    clip.clipFadeIn = 0.0625f;
    clip.clipFadeOut = 0.125f;
    clip.bounceSource = {bloom};
    clip.bounceSource[0].sceneLink = -1;
    clip.bounceSource[0].sceneCrossfade = 1;  // stored only with a scene link

    t.events = {bloom, bed, clip};

    Layer plain;
    plain.name = "Door Slam 03";
    plain.filepath = audio + "door.wav";
    plain.fileId = "lib-door";
    plain.sourceOffset = 0.5f;
    plain.sourceDuration = 1.25f;
    plain.startTime = 4.5f;
    plain.duration = 1.125f;
    plain.weight = 0.625f;
    plain.eventIdx = 0;
    plain.track = 5;
    plain.group = 2;
    plain.groupTrack = 1;
    plain.procMode = ProcMode::Fill;
    plain.fadeIn = 0.125f;
    plain.fadeOut = 0.25f;
    plain.audioSyncOffset = 0.5f;
    plain.stereo = true;
    plain.muted = true;
    plain.fillLoop = true;
    plain.layerGain = 0.5f;
    plain.userVolume = 1.5f;
    plain.normGain = 2.0f;
    plain.pitchShift = -3.0f;
    plain.pitchVarShift = 0.5f;
    plain.deconOffset = 0.25f;
    plain.hasIntGain = plain.hasFillGain = plain.hasDeconGain = plain.hasEqGains = true;
    FillCurve(plain.intGain, 6);
    FillCurve(plain.fillGain, 7);
    FillCurve(plain.deconGain, 8);
    plain.eqGains = {0.5f, 0.25f, 1.0f, 0.75f, 0.125f};
    plain.fillChunks = {FillChunk{1, 2, 3}, FillChunk{4, 5, 6}};

    Layer alloyed;
    alloyed.name = "Alloy";
    alloyed.filepath = audio + "sub/glass.wav";
    alloyed.procMode = ProcMode::Alloy;
    alloyed.eventIdx = 0;
    alloyed.alloyMorph = 0.75f;
    alloyed.alloyAlgo = 3;
    alloyed.alloyMid = AlloyPart{audio + "mid.wav", "lib-mid", 0.25f, 1.5f, "Mid"};
    alloyed.alloyHigh = AlloyPart{audio + "high.wav", "", 0.5f, 1.25f, "High"};
    alloyed.alloyEnv = AlloyPart{audio + "env.wav", "lib-env", 0.125f, 2.5f, "Env"};
    t.results = {plain, alloyed};
    t.built = true;

    t.trackLayout.budgetMode = true;
    t.trackLayout.groups[0] = Group{"Backgrounds", 6, true, -30.0f};
    t.trackLayout.groups[1] = Group{"Spots", 8, false, -20.0f};
    t.trackLayout.groups[2] = Group{"Designed", 2, true, -12.0f};
    t.bannedFiles = {"/elsewhere/banned.wav", "/elsewhere/other.wav"};
    t.bannedFileIds = {"lib-banned", "lib-other"};
    t.linkedGroups = {"Act 1", "Chase"};

    p.videoPath = folder + "/picture/reel1.mp4";
    p.videoStartTime = 1.25f;
    p.projectSampleRate = 96000;
    p.masterGain = 0.75f;
    p.refGain = 0.5f;
    p.groupGain = {0.25f, 1.5f, 2.0f};
    p.projectDescription = "Reel 1 \"temp\" mix\twith a tab";
    p.libraryPaths = {"/libraries/foley", "/libraries/ambience"};
    ExportSettings& x = p.exportSettings;
    x.exportWithHandles = true;
    x.handleDuration = 2.5f;
    x.handleFullSource = true;
    x.fadeInDuration = 0.25f;
    x.fadeOutDuration = 0.5f;
    x.snapToFrames = x.exportAAFMarkers = x.exportAAFVolAuto = x.exportFillVirtual = true;
    x.exportFormatAAF = true;
    x.exportFormatWAV = false;
    x.exportWavMixdown = false;
    x.exportWavStems = x.exportWavTracks = x.exportWavClips = x.exportReverbStem = true;
    x.exportAAFSourceChannels = true;
    p.workAreaIn = 2.5f;
    p.workAreaOut = 40.0f;
    ReverbSettings& r = p.reverb;
    r.enabled = true;
    r.size = 0.75f;
    r.decay = 0.25f;
    r.damping = 0.125f;
    r.preDelay = 0.05f;
    r.diffusion = 0.625f;
    r.modulation = 0.375f;
    r.groupSends = {0.5f, 0.25f, 0.125f};
    r.macro = 0.875f;
    p.groupPlacement = {GroupPlacement{PlacementMode::Spread, 75.0f}, GroupPlacement{PlacementMode::Diffuse, 12.5f},
                        GroupPlacement{PlacementMode::Direct, 100.0f}};

    TraceResults& o = p.optical;
    o.present = true;
    o.duration = 95.5f;
    o.fps = 10.0f;
    o.maxCompositeEnergy = 0.875f;
    o.opticalDetail = 0.5f;
    o.traceKeepAbove = false;
    o.spatialAmount = 0.625f;
    o.spatialEnhanced = true;
    for (int i = 0; i < 5; ++i) {
        OpticalFrame frame{};
        for (int c = 0; c < kOpticalFrameStride; ++c) frame[static_cast<size_t>(c)] = static_cast<float>(i * 11 + c) / 8.0f;
        frame[1] = -0.0625f;
        frame[2] = 1.5e-05f;
        o.frames.push_back(frame);
    }
    o.numFrames = 5;
    OpticalEvent proposed;
    proposed.time = 3.25f;
    proposed.type = 1;
    proposed.confidence = 0.75f;
    proposed.tier = 1;
    proposed.suggestedDuration = 0.5f;
    proposed.suggestedShape = 4;
    proposed.intensity = 0.625f;
    proposed.suggestedGain = 0.5f;
    proposed.suggestedSyncOffset = 0.125f;
    proposed.suggestedWeightCenter = 0.25f;
    proposed.suggestedSpread = 0.375f;
    proposed.hasIntensityCurve = true;
    FillCurve(proposed.intensityCurve, 9);
    proposed.keywords = "impact";
    proposed.presetName = "Punch";
    proposed.accepted = true;
    proposed.peelLayer = 2;
    o.events = {proposed, OpticalEvent{}};
    return p;
}

// Every stored field of two projects (not undo, not modified).
inline void ExpectSameProject(const Project& a, const Project& b) {
    const TimelineState& x = a.timeline;
    const TimelineState& y = b.timeline;
    EXPECT_EQ(x.settings, y.settings);
    // Record by record: a whole Event prints as a 3.5 KB dump.
    ASSERT_EQ(x.events.size(), y.events.size());
    for (size_t i = 0; i < x.events.size(); ++i) EXPECT_TRUE(x.events[i] == y.events[i]) << "event " << i;
    EXPECT_EQ(x.results, y.results);
    EXPECT_EQ(x.userShapes, y.userShapes);
    EXPECT_EQ(x.built, y.built);
    EXPECT_EQ(x.trackLayout, y.trackLayout);
    EXPECT_EQ(x.bannedFiles, y.bannedFiles);
    EXPECT_EQ(x.bannedFileIds, y.bannedFileIds);
    EXPECT_EQ(x.linkedGroups, y.linkedGroups);
    EXPECT_EQ(x.scenes, y.scenes);
    EXPECT_EQ(a.videoPath, b.videoPath);
    EXPECT_EQ(a.videoStartTime, b.videoStartTime);
    EXPECT_EQ(a.projectSampleRate, b.projectSampleRate);
    EXPECT_EQ(a.masterGain, b.masterGain);
    EXPECT_EQ(a.refGain, b.refGain);
    EXPECT_EQ(a.groupGain, b.groupGain);
    EXPECT_EQ(a.projectDescription, b.projectDescription);
    EXPECT_EQ(a.libraryPaths, b.libraryPaths);
    EXPECT_EQ(a.exportSettings, b.exportSettings);
    EXPECT_EQ(a.workAreaIn, b.workAreaIn);
    EXPECT_EQ(a.workAreaOut, b.workAreaOut);
    EXPECT_EQ(a.reverb, b.reverb);
    EXPECT_EQ(a.groupPlacement, b.groupPlacement);
    EXPECT_TRUE(a.optical.frames == b.optical.frames);
    EXPECT_TRUE(a.optical.events == b.optical.events);
    EXPECT_TRUE(a.optical == b.optical);
}

}  // namespace morvane::test
