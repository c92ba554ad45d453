// Variations and bounce to clip, on a timeline built from real sound files.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/event_build.h"
#include "export/bounce.h"
#include "export/sound_library_fixture.h"
#include "export/variations.h"
#include "export/wav_readers.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

struct BuiltTimeline {
    test::TempDir dir;
    std::vector<Library> libraries;
    std::vector<LibraryRoot> roots;
    Project project;

    BuiltTimeline() {
        fs::create_directories(dir.path / "sounds");
        libraries.push_back(test::ToneLibrary(dir / "sounds", 24));
        roots = RootsOf(libraries);
        project.timeline.settings.totalDuration = 20.0f;
        project.timeline.events = {test::SpotEvent(2.0f, "door slam"), test::SpotEvent(5.0f, "door/slam?"),
                                   test::SpotEvent(9.0f, "door slam")};
        BuildEvents(project, roots, -1, -1.0f, -1.0f, 0, test::SeededBuild(7));
    }
};

double PeakOf(const test::ReadBack& r) {
    double peak = 0.0;
    for (int v : r.samples) peak = std::max(peak, std::fabs(v / 2147483648.0));
    return peak;
}

TEST(Variations, NumberedTakesDifferAndLeaveTheTimelineAlone) {
    EXPECT_EQ(VariationNumberWidth(1), 2);
    EXPECT_EQ(VariationNumberWidth(99), 2);
    EXPECT_EQ(VariationNumberWidth(100), 3);
    EXPECT_EQ(VariationSalt(0), 2654435761u);
    EXPECT_EQ(VariationSalt(1), static_cast<uint32_t>(2ull * 2654435761ull));
    EXPECT_EQ(RemoveFileNameCharacters("a/b\\c:d*e?f\"g<h>i|j"), "abcdefghij");

    BuiltTimeline t;
    const std::vector<Event> events = t.project.timeline.events;
    const std::vector<Layer> results = t.project.timeline.results;
    ASSERT_FALSE(results.empty());
    VariationSettings settings;
    settings.count = 3;
    settings.normalize = true;
    VariationContext context;
    context.roots = t.roots;
    context.buildOptions = test::SeededBuild(99);
    std::vector<std::string> texts;
    context.status = [&](const std::string& text) { texts.push_back(text); };
    const std::string out = t.dir / "Export";
    const VariationsResult r = ExportVariations(t.project, {1}, out, settings, context);
    EXPECT_EQ(texts, std::vector<std::string>{"Rendering 3 variations…"});
    EXPECT_EQ(r.statusText, "Exported 3 variations");
    ASSERT_EQ(r.files, 3);
    // The label "Door/slam?" loses the characters a file name cannot hold.
    const std::string first = out + "/Variations/Door_01.wav";
    EXPECT_EQ(r.written[0], out + "/Variations/Doorslam_01.wav");
    EXPECT_FALSE(fs::exists(first));
    std::vector<std::string> bodies;
    for (const std::string& path : r.written) {
        const test::ReadBack take = test::ReadWav(path);
        ASSERT_TRUE(take.ok) << path;
        EXPECT_EQ(take.channels, 2);
        EXPECT_EQ(take.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        EXPECT_NEAR(PeakOf(take), 0.8913, 2e-3) << path;  // -1 dBFS
        EXPECT_STREQ(take.bext.description, "Morvane variation");
        const auto ixml = test::ReadChunkWithLibrary(path, "iXML");
        ASSERT_TRUE(ixml.has_value());
        xmlDocPtr doc = xmlReadMemory(ixml->data(), static_cast<int>(ixml->size()), "take.xml", nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        EXPECT_NE(doc, nullptr) << *ixml;
        xmlFreeDoc(doc);
        EXPECT_NE(ixml->find("<Description>Morvane variation</Description>"), std::string::npos);
        EXPECT_NE(ixml->find("<Keywords>door, slam</Keywords>"), std::string::npos) << *ixml;
        bodies.push_back(test::ReadFile(path));
    }
    EXPECT_NE(bodies[0], bodies[1]);
    EXPECT_NE(bodies[1], bodies[2]);
    EXPECT_EQ(t.project.timeline.events, events);
    EXPECT_EQ(t.project.timeline.results, results);

    // One take: two-digit numbering; reverb named by the style; 16-bit mono at 44.1 kHz.
    settings.count = 1;
    settings.reverb = true;
    settings.nameStyle = 1;
    settings.channels = 1;
    settings.bitDepth = 16;
    settings.sampleRate = 44100;
    settings.normalize = false;
    const VariationsResult one = ExportVariations(t.project, {0, 2}, out, settings, context);
    ASSERT_EQ(one.files, 1);
    EXPECT_EQ(one.statusText, "Exported 1 variation");
    EXPECT_EQ(one.written[0], out + "/Variations/Door Slam_reverb_01.wav");
    const test::ReadBack mono = test::ReadWav(one.written[0]);
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.sampleRate, 44100);
    EXPECT_EQ(mono.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_STREQ(mono.bext.description, "Morvane variation, Reverb");
    settings.nameStyle = 0;
    EXPECT_EQ(VariationBaseName(t.project, {0}, true, 0), "Door Slam_Reverb");

    // Cancel after the first take: it stays, nothing more is written, the timeline is as it was.
    std::atomic<bool> cancel{false};
    context.cancel = &cancel;
    context.progress = [&](int done, int) { cancel.store(done >= 1); };
    settings.count = 5;
    settings.reverb = false;
    const VariationsResult cut = ExportVariations(t.project, {2}, t.dir / "Cut", settings, context);
    EXPECT_TRUE(cut.cancelled);
    EXPECT_EQ(cut.files, 1);
    EXPECT_TRUE(fs::exists(t.dir / "Cut/Variations/Door Slam_01.wav"));
    EXPECT_FALSE(fs::exists(t.dir / "Cut/Variations/Door Slam_02.wav"));
    EXPECT_EQ(t.project.timeline.events, events);
    EXPECT_EQ(t.project.timeline.results, results);

    // A folder that cannot be made: nothing written, and said so.
    test::WriteFile(t.dir.path / "plain", "x");
    context.progress = nullptr;
    const VariationsResult blocked = ExportVariations(t.project, {0}, t.dir / "plain/out", settings, context);
    EXPECT_EQ(blocked.files, 0);
    EXPECT_NE(blocked.statusText.find("Could not create"), std::string::npos);

    // Clip and Bed events are not varied.
    Project clipOnly = t.project;
    clipOnly.timeline.events[0].shape = EventShape::Clip;
    EXPECT_EQ(ExportVariations(clipOnly, {0}, t.dir / "None", settings, VariationContext{}).files, 0);
}

TEST(Bounce, ReplacesTheSelectionAndRevertsAfterReopening) {
    BuiltTimeline t;
    const std::string projectPath = t.dir / "Reel.mvproj";
    t.project.timeline.settings.startTC = 100.0f;
    const std::vector<Event> original = t.project.timeline.events;
    size_t thirdLayers = 0;
    for (const Layer& l : t.project.timeline.results) thirdLayers += l.eventIdx == 2;
    ASSERT_GT(thirdLayers, 0u);

    BounceContext context;
    const BounceResult r = BounceSelection(t.project, projectPath, {0, 1}, context);
    ASSERT_TRUE(r.ok) << r.statusText;
    EXPECT_EQ(r.path, t.dir / "Bounce/Door Slam.wav");
    EXPECT_EQ(r.clipEvent, 0);
    const TimelineState& tl = t.project.timeline;
    ASSERT_EQ(tl.events.size(), 2u);
    const Event& clip = tl.events[0];
    EXPECT_EQ(clip.shape, EventShape::Clip);
    EXPECT_EQ(clip.pinnedFile, r.path);
    ASSERT_EQ(clip.bounceSource.size(), 2u);
    EXPECT_EQ(clip.bounceSource[0], original[0]);
    EXPECT_EQ(clip.bounceSource[1], original[1]);
    EXPECT_EQ(tl.events[1], original[2]);
    // The third event kept its layers under its new index; the clip has its own one.
    size_t clipLayers = 0, movedLayers = 0;
    for (const Layer& l : tl.results) {
        clipLayers += l.eventIdx == 0;
        movedLayers += l.eventIdx == 1;
        EXPECT_LT(l.eventIdx, 2);
    }
    EXPECT_EQ(clipLayers, 1u);
    EXPECT_EQ(movedLayers, thirdLayers);
    // The file sits on the receiving timeline where the bounced sound started.
    const test::ReadBack file = test::ReadWav(r.path);
    ASSERT_TRUE(file.ok);
    EXPECT_GT(PeakOf(file), 0.01);
    EXPECT_EQ(test::TimeReference(file), static_cast<uint64_t>((100.0 + clip.time) * 48000.0 + 1e-6));
    EXPECT_NEAR(file.frames / 48000.0, clip.duration, 1e-3);

    // Saved, reopened, reverted: the original events are back in their places.
    ASSERT_TRUE(SaveProject(projectPath, t.project));
    Project reopened;
    ASSERT_TRUE(LoadProject(projectPath, reopened).ok);
    const RevertResult back = RevertBounce(reopened, 0);
    ASSERT_TRUE(back.ok) << back.statusText;
    EXPECT_EQ(back.restoredEvents, (std::vector<int>{0, 1}));
    ASSERT_EQ(reopened.timeline.events.size(), 3u);
    EXPECT_EQ(reopened.timeline.events[0], original[0]);
    EXPECT_EQ(reopened.timeline.events[1], original[1]);
    EXPECT_EQ(reopened.timeline.events[2].keywords, original[2].keywords);
    for (const Layer& l : reopened.timeline.results) EXPECT_EQ(l.eventIdx, 2);
    // Only a bounced clip can be reverted.
    EXPECT_FALSE(RevertBounce(reopened, 2).ok);
    EXPECT_FALSE(RevertBounce(reopened, 7).ok);

    // A second bounce of the same name does not replace the first file.
    const BounceResult again = BounceSelection(t.project, projectPath, {1}, context);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.path, t.dir / "Bounce/Door Slam_2.wav");
    EXPECT_TRUE(fs::exists(r.path));

    // Nothing built in the selection.
    Project unbuilt;
    unbuilt.timeline.events = {test::SpotEvent(1.0f, "door")};
    const BounceResult none = BounceSelection(unbuilt, projectPath, {0}, context);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.statusText, "Nothing to bounce yet");
    EXPECT_EQ(unbuilt.timeline.events.size(), 1u);
}

}  // namespace
}  // namespace morvane
