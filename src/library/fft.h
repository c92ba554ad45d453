#pragma once
// The program's one FFT, over FFTW: complex transforms of any power-of-two length
// for the render (pitch, the frequency shifter, the alloy's spectral transfer) and
// fixed-size real transforms for the library's feature pass.
//
// FFTW's planner may not run on two threads at once, and the library scan plans on
// its own threads while the render works on others: every plan here is made and
// destroyed under one lock, so any thread may call these at any time. Running a
// plan takes no lock. Plans are made without measuring (FFTW_ESTIMATE), so the same
// input gives the same output in every run and renders repeat bit for bit.
#include <complex>
#include <memory>
#include <vector>

namespace morvane {

// In place; `a.size()` must be a power of two. `inverse` gives the unscaled inverse.
// The plan of each length is made once and kept for the life of the process.
void Fft(std::vector<std::complex<double>>& a, bool inverse);

// A real-input transform of `size` samples into size / 2 + 1 bins, planned once and
// then run as often as wanted by the thread that owns it.
struct RealFft {
    int size = 0;
    float* input = nullptr;                 // size samples
    std::complex<float>* output = nullptr;  // size / 2 + 1 bins
    void* plan = nullptr;                   // FFTW's plan
};

struct RealFftDeleter {
    void operator()(RealFft* fft) const;
};
using RealFftPtr = std::unique_ptr<RealFft, RealFftDeleter>;

// Null when the buffers or the plan cannot be made.
RealFftPtr MakeRealFft(int size);

// `output` becomes the spectrum of `input` (unscaled).
void RunRealFft(RealFft& fft);

}  // namespace morvane
