#pragma once
// The sound features of a library file (measured from at most its first 30 s) and
// the one-line summaries of a library.
#include <cstdint>
#include <functional>
#include <memory>

#include "library/entry.h"

namespace morvane {

constexpr int kFeatureBlock = 2048;  // analysis block and FFT length, in frames

// FFT set-up, buffers and window of one analysis worker, kept between files so
// each worker plans its FFT once. Not shared between threads.
struct AnalysisContext;

struct AnalysisContextDeleter {
    void operator()(AnalysisContext* context) const;
};
using AnalysisContextPtr = std::unique_ptr<AnalysisContext, AnalysisContextDeleter>;

// Null when the FFT set-up cannot be made.
AnalysisContextPtr MakeAnalysisContext();

// Reads up to `frames` interleaved float frames into `buffer`; returns the number
// read, 0 or less at the end.
using FrameReader = std::function<int64_t(float* buffer, int64_t frames)>;

// The feature pass over a stream of `frames` frames: fills features, midiNote,
// pitchCents, pitchConfidence, spectralFlatness, harmonicity, onsetPosition and
// attackTime of `entry`. False when no sample was read or no full block was
// completed. `context` may be null (a private set-up is made for the call).
bool ComputeFeatures(const FrameReader& read, int64_t frames, int sampleRate, int channels,
                     AnalysisContext* context, LibraryEntry& entry);

// The pitch found in one block of kFeatureBlock mono samples by the program's pitch
// detector (library/pitch.h) with a difference window of 1,024 lags, searching 30 Hz
// to 10 kHz. `kept` is false only when the sample rate leaves no lag range;
// `frequency` is 0 when the best lag was rejected.
struct PitchEstimate {
    bool kept = false;
    double confidence = 0.0;
    double frequency = 0.0;
};
PitchEstimate EstimateBlockPitch(const float* block, int sampleRate);

// Sets the library's summary text ("1,234 files, bright, mostly transient") and its
// two word summaries (frequent name words, frequent UCS words).
void MakeLibrarySummary(Library& library);

}  // namespace morvane
