// The Library tab over a library of 100,000 files (a generated index): reading the
// index, switching the browser to the library (its rows made and sorted), a search
// with the selection's keyword rules, "Similar", and the per-frame cost of the rows
// in view. Prints each figure against its target.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/browse.h"
#include "engine/similar.h"
#include "library/index_file.h"
#include "library/libraries.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

constexpr int kEntries = 100000;
constexpr int kVisibleRows = 40;  // a tall browser on a large screen

LibrarySet gSet;
std::string gIndexFolder;
double gLoadSeconds = 0;

const char* const kCategories[] = {"DOORWood", "DOORMetl", "METLImpt", "WINDGust", "AMBForst", "FOLYClth",
                                   "WATRDrip", "FIREBrst", "GUNAuto", "VEHCar",   "CRWDCheer", "ELECHum"};
const char* const kWords[] = {"slam", "creak", "heavy", "light", "distant", "close", "metal", "wood",   "glass",
                              "rattle", "whoosh", "hum",  "low",   "bright",  "soft",  "hard",  "long", "short",
                              "squeak", "thud",   "roll", "impact", "drone",  "room",  "outdoor", "interior"};

// A library as field recorders name their files: a UCS category, two descriptive
// words and a take number, with descriptions and keywords from the same words.
Library GeneratedLibrary() {
    std::mt19937 random(17);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto word = [&] { return std::string(kWords[random() % std::size(kWords)]); };
    Library library;
    library.name = "Generated";
    library.folder = "/sounds/generated";
    library.entries.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        LibraryEntry e;
        e.name = std::string(kCategories[random() % std::size(kCategories)]) + "_" + word() + "_" + word() + "_" +
                 std::to_string(i % 100);
        e.path = library.folder + "/" + std::to_string(i / 1000) + "/" + e.name + ".wav";
        e.description = word() + " " + word() + " " + word() + ", recorded " + word();
        e.keywords = word() + " " + word() + " " + word();
        e.duration = 0.05f + 30.0f * unit(random) * unit(random);
        e.sampleRate = (random() % 2) ? 48000.0f : 96000.0f;
        e.channels = 1 + static_cast<int>(random() % 2);
        e.bitDepth = 24;
        for (float& f : e.features) f = unit(random);
        FeatureOf(e, Feature::Crest) = 3.0f + 25.0f * unit(random);
        e.spectralFlatness = unit(random);
        e.attackTime = 0.3f * unit(random) * unit(random);
        library.entries.push_back(std::move(e));
    }
    return library;
}

double Milliseconds(const benchmark::State& state) {
    return state.iterations() ? 1000.0 * static_cast<double>(state.counters.at("seconds")) : 0.0;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The processor time of the work: on a machine shared with other work the wall clock
// also counts the time the thread waited for a core.
template <typename Work>
void Timed(benchmark::State& state, Work work) {
    double total = 0.0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        work();
        total += ThreadCpuSeconds() - start;
    }
    state.counters["seconds"] = total / static_cast<double>(state.iterations());
}

// Figures are processor time per call.
void Report(const char* what, double ms, double target) {
    if (target > 0) std::printf("[Bench] %s: %.1f ms (target < %.0f ms) %s\n", what, ms, target, ms < target ? "ok" : "OVER");
    else std::printf("[Bench] %s: %.1f ms\n", what, ms);
}

void BM_SwitchToLibrary(benchmark::State& state) {
    BrowserQuery query;
    query.library = "Generated";
    size_t rows = 0;
    Timed(state, [&] { rows = BrowseEntries(gSet.libraries, query).size(); });
    state.counters["rows"] = static_cast<double>(rows);
    Report("switching the browser to the 100,000-file library (rows made and sorted by name)", Milliseconds(state), 100);
}

void BM_SortByLength(benchmark::State& state) {
    BrowserQuery query;
    query.sortBy = BrowserColumn::Duration;
    Timed(state, [&] { benchmark::DoNotOptimize(BrowseEntries(gSet.libraries, query)); });
    Report("sorting every enabled file by length", Milliseconds(state), 100);
}

void BM_Search(benchmark::State& state) {
    static const char* const kSearches[] = {"+slam -metal", "door*", "heavy creak", "+DOORWood +wood -glass thud*"};
    const char* search = kSearches[state.range(0)];
    BrowserQuery query;
    query.search = search;
    size_t rows = 0;
    Timed(state, [&] { rows = BrowseEntries(gSet.libraries, query).size(); });
    char what[160];
    std::snprintf(what, sizeof what, "search \"%s\" over 100,000 files (%zu found)", search, rows);
    Report(what, Milliseconds(state), 100);
}

void BM_Similar(benchmark::State& state) {
    const LibraryEntry& target = gSet.libraries[0].entries[4242];
    Timed(state, [&] { benchmark::DoNotOptimize(SimilarFiles(gSet.libraries, target)); });
    Report("Similar: the 20 nearest of 100,000 files", Milliseconds(state), 50);
}

// What a frame does for the rows in view besides handing text to the drawing: the
// category of each row and its number columns as text. The clipper makes the frame
// independent of the library's size.
void BM_VisibleRows(benchmark::State& state) {
    const std::vector<const LibraryEntry*> rows = BrowseEntries(gSet.libraries, BrowserQuery{});
    size_t first = 0;
    Timed(state, [&] {
        char text[64];
        for (size_t row = first; row < first + kVisibleRows; ++row) {
            const LibraryEntry& e = *rows[row % rows.size()];
            benchmark::DoNotOptimize(UcsCatIdOfName(e.name));
            std::snprintf(text, sizeof text, "%.2f s %.0f %d %d", static_cast<double>(e.duration),
                          static_cast<double>(e.sampleRate), e.channels, e.bitDepth);
            benchmark::DoNotOptimize(text);
        }
        first = (first + 997) % rows.size();  // a scroll to somewhere else each frame
    });
    std::printf("[Bench] the %d rows in view, per frame: %.3f ms (frame budget 16 ms)\n", kVisibleRows,
                Milliseconds(state));
}

}  // namespace

BENCHMARK(BM_SwitchToLibrary)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SortByLength)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Search)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Similar)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_VisibleRows)->Unit(benchmark::kMicrosecond)->Iterations(200);

int main(int argc, char** argv) {
    gIndexFolder = (fs::temp_directory_path() / ("morvane-library-bench-" + std::to_string(::getpid()))).string();
    fs::create_directories(gIndexFolder);
    gSet.indexFolder = gIndexFolder;
    const Library generated = GeneratedLibrary();
    std::string why;
    // --write-index FOLDER: only write the generated index there, for a run of the window.
    if (argc == 3 && std::string(argv[1]) == "--write-index") {
        LibrarySet set;
        set.indexFolder = argv[2];
        fs::create_directories(set.indexFolder);
        if (SaveLibraryIndex(generated, LibraryIndexPath(set, generated.name), &why)) return 0;
        std::fprintf(stderr, "could not write the generated index: %s\n", why.c_str());
        return 1;
    }
    if (!SaveLibraryIndex(generated, LibraryIndexPath(gSet, generated.name), &why)) {
        std::fprintf(stderr, "could not write the generated index: %s\n", why.c_str());
        return 1;
    }
    // Reading the index is what opening the Library tab the first time and a render
    // after a change cost; both run off the frame loop's critical path only if quick.
    const auto start = std::chrono::steady_clock::now();
    LoadAllLibraries(gSet);
    gLoadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[Bench] reading the 100,000-entry index (%.0f MB): %.0f ms\n",
                static_cast<double>(fs::file_size(LibraryIndexPath(gSet, generated.name))) / 1e6, 1000.0 * gLoadSeconds);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(gIndexFolder);
    return 0;
}
