#include "audio/frequency_shift.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>

#include "library/fft.h"

namespace morvane {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The Hilbert transformer as a zero-phase kernel ready for circular convolution:
// tap k (−half..half) sits at index k mod size, so the block output lines up with
// its input without a delay.
struct HilbertKernel {
    int half = 0;
    size_t size = 0;  // FFT length
    std::vector<std::complex<double>> spectrum;
};

HilbertKernel MakeHilbertKernel(int sampleRate) {
    HilbertKernel kernel;
    kernel.half = std::max(64, sampleRate / 12);
    const size_t taps = static_cast<size_t>(2 * kernel.half + 1);
    size_t size = 1;
    while (size < 4 * taps) size <<= 1;
    kernel.size = size;
    kernel.spectrum.assign(size, {0.0, 0.0});
    const double half = kernel.half;
    for (int k = -kernel.half; k <= kernel.half; ++k) {
        if (k % 2 == 0) continue;  // the ideal transformer is zero on even taps
        const double a = kPi * k / half;
        const double window = 0.42 + 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
        const double tap = 2.0 / (kPi * k) * window;
        const size_t at = k >= 0 ? static_cast<size_t>(k) : size - static_cast<size_t>(-k);
        kernel.spectrum[at] = {tap, 0.0};
    }
    Fft(kernel.spectrum, false);
    return kernel;
}

// The shifted channel, written in place. H{x} comes from the block convolution:
// two blocks go through each transform at once, one in the real part and one in
// the imaginary part (the kernel is real, so their results come back apart), and
// each block's outputs are mixed with the carrier as soon as they are known. Only
// a copy of the input is kept besides the block buffer, so a long layer costs one
// more copy of itself, not several.
void ShiftWithKernel(std::vector<float>& channel, double shiftHz, int sampleRate, const HilbertKernel& kernel) {
    if (channel.empty()) return;
    // A DC offset would come out as a steady hum at the shift frequency; it is
    // inaudible anyway, so it is left out.
    double mean = 0.0;
    for (float v : channel) mean += v;
    mean /= static_cast<double>(channel.size());
    const std::vector<float> input = channel;
    const int64_t n = static_cast<int64_t>(input.size());
    auto x = [&](int64_t i) { return i >= 0 && i < n ? static_cast<double>(input[static_cast<size_t>(i)]) - mean : 0.0; };

    const int64_t size = static_cast<int64_t>(kernel.size);
    const int64_t half = kernel.half;
    const int64_t step = size - 2 * half;  // outputs per block that do not wrap
    const double scale = 1.0 / static_cast<double>(size);
    const double omega = 2.0 * kPi * shiftHz / sampleRate;
    auto emit = [&](int64_t i, double hilbert) {
        // The phase from the index each time (no running oscillator), so a long
        // layer does not drift and every channel gets exactly the same carrier.
        const double phase = std::remainder(omega * static_cast<double>(i), 2.0 * kPi);
        channel[static_cast<size_t>(i)] = static_cast<float>(x(i) * std::cos(phase) - hilbert * scale * std::sin(phase));
    };
    std::vector<std::complex<double>> buffer(kernel.size);
    for (int64_t first = 0; first < n; first += 2 * step) {
        const int64_t second = first + step;
        for (int64_t i = 0; i < size; ++i) buffer[static_cast<size_t>(i)] = {x(first - half + i), x(second - half + i)};
        Fft(buffer, false);
        for (int64_t i = 0; i < size; ++i) buffer[static_cast<size_t>(i)] *= kernel.spectrum[static_cast<size_t>(i)];
        Fft(buffer, true);
        for (int64_t i = 0; i < step; ++i) {
            const std::complex<double>& v = buffer[static_cast<size_t>(half + i)];
            if (first + i < n) emit(first + i, v.real());
            if (second + i < n) emit(second + i, v.imag());
        }
    }
}

bool NoShift(float shiftHz, int sampleRate) { return !(std::isfinite(shiftHz) && shiftHz != 0.0f) || sampleRate < 1; }

}  // namespace

void ShiftFrequency(std::vector<float>& channel, float shiftHz, int sampleRate) {
    if (NoShift(shiftHz, sampleRate) || channel.empty()) return;
    ShiftWithKernel(channel, shiftHz, sampleRate, MakeHilbertKernel(sampleRate));
}

void ShiftFrequency(std::vector<std::vector<float>>& channels, float shiftHz, int sampleRate) {
    if (NoShift(shiftHz, sampleRate) || channels.empty()) return;
    const HilbertKernel kernel = MakeHilbertKernel(sampleRate);
    for (std::vector<float>& channel : channels) ShiftWithKernel(channel, shiftHz, sampleRate, kernel);
}

}  // namespace morvane
