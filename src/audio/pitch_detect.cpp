#include "audio/pitch_detect.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "audio/fft.h"

namespace morvane {

using Complex = std::complex<double>;

void FrequencyToNote(float frequency, int* note, float* cents) {
    if (!(frequency > 0.0f)) {
        *note = -1;
        *cents = 0.0f;
        return;
    }
    const double exact = 69.0 + 12.0 * std::log2(static_cast<double>(frequency) / 440.0);
    const double nearest = std::floor(exact + 0.5);
    *note = static_cast<int>(nearest);
    *cents = static_cast<float>((exact - nearest) * 100.0);
}

DetectedPitch DetectPitch(const float* x, int64_t frames, int sampleRate) {
    DetectedPitch result;
    if (x == nullptr || frames < 64 || sampleRate < 1) return result;
    const int n = static_cast<int>(std::min<int64_t>(frames, 1 << 16));
    const int tauMin = std::max(2, static_cast<int>(sampleRate / 10000.0));
    const int tauMax = std::min(static_cast<int>(sampleRate / 20.0), n / 2);
    if (tauMax <= tauMin + 2) return result;
    const int window = n - tauMax;  // integration window of the difference function

    // Cross term r(tau) = sum_{j < window} x_j x_{j + tau}, through one forward
    // transform of each signal and one inverse.
    size_t size = 1;
    while (size < static_cast<size_t>(n + window)) size <<= 1;
    std::vector<Complex> a(size), b(size);
    for (int j = 0; j < window; ++j) a[j] = x[j];
    for (int j = 0; j < n; ++j) b[j] = x[j];
    Fft(a, false);
    Fft(b, false);
    for (size_t k = 0; k < size; ++k) a[k] = std::conj(a[k]) * b[k];
    Fft(a, true);
    const double scale = 1.0 / static_cast<double>(size);

    // Energies of the two windows by running sums.
    std::vector<double> prefix(static_cast<size_t>(n) + 1, 0.0);
    for (int j = 0; j < n; ++j) prefix[j + 1] = prefix[j] + static_cast<double>(x[j]) * x[j];
    const double e0 = prefix[window];
    if (e0 <= 1e-12) return result;  // silence

    // Cumulative-mean normalised difference d'(tau).
    std::vector<double> d(static_cast<size_t>(tauMax) + 1, 1.0);
    double running = 0.0;
    for (int tau = 1; tau <= tauMax; ++tau) {
        const double eTau = prefix[tau + window] - prefix[tau];
        const double diff = std::max(0.0, e0 + eTau - 2.0 * a[tau].real() * scale);
        running += diff;
        d[tau] = running > 0.0 ? diff * tau / running : 1.0;
    }
    int best = -1;
    for (int tau = tauMin; tau <= tauMax; ++tau) {
        if (d[tau] < 0.15) {
            while (tau + 1 <= tauMax && d[tau + 1] < d[tau]) ++tau;
            best = tau;
            break;
        }
    }
    if (best < 0) {  // no dip under the threshold: the deepest one, with its low confidence
        best = tauMin;
        for (int tau = tauMin; tau <= tauMax; ++tau)
            if (d[tau] < d[best]) best = tau;
    }
    // Parabolic refinement between the neighbours.
    double period = best;
    if (best > tauMin && best < tauMax) {
        const double l = d[best - 1], c = d[best], r = d[best + 1];
        const double denominator = l - 2.0 * c + r;
        if (std::fabs(denominator) > 1e-12) period += std::clamp(0.5 * (l - r) / denominator, -0.5, 0.5);
    }
    result.frequency = static_cast<float>(sampleRate / period);
    result.confidence = static_cast<float>(std::clamp(1.0 - d[best], 0.0, 1.0));
    FrequencyToNote(result.frequency, &result.note, &result.cents);
    return result;
}

int64_t LoudestWindowStart(const std::vector<std::vector<float>>& channels, int64_t window) {
    if (channels.empty() || window <= 0) return 0;
    const int64_t frames = static_cast<int64_t>(channels[0].size());
    if (frames <= window) return 0;
    const int64_t step = std::max<int64_t>(1, window / 2);
    const size_t used = std::min<size_t>(channels.size(), 2);
    int64_t bestStart = 0;
    double bestEnergy = -1.0;
    for (int64_t start = 0; start + window <= frames; start += step) {
        double energy = 0.0;
        for (int64_t i = start; i < start + window; ++i) {
            double v = 0.0;
            for (size_t c = 0; c < used; ++c) v += channels[c][static_cast<size_t>(i)];
            v /= static_cast<double>(used);
            energy += v * v;
        }
        if (energy > bestEnergy) {
            bestEnergy = energy;
            bestStart = start;
        }
    }
    return bestStart;
}

}  // namespace morvane
