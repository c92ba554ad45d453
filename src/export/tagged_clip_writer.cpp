#include "export/tagged_clip_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "export/bwf_writer.h"
#include "export/partial_file.h"
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
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / static_cast<size_t>(channels));
    if (frames < 1) return false;
    const int format = SF_FORMAT_WAV | (bitDepth == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    PartialSoundFile partial;
    if (!OpenPartialSoundFile(path, format, channels, sampleRate, &partial, nullptr)) return false;
    SNDFILE* file = partial.file;
    if (!description.empty()) {
        SF_BROADCAST_INFO bext;
        std::memset(&bext, 0, sizeof bext);
        const std::string text = CutBextDescription(description);
        std::memcpy(bext.description, text.data(), std::min(text.size(), sizeof bext.description));
        std::memcpy(bext.originator, "Morvane", 7);
        bext.version = 1;
        sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    }
    if (!ixml.empty()) {
        SF_CHUNK_INFO chunk;
        std::memset(&chunk, 0, sizeof chunk);
        std::memcpy(chunk.id, "iXML", 4);
        chunk.id_size = 4;
        std::string data = ixml;
        chunk.datalen = static_cast<unsigned>(data.size());
        chunk.data = data.data();
        if (sf_set_chunk(file, &chunk) != SF_ERR_NO_ERROR)
            std::printf("[Export] WriteTaggedClip: iXML chunk refused — %s\n", path.c_str());
    }
    std::vector<float> block(interleaved.size());
    for (size_t i = 0; i < interleaved.size(); ++i) block[i] = SanitizeSample(interleaved[i]);
    const sf_count_t written = sf_writef_float(file, block.data(), frames);
    if (written != frames) {
        std::printf("[Export] WriteTaggedClip: short write (%lld/%lld) — disk full? Deleting %s\n",
                    static_cast<long long>(written), static_cast<long long>(frames), path.c_str());
        AbandonPartialSoundFile(partial);
        return false;
    }
    return FinishPartialSoundFile(partial, nullptr);
}

}  // namespace morvane
