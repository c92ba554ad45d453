#include "library/features.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cfloat>
#include <complex>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "library/fft.h"
#include "library/pitch.h"
#include "library/ucs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvane {

struct AnalysisContext {
    RealFftPtr spectrum;  // of one analysis block
    std::vector<float> window;
    std::vector<float> frames;  // interleaved read buffer, grown to the widest file seen
    std::vector<float> mono, magnitude, previous, pitchBuffer;
    std::vector<double> blockRms, cumulative;
};

namespace {

constexpr int kBins = kFeatureBlock / 2;     // bins 0..1023; the Nyquist bin is not used
constexpr int kPitchWindow = kFeatureBlock / 2;  // YIN difference window W, in lags
constexpr double kPi = 3.14159265358979323846;
constexpr double kLn2 = 0.69314718055994530942;

int BinOf(double frequency, double binWidth) {
    const int bin = static_cast<int>(frequency / binWidth);
    return std::clamp(bin, 0, kBins - 1);
}

// YIN over one block, with a difference window of half the block.
PitchEstimate EstimatePitch(const float* x, int sampleRate) {
    YinSearch search;
    search.window = kPitchWindow;
    search.minLag = std::max(2, sampleRate / 10000);
    search.maxLag = std::min(sampleRate / 30, kPitchWindow - 1);
    const YinPitch pitch = FindPitchYin(x, kFeatureBlock, sampleRate, search);
    PitchEstimate result;
    result.kept = pitch.searched;
    result.confidence = pitch.confidence;
    result.frequency = pitch.frequency;
    return result;
}

// The loudest sample of a block and where it is (the first of equals).
struct BlockPeak {
    double value = 0.0;
    int at = 0;
};

#if defined(__SSE2__)
// Zeroes NaN and infinity in four samples: |x| <= FLT_MAX is false for both.
inline __m128 FiniteOrZero(__m128 x, __m128 absMask, __m128 largest) {
    return _mm_and_ps(x, _mm_cmple_ps(_mm_and_ps(x, absMask), largest));
}

inline float HorizontalMax(__m128 v) {
    v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtss_f32(v);
}
#endif

// Mixes `count` interleaved frames to mono as the mean of the channels. Float files
// may hold NaN or infinity; such a frame counts as silence. The peak is the largest
// unrounded mean (the first of equals), so that near-equal peaks of a mix keep their
// order whatever rounding the mono samples had.
BlockPeak MixToMono(const float* frames, int count, int channels, float* mono) {
    BlockPeak peak;
    if (channels <= 2) {
        float largest = 0.0f;
        int i = 0;
#if defined(__SSE2__)
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 finiteLimit = _mm_set1_ps(FLT_MAX);
        const __m128 half = _mm_set1_ps(0.5f);
        __m128 largest4 = _mm_setzero_ps();
        for (; i + 4 <= count; i += 4) {
            __m128 x;
            if (channels == 1) {
                x = _mm_loadu_ps(frames + i);
            } else {
                // Halving first cannot overflow, and the sum rounds once, as the
                // exact mean would.
                const __m128 low = _mm_loadu_ps(frames + 2 * i);       // a0 b0 a1 b1
                const __m128 high = _mm_loadu_ps(frames + 2 * i + 4);  // a2 b2 a3 b3
                const __m128 a = _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
                const __m128 b = _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));
                x = _mm_add_ps(_mm_mul_ps(a, half), _mm_mul_ps(b, half));
            }
            x = FiniteOrZero(x, absMask, finiteLimit);
            _mm_storeu_ps(mono + i, x);
            largest4 = _mm_max_ps(largest4, _mm_and_ps(x, absMask));
        }
        largest = HorizontalMax(largest4);
#endif
        for (; i < count; ++i) {
            float x = channels == 1 ? frames[i] : frames[2 * i] * 0.5f + frames[2 * i + 1] * 0.5f;
            if (!std::isfinite(x)) x = 0.0f;
            mono[i] = x;
            largest = std::max(largest, std::fabs(x));
        }
        if (largest <= 0.0f) return peak;
        // Rounding to float keeps order, so the largest exact mean is among the
        // samples that round to the largest float.
        for (int j = 0; j < count; ++j) {
            if (std::fabs(mono[j]) != largest) continue;
            const double exact = channels == 1 ? std::fabs(mono[j])
                                               : std::fabs((static_cast<double>(frames[2 * j]) + frames[2 * j + 1]) / 2);
            if (exact > peak.value) {
                peak.value = exact;
                peak.at = j;
            }
            if (channels == 1) break;
        }
        return peak;
    }
    for (int i = 0; i < count; ++i) {
        const float* frame = frames + static_cast<size_t>(i) * static_cast<size_t>(channels);
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += frame[c];
        double x = sum / channels;
        if (!std::isfinite(x)) x = 0.0;
        mono[i] = static_cast<float>(x);
        if (std::fabs(x) > peak.value) {
            peak.value = std::fabs(x);
            peak.at = i;
        }
    }
    return peak;
}

// ln(m) summed over many magnitudes without a logarithm per bin: each float is split
// into its binary exponent (summed as an integer) and its mantissa in [1, 2)
// (multiplied up). Two products of at most 512 mantissas each stay below 2^512.
struct LogSum {
    double product[2] = {1.0, 1.0};
    int64_t exponents = 0;

    void Add(float m, int lane) {
        uint32_t bits;
        std::memcpy(&bits, &m, sizeof bits);
        exponents += static_cast<int64_t>((bits >> 23) & 0xFFu) - 127;
        bits = (bits & 0x007FFFFFu) | 0x3F800000u;
        float mantissa;
        std::memcpy(&mantissa, &bits, sizeof mantissa);
        product[lane] *= mantissa;
    }
    double Value() const { return std::log(product[0]) + std::log(product[1]) + static_cast<double>(exponents) * kLn2; }
};


// Time-domain sums of one mono block: squares, squares weighted by the block-local
// position, and sign changes (the first sample is compared with `nonNegativeBefore`).
struct BlockSums {
    double squares = 0.0;
    double weighted = 0.0;
    int crossings = 0;
    bool lastNonNegative = true;
};

BlockSums TimeDomainSums(const float* mono, int count, bool nonNegativeBefore) {
    // Two interleaved partial sums so that the additions do not wait on each other.
    double squaresEven = 0.0, squaresOdd = 0.0, weightedEven = 0.0, weightedOdd = 0.0;
    double position = 0.0;
    int i = 0;
    for (; i + 2 <= count; i += 2, position += 2.0) {
        const double a = mono[i], b = mono[i + 1];
        const double squareA = a * a, squareB = b * b;
        squaresEven += squareA;
        squaresOdd += squareB;
        weightedEven += position * squareA;
        weightedOdd += (position + 1.0) * squareB;
    }
    if (i < count) {
        const double a = mono[i];
        squaresEven += a * a;
        weightedEven += position * a * a;
    }
    BlockSums sums;
    sums.squares = squaresEven + squaresOdd;
    sums.weighted = weightedEven + weightedOdd;
    // A crossing is a sign change between neighbours; comparing each sample with the
    // one before it leaves no dependency from one sample to the next.
    int crossings = (mono[0] >= 0.0f) != nonNegativeBefore;
    int j = 1;
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps();
    __m128i changes = _mm_setzero_si128();
    for (; j + 4 <= count; j += 4) {
        const __m128 now = _mm_cmpge_ps(_mm_loadu_ps(mono + j), zero);
        const __m128 before = _mm_cmpge_ps(_mm_loadu_ps(mono + j - 1), zero);
        changes = _mm_sub_epi32(changes, _mm_castps_si128(_mm_xor_ps(now, before)));  // mask is -1
    }
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), changes);
    crossings += lanes[0] + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; j < count; ++j) crossings += (mono[j] >= 0.0f) != (mono[j - 1] >= 0.0f);
    sums.crossings = crossings;
    sums.lastNonNegative = mono[count - 1] >= 0.0f;
    return sums;
}

void ApplyWindow(const float* mono, const float* window, float* out) {
#if defined(__SSE2__)
    for (int i = 0; i < kFeatureBlock; i += 4)
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(mono + i), _mm_loadu_ps(window + i)));
#else
    for (int i = 0; i < kFeatureBlock; ++i) out[i] = mono[i] * window[i];
#endif
}

// |X[k]| for bins 0..1023, capped at the largest float so that absurd sample values
// in a float file cannot turn the sums into infinity or NaN.
void Magnitudes(const std::complex<float>* spectrum, float* magnitude) {
#if defined(__SSE2__)
    const __m128 cap = _mm_set1_ps(FLT_MAX);
    const float* values = reinterpret_cast<const float*>(spectrum);
    for (int k = 0; k < kBins; k += 4) {
        const __m128 low = _mm_loadu_ps(values + 2 * k);       // re0 im0 re1 im1
        const __m128 high = _mm_loadu_ps(values + 2 * k + 4);  // re2 im2 re3 im3
        const __m128 re = _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 im = _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 power = _mm_add_ps(_mm_mul_ps(re, re), _mm_mul_ps(im, im));
        _mm_storeu_ps(magnitude + k, _mm_min_ps(_mm_sqrt_ps(power), cap));
    }
#else
    for (int k = 0; k < kBins; ++k) {
        const double re = spectrum[k].real(), im = spectrum[k].imag();
        magnitude[k] = static_cast<float>(std::min<double>(std::sqrt(re * re + im * im), FLT_MAX));
    }
#endif
}

// The per-block spectral sums, in one pass over the magnitudes.
struct SpectrumSums {
    double weighted = 0.0;      // sum of k * m[k], bins 1..1023
    double flux = 0.0;          // sum of (m[k] - previous[k])^2, bins 0..1023
    double qualifiedSum = 0.0;  // sum of m[k] > 1e-12, bins 1..1023
    double logSum = 0.0;        // sum of ln m[k] over the same bins
    int qualified = 0;
    int strongest = 0;          // first largest bin from lowestPitchBin on
};

// `cumulative[k]` receives the sum of m[0..k-1] (k = 0..1024), so that every band
// is a difference of two entries.
SpectrumSums SumSpectrum(const float* magnitude, const float* previous, int lowestPitchBin, double* cumulative) {
    SpectrumSums sums;
    double running = magnitude[0];
    cumulative[0] = 0.0;
    cumulative[1] = running;
    const double change0 = static_cast<double>(magnitude[0]) - previous[0];
    double fluxEven = change0 * change0, fluxOdd = 0.0;
    double weightedEven = 0.0, weightedOdd = 0.0;
    double qualifiedEven = 0.0, qualifiedOdd = 0.0;
    LogSum logs;
    int qualified = 0;
    int strongest = lowestPitchBin;
    float strongestMagnitude = lowestPitchBin == 0 ? magnitude[0] : -1.0f;

    auto bin = [&](int k, double& weighted, double& flux, double& qualifiedSum, int lane) {
        const float m = magnitude[k];
        running += m;
        cumulative[k + 1] = running;
        weighted += static_cast<double>(k) * m;
        const double change = static_cast<double>(m) - previous[k];
        flux += change * change;
        if (m > 1e-12f) {
            logs.Add(m, lane);
            qualifiedSum += m;
            ++qualified;
        }
        if (m > strongestMagnitude && k >= lowestPitchBin) {
            strongestMagnitude = m;
            strongest = k;
        }
    };
    int k = 1;
    for (; k + 2 <= kBins; k += 2) {
        bin(k, weightedOdd, fluxOdd, qualifiedOdd, 1);
        bin(k + 1, weightedEven, fluxEven, qualifiedEven, 0);
    }
    if (k < kBins) bin(k, weightedOdd, fluxOdd, qualifiedOdd, 1);

    sums.weighted = weightedEven + weightedOdd;
    sums.flux = fluxEven + fluxOdd;
    sums.qualifiedSum = qualifiedEven + qualifiedOdd;
    sums.logSum = qualified > 0 ? logs.Value() : 0.0;
    sums.qualified = qualified;
    sums.strongest = strongest;
    return sums;
}

}  // namespace

void AnalysisContextDeleter::operator()(AnalysisContext* context) const { delete context; }

AnalysisContextPtr MakeAnalysisContext() {
    AnalysisContextPtr context(new AnalysisContext);
    context->spectrum = MakeRealFft(kFeatureBlock);
    if (!context->spectrum) return nullptr;
    context->window.resize(kFeatureBlock);
    for (int i = 0; i < kFeatureBlock; ++i)
        context->window[static_cast<size_t>(i)] =
            static_cast<float>(0.5 * (1.0 - std::cos(2.0 * kPi * i / kFeatureBlock)));
    context->mono.assign(kFeatureBlock, 0.0f);
    context->magnitude.assign(kBins, 0.0f);
    context->previous.assign(kBins, 0.0f);
    context->pitchBuffer.assign(kFeatureBlock, 0.0f);
    context->cumulative.assign(kBins + 1, 0.0);
    return context;
}

PitchEstimate EstimateBlockPitch(const float* block, int sampleRate) {
    return EstimatePitch(block, sampleRate);
}

bool ComputeFeatures(const FrameReader& read, int64_t frames, int sampleRate, int channels,
                     AnalysisContext* givenContext, LibraryEntry& entry) {
    if (sampleRate < 1 || channels < 1 || frames < 1) return false;
    AnalysisContextPtr holder;
    if (givenContext == nullptr && !(holder = MakeAnalysisContext())) return false;
    AnalysisContext& context = givenContext != nullptr ? *givenContext : *holder;

    const int64_t analysed = std::min<int64_t>(static_cast<int64_t>(sampleRate) * 30, frames);
    const double binWidth = static_cast<double>(sampleRate) / kFeatureBlock;
    static const double kBandEdges[6] = {20, 150, 750, 2000, 6000, 16000};
    int edges[6];
    for (int b = 0; b < 6; ++b) edges[b] = BinOf(kBandEdges[b], binWidth);
    const int highBin = BinOf(2000, binWidth);
    const int lowestPitchBin = BinOf(50, binWidth);

    const size_t frameValues = static_cast<size_t>(kFeatureBlock) * static_cast<size_t>(channels);
    if (context.frames.size() < frameValues) context.frames.resize(frameValues);
    float* mono = context.mono.data();
    float* magnitude = context.magnitude.data();
    float* previous = context.previous.data();
    const float* window = context.window.data();
    std::vector<double>& blockRms = context.blockRms;
    blockRms.clear();
    bool havePitchBuffer = false;

    double peak = 0.0, sumSquares = 0.0, sumWeighted = 0.0;
    int64_t peakIndex = 0, crossings = 0, samples = 0;
    bool lastNonNegative = true;
    double bands[kFeatureBandCount] = {};
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
        const int64_t got = read(context.frames.data(), want);
        if (got <= 0) break;
        const int count = static_cast<int>(std::min<int64_t>(got, want));
        const BlockPeak blockPeak = MixToMono(context.frames.data(), count, channels, mono);

        const BlockSums sums = TimeDomainSums(mono, count, samples == 0 ? mono[0] >= 0.0f : lastNonNegative);
        lastNonNegative = sums.lastNonNegative;
        crossings += sums.crossings;
        const double blockSquares = sums.squares;
        if (blockPeak.value > peak) {
            peak = blockPeak.value;
            peakIndex = samples + blockPeak.at;
        }
        sumSquares += blockSquares;
        sumWeighted += sums.weighted + static_cast<double>(samples) * blockSquares;
        samples += count;
        const double rms = std::sqrt(blockSquares / count);
        blockRms.push_back(rms);
        largestRms = std::max(largestRms, rms);

        if (count == kFeatureBlock) {
            ApplyWindow(mono, window, context.spectrum->input);
            RunRealFft(*context.spectrum);
            Magnitudes(context.spectrum->output, magnitude);
            const SpectrumSums spectrum = SumSpectrum(magnitude, previous, lowestPitchBin, context.cumulative.data());
            const double* cumulative = context.cumulative.data();
            for (int b = 0; b < kFeatureBandCount; ++b) bands[b] += cumulative[edges[b + 1]] - cumulative[edges[b]];
            highSum += cumulative[kBins] - cumulative[highBin];
            const double blockTotal = cumulative[kBins] - cumulative[1];  // bins 1..1023
            centroidMagnitude += blockTotal;
            centroidWeighted += spectrum.weighted * binWidth;
            fullSum += cumulative[kBins];
            if (fullBlocks > 0) {
                fluxSum += std::sqrt(spectrum.flux);
                ++fluxCount;
            }
            if (spectrum.qualified > 0 && spectrum.qualifiedSum / spectrum.qualified > 0.0) {
                flatLogSum += spectrum.logSum / spectrum.qualified;
                flatMeanSum += spectrum.qualifiedSum / spectrum.qualified;
                ++flatCount;
            }
            const int strongest = spectrum.strongest;
            if (strongest >= 1 && magnitude[strongest] > 1e-10f) {
                double harmonic = 0.0;
                for (int h = 1; h <= 8 && h * strongest < kBins; ++h)
                    for (int k = h * strongest - 2; k <= h * strongest + 2; ++k)
                        if (k >= 1 && k < kBins) harmonic += magnitude[k];
                if (blockTotal > 0.0) {
                    harmonicSum += harmonic / blockTotal;
                    ++harmonicCount;
                }
            }
            if (!havePitchBuffer && blockIndex >= 1 && rms > 0.5 * largestRms && rms > 0.01) {
                std::copy(mono, mono + kFeatureBlock, context.pitchBuffer.data());
                havePitchBuffer = true;
            }
            std::swap(context.magnitude, context.previous);
            magnitude = context.magnitude.data();
            previous = context.previous.data();
            ++fullBlocks;
        }
        ++blockIndex;
        if (count < want) break;
    }
    if (samples == 0 || fullBlocks == 0) return false;

    auto f = [&entry](Feature feature) -> float& { return FeatureOf(entry, feature); };
    const double rms = std::sqrt(sumSquares / static_cast<double>(samples));
    f(Feature::RmsLevel) = rms > 0.0 ? static_cast<float>(20.0 * std::log10(rms)) : -100.0f;
    f(Feature::PeakToRms) = f(Feature::Crest) = rms > 0.0 ? static_cast<float>(20.0 * std::log10(peak / rms)) : 0.0f;
    const double span = static_cast<double>(std::min(analysed, samples));
    f(Feature::PeakPosition) = span > 0 ? static_cast<float>(peakIndex / span) : 0.0f;
    f(Feature::ZeroCrossings) = static_cast<float>(std::min(1.0, static_cast<double>(crossings) / samples * 4.0));
    if (sumSquares > 0.0)
        f(Feature::TimeCentroid) = static_cast<float>(std::clamp(sumWeighted / sumSquares / span, 0.0, 1.0));
    const double largestBand = *std::max_element(bands, bands + kFeatureBandCount);
    if (largestBand > 0.0)
        for (int b = 0; b < kFeatureBandCount; ++b) f(BandFeature(b)) = static_cast<float>(bands[b] / largestBand);
    static constexpr double kBrightnessWeights[kFeatureBandCount] = {0.1, 0.3, 0.5, 0.7, 0.9};
    double bandTotal = 0.0, weighted = 0.0;
    for (int b = 0; b < kFeatureBandCount; ++b) {
        bandTotal += f(BandFeature(b));
        weighted += kBrightnessWeights[b] * f(BandFeature(b));
    }
    if (bandTotal > 0.0) f(Feature::Brightness) = static_cast<float>(weighted / bandTotal);
    if (centroidMagnitude > 0.0) {
        const double centroid = centroidWeighted / centroidMagnitude;
        f(Feature::Centroid) = static_cast<float>(
            std::clamp((std::log10(std::max(100.0, centroid)) - 2.0) / (std::log10(8000.0) - 2.0), 0.0, 1.0));
    }
    f(Feature::HighShare) = fullSum > 0.0 ? static_cast<float>(highSum / fullSum) : 0.0f;
    if (fluxCount > 0) f(Feature::Flux) = static_cast<float>(std::clamp(fluxSum / fluxCount / 30.0, 0.0, 1.0));
    if (flatCount > 0) {
        const double meanOfMeans = flatMeanSum / flatCount;
        if (meanOfMeans > 1e-12)
            entry.spectralFlatness =
                static_cast<float>(std::clamp(std::exp(flatLogSum / flatCount) / meanOfMeans, 0.0, 1.0));
    }
    if (harmonicCount > 0) entry.harmonicity = static_cast<float>(std::clamp(harmonicSum / harmonicCount, 0.0, 1.0));

    if (havePitchBuffer) {
        const PitchEstimate pitch = EstimatePitch(context.pitchBuffer.data(), sampleRate);
        if (pitch.kept) {
            entry.pitchConfidence = static_cast<float>(pitch.confidence);
            if (pitch.frequency > 20.0 && pitch.frequency < 10000.0 && pitch.confidence > 0.3) {
                f(Feature::PitchHz) = static_cast<float>(pitch.frequency);
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
    std::string text = CountText(count) + (count == 1 ? " file" : " files");

    if (count > 0) {
        double means[5] = {0, 0, 0, 0, 0};
        for (const LibraryEntry& entry : library.entries)
            for (int b = 0; b < kFeatureBandCount; ++b) means[b] += FeatureOf(entry, BandFeature(b));
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
