// Library scanning speed: the first scan of a folder, against plain libsndfile
// decoding of the same frames; the rescan of the unchanged folder (which must open
// no sound file); and one against two analysis workers.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "library/audio_file.h"
#include "library/features.h"
#include "library/file_id.h"
#include "library/scan.h"

namespace fs = std::filesystem;
using namespace morvane;

namespace {

struct CorpusFile {
    std::string path;
    double analysedSeconds = 0;  // what the feature pass reads: at most 30 s
};

std::string gCorpus;
std::string gIndex;
std::vector<CorpusFile> gFiles;
double gFirstScanWallSeconds = 0, gFirstScanCpuSeconds = 0;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool WriteFile(const std::string& path, int rate, int channels, int format, double seconds, std::mt19937& random) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::normal_distribution<float> noise(0.0f, 0.05f);
    const double frequency = 80.0 + static_cast<double>(random() % 4000);
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> block(4096 * static_cast<size_t>(channels));
    for (long long done = 0; done < frames;) {
        const long long n = std::min<long long>(4096, frames - done);
        for (long long i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / rate;
            const float tone = static_cast<float>(0.3 * std::sin(2 * M_PI * frequency * t) * std::exp(-t));
            for (int c = 0; c < channels; ++c) block[static_cast<size_t>(i * channels + c)] = tone + noise(random);
        }
        sf_writef_float(file, block.data(), n);
        done += n;
    }
    sf_close(file);
    return true;
}

// 300 single files of 0.1 s to 60 s plus 12 multi-mono pairs: mono, stereo and 5.1;
// 44.1, 48 and 96 kHz; 16-bit, 24-bit and float. Long files are few, as in real
// libraries, and the widest files are short, which keeps the corpus near 300 MB.
void MakeCorpus() {
    std::mt19937 random(7);
    const double shortLengths[] = {0.1, 0.25, 0.5, 0.8, 1.2, 2.0};
    const double mediumLengths[] = {3.0, 5.0, 8.0, 10.0};
    const int rates[] = {44100, 48000, 96000};
    const int formats[] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT};
    for (int i = 0; i < 300; ++i) {
        double seconds;
        int channels;
        if (i % 20 == 0) {
            seconds = i % 40 == 0 ? 60.0 : 30.0;
            channels = 1 + (i / 20) % 2;
        } else if (i % 4 == 0) {
            seconds = mediumLengths[(i / 4) % 4];
            channels = 1 + (i / 4) % 2;
        } else {
            seconds = shortLengths[i % 6];
            channels = i % 3 == 0 ? 6 : 1 + i % 2;
        }
        const int rate = seconds > 20 ? 48000 : rates[(i / 3) % 3];
        const std::string dir = gCorpus + "/set" + std::to_string(i % 7);
        fs::create_directories(dir);
        const std::string path = dir + "/fx_" + std::to_string(i) + ".wav";
        if (!WriteFile(path, rate, channels, formats[(i / 2) % 3], seconds, random)) continue;
        gFiles.push_back({path, std::min(seconds, 30.0)});
    }
    for (int g = 0; g < 12; ++g) {
        const std::string dir = gCorpus + "/multimono";
        fs::create_directories(dir);
        for (const char* side : {"L", "R"}) {
            const std::string path = dir + "/Amb" + std::to_string(g) + "_" + side + ".wav";
            if (WriteFile(path, 48000, 1, SF_FORMAT_PCM_24, 2.0, random)) gFiles.push_back({path, 2.0});
        }
    }
}

double TotalAudioSeconds() {
    double total = 0;
    for (const CorpusFile& file : gFiles) total += file.analysedSeconds;
    return total;
}

struct ScanFigures {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int files = 0;
    uint64_t opens = 0;
};

ScanFigures TimedScan(bool deep, int threads) {
    LibrarySet set;
    set.indexFolder = gIndex;
    ScanState state;
    state.maxScanThreads = threads;
    const uint64_t opensBefore = AudioFileOpenCount();
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    StartScan(state, set, gCorpus, true, -1, deep);
    WaitForScan(state);
    ScanFigures figures;
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = CpuSeconds() - cpuBefore;
    figures.files = state.totalCount.load();
    figures.opens = AudioFileOpenCount() - opensBefore;
    return figures;
}

// Decodes exactly the frames the feature pass reads, nothing else.
void DecodeFile(const CorpusFile& file, std::vector<float>& block) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(file.path.c_str(), SFM_READ, &info);
    if (sound == nullptr) return;
    block.resize(2048 * static_cast<size_t>(info.channels));
    long long remaining = std::min<long long>(info.frames, static_cast<long long>(info.samplerate) * 30);
    while (remaining > 0) {
        const sf_count_t got = sf_readf_float(sound, block.data(), std::min<long long>(2048, remaining));
        if (got <= 0) break;
        remaining -= got;
    }
    sf_close(sound);
}

// The limit: plain decoding of the corpus.
double DecodeCpuSeconds() {
    const double before = CpuSeconds();
    std::vector<float> block;
    for (const CorpusFile& file : gFiles) DecodeFile(file, block);
    return CpuSeconds() - before;
}

// Wall seconds to decode the corpus with `threads` threads taking files from a shared
// counter, as the scan's workers do: the scaling this machine offers right now.
double DecodeWallSeconds(int threads) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        std::vector<float> block;
        for (size_t i = next.fetch_add(1); i < gFiles.size(); i = next.fetch_add(1)) DecodeFile(gFiles[i], block);
    };
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& thread : pool) thread.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Where the first scan's CPU time goes: the feature pass over frames already in
// memory, the pitch step within it, and the content hash, each timed on its own.
struct CostBreakdown {
    double features = 0, pitch = 0, hash = 0;
};

CostBreakdown MeasureCosts() {
    CostBreakdown costs;
    AnalysisContextPtr context = MakeAnalysisContext();
    std::vector<float> frames;
    for (const CorpusFile& file : gFiles) {
        SF_INFO info{};
        SNDFILE* sound = sf_open(file.path.c_str(), SFM_READ, &info);
        if (sound == nullptr) continue;
        const long long wanted = std::min<long long>(info.frames, static_cast<long long>(info.samplerate) * 30);
        frames.resize(static_cast<size_t>(wanted) * static_cast<size_t>(info.channels));
        const long long got = sf_readf_float(sound, frames.data(), wanted);
        sf_close(sound);
        long long position = 0;
        const FrameReader read = [&](float* buffer, int64_t count) -> int64_t {
            const long long n = std::min<long long>(count, got - position);
            std::copy_n(frames.data() + position * info.channels, n * info.channels, buffer);
            position += n;
            return n;
        };
        LibraryEntry entry;
        double before = ThreadCpuSeconds();
        ComputeFeatures(read, info.frames, info.samplerate, info.channels, context.get(), entry);
        costs.features += ThreadCpuSeconds() - before;

        // The pitch step runs once per file, on one block.
        std::vector<float> block(2048, 0.0f);
        for (size_t i = 0; i < block.size() && i * info.channels < frames.size(); ++i)
            block[i] = frames[i * static_cast<size_t>(info.channels)];
        before = ThreadCpuSeconds();
        EstimateBlockPitch(block.data(), info.samplerate);
        costs.pitch += ThreadCpuSeconds() - before;

        uint64_t hash = 0, size = 0;
        before = ThreadCpuSeconds();
        contentHash(file.path, &hash, &size);
        costs.hash += ThreadCpuSeconds() - before;
    }
    return costs;
}

void BM_FirstScan(benchmark::State& state) {
    for (auto _ : state) {
        fs::remove_all(gIndex);
        const ScanFigures scan = TimedScan(true, 0);
        const double decode = DecodeCpuSeconds();
        const double audio = TotalAudioSeconds();
        const double scanRate = audio / scan.cpuSeconds;
        const double decodeRate = audio / decode;
        state.counters["files_per_s"] = scan.files / scan.wallSeconds;
        state.counters["audio_s_per_cpu_s"] = scanRate;
        state.counters["decode_audio_s_per_cpu_s"] = decodeRate;
        state.counters["scan_vs_decode"] = scanRate / decodeRate;
        std::printf("first scan: %d files in %.2f s = %.1f files/s; %.1f audio-s per CPU-s "
                    "(plain decode %.1f; ratio %.3f, target >= 0.333)\n",
                    scan.files, scan.wallSeconds, scan.files / scan.wallSeconds, scanRate, decodeRate,
                    scanRate / decodeRate);
        const CostBreakdown costs = MeasureCosts();
        state.counters["feature_pass_cpu_s"] = costs.features;
        std::printf("where the first scan's %.3f CPU-s go, each part timed alone: decode %.3f s, "
                    "feature pass %.3f s (of which pitch %.4f s), content hash %.3f s\n",
                    scan.cpuSeconds, decode, costs.features, costs.pitch, costs.hash);
        gFirstScanWallSeconds = scan.wallSeconds;
        gFirstScanCpuSeconds = scan.cpuSeconds;
    }
}

void BM_Rescan(benchmark::State& state) {
    for (auto _ : state) {
        const ScanFigures scan = TimedScan(false, 0);
        state.counters["files_per_s"] = scan.files / scan.wallSeconds;
        state.counters["audio_files_opened"] = static_cast<double>(scan.opens);
        std::printf("rescan: %d files in %.3f s = %.0f files/s, %.0fx the first scan (target >= 50x; "
                    "%.0fx in CPU time); audio files opened: %llu (must be 0)\n",
                    scan.files, scan.wallSeconds, scan.files / scan.wallSeconds,
                    gFirstScanWallSeconds / scan.wallSeconds, gFirstScanCpuSeconds / scan.cpuSeconds,
                    static_cast<unsigned long long>(scan.opens));
    }
}

// Shared machines make wall-clock scaling depend on what else runs; plain decoding
// spread over the same number of threads, measured in the same run, is the peer.
void BM_ThreadScaling(benchmark::State& state) {
    for (auto _ : state) {
        const ScanFigures one = TimedScan(true, 1);
        const ScanFigures two = TimedScan(true, 2);
        const double decodeScaling = DecodeWallSeconds(1) / DecodeWallSeconds(2);
        const double scaling = one.wallSeconds / two.wallSeconds;
        state.counters["files_per_s_1_thread"] = one.files / one.wallSeconds;
        state.counters["files_per_s_2_threads"] = two.files / two.wallSeconds;
        state.counters["scaling"] = scaling;
        state.counters["decode_scaling"] = decodeScaling;
        std::printf("threads: 1 worker %.1f files/s (%.2f CPU-s), 2 workers %.1f files/s (%.2f CPU-s), "
                    "scaling %.2fx (target >= 1.7x); plain decode on 2 threads scales %.2fx now; "
                    "scan/decode scaling %.2f\n",
                    one.files / one.wallSeconds, one.cpuSeconds, two.files / two.wallSeconds, two.cpuSeconds, scaling,
                    decodeScaling, scaling / decodeScaling);
    }
}

}  // namespace

BENCHMARK(BM_FirstScan)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Rescan)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreadScaling)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    std::string pattern = (fs::temp_directory_path() / "morvane-scan-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    gCorpus = pattern + "/corpus";
    gIndex = pattern + "/index";
    MakeCorpus();
    uintmax_t bytes = 0;
    for (const CorpusFile& file : gFiles) bytes += fs::file_size(file.path);
    std::printf("corpus: %zu files, %.0f MB, %.0f s of audio analysed\n", gFiles.size(), bytes / 1e6,
                TotalAudioSeconds());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(pattern);
    return 0;
}
