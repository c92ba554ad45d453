#pragma once
// A small in-place radix-2 FFT for the render's own analysis (pitch detection,
// the alloy's spectral transfer). Plain C++: no planner state, so any thread may
// use it at any time, unlike an FFTW plan.
#include <complex>
#include <vector>

namespace morvane {

// `a.size()` must be a power of two. `inverse` gives the unscaled inverse.
void Fft(std::vector<std::complex<double>>& a, bool inverse);

}  // namespace morvane
