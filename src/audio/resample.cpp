#include "audio/resample.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

// One soxr pass over a whole buffer; `ratio` = output rate / input rate. soxr's
// one-shot call flushes its filter, so the output length is the input length
// times the ratio, give or take a frame; callers that need an exact length pad or
// cut the last frames.
std::vector<float> SoxrOneShot(const std::vector<float>& input, double ratio, size_t wanted) {
    std::vector<float> output(wanted, 0.0f);
    if (input.empty() || wanted == 0) return output;
    size_t done = 0;
    // Rates are given as a ratio: soxr only needs their quotient. Null formats and
    // quality mean 32-bit float in and out at soxr's high quality.
    const soxr_error_t error = soxr_oneshot(1.0, ratio, 1, input.data(), input.size(), nullptr, output.data(),
                                            wanted, &done, nullptr, nullptr, nullptr);
    if (error != nullptr) return StretchLinear(input, static_cast<int64_t>(wanted));
    // A frame or two short at the very end: hold the last value rather than drop
    // to zero, which would click.
    const float last = done > 0 ? output[done - 1] : 0.0f;
    for (size_t i = done; i < wanted; ++i) output[i] = last;
    return output;
}

}  // namespace

std::vector<float> ResampleChannel(const std::vector<float>& input, double fromRate, double toRate) {
    if (fromRate <= 0.0 || toRate <= 0.0 || fromRate == toRate || input.empty()) return input;
    const double ratio = toRate / fromRate;
    const size_t wanted = static_cast<size_t>(std::llround(static_cast<double>(input.size()) * ratio));
    return SoxrOneShot(input, ratio, std::max<size_t>(1, wanted));
}

std::vector<float> ResampleToLength(const std::vector<float>& input, int64_t frames) {
    if (frames <= 0) return {};
    if (input.empty()) return std::vector<float>(static_cast<size_t>(frames), 0.0f);
    if (static_cast<int64_t>(input.size()) == frames) return input;
    const double ratio = static_cast<double>(frames) / static_cast<double>(input.size());
    return SoxrOneShot(input, ratio, static_cast<size_t>(frames));
}

std::vector<float> StretchLinear(const std::vector<float>& input, int64_t frames) {
    std::vector<float> output(static_cast<size_t>(std::max<int64_t>(0, frames)), 0.0f);
    if (input.empty() || frames <= 0) return output;
    const int64_t n = static_cast<int64_t>(input.size());
    const double step = static_cast<double>(n) / static_cast<double>(frames);
    for (int64_t i = 0; i < frames; ++i) {
        const double position = static_cast<double>(i) * step;
        const int64_t k = std::min<int64_t>(static_cast<int64_t>(position), n - 1);
        const int64_t k1 = std::min<int64_t>(k + 1, n - 1);
        const float frac = static_cast<float>(position - static_cast<double>(k));
        output[static_cast<size_t>(i)] = input[k] + (input[k1] - input[k]) * frac;
    }
    return output;
}

int64_t PitchShiftedLength(int64_t frames, double semitones) {
    return static_cast<int64_t>(std::floor(static_cast<double>(frames) / std::pow(2.0, semitones / 12.0) + 0.5));
}

}  // namespace morvane
