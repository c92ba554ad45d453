#pragma once
// The one WAV writer of the program, for any channel count, and the Broadcast WAV
// entry points of the exports over it: 24-bit PCM in a RIFF/WAVE container with a
// bext chunk whose time reference places the file on the receiving workstation's
// timeline. The variations' tagged takes and the demo library's files are written
// by the same writer.
//
// The writer sanitises the samples it writes (not-a-number and infinities to
// silence, values clipped to -1..1) and writes each file under a temporary name,
// renamed into place when whole (export/partial_file.h): a failed call, or even a
// killed process, leaves no damaged file under the final name. The three Broadcast
// WAV entry points also refuse more than one hour of audio before creating anything.
// A failed call sets `why`, when given, to one line saying which file and what went
// wrong.
//
// Any thread may call these; each call writes its own file.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The longest file the Broadcast WAV entry points accept, in seconds at the file's
// sample rate.
inline constexpr int64_t kMaxExportSeconds = 3600;

// One channel as the writer reads it: `count` samples, `stride` floats apart (1 for
// a channel of its own, the channel count for one channel of interleaved frames).
// A channel shorter than the file is padded with silence.
struct ChannelSpan {
    const float* samples = nullptr;
    int64_t count = 0;
    int64_t stride = 1;
};

// The channels of `frames` interleaved frames of `channels` samples each.
std::vector<ChannelSpan> InterleavedChannels(const float* interleaved, int64_t frames, int channels);

// The bext record: texts are cut to their fields (never inside a UTF-8 character).
struct BextFields {
    std::string description;
    std::string originator = "Morvane";
    std::string originatorReference;
    std::string originationDate;  // yyyy-mm-dd
    std::string originationTime;  // hh:mm:ss
    std::string codingHistory;
    uint64_t timeReference = 0;  // samples from the receiving timeline's zero
};

struct WavFileFormat {
    int32_t sampleRate = 0;
    int bitDepth = 24;  // 16 gives 16-bit PCM, anything else 24-bit
    // WAVE_FORMAT_EXTENSIBLE: `speakerMask` in the format chunk and no "fact"
    // chunk (export/wav_extensible.h). Otherwise the plain container, no mask.
    bool extensible = false;
    uint32_t speakerMask = 0;
    bool withBext = false;
    BextFields bext;
    std::string ixml;  // empty: no iXML chunk
    // A refused bext or iXML chunk fails the file instead of being left out.
    bool chunksRequired = false;
};

// What a write did, for the callers' own diagnostics.
struct WavWriteResult {
    bool written = false;
    bool shortWrite = false;    // the disk took fewer frames than asked (full?)
    int64_t framesWritten = 0;
    bool bextRefused = false;
    bool ixmlRefused = false;
    bool extensibleFixUpFailed = false;  // the file is kept, without its mask
};

// What this process has written through WriteWavFile so far: files written whole
// and the wall time spent in the writer (samples prepared, encoded, written,
// forced to disk and renamed), for the export's figures beside a bare write.
struct WavWriteTotals {
    int64_t files = 0;
    double seconds = 0.0;
};
WavWriteTotals WavWritesSoFar();

// Writes `frames` frames of `channels` (at least one; frames at least 1).
WavWriteResult WriteWavFile(const std::string& path, const std::vector<ChannelSpan>& channels, int64_t frames,
                            const WavFileFormat& format, std::string* why = nullptr);

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
