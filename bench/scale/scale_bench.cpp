// Libraries at the sizes sound designers keep: for each size, the first scan of a
// folder of real short WAV files (files per second), the rescan of the unchanged
// folder (CPU), the load of an index of that many entries (CPU and memory per
// entry), and the build of the demo project and of a 300-event reel over that index
// (CPU). Every figure stands beside the cost of merely splitting the index file into
// lines, the floor for anything that reads the index. The first scan also stands
// beside merely decoding the same files with libsndfile on as many threads (the
// floor for anything that reads every sample): its files per second are to reach at
// least a third of decoding's.
//
//   bench_scale [--sizes 2000,20000,100000] [--scan-limit N] [--dir folder]
//
// Sizes above --scan-limit (default: every size) skip the scan columns. The folder
// (default a fresh one under /tmp) is removed at the end.
#include <malloc.h>
#include <sndfile.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo_project.h"
#include "engine/event_build.h"
#include "library/index_file.h"
#include "library/libraries.h"
#include "library/scan.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

// CPU time of the whole process (every scan worker included), in fine steps.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bytes in use from the allocator, large blocks (which it maps on their own) included.
size_t HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// A short mono WAV of filtered noise: long enough for the analysis (4,800 frames),
// different bytes per file so every file has its own identity.
bool WriteWav(const std::string& path, unsigned seed, int frames) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> samples(static_cast<size_t>(frames));
    float low = 0.0f;
    const float smooth = 0.05f + 0.9f * static_cast<float>(seed % 17) / 16.0f;
    for (int i = 0; i < frames; ++i) {
        low += smooth * (noise(random) - low);
        samples[static_cast<size_t>(i)] = 0.5f * low * std::exp(-3.0f * static_cast<float>(i) / frames);
    }
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return true;
}

const char* const kWords[] = {"door", "slam", "wood", "whoosh", "passby", "riser", "drone", "fire", "crackle",
                              "burning", "footsteps", "gravel", "tonal", "hit", "room", "tone", "ambience", "wind",
                              "forest", "stream", "rain", "metal", "impact", "glass", "break", "creak", "hum",
                              "rumble", "birds", "traffic", "crowd", "water", "splash", "engine", "car", "swoosh"};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

std::string Word(std::mt19937& random) { return kWords[random() % kWordCount]; }

// Splitting the index file into lines: read it whole and find every line end.
double SplitLinesSeconds(const std::string& path) {
    const double t0 = CpuSeconds();
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    size_t lines = 0;
    for (size_t at = all.find('\n'); at != std::string::npos; at = all.find('\n', at + 1)) ++lines;
    const double seconds = CpuSeconds() - t0;
    if (lines == 0) std::printf("(empty index)\n");
    return seconds;
}

// An index of `count` rows whose paths are hard links of a few real files, with
// names, descriptions, keywords and features as varied as a real library's.
std::string MakeBuildIndex(const std::string& dir, int count, const std::string& indexFolder) {
    const std::string sources = dir + "/sources";
    fs::create_directories(sources);
    std::vector<std::string> originals;
    for (int i = 0; i < 8; ++i) {
        originals.push_back(sources + "/source" + std::to_string(i) + ".wav");
        WriteWav(originals.back(), 1000u + static_cast<unsigned>(i), 48000 * (1 + i));
    }
    Library library;
    library.name = "Scale" + std::to_string(count);
    library.folder = dir + "/links";
    std::mt19937 random(static_cast<unsigned>(count));
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < count; ++i) {
        const std::string folder = library.folder + "/" + Word(random) + std::to_string(i / 500);
        if (i % 500 == 0 || !fs::exists(folder)) fs::create_directories(folder);
        LibraryEntry e;
        const int source = static_cast<int>(random() % 8);
        e.name = Word(random) + "_" + Word(random) + "_" + std::to_string(i);
        e.path = folder + "/" + e.name + ".wav";
        std::error_code error;
        fs::create_hard_link(originals[static_cast<size_t>(source)], e.path, error);
        e.description = Word(random) + " " + Word(random) + ", recorded close";
        e.keywords = Word(random) + " " + Word(random) + " " + Word(random) + " " + Word(random);
        e.fileId = std::to_string(1000000000000000ull + static_cast<unsigned long long>(i));
        e.contentHash = 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(i + 1);
        e.fileSize = 96044u * static_cast<unsigned>(source + 1);
        e.modifiedTime = 1700000000 + i;
        e.duration = static_cast<float>(source + 1);
        e.sampleRate = 48000.0f;
        e.channels = 1;
        e.bitDepth = 16;
        for (int k = 0; k < kFeatureCount; ++k) e.features[k] = unit(random);
        e.features[11] = 25.0f * unit(random);
        e.features[12] = -60.0f * unit(random);
        e.spectralFlatness = unit(random);
        e.harmonicity = unit(random);
        e.attackTime = 0.3f * unit(random);
        library.entries.push_back(std::move(e));
    }
    const std::string indexPath = indexFolder + "/" + library.name + ".mvlib";
    SaveLibraryIndex(library, indexPath);
    return indexPath;
}

Project MakeReel() {
    std::mt19937 random(300);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Project p;
    p.timeline.settings.totalDuration = 900.0f;
    const char* keys[] = {"", "door slam", "whoosh", "+metal impact", "wind -rain", "foot*", "fire crackle"};
    for (int i = 0; i < 300; ++i) {
        Event ev;
        ev.shape = static_cast<EventShape>(i % 5);
        ev.time = unit(random) * 880.0f;
        ev.duration = 0.2f + unit(random) * 6.0f;
        ev.spread = unit(random);
        ev.hero = unit(random) < 0.1f;
        ev.keywords = keys[i % 7];
        for (int k = 0; k < kCurvePoints; ++k)
            ev.intensity[static_cast<size_t>(k)] = 0.5f + 0.4f * std::sin(static_cast<float>(k) * 0.02f * (1 + i % 4));
        p.timeline.events.push_back(ev);
    }
    return p;
}

// CPU seconds of a whole build (fixed seed), and the number of layers it placed.
double BuildSeconds(Project project, const std::vector<LibraryRoot>& roots, int* layers) {
    BuildOptions options;
    options.useFixedSeed = true;
    options.fixedSeed = 1;
    const double t0 = CpuSeconds();
    const BuildResult result = BuildEvents(project, roots, -1, -1, -1, 0, options);
    *layers = result.layersPlaced;
    return CpuSeconds() - t0;
}

struct ScanFigures {
    double filesPerSecond = 0, decodePerSecond = 0, rescanCpu = 0, rescanWall = 0;
};

// Files per second of opening, decoding to floats and closing every WAV file under
// `folder`, on as many threads as the scan uses: what a scan costs before analysis.
double DecodeFilesPerSecond(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".wav") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    std::atomic<size_t> next{0};
    std::atomic<int64_t> decoded{0};
    auto work = [&] {
        std::vector<float> buffer;
        for (size_t i = next.fetch_add(1); i < files.size(); i = next.fetch_add(1)) {
            SF_INFO info{};
            SNDFILE* file = sf_open(files[i].c_str(), SFM_READ, &info);
            if (file == nullptr) continue;
            buffer.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
            decoded.fetch_add(sf_readf_float(file, buffer.data(), info.frames));
            sf_close(file);
        }
    };
    const unsigned hardware = std::thread::hardware_concurrency();
    const int workers = hardware == 0 ? 4 : static_cast<int>(hardware);
    const double w0 = WallSeconds();
    std::vector<std::thread> pool;
    for (int w = 0; w < workers; ++w) pool.emplace_back(work);
    for (std::thread& thread : pool) thread.join();
    const double seconds = WallSeconds() - w0;
    if (decoded.load() == 0) std::printf("  (nothing decoded)\n");
    return static_cast<double>(files.size()) / seconds;
}

ScanFigures MeasureScan(const std::string& dir, int count, LibrarySet& set) {
    const std::string folder = dir + "/Sounds" + std::to_string(count);
    for (int i = 0; i < count; ++i) {
        const std::string sub = folder + "/" + kWords[(i / 500) % kWordCount] + std::to_string(i / 500);
        if (i % 500 == 0) fs::create_directories(sub);
        WriteWav(sub + "/" + kWords[i % kWordCount] + "_" + std::to_string(i) + ".wav", static_cast<unsigned>(i), 4800);
    }
    ScanFigures figures;
    // Decoding first, so both find the files equally in the page cache (the writing
    // above left them there).
    figures.decodePerSecond = DecodeFilesPerSecond(folder);
    ScanRequest request;
    request.folder = folder;
    ScanState first;
    first.running.store(true);
    const double w0 = WallSeconds();
    RunScan(first, set, request);
    figures.filesPerSecond = count / (WallSeconds() - w0);
    ScanState again;
    again.running.store(true);
    const double c0 = CpuSeconds(), w1 = WallSeconds();
    RunScan(again, set, request);
    figures.rescanCpu = CpuSeconds() - c0;
    figures.rescanWall = WallSeconds() - w1;
    if (again.reusedCount.load() != count)
        std::printf("  (rescan re-used %d of %d files)\n", again.reusedCount.load(), count);
    return figures;
}

std::vector<int> ParseSizes(const char* text) {
    std::vector<int> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) sizes.push_back(std::atoi(item.c_str()));
    return sizes;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {2000, 20000, 100000};
    int scanLimit = 1 << 30;
    std::string dir = "/tmp/morvane-scale-" + std::to_string(getpid());
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sizes") == 0) sizes = ParseSizes(argv[i + 1]);
        else if (std::strcmp(argv[i], "--scan-limit") == 0) scanLimit = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
    }
    fs::create_directories(dir + "/index");
    std::printf("%8s | %10s %9s | %9s %9s %8s | %9s %10s | %12s %12s\n", "entries", "scan f/s", "rescan s",
                "split s", "load s", "B/entry", "demo s", "reel s", "demo layers", "reel layers");
    for (int count : sizes) {
        LibrarySet set;
        set.indexFolder = dir + "/index";
        ScanFigures scan;
        if (count <= scanLimit) scan = MeasureScan(dir, count, set);

        const std::string indexPath = MakeBuildIndex(dir + "/build" + std::to_string(count), count, set.indexFolder);
        // The best of three of each, the file in the page cache for both.
        double split = 1e9, load = 1e9, perEntry = 0;
        std::vector<Library> libraries(1);
        for (int round = 0; round < 3; ++round) {
            split = std::min(split, SplitLinesSeconds(indexPath));
            Library library;
            const size_t heap0 = HeapBytes();
            const double l0 = CpuSeconds();
            LoadLibraryIndex(indexPath, library);
            load = std::min(load, CpuSeconds() - l0);
            // The first load holds the entries and enters every identity.
            if (round == 0) perEntry = static_cast<double>(HeapBytes() - heap0) / count;
            if (round == 0) libraries[0] = std::move(library);
        }

        const std::vector<LibraryRoot> roots = RootsOf(libraries);
        int demoLayers = 0, reelLayers = 0;
        const double demo =
            BuildSeconds(demo::MakeDemoProject(demo::DemoVideoTimeline(), "", libraries[0].folder), roots, &demoLayers);
        const double reel = BuildSeconds(MakeReel(), roots, &reelLayers);
        std::printf("%8d | %10.0f %9.3f | %9.3f %9.3f %8.0f | %9.3f %10.3f | %12d %12d\n", count, scan.filesPerSecond,
                    scan.rescanCpu, split, load, perEntry, demo, reel, demoLayers, reelLayers);
        std::printf("%8s | %10s %9s | %9s %9.1fx %8s | %9.1fx %9.1fx |\n", "x split", "", "", "", load / split, "",
                    demo / split, reel / split);
        if (scan.decodePerSecond > 0)
            std::printf("%8s | decoding alone %.0f f/s; scan / decode %.3f (target at least 0.333)\n", "",
                        scan.decodePerSecond, scan.filesPerSecond / scan.decodePerSecond);
        std::fflush(stdout);
        fs::remove_all(dir + "/build" + std::to_string(count));
        fs::remove_all(dir + "/Sounds" + std::to_string(count));
    }
    fs::remove_all(dir);
    return 0;
}
