// The Broadcast WAV writers, read back by libsndfile, a chunk walker and ffprobe.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "export/bwf_writer.h"
#include "export/export_rollback.h"
#include "export/ixml.h"
#include "export/partial_file.h"
#include "export/tagged_clip_writer.h"
#include "export/wav_extensible.h"
#include "export/wav_readers.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
constexpr int kFull24 = 0x7FFFFF00;  // 24-bit full scale as libsndfile reads it into 32 bits

TEST(BwfWriter, TimeReferenceDescriptionAndSanitisedSamples) {
    test::TempDir dir;
    const std::string mono = dir / "mono.wav";
    const float samples[4] = {1.7f, std::numeric_limits<float>::quiet_NaN(), -3.0f,
                              std::numeric_limits<float>::infinity()};
    ASSERT_TRUE(WriteBWFClipMono(mono, samples, 4, 48000, 12.5, "Door slam"));
    test::ReadBack r = test::ReadWav(mono);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_TRUE(r.hasBext);
    EXPECT_EQ(test::TimeReference(r), 600000u);
    EXPECT_STREQ(r.bext.description, "Door slam");
    EXPECT_STREQ(r.bext.originator, "Morvane");
    EXPECT_GE(r.bext.version, 1);  // the library writes the version it implements
    ASSERT_EQ(r.samples.size(), 4u);
    EXPECT_EQ(r.samples[0], kFull24);
    EXPECT_EQ(r.samples[1], 0);
    EXPECT_LE(r.samples[2], -kFull24);
    EXPECT_EQ(r.samples[3], 0);
    EXPECT_EQ(test::Probe(mono, "format_tags=time_reference"), "600000");

    // No description: the default text; a time reference beyond 32 bits keeps its high half.
    const std::string stereo = dir / "stereo.wav";
    const std::vector<float> left(100, 0.25f), right(100, -0.25f);
    const double late = 30.0 * 3600.0 * 24.0;  // a day and more in: 30 h
    ASSERT_TRUE(WriteBWFStereo(stereo, left.data(), right.data(), 100, 96000, late, nullptr));
    r = test::ReadWav(stereo);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.channels, 2);
    EXPECT_STREQ(r.bext.description, "Morvane export");
    EXPECT_EQ(test::TimeReference(r), static_cast<uint64_t>(96000.0 * late));
    EXPECT_GT(r.bext.time_reference_high, 0u);
    EXPECT_NEAR(r.samples[0] / static_cast<double>(kFull24), 0.25, 1e-6);
    EXPECT_NEAR(r.samples[1] / static_cast<double>(kFull24), -0.25, 1e-6);

    // A start before the timeline's zero lands at zero rather than wrapping round.
    EXPECT_EQ(BextTimeReference(48000, -2.0), 0u);
    EXPECT_EQ(BextTimeReference(48000, std::nan("")), 0u);
}

TEST(BwfWriter, OneHourLimitAndEmptyInput) {
    test::TempDir dir;
    // A low rate keeps the hour small: 100 Hz x 3600 s.
    const int rate = 100;
    const int limit = rate * 3600;
    std::vector<float> samples(static_cast<size_t>(limit) + 1, 0.1f);
    const std::string exact = dir / "exact.wav";
    const std::string over = dir / "over.wav";
    EXPECT_TRUE(WriteBWFClipMono(exact, samples.data(), limit, rate, 0.0, nullptr));
    EXPECT_EQ(test::ReadWav(exact).frames, limit);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteBWFClipMono(over, samples.data(), limit + 1, rate, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFStereo(over, samples.data(), samples.data(), limit + 1, rate, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFMulti(over, {samples, samples, samples}, 0x7, rate, 0.0, nullptr, false, true));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Export] WriteBWFClipMono: numFrames 360001 exceeds 1hr limit (360000) — " + over),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[Export] WriteBWFStereo: numFrames 360001 exceeds 1hr limit (360000) — " + over),
              std::string::npos);
    EXPECT_NE(log.find("[Export] WriteBWFMulti: numFrames 360001 exceeds 1hr limit — " + over), std::string::npos);
    EXPECT_FALSE(fs::exists(over));

    // Stereo exactly at the limit goes through (block-wise interleaving reaches the end).
    EXPECT_TRUE(WriteBWFStereo(exact, samples.data(), samples.data(), limit, rate, 0.0, nullptr));
    EXPECT_EQ(test::ReadWav(exact).frames, limit);

    // Nothing to write: no file and no message.
    testing::internal::CaptureStdout();
    const std::string empty = dir / "empty.wav";
    EXPECT_FALSE(WriteBWFClipMono(empty, samples.data(), 0, 48000, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFStereo(empty, samples.data(), samples.data(), 0, 48000, 0.0, nullptr));
    EXPECT_FALSE(WriteBWFMulti(empty, {}, 0, 48000, 0.0, nullptr, false, true));
    EXPECT_FALSE(WriteBWFMulti(empty, {{}, {}}, 0, 48000, 0.0, nullptr, false, true));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fs::exists(empty));

    // A folder that cannot hold the file fails without leaving anything.
    test::WriteFile(dir.path / "plainfile", "x");
    EXPECT_FALSE(WriteBWFStereo(dir / "plainfile/under.wav", samples.data(), samples.data(), 10, 48000, 0, nullptr));
}

TEST(BwfWriter, ExtensibleMultichannelCarriesMaskAndNoFact) {
    test::TempDir dir;
    std::vector<std::vector<float>> channels(6, std::vector<float>(4801, 0.0f));
    for (size_t c = 0; c < channels.size(); ++c) channels[c][10] = 0.1f * static_cast<float>(c + 1);
    channels[5].resize(100);  // shorter than the first: the rest is silence
    const std::string path = dir / "surround.wav";
    ASSERT_TRUE(WriteBWFMulti(path, channels, 0x3F, 48000, 3610.0, "Mix 5.1", false, true));

    uint32_t riffSize = 0;
    const auto chunks = test::ReadRiffChunks(path, &riffSize);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(test::FindChunk(chunks, "fact"), nullptr);
    ASSERT_NE(test::FindChunk(chunks, "bext"), nullptr);
    ASSERT_NE(test::FindChunk(chunks, "data"), nullptr);
    EXPECT_EQ(test::ChannelMask(chunks), 0x3Fu);
    EXPECT_EQ(riffSize + 8, fs::file_size(path));  // the RIFF size matches the copied chunks
    EXPECT_EQ(test::Probe(path, "stream=channel_layout"), "5.1");
    EXPECT_EQ(test::Probe(path, "format_tags=time_reference"), std::to_string(48000ull * 3610));
    const test::ReadBack r = test::ReadWav(path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.channels, 6);
    EXPECT_EQ(r.frames, 4801);
    EXPECT_NEAR(r.samples[10 * 6 + 4] / static_cast<double>(kFull24), 0.5, 1e-6);
    EXPECT_EQ(r.samples[4800 * 6 + 5], 0);

    // The plain container: a 16-byte format chunk, no mask.
    const std::string plain = dir / "ambix.wav";
    channels.resize(4);
    ASSERT_TRUE(WriteBWFMulti(plain, channels, 0x33, 48000, 0.0, "AmbiX", true, true));
    const auto plainChunks = test::ReadRiffChunks(plain);
    ASSERT_NE(test::FindChunk(plainChunks, "fmt "), nullptr);
    EXPECT_EQ(test::FindChunk(plainChunks, "fmt ")->size, 16u);
    EXPECT_EQ(test::ReadWav(plain).channels, 4);
}

// Builds a RIFF file by hand: header, then the given chunks.
std::string RiffFile(const std::vector<std::pair<std::string, std::string>>& chunks, bool padLast) {
    std::string body = "WAVE";
    for (size_t i = 0; i < chunks.size(); ++i) {
        const auto& [id, data] = chunks[i];
        const uint32_t n = static_cast<uint32_t>(data.size());
        body += id;
        for (int b = 0; b < 4; ++b) body += static_cast<char>((n >> (8 * b)) & 0xFF);
        body += data;
        if ((n & 1u) && (padLast || i + 1 < chunks.size())) body += '\0';
    }
    std::string file = "RIFF";
    const uint32_t n = static_cast<uint32_t>(body.size());
    for (int b = 0; b < 4; ++b) file += static_cast<char>((n >> (8 * b)) & 0xFF);
    return file + body;
}

TEST(BwfWriter, FinaliserKeepsOddChunksAndRefusesBrokenFiles) {
    test::TempDir dir;
    const std::string path = dir / "odd.wav";
    const std::string fmt(40, '\x01');
    test::WriteFile(path, RiffFile({{"fmt ", fmt}, {"fact", "abcd"}, {"LIST", "odd"}, {"data", "12345"}}, false));
    ASSERT_TRUE(FinalizeExtensibleWav(path, 0x2D63F));
    uint32_t riffSize = 0;
    const auto chunks = test::ReadRiffChunks(path, &riffSize);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].id, "fmt ");
    EXPECT_EQ(chunks[1].id, "LIST");
    EXPECT_EQ(std::string(chunks[1].body.begin(), chunks[1].body.end()), "odd");
    EXPECT_EQ(chunks[2].id, "data");
    EXPECT_EQ(std::string(chunks[2].body.begin(), chunks[2].body.end()), "12345");
    EXPECT_EQ(test::ChannelMask(chunks), 0x2D63Fu);
    EXPECT_EQ(riffSize, 4u + (8 + 40) + (8 + 4) + (8 + 6));
    EXPECT_EQ(riffSize + 8, fs::file_size(path));
    // Bytes of the format chunk other than the mask are untouched.
    EXPECT_EQ(chunks[0].body[19], 0x01);
    EXPECT_EQ(chunks[0].body[24], 0x01);

    // A chunk claiming more bytes than the file holds: failure, the file as it was.
    const std::string broken = dir / "broken.wav";
    std::string bytes = RiffFile({{"fmt ", fmt}, {"data", "1234"}}, true);
    bytes[bytes.size() - 8] = '\x7F';  // data size far past the end
    test::WriteFile(broken, bytes);
    EXPECT_FALSE(FinalizeExtensibleWav(broken, 0x3));
    EXPECT_EQ(test::ReadFile(broken), bytes);
    EXPECT_FALSE(fs::exists(broken + ".tmp"));
    test::WriteFile(broken, "not a wave file at all");
    EXPECT_FALSE(FinalizeExtensibleWav(broken, 0x3));
    EXPECT_FALSE(FinalizeExtensibleWav(dir / "missing.wav", 0x3));
}

// Runs `body` in a child process whose files may not grow past `maxBytes`; returns
// the child's exit code.
template <typename Body>
int WithFileSizeLimit(rlim_t maxBytes, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail instead of killing
        rlimit limit{maxBytes, maxBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BwfWriter, ShortWriteDeletesTheFile) {
    test::TempDir dir;
    const std::vector<float> samples(48000, 0.3f);
    const std::vector<std::vector<float>> channels(4, samples);
    const std::string mono = dir / "mono.wav", stereo = dir / "stereo.wav", multi = dir / "multi.wav",
                      tagged = dir / "tagged.wav";
    const std::string logPath = dir / "log.txt";
    const int code = WithFileSizeLimit(20000, [&] {
        if (!std::freopen(logPath.c_str(), "w", stdout)) return 10;
        int failures = 0;
        failures += !WriteBWFClipMono(mono, samples.data(), 48000, 48000, 0.0, nullptr);
        failures += !WriteBWFStereo(stereo, samples.data(), samples.data(), 48000, 48000, 0.0, nullptr);
        failures += !WriteBWFMulti(multi, channels, 0x33, 48000, 0.0, nullptr, false, true);
        std::vector<float> interleaved(96000, 0.3f);
        failures += !WriteTaggedClip(tagged, 2, 24, 48000, interleaved, "take", "");
        std::fflush(stdout);
        return failures;
    });
    EXPECT_EQ(code, 4);
    for (const std::string& p : {mono, stereo, multi, tagged}) EXPECT_FALSE(fs::exists(p)) << p;
    const std::string log = test::ReadFile(logPath);
    EXPECT_NE(log.find("[Export] WriteBWFClipMono: short write ("), std::string::npos) << log;
    EXPECT_NE(log.find("/48000) — disk full? Deleting " + mono), std::string::npos);
    EXPECT_NE(log.find("[Export] WriteBWFStereo: short write at frame "), std::string::npos);
    EXPECT_NE(log.find("/48000 — disk full? Deleting " + stereo), std::string::npos);
    EXPECT_NE(log.find("[Export] WriteBWFMulti: short write — deleting " + multi), std::string::npos);
}

// An export forces its folders to disk once at its end; the files themselves must still
// be in place, whole, the moment each is written, and the writer's totals count only
// the files that were.
TEST(BwfWriter, FilesLandWholeWhileTheirFoldersWaitToBeForced) {
    test::TempDir dir;
    fs::create_directories(dir / "Tracks");
    const std::vector<float> samples(4800, 0.25f);
    const WavWriteTotals before = WavWritesSoFar();
    {
        const FolderSyncBatch exportBatch;
        ASSERT_TRUE(WriteBWFClipMono(dir / "a.wav", samples.data(), 4800, 48000, 1.0, "first"));
        {
            const FolderSyncBatch inner;
            ASSERT_TRUE(WriteBWFStereo(dir / "Tracks/b.wav", samples.data(), samples.data(), 4800, 48000, 0.0,
                                       nullptr));
        }
        ASSERT_TRUE(WriteBWFClipMono(dir / "Tracks/c.wav", samples.data(), 4800, 48000, 0.0, nullptr));
        // Refused before anything is created: not counted, nothing left.
        EXPECT_FALSE(WriteBWFClipMono(dir / "d.wav", samples.data(), 0, 48000, 0.0, nullptr));
        for (const std::string name : {"a.wav", "Tracks/b.wav", "Tracks/c.wav"}) {
            const test::ReadBack r = test::ReadWav(dir / name);
            ASSERT_TRUE(r.ok) << name;
            EXPECT_EQ(r.frames, 4800) << name;
        }
        EXPECT_EQ(test::TimeReference(test::ReadWav(dir / "a.wav")), 48000u);
    }
    // Outside any batch, a file is written as before.
    ASSERT_TRUE(WriteBWFClipMono(dir / "e.wav", samples.data(), 4800, 48000, 0.0, nullptr));
    EXPECT_EQ(test::ReadWav(dir / "e.wav").frames, 4800);
    EXPECT_EQ(WavWritesSoFar().files - before.files, 4);
    EXPECT_GT(WavWritesSoFar().seconds, before.seconds);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path))
        EXPECT_EQ(entry.path().string().find(kPartialFileSuffix), std::string::npos) << entry.path();
    EXPECT_FALSE(fs::exists(dir / "d.wav"));
}

TEST(BwfWriter, TaggedClipDescriptionCutAndIXml) {
    // Comma-separated words past 255 characters are cut at a ", " boundary.
    std::string words;
    for (int i = 0; words.size() < 300; ++i) words += (i ? ", " : "") + std::string("word") + std::to_string(i);
    const std::string cut = CutBextDescription(words);
    EXPECT_LE(cut.size(), 255u);
    EXPECT_GE(cut.size(), 32u);
    EXPECT_EQ(words.compare(0, cut.size(), cut), 0);
    EXPECT_EQ(words.compare(cut.size(), 2, ", "), 0);  // cut just before a separator
    EXPECT_NE(cut.back(), ',');
    // Short text stays; no separator late enough: a plain cut at 255.
    EXPECT_EQ(CutBextDescription("Short, text"), "Short, text");
    const std::string early = "ab, " + std::string(300, 'x');
    EXPECT_EQ(CutBextDescription(early), early.substr(0, 255));
    // A separator just past the window (starting at character 257) is not used.
    std::string late(256, 'y');
    late += ", tail" + std::string(40, 'z');
    EXPECT_EQ(CutBextDescription(late), late.substr(0, 255));

    // The iXML document: well formed, values escaped, empty fields left out.
    const std::string xml = BuildIXmlDocument("Rock & <Roll> \"take\" 'one'", "door, slam", "", "DOORS", "");
    EXPECT_NE(xml.find("<Description>Rock &amp; &lt;Roll&gt; &quot;take&quot; &apos;one&apos;</Description>"),
              std::string::npos);
    EXPECT_EQ(xml.find("<CatID>"), std::string::npos);
    EXPECT_EQ(xml.find("<SubCategory>"), std::string::npos);

    test::TempDir dir;
    const std::string path = dir / "take_01.wav";
    std::vector<float> interleaved(2000);
    for (size_t i = 0; i < interleaved.size(); ++i) interleaved[i] = (i % 2) ? 0.5f : -0.5f;
    ASSERT_TRUE(WriteTaggedClip(path, 2, 16, 44100, interleaved, words, xml));
    const test::ReadBack r = test::ReadWav(path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(r.frames, 1000);
    EXPECT_EQ(std::string(r.bext.description), cut);
    const auto chunk = test::ReadChunkWithLibrary(path, "iXML");
    ASSERT_TRUE(chunk.has_value());
    xmlDocPtr doc = xmlReadMemory(chunk->data(), static_cast<int>(chunk->size()), "ixml.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    ASSERT_NE(doc, nullptr) << *chunk;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "BWFXML");
    std::string description;
    for (xmlNodePtr n = root->children; n; n = n->next)
        if (n->type == XML_ELEMENT_NODE && std::string(reinterpret_cast<const char*>(n->name)) == "USER")
            for (xmlNodePtr u = n->children; u; u = u->next)
                if (u->type == XML_ELEMENT_NODE && std::string(reinterpret_cast<const char*>(u->name)) == "Description") {
                    xmlChar* text = xmlNodeGetContent(u);
                    description = reinterpret_cast<const char*>(text);
                    xmlFree(text);
                }
    xmlFreeDoc(doc);
    EXPECT_EQ(description, "Rock & <Roll> \"take\" 'one'");

    // 24-bit by default; without description or iXML neither chunk appears.
    const std::string bare = dir / "bare.wav";
    ASSERT_TRUE(WriteTaggedClip(bare, 1, 24, 48000, std::vector<float>(10, 0.1f), "", ""));
    EXPECT_EQ(test::ReadWav(bare).format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_FALSE(test::ReadChunkWithLibrary(bare, "iXML").has_value());
    EXPECT_EQ(test::FindChunk(test::ReadRiffChunks(bare), "bext"), nullptr);
    EXPECT_FALSE(WriteTaggedClip(bare, 3, 24, 48000, std::vector<float>(9, 0.1f), "", ""));
}

TEST(ExportRollback, RemovesFilesAndCreatedFoldersUnlessCommitted) {
    test::TempDir dir;
    const std::string existing = dir / "existing";
    fs::create_directories(existing);
    testing::internal::CaptureStdout();
    {
        ExportRollbackGuard guard;
        ASSERT_TRUE(CreateExportFolder(existing + "/Export/Tracks", guard));
        ASSERT_EQ(guard.directories.size(), 2u);  // the existing folder is not the export's
        test::WriteFile(existing + "/Export/mix.wav", "a");
        test::WriteFile(existing + "/Export/Tracks/t1.wav", "b");
        guard.AddFile(existing + "/Export/mix.wav");
        guard.AddFile(existing + "/Export/Tracks/t1.wav");
        ASSERT_TRUE(CreateExportFolder(existing + "/Keep", guard));
        test::WriteFile(existing + "/Keep/user.txt", "mine");  // not registered: stays, and so its folder
    }
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "[Export] Rollback: removed 2 files\n");  // once, however the export ended
    EXPECT_FALSE(fs::exists(existing + "/Export"));
    EXPECT_TRUE(fs::exists(existing + "/Keep/user.txt"));
    EXPECT_TRUE(fs::exists(existing));

    testing::internal::CaptureStdout();
    {
        ExportRollbackGuard guard;
        ASSERT_TRUE(CreateExportFolder(existing + "/Done", guard));
        test::WriteFile(existing + "/Done/mix.wav", "a");
        guard.AddFile(existing + "/Done/mix.wav");
        guard.Commit();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fs::exists(existing + "/Done/mix.wav"));

    // A path under a regular file cannot become a folder.
    test::WriteFile(dir.path / "file", "x");
    ExportRollbackGuard guard;
    EXPECT_FALSE(CreateExportFolder(dir / "file/sub", guard));
    EXPECT_TRUE(guard.directories.empty());
    guard.Commit();
}

}  // namespace
}  // namespace morvane
