#include "library/fft.h"

#include <fftw3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace morvane {

namespace {

std::mutex& PlannerMutex() {
    static std::mutex mutex;
    return mutex;
}

// The complex plans made so far. They live as long as the program; at exit they are
// destroyed and FFTW's planner memory released, so nothing of ours is left allocated.
struct ComplexPlans {
    std::map<std::pair<size_t, bool>, fftw_plan> plans;
    ~ComplexPlans() {
        std::lock_guard<std::mutex> lock(PlannerMutex());
        for (auto& entry : plans)
            if (entry.second != nullptr) fftw_destroy_plan(entry.second);
        fftw_cleanup();
    }
};

// The in-place complex plan of one length and direction, made on first use.
fftw_plan ComplexPlan(size_t n, bool inverse) {
    std::lock_guard<std::mutex> lock(PlannerMutex());
    static ComplexPlans cache;
    fftw_plan& plan = cache.plans[{n, inverse}];
    if (plan == nullptr) {
        fftw_complex* buffer = fftw_alloc_complex(n);
        if (buffer == nullptr) return nullptr;
        plan = fftw_plan_dft_1d(static_cast<int>(n), buffer, buffer, inverse ? FFTW_BACKWARD : FFTW_FORWARD,
                                FFTW_ESTIMATE);
        fftw_free(buffer);
    }
    return plan;
}

}  // namespace

void Fft(std::vector<std::complex<double>>& a, bool inverse) {
    const size_t n = a.size();
    if (n < 2) return;
    const fftw_plan plan = ComplexPlan(n, inverse);
    if (plan == nullptr) return;
    // std::complex<double> has fftw_complex's layout. A plan runs on arrays aligned
    // as the ones it was made for; anything else goes through an aligned copy.
    fftw_complex* data = reinterpret_cast<fftw_complex*>(a.data());
    if (fftw_alignment_of(reinterpret_cast<double*>(data)) == 0) {
        fftw_execute_dft(plan, data, data);
        return;
    }
    fftw_complex* aligned = fftw_alloc_complex(n);
    if (aligned == nullptr) return;
    std::copy(a.begin(), a.end(), reinterpret_cast<std::complex<double>*>(aligned));
    fftw_execute_dft(plan, aligned, aligned);
    std::copy_n(reinterpret_cast<std::complex<double>*>(aligned), n, a.begin());
    fftw_free(aligned);
}

void RealFftDeleter::operator()(RealFft* fft) const {
    if (fft == nullptr) return;
    if (fft->plan != nullptr) {
        std::lock_guard<std::mutex> lock(PlannerMutex());
        fftwf_destroy_plan(static_cast<fftwf_plan>(fft->plan));
    }
    fftwf_free(fft->input);
    fftwf_free(fft->output);
    delete fft;
}

RealFftPtr MakeRealFft(int size) {
    if (size < 2) return nullptr;
    RealFftPtr fft(new RealFft);
    fft->size = size;
    fft->input = fftwf_alloc_real(static_cast<size_t>(size));
    fft->output = reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(static_cast<size_t>(size / 2 + 1)));
    if (fft->input == nullptr || fft->output == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(PlannerMutex());
    fft->plan = fftwf_plan_dft_r2c_1d(size, fft->input, reinterpret_cast<fftwf_complex*>(fft->output), FFTW_ESTIMATE);
    if (fft->plan == nullptr) return nullptr;
    return fft;
}

void RunRealFft(RealFft& fft) { fftwf_execute(static_cast<fftwf_plan>(fft.plan)); }

}  // namespace morvane
