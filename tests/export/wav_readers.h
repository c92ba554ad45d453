#pragma once
// Independent readers of written WAV files for the export tests: a RIFF chunk
// walker, libsndfile's own bext and chunk queries, and ffprobe.
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace morvane::test {

struct RiffChunk {
    std::string id;
    uint32_t size = 0;
    std::vector<unsigned char> body;
};

// The chunks of a RIFF/WAVE file in order; empty when the header is not RIFF/WAVE.
inline std::vector<RiffChunk> ReadRiffChunks(const std::string& path, uint32_t* riffSize = nullptr) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<RiffChunk> chunks;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return chunks;
    auto le32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
               static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
    };
    if (riffSize) *riffSize = le32(4);
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        RiffChunk c;
        c.id.assign(reinterpret_cast<const char*>(bytes.data() + at), 4);
        c.size = le32(at + 4);
        const size_t end = std::min(bytes.size(), at + 8 + c.size);
        c.body.assign(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(end));
        chunks.push_back(std::move(c));
        at += 8 + static_cast<size_t>(chunks.back().size) + (chunks.back().size & 1u);
    }
    return chunks;
}

inline const RiffChunk* FindChunk(const std::vector<RiffChunk>& chunks, const char* id) {
    for (const RiffChunk& c : chunks)
        if (c.id == id) return &c;
    return nullptr;
}

// The channel mask of an extensible format chunk; nothing for a plain one.
inline std::optional<uint32_t> ChannelMask(const std::vector<RiffChunk>& chunks) {
    const RiffChunk* fmt = FindChunk(chunks, "fmt ");
    if (!fmt || fmt->body.size() < 24) return std::nullopt;
    const unsigned char* p = fmt->body.data() + 20;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Runs a command and returns its standard output.
inline std::string RunCommand(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    ::pclose(pipe);
    return out;
}

// One value as ffprobe reports it ("format_tags=time_reference",
// "stream=channel_layout"), or empty when ffprobe cannot read the file.
inline std::string Probe(const std::string& path, const std::string& entry) {
    std::string out = RunCommand("ffprobe -v error -show_entries " + entry + " -of default=nw=1:nk=1 '" + path +
                                 "' 2>/dev/null");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

struct ReadBack {
    bool ok = false;
    int channels = 0;
    int sampleRate = 0;
    int64_t frames = 0;
    int format = 0;
    std::vector<int> samples;  // interleaved, full scale as 32-bit
    bool hasBext = false;
    SF_BROADCAST_INFO bext{};
};

inline ReadBack ReadWav(const std::string& path) {
    ReadBack r;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return r;
    r.ok = true;
    r.channels = info.channels;
    r.sampleRate = info.samplerate;
    r.frames = info.frames;
    r.format = info.format;
    r.samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_int(f, r.samples.data(), info.frames);
    r.hasBext = sf_command(f, SFC_GET_BROADCAST_INFO, &r.bext, sizeof r.bext) == SF_TRUE;
    sf_close(f);
    return r;
}

inline uint64_t TimeReference(const ReadBack& r) {
    return static_cast<uint64_t>(r.bext.time_reference_high) << 32 | r.bext.time_reference_low;
}

// The body of the file's chunk `id` through libsndfile's chunk API; nothing when absent.
inline std::optional<std::string> ReadChunkWithLibrary(const std::string& path, const char* id) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return std::nullopt;
    SF_CHUNK_INFO query{};
    std::memcpy(query.id, id, 4);
    query.id_size = 4;
    SF_CHUNK_ITERATOR* it = sf_get_chunk_iterator(f, &query);
    std::optional<std::string> body;
    if (it) {
        SF_CHUNK_INFO chunk{};
        if (sf_get_chunk_size(it, &chunk) == SF_ERR_NO_ERROR && chunk.datalen > 0) {
            std::string data(chunk.datalen, '\0');
            chunk.data = data.data();
            if (sf_get_chunk_data(it, &chunk) == SF_ERR_NO_ERROR) body = data.substr(0, chunk.datalen);
        }
    }
    sf_close(f);
    return body;
}

}  // namespace morvane::test
