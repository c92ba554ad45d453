#include "export/bwf_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "export/partial_file.h"
#include "export/wav_extensible.h"
#include "model/timeline.h"

namespace morvane {

namespace {

constexpr int64_t kInterleaveFrames = 8192;
constexpr const char* kDefaultDescription = "Morvane export";

uint64_t ToUnsignedSamples(double samples) {
    if (!(samples > 0.0)) return 0;  // negative and not-a-number
    if (samples >= 18446744073709551615.0) return UINT64_MAX;
    return static_cast<uint64_t>(samples);
}

// Fills the bext record and hands it to the library. False when the library refused it.
bool SetBext(SNDFILE* file, int32_t sampleRate, double startSeconds, const char* description) {
    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof bext);
    const std::string text = CutText(description ? description : kDefaultDescription, sizeof bext.description);
    std::memcpy(bext.description, text.data(), text.size());
    std::memcpy(bext.originator, "Morvane", 7);
    const uint64_t reference = BextTimeReference(sampleRate, startSeconds);
    bext.time_reference_low = static_cast<uint32_t>(reference & 0xFFFFFFFFu);
    bext.time_reference_high = static_cast<uint32_t>(reference >> 32);
    bext.version = 1;
    return sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;
}

void SetWhy(std::string* why, const std::string& text) {
    if (why != nullptr) *why = text;
}

// A short write: the disk is full or the file cannot grow; nothing is kept.
bool ShortWrite(PartialSoundFile& partial, std::string* why) {
    AbandonPartialSoundFile(partial);
    SetWhy(why, "short write to " + partial.path + " (disk full?)");
    return false;
}

}  // namespace

uint64_t BextTimeReference(int32_t sampleRate, double startSeconds) {
    if (!std::isfinite(startSeconds)) return 0;
    return ToUnsignedSamples(static_cast<double>(sampleRate) * startSeconds);
}

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description, std::string* why) {
    if (frames < 1 || samples == nullptr || sampleRate < 1) return false;
    const int64_t limit = static_cast<int64_t>(sampleRate) * kMaxExportSeconds;
    if (frames > limit) {
        std::printf("[Export] WriteBWFClipMono: numFrames %d exceeds 1hr limit (%d) — %s\n", frames,
                    static_cast<int>(std::min<int64_t>(limit, INT32_MAX)), path.c_str());
        SetWhy(why, path + " would be longer than the one-hour limit");
        return false;
    }
    PartialSoundFile partial;
    if (!OpenPartialSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, sampleRate, &partial, why)) return false;
    SNDFILE* file = partial.file;
    if (!SetBext(file, sampleRate, startSeconds, description))
        std::printf("[Export] WriteBWFClipMono: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n",
                    path.c_str());
    std::vector<float> copy(samples, samples + frames);
    for (float& x : copy) x = SanitizeSample(x);
    const sf_count_t written = sf_writef_float(file, copy.data(), frames);
    if (written != frames) {
        std::printf("[Export] WriteBWFClipMono: short write (%lld/%d) — disk full? Deleting %s\n",
                    static_cast<long long>(written), frames, path.c_str());
        return ShortWrite(partial, why);
    }
    return FinishPartialSoundFile(partial, why);
}

bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description, std::string* why) {
    if (frames < 1 || left == nullptr || right == nullptr || sampleRate < 1) return false;
    const int64_t limit = static_cast<int64_t>(sampleRate) * kMaxExportSeconds;
    if (frames > limit) {
        std::printf("[Export] WriteBWFStereo: numFrames %lld exceeds 1hr limit (%lld) — %s\n",
                    static_cast<long long>(frames), static_cast<long long>(limit), path.c_str());
        SetWhy(why, path + " would be longer than the one-hour limit");
        return false;
    }
    PartialSoundFile partial;
    if (!OpenPartialSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, sampleRate, &partial, why)) return false;
    SNDFILE* file = partial.file;
    if (!SetBext(file, sampleRate, startSeconds, description))
        std::printf("[Export] WriteBWFStereo: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n",
                    path.c_str());
    std::vector<float> block(static_cast<size_t>(kInterleaveFrames) * 2);
    for (int64_t at = 0; at < frames; at += kInterleaveFrames) {
        const int64_t n = std::min(kInterleaveFrames, frames - at);
        for (int64_t i = 0; i < n; ++i) {
            block[static_cast<size_t>(2 * i)] = SanitizeSample(left[at + i]);
            block[static_cast<size_t>(2 * i + 1)] = SanitizeSample(right[at + i]);
        }
        const sf_count_t written = sf_writef_float(file, block.data(), n);
        if (written != n) {
            std::printf("[Export] WriteBWFStereo: short write at frame %lld/%lld — disk full? Deleting %s\n",
                        static_cast<long long>(at + std::max<sf_count_t>(written, 0)),
                        static_cast<long long>(frames), path.c_str());
            return ShortWrite(partial, why);
        }
    }
    return FinishPartialSoundFile(partial, why);
}

bool WriteBWFMulti(const std::string& path, const std::vector<std::vector<float>>& channels, uint32_t speakerMask,
                   int32_t sampleRate, double startSeconds, const char* description, bool plainContainer,
                   bool extensible, std::string* why) {
    if (channels.empty() || sampleRate < 1) return false;
    const int64_t frames = static_cast<int64_t>(channels[0].size());
    if (frames < 1) return false;
    const int64_t limit = static_cast<int64_t>(sampleRate) * kMaxExportSeconds;
    if (frames > limit) {
        std::printf("[Export] WriteBWFMulti: numFrames %lld exceeds 1hr limit — %s\n",
                    static_cast<long long>(frames), path.c_str());
        SetWhy(why, path + " would be longer than the one-hour limit");
        return false;
    }
    const bool useExtensible = extensible && !plainContainer;
    const int container = useExtensible ? SF_FORMAT_WAVEX : SF_FORMAT_WAV;
    const int count = static_cast<int>(channels.size());
    PartialSoundFile partial;
    if (!OpenPartialSoundFile(path, container | SF_FORMAT_PCM_24, count, sampleRate, &partial, why)) return false;
    SNDFILE* file = partial.file;
    SetBext(file, sampleRate, startSeconds, description);  // a refused bext only moves the file to zero

    std::vector<float> block(static_cast<size_t>(kInterleaveFrames) * static_cast<size_t>(count));
    for (int64_t at = 0; at < frames; at += kInterleaveFrames) {
        const int64_t n = std::min(kInterleaveFrames, frames - at);
        for (int c = 0; c < count; ++c) {
            const std::vector<float>& source = channels[static_cast<size_t>(c)];
            const int64_t have = static_cast<int64_t>(source.size());
            for (int64_t i = 0; i < n; ++i) {
                const int64_t k = at + i;
                block[static_cast<size_t>(i * count + c)] = k < have ? SanitizeSample(source[static_cast<size_t>(k)]) : 0.0f;
            }
        }
        if (sf_writef_float(file, block.data(), n) != n) {
            std::printf("[Export] WriteBWFMulti: short write — deleting %s\n", path.c_str());
            return ShortWrite(partial, why);
        }
    }
    return FinishPartialSoundFile(partial, why, [&](const std::string& temporary) {
        if (useExtensible && !FinalizeExtensibleWav(temporary, speakerMask))
            std::printf("[Export] WriteBWFMulti: WAV finalize (mask/fact) failed — %s\n", path.c_str());
    });
}

}  // namespace morvane
