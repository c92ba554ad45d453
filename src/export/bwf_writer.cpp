#include "export/bwf_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "export/partial_file.h"
#include "export/wav_extensible.h"
#include "model/timeline.h"

namespace morvane {

namespace {

constexpr int64_t kInterleaveFrames = 8192;

std::atomic<int64_t> gFilesWritten{0};
std::atomic<int64_t> gWriteNanoseconds{0};

// Adds the time since its making to the writer's totals when it goes.
struct WriteTimer {
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~WriteTimer() {
        const auto spent = std::chrono::steady_clock::now() - start;
        gWriteNanoseconds.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count());
    }
};
constexpr const char* kDefaultDescription = "Morvane export";

uint64_t ToUnsignedSamples(double samples) {
    if (!(samples > 0.0)) return 0;  // negative and not-a-number
    if (samples >= 18446744073709551615.0) return UINT64_MAX;
    return static_cast<uint64_t>(samples);
}

void SetWhy(std::string* why, const std::string& text) {
    if (why != nullptr) *why = text;
}

// Copies text into a fixed bext field; the rest of the field stays zero.
template <size_t N>
size_t CopyField(char (&field)[N], const std::string& text) {
    const std::string cut = CutText(text, N);
    std::memcpy(field, cut.data(), cut.size());
    return cut.size();
}

// Hands the bext record to the library. False when the library refused it.
bool SetBext(SNDFILE* file, const BextFields& fields) {
    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof bext);
    CopyField(bext.description, fields.description);
    CopyField(bext.originator, fields.originator);
    CopyField(bext.originator_reference, fields.originatorReference);
    CopyField(bext.origination_date, fields.originationDate);
    CopyField(bext.origination_time, fields.originationTime);
    bext.coding_history_size = static_cast<uint32_t>(CopyField(bext.coding_history, fields.codingHistory));
    bext.time_reference_low = static_cast<uint32_t>(fields.timeReference & 0xFFFFFFFFu);
    bext.time_reference_high = static_cast<uint32_t>(fields.timeReference >> 32);
    bext.version = 1;
    return sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;
}

bool SetIxml(SNDFILE* file, std::string text) {
    SF_CHUNK_INFO chunk;
    std::memset(&chunk, 0, sizeof chunk);
    std::memcpy(chunk.id, "iXML", 4);
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(text.size());
    chunk.data = text.data();
    return sf_set_chunk(file, &chunk) == SF_ERR_NO_ERROR;
}

// Sets the requested chunks, noting refusals. False when a refusal fails the file.
bool SetChunks(SNDFILE* file, const WavFileFormat& format, WavWriteResult& result) {
    if (format.withBext) result.bextRefused = !SetBext(file, format.bext);
    if (!format.ixml.empty()) result.ixmlRefused = !SetIxml(file, format.ixml);
    return !format.chunksRequired || (!result.bextRefused && !result.ixmlRefused);
}

// Frames [at, at + n) of every channel, sanitised, interleaved into `block`.
void Interleave(const std::vector<ChannelSpan>& channels, int64_t at, int64_t n, std::vector<float>& block) {
    const size_t count = channels.size();
    for (size_t c = 0; c < count; ++c) {
        const ChannelSpan& source = channels[c];
        for (int64_t i = 0; i < n; ++i) {
            const int64_t k = at + i;
            block[static_cast<size_t>(i) * count + c] =
                k < source.count ? SanitizeSample(source.samples[k * source.stride]) : 0.0f;
        }
    }
}

// Writes every frame in blocks; false after a short write.
bool WriteFrames(SNDFILE* file, const std::vector<ChannelSpan>& channels, int64_t frames, WavWriteResult& result) {
    std::vector<float> block(static_cast<size_t>(std::min(kInterleaveFrames, frames)) * channels.size());
    for (int64_t at = 0; at < frames; at += kInterleaveFrames) {
        const int64_t n = std::min(kInterleaveFrames, frames - at);
        Interleave(channels, at, n, block);
        const sf_count_t written = sf_writef_float(file, block.data(), n);
        result.framesWritten += std::max<sf_count_t>(written, 0);
        if (written != n) return false;
    }
    return true;
}

int SoundFileFormat(const WavFileFormat& format) {
    return (format.extensible ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) |
           (format.bitDepth == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
}

int64_t HourLimit(int32_t sampleRate) { return static_cast<int64_t>(sampleRate) * kMaxExportSeconds; }

WavFileFormat BroadcastFormat(int32_t sampleRate, double startSeconds, const char* description) {
    WavFileFormat format;
    format.sampleRate = sampleRate;
    format.withBext = true;
    format.bext.description = description != nullptr ? description : kDefaultDescription;
    format.bext.timeReference = BextTimeReference(sampleRate, startSeconds);
    return format;
}

}  // namespace

std::vector<ChannelSpan> InterleavedChannels(const float* interleaved, int64_t frames, int channels) {
    std::vector<ChannelSpan> spans;
    for (int c = 0; c < channels; ++c) spans.push_back({interleaved + c, frames, channels});
    return spans;
}

uint64_t BextTimeReference(int32_t sampleRate, double startSeconds) {
    if (!std::isfinite(startSeconds)) return 0;
    return ToUnsignedSamples(static_cast<double>(sampleRate) * startSeconds);
}

WavWriteTotals WavWritesSoFar() {
    return {gFilesWritten.load(), static_cast<double>(gWriteNanoseconds.load()) * 1e-9};
}

WavWriteResult WriteWavFile(const std::string& path, const std::vector<ChannelSpan>& channels, int64_t frames,
                            const WavFileFormat& format, std::string* why) {
    const WriteTimer timer;
    WavWriteResult result;
    if (channels.empty() || frames < 1 || format.sampleRate < 1) {
        SetWhy(why, "nothing to write to " + path);
        return result;
    }
    PartialSoundFile partial;
    if (!OpenPartialSoundFile(path, SoundFileFormat(format), static_cast<int>(channels.size()), format.sampleRate,
                              &partial, why))
        return result;
    if (!SetChunks(partial.file, format, result)) {
        AbandonPartialSoundFile(partial);
        SetWhy(why, "cannot write " + path + ": the metadata chunks were refused");
        return result;
    }
    if (!WriteFrames(partial.file, channels, frames, result)) {
        AbandonPartialSoundFile(partial);
        result.shortWrite = true;
        SetWhy(why, "short write to " + path + " (disk full?)");
        return result;
    }
    result.written = FinishPartialSoundFile(partial, why, [&](const std::string& temporary) {
        if (format.extensible) result.extensibleFixUpFailed = !FinalizeExtensibleWav(temporary, format.speakerMask);
    });
    if (result.written) gFilesWritten.fetch_add(1);
    return result;
}

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description, std::string* why) {
    if (frames < 1 || samples == nullptr || sampleRate < 1) return false;
    const int64_t limit = HourLimit(sampleRate);
    if (frames > limit) {
        std::printf("[Export] WriteBWFClipMono: numFrames %d exceeds 1hr limit (%d) — %s\n", frames,
                    static_cast<int>(std::min<int64_t>(limit, INT32_MAX)), path.c_str());
        SetWhy(why, path + " would be longer than the one-hour limit");
        return false;
    }
    const WavWriteResult result =
        WriteWavFile(path, {{samples, frames}}, frames, BroadcastFormat(sampleRate, startSeconds, description), why);
    if (result.bextRefused)
        std::printf("[Export] WriteBWFClipMono: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n",
                    path.c_str());
    if (result.shortWrite)
        std::printf("[Export] WriteBWFClipMono: short write (%lld/%d) — disk full? Deleting %s\n",
                    static_cast<long long>(result.framesWritten), frames, path.c_str());
    return result.written;
}

bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description, std::string* why) {
    if (frames < 1 || left == nullptr || right == nullptr || sampleRate < 1) return false;
    const int64_t limit = HourLimit(sampleRate);
    if (frames > limit) {
        std::printf("[Export] WriteBWFStereo: numFrames %lld exceeds 1hr limit (%lld) — %s\n",
                    static_cast<long long>(frames), static_cast<long long>(limit), path.c_str());
        SetWhy(why, path + " would be longer than the one-hour limit");
        return false;
    }
    const WavWriteResult result = WriteWavFile(path, {{left, frames}, {right, frames}}, frames,
                                               BroadcastFormat(sampleRate, startSeconds, description), why);
    if (result.bextRefused)
        std::printf("[Export] WriteBWFStereo: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n",
                    path.c_str());
    if (result.shortWrite)
        std::printf("[Export] WriteBWFStereo: short write at frame %lld/%lld — disk full? Deleting %s\n",
                    static_cast<long long>(result.framesWritten), static_cast<long long>(frames), path.c_str());
    return result.written;
}

bool WriteBWFMulti(const std::string& path, const std::vector<std::vector<float>>& channels, uint32_t speakerMask,
                   int32_t sampleRate, double startSeconds, const char* description, bool plainContainer,
                   bool extensible, std::string* why) {
    if (channels.empty() || sampleRate < 1) return false;
    const int64_t frames = static_cast<int64_t>(channels[0].size());
    if (frames < 1) return false;
    if (frames > HourLimit(sampleRate)) {
        std::printf("[Export] WriteBWFMulti: numFrames %lld exceeds 1hr limit — %s\n",
                    static_cast<long long>(frames), path.c_str());
        SetWhy(why, path + " would be longer than the one-hour limit");
        return false;
    }
    WavFileFormat format = BroadcastFormat(sampleRate, startSeconds, description);
    format.extensible = extensible && !plainContainer;
    format.speakerMask = speakerMask;
    std::vector<ChannelSpan> spans;
    for (const std::vector<float>& channel : channels)
        spans.push_back({channel.data(), static_cast<int64_t>(channel.size())});
    // A refused bext only moves the file to zero, without a word.
    const WavWriteResult result = WriteWavFile(path, spans, frames, format, why);
    if (result.shortWrite) std::printf("[Export] WriteBWFMulti: short write — deleting %s\n", path.c_str());
    if (result.extensibleFixUpFailed)
        std::printf("[Export] WriteBWFMulti: WAV finalize (mask/fact) failed — %s\n", path.c_str());
    return result.written;
}

}  // namespace morvane
