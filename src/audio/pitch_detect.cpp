#include "audio/pitch_detect.h"

#include <algorithm>
#include <cmath>

#include "library/pitch.h"

namespace morvane {

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
    YinSearch search;
    search.minLag = std::max(2, sampleRate / 10000);  // 10 kHz
    search.maxLag = std::min(sampleRate / 20, n / 2);  // 20 Hz, or two periods in the samples
    if (search.maxLag <= search.minLag + 2) return result;
    search.window = n - search.maxLag;
    const YinPitch pitch = FindPitchYin(x, n, sampleRate, search);
    result.frequency = static_cast<float>(pitch.frequency);
    result.confidence = static_cast<float>(pitch.confidence);
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
