#include "export/tagged_clip_writer.h"

#include <cstdio>

#include "export/bwf_writer.h"
#include "model/timeline.h"

namespace morvane {

namespace {

constexpr size_t kDescriptionMax = 255;
constexpr size_t kSeparatorWindow = 257;  // the separator must lie within these characters
constexpr size_t kSeparatorEarliest = 32;  // index of character 33

}  // namespace

std::string CutBextDescription(const std::string& text) {
    if (text.size() <= kDescriptionMax) return text;
    const size_t separator = text.rfind(", ", kSeparatorWindow - 2);
    if (separator != std::string::npos && separator >= kSeparatorEarliest) return text.substr(0, separator);
    return CutText(text, kDescriptionMax);
}

bool WriteTaggedClip(const std::string& path, int channels, int bitDepth, int32_t sampleRate,
                     const std::vector<float>& interleaved, const std::string& description,
                     const std::string& ixml) {
    if ((channels != 1 && channels != 2) || sampleRate < 1) return false;
    const int64_t frames = static_cast<int64_t>(interleaved.size() / static_cast<size_t>(channels));
    if (frames < 1) return false;
    WavFileFormat format;
    format.sampleRate = sampleRate;
    format.bitDepth = bitDepth;
    format.withBext = !description.empty();
    format.bext.description = CutBextDescription(description);
    format.ixml = ixml;
    const WavWriteResult result =
        WriteWavFile(path, InterleavedChannels(interleaved.data(), frames, channels), frames, format);
    if (result.ixmlRefused) std::printf("[Export] WriteTaggedClip: iXML chunk refused — %s\n", path.c_str());
    if (result.shortWrite)
        std::printf("[Export] WriteTaggedClip: short write (%lld/%lld) — disk full? Deleting %s\n",
                    static_cast<long long>(result.framesWritten), static_cast<long long>(frames), path.c_str());
    return result.written;
}

}  // namespace morvane
