#include "library/pitch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "library/fft.h"

namespace morvane {

namespace {

constexpr double kThreshold = 0.15;
constexpr double kRejectAbove = 0.5;

// The difference d(tau) = sum over j < W of (x[j] - x[j+tau])^2 for tau = 0..lags-1,
// written as energy(0..W) + energy(tau..tau+W) - 2 * correlation(tau). The energies
// come from a running sum of squares; the correlation of the first W samples with
// the rest comes from one spectrum product, in transforms long enough that no lag
// wraps around. The mean is taken out first: d is blind to it, and a large offset
// would otherwise drown the small differences in rounding.
std::vector<double> DifferenceFunction(const float* x, int count, int window, int lags) {
    const int used = window + lags - 1;
    double mean = 0.0;
    for (int i = 0; i < count; ++i) mean += x[i];
    mean /= count;
    size_t size = 1;
    while (size < static_cast<size_t>(used)) size <<= 1;
    // Both real signals go through one complex transform, the head as the real part
    // and the whole as the imaginary part; their spectra are separated by symmetry.
    std::vector<std::complex<double>> packed(size), product(size);
    std::vector<double> prefix(static_cast<size_t>(used) + 1, 0.0);
    double energy = 0.0;
    for (int i = 0; i < used; ++i) {
        const double centred = x[i] - mean;
        packed[static_cast<size_t>(i)] = {i < window ? centred : 0.0, centred};
        energy += centred * centred;
        prefix[static_cast<size_t>(i) + 1] = energy;
    }
    Fft(packed, false);
    for (size_t k = 0; k < size; ++k) {
        const std::complex<double> a = packed[k], b = std::conj(packed[k == 0 ? 0 : size - k]);
        // head = (a + b) / 2, whole = (a - b) / 2i; conj(head) * whole written out,
        // without the checks for infinities of the complex product.
        const double hr = 0.5 * (a.real() + b.real()), hi = 0.5 * (a.imag() + b.imag());
        const double wr = 0.5 * (a.imag() - b.imag()), wi = -0.5 * (a.real() - b.real());
        product[k] = {hr * wr + hi * wi, hr * wi - hi * wr};
    }
    Fft(product, true);  // unnormalised: size times the correlation

    std::vector<double> d(static_cast<size_t>(lags));
    const double headEnergy = prefix[static_cast<size_t>(window)];
    for (int tau = 0; tau < lags; ++tau) {
        const double correlation = product[static_cast<size_t>(tau)].real() / static_cast<double>(size);
        const double energy = prefix[static_cast<size_t>(tau + window)] - prefix[static_cast<size_t>(tau)];
        // A sum of squares is never negative; rounding near a perfect match can be.
        d[static_cast<size_t>(tau)] = std::max(0.0, headEnergy + energy - 2.0 * correlation);
    }
    return d;
}

// d'(tau) = d(tau) * tau / sum of d(1..tau); d'(0) = 1.
std::vector<double> Normalised(const std::vector<double>& d) {
    std::vector<double> dn(d.size(), 1.0);
    double running = 0.0;
    for (size_t tau = 1; tau < d.size(); ++tau) {
        running += d[tau];
        dn[tau] = running > 0.0 ? d[tau] * static_cast<double>(tau) / running : 1.0;
    }
    return dn;
}

// The first lag under the threshold, followed down while d' keeps falling; -1 when none.
int FirstDip(const std::vector<double>& dn, int minLag, int maxLag) {
    for (int tau = minLag; tau <= maxLag; ++tau) {
        if (dn[static_cast<size_t>(tau)] < kThreshold) {
            while (tau + 1 <= maxLag && dn[static_cast<size_t>(tau) + 1] < dn[static_cast<size_t>(tau)]) ++tau;
            return tau;
        }
    }
    return -1;
}

int DeepestLag(const std::vector<double>& dn, int minLag, int maxLag) {
    int lag = minLag;
    for (int tau = minLag; tau <= maxLag; ++tau)
        if (dn[static_cast<size_t>(tau)] < dn[static_cast<size_t>(lag)]) lag = tau;
    return lag;
}

// The lag moved to the vertex of the parabola through it and its neighbours.
double Refined(const std::vector<double>& dn, int lag) {
    const int last = static_cast<int>(dn.size()) - 1;
    if (lag - 1 < 1 || lag + 1 > last) return lag;
    const double d0 = dn[static_cast<size_t>(lag)];
    const double dm = dn[static_cast<size_t>(lag) - 1];
    const double dp = dn[static_cast<size_t>(lag) + 1];
    const double denominator = 2.0 * (2.0 * d0 - dp - dm);
    return std::fabs(denominator) > 1e-9 ? lag + (dp - dm) / denominator : lag;
}

}  // namespace

YinPitch FindPitchYin(const float* x, int count, int sampleRate, const YinSearch& search) {
    YinPitch result;
    if (x == nullptr || sampleRate < 1 || search.window < 1 || count < search.window) return result;
    const int lags = std::min(search.window, count - search.window + 1);
    const int maxLag = std::min(search.maxLag, lags - 1);
    if (search.minLag < 1 || search.minLag > maxLag) return result;

    const std::vector<double> dn = Normalised(DifferenceFunction(x, count, search.window, lags));
    int lag = FirstDip(dn, search.minLag, maxLag);
    bool rejected = false;
    if (lag < 0) {
        lag = DeepestLag(dn, search.minLag, maxLag);
        rejected = dn[static_cast<size_t>(lag)] > kRejectAbove;
    }
    result.searched = true;
    result.confidence = std::clamp(1.0 - dn[static_cast<size_t>(lag)], 0.0, 1.0);
    if (rejected) return result;
    const double refined = Refined(dn, lag);
    if (refined > 0.0) result.frequency = sampleRate / refined;
    return result;
}

}  // namespace morvane
