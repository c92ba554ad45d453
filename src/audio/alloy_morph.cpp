#include "audio/alloy_morph.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "audio/resample.h"
#include "library/fft.h"

namespace morvane {

namespace {

using Complex = std::complex<double>;

constexpr double kLowest = 40.0, kHighest = 16000.0, kMidHighSplit = 2000.0;
constexpr double kMaxRatio = 3.98;  // +12 dB
constexpr int kFrame = 2048, kHop = 512;
constexpr double kFollowSeconds = 0.02;

double RmsOf(const std::vector<float>& x) {
    if (x.empty()) return 0.0;
    double sum = 0.0;
    for (float v : x) sum += static_cast<double>(v) * v;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

double RatioGain(double donor, double main, double exponent) {
    const double ratio = (donor + 1e-6) / (main + 1e-6);
    return std::pow(std::clamp(ratio, 1.0 / kMaxRatio, kMaxRatio), exponent);
}

std::vector<float> Fit(const std::vector<float>& donor, size_t frames) {
    if (donor.empty() || donor.size() == frames) return donor;
    return StretchLinear(donor, static_cast<int64_t>(frames));
}

// The broadband loudness contour (20 ms RMS follower), normalised by its own mean:
// its shape over time. Silence gives all ones.
std::vector<float> Contour(const std::vector<float>& x, int rate) {
    std::vector<float> env(x.size(), 1.0f);
    if (x.empty()) return env;
    const double k = 1.0 - std::exp(-1.0 / (kFollowSeconds * rate));
    double state = 0.0, sum = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        state += k * (static_cast<double>(x[i]) * x[i] - state);
        env[i] = static_cast<float>(std::sqrt(state));
        sum += env[i];
    }
    const double mean = sum / static_cast<double>(x.size());
    if (mean < 1e-9) return std::vector<float>(x.size(), 1.0f);
    for (float& v : env) v = static_cast<float>(v / mean);
    return env;
}

// One windowed frame starting at `start` (zero outside the signal), transformed.
void Analyse(const std::vector<float>& x, int64_t start, const std::vector<double>& window, std::vector<Complex>& out) {
    const int64_t n = static_cast<int64_t>(x.size());
    for (int k = 0; k < kFrame; ++k) {
        const int64_t i = start + k;
        out[k] = i >= 0 && i < n ? Complex(x[static_cast<size_t>(i)] * window[k], 0.0) : Complex(0.0, 0.0);
    }
    Fft(out, false);
}

}  // namespace

std::vector<double> AlloyBandCentres(int bands, int sampleRate) {
    bands = std::clamp(bands, 4, 24);
    const double top = std::min(kHighest, 0.45 * sampleRate);
    std::vector<double> centres(static_cast<size_t>(bands));
    for (int b = 0; b < bands; ++b) centres[b] = kLowest * std::pow(top / kLowest, (b + 0.5) / bands);
    return centres;
}

std::vector<std::vector<float>> RenderAlloy(const std::vector<std::vector<float>>& main, const std::vector<float>& midIn,
                                            const std::vector<float>& highIn, const std::vector<float>& envIn,
                                            int rate, const AlloySettings& s) {
    if (main.empty() || main[0].empty() || rate < 1) return main;
    const size_t frames = main[0].size();
    const double morph = std::clamp(s.morph, 0.0f, 1.0f);
    const double depth = std::clamp(s.transferDepth, 0.0f, 1.0f);
    const int algorithm = std::clamp(s.algorithm, 0, 3);
    if (morph <= 0.0) return main;

    const std::vector<float> mid = Fit(midIn, frames);
    const std::vector<float> high = algorithm == 0 ? mid : Fit(highIn, frames);
    const std::vector<float> env = Fit(envIn, frames);

    // The main's mono mix decides the gains; every channel gets the same gains so
    // the stereo image stays put.
    std::vector<float> mono(frames, 0.0f);
    for (const auto& channel : main)
        for (size_t i = 0; i < frames; ++i) mono[i] += channel[i] / static_cast<float>(main.size());
    const double mainRms = RmsOf(mono), midRms = RmsOf(mid), highRms = RmsOf(high);

    // Band of every bin, and the continuous band position used to interpolate gains.
    const int bands = std::clamp(s.filterBands, 4, 24);
    const double top = std::min(kHighest, 0.45 * rate);
    const int bins = kFrame / 2 + 1;
    std::vector<int> bandOf(bins);
    std::vector<double> position(bins);
    for (int k = 0; k < bins; ++k) {
        const double f = std::max(1.0, static_cast<double>(k) * rate / kFrame);
        const double p = bands * std::log(f / kLowest) / std::log(top / kLowest);
        bandOf[k] = std::clamp(static_cast<int>(std::floor(p)), 0, bands - 1);
        position[k] = std::clamp(p - 0.5, 0.0, bands - 1.0);
    }
    const double splitPosition = bands * std::log(kMidHighSplit / kLowest) / std::log(top / kLowest);

    // The detuned copy of each channel the moved energy is taken from.
    const double detune = std::clamp(s.microPitch, 0.0f, 0.15f) * morph;
    std::vector<std::vector<float>> source = main;
    if (detune > 1e-4)
        for (auto& channel : source) {
            std::vector<float> shifted =
                ResampleToLength(channel, PitchShiftedLength(static_cast<int64_t>(frames), detune));
            shifted.resize(frames, shifted.empty() ? 0.0f : shifted.back());
            channel = std::move(shifted);
        }

    std::vector<double> window(kFrame);
    for (int k = 0; k < kFrame; ++k) window[k] = 0.5 - 0.5 * std::cos(2.0 * M_PI * k / kFrame);
    std::vector<std::vector<double>> acc(main.size(), std::vector<double>(frames, 0.0));
    std::vector<double> norm(frames, 0.0);
    std::vector<Complex> monoBins(kFrame), midBins(kFrame), highBins(kFrame), mainBins(kFrame), sourceBins(kFrame);
    std::vector<double> mainBand(bands), donorBand(bands), gain(bands);
    std::vector<double> binGain(bins);
    const double midScale = midRms > 1e-9 ? mainRms / midRms : 0.0;
    const double highScale = highRms > 1e-9 ? mainRms / highRms : 0.0;

    for (int64_t start = -(kFrame - kHop); start < static_cast<int64_t>(frames); start += kHop) {
        Analyse(mono, start, window, monoBins);
        if (!mid.empty()) Analyse(mid, start, window, midBins);
        if (!high.empty()) Analyse(high, start, window, highBins);
        std::fill(mainBand.begin(), mainBand.end(), 0.0);
        std::fill(donorBand.begin(), donorBand.end(), 0.0);
        for (int k = 0; k < bins; ++k) {
            const int b = bandOf[k];
            const bool fromMid = b < splitPosition || algorithm == 0;
            mainBand[b] += std::norm(monoBins[k]);
            donorBand[b] += fromMid ? (mid.empty() ? 0.0 : std::norm(midBins[k]) * midScale * midScale)
                                    : (high.empty() ? 0.0 : std::norm(highBins[k]) * highScale * highScale);
        }
        for (int b = 0; b < bands; ++b) {
            const bool fromMid = b < splitPosition || algorithm == 0;
            const bool haveDonor = fromMid ? !mid.empty() : !high.empty();
            gain[b] = haveDonor ? RatioGain(std::sqrt(donorBand[b]), std::sqrt(mainBand[b]), depth) : 1.0;
        }
        for (int k = 0; k < bins; ++k) {
            const int lo = static_cast<int>(std::floor(position[k]));
            const int hi = std::min(lo + 1, bands - 1);
            const double t = position[k] - lo;
            binGain[k] = gain[lo] + (gain[hi] - gain[lo]) * t;
        }
        for (size_t c = 0; c < main.size(); ++c) {
            Analyse(main[c], start, window, mainBins);
            if (detune > 1e-4) Analyse(source[c], start, window, sourceBins);
            const std::vector<Complex>& moved = detune > 1e-4 ? sourceBins : mainBins;
            for (int k = 0; k < bins; ++k) {
                Complex y = mainBins[k] + morph * (binGain[k] - 1.0) * moved[k];
                if (algorithm == 3) {
                    const bool fromMid = bandOf[k] < splitPosition;
                    y += 0.5 * morph * (fromMid ? midBins[k] * midScale : highBins[k] * highScale);
                }
                mainBins[k] = y;
                if (k > 0 && k < kFrame / 2) mainBins[kFrame - k] = std::conj(y);  // a real signal's mirror
            }
            Fft(mainBins, true);
            for (int k = 0; k < kFrame; ++k) {
                const int64_t i = start + k;
                if (i < 0 || i >= static_cast<int64_t>(frames)) continue;
                acc[c][static_cast<size_t>(i)] += mainBins[k].real() / kFrame * window[k];
            }
        }
        for (int k = 0; k < kFrame; ++k) {
            const int64_t i = start + k;
            if (i >= 0 && i < static_cast<int64_t>(frames)) norm[static_cast<size_t>(i)] += window[k] * window[k];
        }
    }

    std::vector<std::vector<float>> out(main.size(), std::vector<float>(frames, 0.0f));
    for (size_t c = 0; c < main.size(); ++c)
        for (size_t i = 0; i < frames; ++i)
            out[c][i] = norm[i] > 1e-9 ? static_cast<float>(acc[c][i] / norm[i]) : main[c][i];

    if (algorithm >= 2 && !env.empty()) {
        std::vector<float> outMono(frames, 0.0f);
        for (const auto& channel : out)
            for (size_t i = 0; i < frames; ++i) outMono[i] += channel[i] / static_cast<float>(out.size());
        const std::vector<float> outContour = Contour(outMono, rate);
        const std::vector<float> envContour = Contour(env, rate);
        for (auto& channel : out)
            for (size_t i = 0; i < frames; ++i)
                channel[i] *= static_cast<float>(RatioGain(envContour[i], outContour[i], depth * morph));
    }

    // Graft the main's own attack back on: a linear crossfade from the plain main
    // to the morph over attackGraft seconds (the two are strongly correlated, so
    // linear keeps the level where an equal-power curve would bulge by 3 dB).
    const size_t graft = std::min(frames, static_cast<size_t>(std::clamp(s.attackGraft, 0.0f, 0.2f) * rate));
    for (size_t i = 0; i < graft; ++i) {
        const float take = static_cast<float>(static_cast<double>(i) / static_cast<double>(graft)), keep = 1.0f - take;
        for (size_t c = 0; c < out.size(); ++c) out[c][i] = keep * main[c][i] + take * out[c][i];
    }
    for (auto& channel : out)
        for (float& v : channel)
            if (!std::isfinite(v)) v = 0.0f;
    return out;
}

}  // namespace morvane
