#include "library/features.h"

#include <fftw3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "library/ucs.h"

namespace morvane {

struct AnalysisContext {
    float* input = nullptr;
    fftwf_complex* output = nullptr;
    fftwf_plan plan = nullptr;
    std::vector<float> window;
    std::vector<float> frames;  // interleaved read buffer, grown to the widest file seen
};

namespace {

constexpr int kBins = kFeatureBlock / 2;  // bins 0..1023; the Nyquist bin is not used
constexpr double kPi = 3.14159265358979323846;

// FFTW's planner is not thread-safe; only plan creation and destruction need the lock.
std::mutex& PlannerMutex() {
    static std::mutex mutex;
    return mutex;
}

void DestroyContext(AnalysisContext* context) {
    if (context == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(PlannerMutex());
        if (context->plan != nullptr) fftwf_destroy_plan(context->plan);
    }
    fftwf_free(context->input);
    fftwf_free(context->output);
    delete context;
}

int BinOf(double frequency, double binWidth) {
    const int bin = static_cast<int>(frequency / binWidth);
    return std::clamp(bin, 0, kBins - 1);
}

struct PitchResult {
    bool kept = false;
    double confidence = 0.0;
    double frequency = 0.0;
};

// YIN over one block: difference function, cumulative-mean normalisation, absolute
// threshold 0.15 followed down to the local minimum, parabolic refinement.
PitchResult EstimatePitch(const std::vector<float>& x, int sampleRate) {
    constexpr int W = kFeatureBlock / 2;
    PitchResult result;
    const int minLag = std::max(2, sampleRate / 10000);
    const int maxLag = std::min(sampleRate / 30, W - 1);
    if (minLag > maxLag) return result;
    std::vector<double> d(W, 0.0), dn(W, 1.0);
    for (int tau = 1; tau < W; ++tau) {
        double sum = 0.0;
        for (int j = 0; j < W; ++j) {
            const double diff = static_cast<double>(x[static_cast<size_t>(j)]) -
                                x[static_cast<size_t>(j + tau)];
            sum += diff * diff;
        }
        d[static_cast<size_t>(tau)] = sum;
    }
    double running = 0.0;
    for (int tau = 1; tau < W; ++tau) {
        running += d[static_cast<size_t>(tau)];
        dn[static_cast<size_t>(tau)] = running > 0.0 ? d[static_cast<size_t>(tau)] * tau / running : 1.0;
    }
    int lag = -1;
    for (int tau = minLag; tau <= maxLag; ++tau) {
        if (dn[static_cast<size_t>(tau)] < 0.15) {
            while (tau + 1 <= maxLag && dn[static_cast<size_t>(tau + 1)] < dn[static_cast<size_t>(tau)]) ++tau;
            lag = tau;
            break;
        }
    }
    bool rejected = false;
    if (lag < 0) {
        lag = minLag;
        for (int tau = minLag; tau <= maxLag; ++tau)
            if (dn[static_cast<size_t>(tau)] < dn[static_cast<size_t>(lag)]) lag = tau;
        rejected = dn[static_cast<size_t>(lag)] > 0.5;
    }
    const double d0 = dn[static_cast<size_t>(lag)];
    result.kept = true;
    result.confidence = std::clamp(1.0 - d0, 0.0, 1.0);
    if (rejected) return result;
    double refined = lag;
    if (lag - 1 >= 1 && lag + 1 <= W - 1) {
        const double dm = dn[static_cast<size_t>(lag - 1)];
        const double dp = dn[static_cast<size_t>(lag + 1)];
        const double denominator = 2.0 * (2.0 * d0 - dp - dm);
        if (std::fabs(denominator) > 1e-9) refined = lag + (dp - dm) / denominator;
    }
    if (refined > 0.0) result.frequency = sampleRate / refined;
    return result;
}

}  // namespace

void AnalysisContextDeleter::operator()(AnalysisContext* context) const { DestroyContext(context); }

AnalysisContextPtr MakeAnalysisContext() {
    AnalysisContextPtr context(new AnalysisContext);
    context->input = static_cast<float*>(fftwf_malloc(sizeof(float) * kFeatureBlock));
    context->output = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (kBins + 1)));
    if (context->input == nullptr || context->output == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> lock(PlannerMutex());
        context->plan = fftwf_plan_dft_r2c_1d(kFeatureBlock, context->input, context->output, FFTW_ESTIMATE);
    }
    if (context->plan == nullptr) return nullptr;
    context->window.resize(kFeatureBlock);
    for (int i = 0; i < kFeatureBlock; ++i)
        context->window[static_cast<size_t>(i)] =
            static_cast<float>(0.5 * (1.0 - std::cos(2.0 * kPi * i / kFeatureBlock)));
    return context;
}

bool ComputeFeatures(const FrameReader& read, int64_t frames, int sampleRate, int channels,
                     AnalysisContext* context, LibraryEntry& entry) {
    if (sampleRate < 1 || channels < 1 || frames < 1) return false;
    AnalysisContextPtr privateContext;
    if (context == nullptr) {
        privateContext = MakeAnalysisContext();
        context = privateContext.get();
        if (context == nullptr) return false;
    }
    const int64_t analysed = std::min<int64_t>(static_cast<int64_t>(sampleRate) * 30, frames);
    const double binWidth = static_cast<double>(sampleRate) / kFeatureBlock;
    static const double kBandEdges[6] = {20, 150, 750, 2000, 6000, 16000};
    int edges[6];
    for (int b = 0; b < 6; ++b) edges[b] = BinOf(kBandEdges[b], binWidth);
    const int highBin = BinOf(2000, binWidth);
    const int lowestPitchBin = BinOf(50, binWidth);

    context->frames.resize(static_cast<size_t>(kFeatureBlock) * static_cast<size_t>(channels));
    std::vector<float> mono(kFeatureBlock);
    std::vector<float> magnitude(kBins), previous(kBins);
    std::vector<float> pitchBuffer;
    std::vector<double> blockRms;

    double peak = 0.0, sumSquares = 0.0, sumWeighted = 0.0;
    int64_t peakIndex = 0, crossings = 0, samples = 0;
    bool lastNonNegative = true;
    double bands[5] = {0, 0, 0, 0, 0};
    double centroidMagnitude = 0, centroidWeighted = 0, fullSum = 0, highSum = 0;
    double fluxSum = 0;
    int fluxCount = 0;
    double flatLogSum = 0, flatMeanSum = 0;
    int flatCount = 0;
    double harmonicSum = 0;
    int harmonicCount = 0;
    int fullBlocks = 0;
    double largestRms = 0.0;

    int blockIndex = 0;
    while (samples < analysed) {
        const int64_t want = std::min<int64_t>(kFeatureBlock, analysed - samples);
        const int64_t got = read(context->frames.data(), want);
        if (got <= 0) break;
        const int count = static_cast<int>(std::min<int64_t>(got, want));
        double blockSquares = 0.0;
        for (int i = 0; i < count; ++i) {
            double sum = 0.0;
            const float* frame = context->frames.data() + static_cast<size_t>(i) * static_cast<size_t>(channels);
            for (int c = 0; c < channels; ++c) sum += frame[c];
            double x = sum / channels;
            if (!std::isfinite(x)) x = 0.0;  // float files may hold NaN or infinity
            mono[static_cast<size_t>(i)] = static_cast<float>(x);
            const int64_t n = samples + i;
            const double magnitudeX = std::fabs(x);
            if (magnitudeX > peak) {
                peak = magnitudeX;
                peakIndex = n;
            }
            sumSquares += x * x;
            sumWeighted += static_cast<double>(n) * x * x;
            blockSquares += x * x;
            const bool nonNegative = x >= 0.0;
            if (n > 0 && nonNegative != lastNonNegative) ++crossings;
            lastNonNegative = nonNegative;
        }
        samples += count;
        const double rms = std::sqrt(blockSquares / count);
        blockRms.push_back(rms);
        largestRms = std::max(largestRms, rms);

        if (count == kFeatureBlock) {
            for (int i = 0; i < kFeatureBlock; ++i)
                context->input[i] = mono[static_cast<size_t>(i)] * context->window[static_cast<size_t>(i)];
            fftwf_execute(context->plan);
            for (int k = 0; k < kBins; ++k) {
                const double re = context->output[k][0], im = context->output[k][1];
                magnitude[static_cast<size_t>(k)] = static_cast<float>(std::sqrt(re * re + im * im));
            }
            for (int b = 0; b < 5; ++b)
                for (int k = edges[b]; k < edges[b + 1]; ++k) bands[b] += magnitude[static_cast<size_t>(k)];
            double total = 0.0;  // bins 1..1023, shared by centroid, flatness and harmonicity
            double logSum = 0.0, magSum = 0.0;
            int qualified = 0;
            for (int k = 1; k < kBins; ++k) {
                const double m = magnitude[static_cast<size_t>(k)];
                total += m;
                centroidWeighted += k * binWidth * m;
                if (m > 1e-12) {
                    logSum += std::log(static_cast<float>(m));  // float log: this runs for every bin
                    magSum += m;
                    ++qualified;
                }
            }
            centroidMagnitude += total;
            fullSum += total + magnitude[0];
            for (int k = highBin; k < kBins; ++k) highSum += magnitude[static_cast<size_t>(k)];
            if (fullBlocks > 0) {
                double flux = 0.0;
                for (int k = 0; k < kBins; ++k) {
                    const double diff = magnitude[static_cast<size_t>(k)] - previous[static_cast<size_t>(k)];
                    flux += diff * diff;
                }
                fluxSum += std::sqrt(flux);
                ++fluxCount;
            }
            if (qualified > 0 && magSum / qualified > 0.0) {
                flatLogSum += logSum / qualified;
                flatMeanSum += magSum / qualified;
                ++flatCount;
            }
            int strongest = lowestPitchBin;
            for (int k = lowestPitchBin; k < kBins; ++k)
                if (magnitude[static_cast<size_t>(k)] > magnitude[static_cast<size_t>(strongest)]) strongest = k;
            if (strongest >= 1 && magnitude[static_cast<size_t>(strongest)] > 1e-10) {
                double harmonic = 0.0;
                for (int h = 1; h <= 8 && h * strongest < kBins; ++h)
                    for (int k = h * strongest - 2; k <= h * strongest + 2; ++k)
                        if (k >= 1 && k < kBins) harmonic += magnitude[static_cast<size_t>(k)];
                if (total > 0.0) {
                    harmonicSum += harmonic / total;
                    ++harmonicCount;
                }
            }
            if (pitchBuffer.empty() && blockIndex >= 1 && rms > 0.5 * largestRms && rms > 0.01)
                pitchBuffer = mono;
            previous.swap(magnitude);
            ++fullBlocks;
        }
        ++blockIndex;
        if (count < want) break;
    }
    if (samples == 0 || fullBlocks == 0) return false;

    float* f = entry.features;
    const double rms = std::sqrt(sumSquares / static_cast<double>(samples));
    f[12] = rms > 0.0 ? static_cast<float>(20.0 * std::log10(rms)) : -100.0f;
    f[8] = f[11] = rms > 0.0 ? static_cast<float>(20.0 * std::log10(peak / rms)) : 0.0f;
    const double span = static_cast<double>(std::min(analysed, samples));
    f[9] = span > 0 ? static_cast<float>(peakIndex / span) : 0.0f;
    f[10] = static_cast<float>(std::min(1.0, static_cast<double>(crossings) / samples * 4.0));
    if (sumSquares > 0.0)
        f[13] = static_cast<float>(std::clamp(sumWeighted / sumSquares / span, 0.0, 1.0));
    const double largestBand = *std::max_element(bands, bands + 5);
    if (largestBand > 0.0)
        for (int b = 0; b < 5; ++b) f[b] = static_cast<float>(bands[b] / largestBand);
    const double bandTotal = f[0] + f[1] + f[2] + f[3] + f[4];
    if (bandTotal > 0.0)
        f[7] = static_cast<float>((0.1 * f[0] + 0.3 * f[1] + 0.5 * f[2] + 0.7 * f[3] + 0.9 * f[4]) / bandTotal);
    if (centroidMagnitude > 0.0) {
        const double centroid = centroidWeighted / centroidMagnitude;
        f[5] = static_cast<float>(
            std::clamp((std::log10(std::max(100.0, centroid)) - 2.0) / (std::log10(8000.0) - 2.0), 0.0, 1.0));
    }
    f[6] = fullSum > 0.0 ? static_cast<float>(highSum / fullSum) : 0.0f;
    if (fluxCount > 0) f[14] = static_cast<float>(std::clamp(fluxSum / fluxCount / 30.0, 0.0, 1.0));
    if (flatCount > 0) {
        const double meanOfMeans = flatMeanSum / flatCount;
        if (meanOfMeans > 1e-12)
            entry.spectralFlatness =
                static_cast<float>(std::clamp(std::exp(flatLogSum / flatCount) / meanOfMeans, 0.0, 1.0));
    }
    if (harmonicCount > 0) entry.harmonicity = static_cast<float>(std::clamp(harmonicSum / harmonicCount, 0.0, 1.0));

    if (!pitchBuffer.empty()) {
        const PitchResult pitch = EstimatePitch(pitchBuffer, sampleRate);
        if (pitch.kept) {
            entry.pitchConfidence = static_cast<float>(pitch.confidence);
            if (pitch.frequency > 20.0 && pitch.frequency < 10000.0 && pitch.confidence > 0.3) {
                f[15] = static_cast<float>(pitch.frequency);
                const double note = 69.0 + 12.0 * std::log2(pitch.frequency / 440.0);
                const int rounded = std::clamp(static_cast<int>(std::lround(note)), 0, 127);
                entry.midiNote = rounded;
                entry.pitchCents = static_cast<float>((note - rounded) * 100.0);
            }
        }
    }

    if (blockRms.size() >= 3) {
        const size_t loudest = static_cast<size_t>(std::max_element(blockRms.begin(), blockRms.end()) - blockRms.begin());
        const double largest = blockRms[loudest];
        size_t onset = 0;
        for (size_t i = 0; i < blockRms.size(); ++i)
            if (blockRms[i] > 0.15 * largest) {
                onset = i;
                break;
            }
        entry.onsetPosition = static_cast<float>(static_cast<double>(onset) / static_cast<double>(blockRms.size()));
        entry.attackTime = static_cast<float>(
            std::max(0.0, (static_cast<double>(loudest) - static_cast<double>(onset)) * kFeatureBlock / sampleRate));
    }
    return true;
}

namespace {

std::string CountText(size_t count) {
    char text[48];
    const unsigned long long n = count;
    if (n < 1000) std::snprintf(text, sizeof text, "%llu", n);
    else if (n < 1000000) std::snprintf(text, sizeof text, "%llu,%03llu", n / 1000, n % 1000);
    else std::snprintf(text, sizeof text, "%llu,%03llu,%03llu", n / 1000000, (n / 1000) % 1000, n % 1000);
    return text;
}

const std::set<std::string>& UcsSynonymWords() {
    static const std::set<std::string> words = [] {
        std::set<std::string> all;
        for (int i = 0; i < kUcsRowCount; ++i)
            for (const std::string& token : NameTokens(kUcsRows[i].synonyms))
                if (token.size() >= 3) all.insert(token);
        return all;
    }();
    return words;
}

bool IsCommonNameWord(const std::string& word) {
    static const char* const kCommon[] = {"the",  "and",   "with",  "from",   "this", "that",   "designed",
                                          "misc", "mono",  "stereo", "final", "take", "master", "edit"};
    for (const char* common : kCommon)
        if (word == common) return true;
    return false;
}

// Up to five words by falling count (ties alphabetical), joined with ", ".
std::string TopWords(const std::map<std::string, int>& counts) {
    std::vector<std::pair<std::string, int>> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string out;
    for (size_t i = 0; i < sorted.size() && i < 5; ++i) {
        if (!out.empty()) out += ", ";
        out += sorted[i].first;
    }
    return out;
}

}  // namespace

void MakeLibrarySummary(Library& library) {
    const size_t count = library.entries.size();
    std::string text = CountText(count) + " files";

    if (count > 0) {
        double means[5] = {0, 0, 0, 0, 0};
        for (const LibraryEntry& entry : library.entries)
            for (int b = 0; b < 5; ++b) means[b] += entry.features[b];
        for (double& mean : means) mean /= static_cast<double>(count);
        const double largest = *std::max_element(means, means + 5);
        if (largest > 1e-6) {
            static const char* const kToneWords[5] = {"sub-heavy", "low-end", "mid-range", "bright", "airy"};
            double normal[5];
            for (int b = 0; b < 5; ++b) normal[b] = means[b] / largest;
            if (*std::min_element(normal, normal + 5) > 0.7) {
                text += ", balanced";
            } else {
                int strongest = 0;
                for (int b = 1; b < 5; ++b)
                    if (normal[b] > normal[strongest]) strongest = b;
                text += ", ";
                text += kToneWords[strongest];
                for (int b = 0; b < 5; ++b) {
                    if (b == strongest || std::abs(b - strongest) <= 1 || normal[b] <= 0.6) continue;
                    text += " and ";
                    text += kToneWords[b];
                    break;
                }
            }
        }
        size_t lengths[3] = {0, 0, 0};  // transient, medium, sustained
        for (const LibraryEntry& entry : library.entries) {
            if (entry.duration < 0.5f) ++lengths[0];
            else if (entry.duration >= 3.0f) ++lengths[2];
            else ++lengths[1];
        }
        static const char* const kLengthWords[3] = {"transient", "medium", "sustained"};
        int order[3] = {0, 1, 2};
        std::stable_sort(order, order + 3, [&](int a, int b) { return lengths[a] > lengths[b]; });
        const double total = static_cast<double>(count);
        if (lengths[order[0]] > 0) {
            text += ", ";
            if (lengths[order[0]] / total > 0.65) text += "mostly ";
            text += kLengthWords[order[0]];
            if (lengths[order[1]] / total > 0.25) {
                text += ", ";
                text += kLengthWords[order[1]];
            }
        }
    }
    library.summary = text;

    std::map<std::string, int> nameWords, ucsWords;
    const std::set<std::string>& synonyms = UcsSynonymWords();
    for (const LibraryEntry& entry : library.entries) {
        std::set<std::string> seen;  // a word counts once per file
        for (const std::string& token : NameTokens(entry.name)) {
            if (token.size() < 3 || IsCommonNameWord(token) || !seen.insert(token).second) continue;
            if (std::any_of(token.begin(), token.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
                continue;
            ++nameWords[token];
            if (synonyms.count(token) != 0) ++ucsWords[token];
        }
    }
    library.nameSummary = nameWords.empty() ? std::string() : "Common words: " + TopWords(nameWords);
    library.ucsSummary = ucsWords.empty() ? std::string() : "Categories: " + TopWords(ucsWords);
}

}  // namespace morvane
