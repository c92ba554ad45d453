// The program's one FFT: the spectra it gives, and plans made from several threads
// at once (the scan's workers and the render plan side by side).
#include "library/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace morvane {
namespace {

std::vector<std::complex<double>> Cosine(size_t n, int bin) {
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < n; ++i) a[i] = std::cos(2.0 * M_PI * bin * static_cast<double>(i) / n);
    return a;
}

TEST(Fft, SpectraLandInTheirBinsAndTheInverseRestoresTheSignal) {
    std::vector<std::complex<double>> a = Cosine(1024, 5);
    const std::vector<std::complex<double>> original = a;
    Fft(a, false);
    EXPECT_NEAR(std::abs(a[5]), 512.0, 1e-9);
    EXPECT_NEAR(std::abs(a[1019]), 512.0, 1e-9);
    EXPECT_NEAR(std::abs(a[6]), 0.0, 1e-9);
    Fft(a, true);  // unscaled: n times the signal
    for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i].real() / 1024.0, original[i].real(), 1e-12) << i;

    RealFftPtr real = MakeRealFft(2048);
    ASSERT_TRUE(real);
    for (int i = 0; i < 2048; ++i) real->input[i] = static_cast<float>(std::sin(2.0 * M_PI * 100.0 * i / 2048.0));
    RunRealFft(*real);
    EXPECT_NEAR(std::abs(real->output[100]), 1024.0, 1e-2);
    EXPECT_NEAR(std::abs(real->output[99]), 0.0, 1e-2);
    EXPECT_FALSE(MakeRealFft(1));
}

TEST(Fft, ThreadsPlanAndTransformSideBySide) {
    std::vector<std::vector<std::complex<double>>> expected;
    for (int t = 0; t < 4; ++t) {
        expected.push_back(Cosine(size_t{256} << t, 3 + t));
        Fft(expected.back(), false);
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                RealFftPtr real = MakeRealFft(512 << (round % 3));  // planned and destroyed while others run
                std::vector<std::complex<double>> a = Cosine(size_t{256} << t, 3 + t);
                Fft(a, false);
                mismatches[static_cast<size_t>(t)] += real == nullptr || a != expected[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[static_cast<size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace morvane
