#pragma once
// Sound files made on the spot for the library tests.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace morvane::test {

struct SoundParams {
    int sampleRate = 48000;
    int channels = 1;
    long long frames = 4800;
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    double frequency = 1000.0;  // 0 = silence
    double amplitude = 0.5;
    std::string bextDescription;                  // written when not empty
    std::vector<std::pair<int, std::string>> strings;  // SF_STR_* and text
    std::string ixml;                             // iXML chunk when not empty
    std::vector<int> channelMap;                  // SF_CHANNEL_MAP_* when not empty
};

inline bool WriteSound(const std::string& path, const SoundParams& sound) {
    SF_INFO info{};
    info.samplerate = sound.sampleRate;
    info.channels = sound.channels;
    info.format = sound.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    if (!sound.bextDescription.empty()) {
        SF_BROADCAST_INFO bext{};
        std::memcpy(bext.description, sound.bextDescription.data(),
                    std::min(sound.bextDescription.size(), sizeof bext.description));
        sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    }
    if (!sound.channelMap.empty())
        sf_command(file, SFC_SET_CHANNEL_MAP_INFO, const_cast<int*>(sound.channelMap.data()),
                   static_cast<int>(sound.channelMap.size() * sizeof(int)));
    for (const auto& [kind, text] : sound.strings) sf_set_string(file, kind, text.c_str());
    if (!sound.ixml.empty()) {
        SF_CHUNK_INFO chunk{};
        std::memcpy(chunk.id, "iXML", 4);
        chunk.id_size = 4;
        std::string data = sound.ixml;
        chunk.datalen = static_cast<unsigned>(data.size());
        chunk.data = data.data();
        sf_set_chunk(file, &chunk);
    }
    std::vector<float> block(4096 * static_cast<size_t>(sound.channels));
    long long written = 0;
    while (written < sound.frames) {
        const long long n = std::min<long long>(4096, sound.frames - written);
        for (long long i = 0; i < n; ++i) {
            const double t = static_cast<double>(written + i) / sound.sampleRate;
            const double x = sound.frequency > 0 ? sound.amplitude * std::sin(2 * M_PI * sound.frequency * t) : 0.0;
            for (int c = 0; c < sound.channels; ++c) block[static_cast<size_t>(i * sound.channels + c)] = static_cast<float>(x);
        }
        sf_writef_float(file, block.data(), n);
        written += n;
    }
    sf_close(file);
    return true;
}

}  // namespace morvane::test
