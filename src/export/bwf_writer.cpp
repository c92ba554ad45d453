#include "export/bwf_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

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

SNDFILE* OpenForWriting(const std::string& path, int format, int channels, int32_t sampleRate) {
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    return sf_open(path.c_str(), SFM_WRITE, &info);
}

}  // namespace

uint64_t BextTimeReference(int32_t sampleRate, double startSeconds) {
    if (!std::isfinite(startSeconds)) return 0;
    return ToUnsignedSamples(static_cast<double>(sampleRate) * startSeconds);
}

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description) {
    if (frames < 1 || samples == nullptr || sampleRate < 1) return false;
    const int64_t limit = static_cast<int64_t>(sampleRate) * kMaxExportSeconds;
    if (frames > limit) {
        std::printf("[Export] WriteBWFClipMono: numFrames %d exceeds 1hr limit (%d) — %s\n", frames,
                    static_cast<int>(std::min<int64_t>(limit, INT32_MAX)), path.c_str());
        return false;
    }
    SNDFILE* file = OpenForWriting(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, sampleRate);
    if (file == nullptr) return false;
    if (!SetBext(file, sampleRate, startSeconds, description))
        std::printf("[Export] WriteBWFClipMono: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n",
                    path.c_str());
    std::vector<float> copy(samples, samples + frames);
    for (float& x : copy) x = SanitizeSample(x);
    const sf_count_t written = sf_writef_float(file, copy.data(), frames);
    if (written != frames) {
        sf_close(file);
        std::printf("[Export] WriteBWFClipMono: short write (%lld/%d) — disk full? Deleting %s\n",
                    static_cast<long long>(written), frames, path.c_str());
        std::remove(path.c_str());
        return false;
    }
    if (sf_close(file) != 0) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description) {
    if (frames < 1 || left == nullptr || right == nullptr || sampleRate < 1) return false;
    const int64_t limit = static_cast<int64_t>(sampleRate) * kMaxExportSeconds;
    if (frames > limit) {
        std::printf("[Export] WriteBWFStereo: numFrames %lld exceeds 1hr limit (%lld) — %s\n",
                    static_cast<long long>(frames), static_cast<long long>(limit), path.c_str());
        return false;
    }
    SNDFILE* file = OpenForWriting(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, sampleRate);
    if (file == nullptr) return false;
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
            sf_close(file);
            std::printf("[Export] WriteBWFStereo: short write at frame %lld/%lld — disk full? Deleting %s\n",
                        static_cast<long long>(at + std::max<sf_count_t>(written, 0)),
                        static_cast<long long>(frames), path.c_str());
            std::remove(path.c_str());
            return false;
        }
    }
    if (sf_close(file) != 0) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool WriteBWFMulti(const std::string& path, const std::vector<std::vector<float>>& channels, uint32_t speakerMask,
                   int32_t sampleRate, double startSeconds, const char* description, bool plainContainer,
                   bool extensible) {
    if (channels.empty() || sampleRate < 1) return false;
    const int64_t frames = static_cast<int64_t>(channels[0].size());
    if (frames < 1) return false;
    const int64_t limit = static_cast<int64_t>(sampleRate) * kMaxExportSeconds;
    if (frames > limit) {
        std::printf("[Export] WriteBWFMulti: numFrames %lld exceeds 1hr limit — %s\n",
                    static_cast<long long>(frames), path.c_str());
        return false;
    }
    const bool useExtensible = extensible && !plainContainer;
    const int container = useExtensible ? SF_FORMAT_WAVEX : SF_FORMAT_WAV;
    const int count = static_cast<int>(channels.size());
    SNDFILE* file = OpenForWriting(path, container | SF_FORMAT_PCM_24, count, sampleRate);
    if (file == nullptr) return false;
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
            sf_close(file);
            std::printf("[Export] WriteBWFMulti: short write — deleting %s\n", path.c_str());
            std::remove(path.c_str());
            return false;
        }
    }
    if (sf_close(file) != 0) {
        std::remove(path.c_str());
        return false;
    }
    if (useExtensible && !FinalizeExtensibleWav(path, speakerMask))
        std::printf("[Export] WriteBWFMulti: WAV finalize (mask/fact) failed — %s\n", path.c_str());
    return true;
}

}  // namespace morvane
