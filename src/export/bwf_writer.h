#pragma once
// The Broadcast WAV writers every exported audio file goes through: 24-bit PCM in a
// RIFF/WAVE container with a bext chunk whose time reference places the file on the
// receiving workstation's timeline.
//
// Every writer refuses more than one hour of audio before creating anything,
// sanitises the samples it writes (not-a-number and infinities to silence, values
// clipped to -1..1), and deletes a file whose samples could not all be written:
// a failed call never leaves a truncated file behind. Each file is written under a
// temporary name and renamed into place when whole (export/partial_file.h), so even a
// killed process leaves no damaged file under the final name. A failed call sets
// `why`, when given, to one line saying which file and what went wrong.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The longest file any writer accepts, in seconds at the file's sample rate.
inline constexpr int64_t kMaxExportSeconds = 3600;

// One mono file of `frames` samples at `sampleRate`, starting `startSeconds` into
// the receiving timeline. `description` may be null ("Morvane export").
bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description, std::string* why = nullptr);

// One stereo file from two arrays of `frames` samples.
bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description, std::string* why = nullptr);

// One file of as many channels as `channels` holds, each as long as the first (a
// shorter channel is padded with silence). The extensible container is used when
// `extensible` is set and `plainContainer` is not: the file then carries
// `speakerMask` and no "fact" chunk. Otherwise the plain container carries no mask.
bool WriteBWFMulti(const std::string& path, const std::vector<std::vector<float>>& channels, uint32_t speakerMask,
                   int32_t sampleRate, double startSeconds, const char* description, bool plainContainer,
                   bool extensible, std::string* why = nullptr);

// A sample as it is written: not-a-number and infinities are silence, everything
// else is clipped to -1..1.
inline float SanitizeSample(float x) {
    if (!std::isfinite(x)) return 0.0f;
    return x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);
}

// The bext time reference of a file starting `startSeconds` into the receiving
// timeline: sample rate x start, truncated. A negative or non-finite start is 0
// (a file cannot sit before the timeline's zero).
uint64_t BextTimeReference(int32_t sampleRate, double startSeconds);

}  // namespace morvane
