#include "audio/fill_assembly.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace morvane {

int64_t FillLength(const std::vector<FillChunk>& chunks) {
    int64_t total = 0;
    for (size_t k = 0; k < chunks.size(); ++k)
        total += std::max<int64_t>(0, chunks[k].l) - (k == 0 ? 0 : std::max<int64_t>(0, chunks[k].x));
    return std::max<int64_t>(0, total);
}

bool FillChunksFit(const std::vector<FillChunk>& chunks, int64_t neededFrames) {
    if (chunks.empty() || neededFrames <= 0) return false;
    const int64_t total = FillLength(chunks);
    return std::llabs(total - neededFrames) <= static_cast<int64_t>(0.05 * static_cast<double>(neededFrames));
}

std::vector<FillChunk> MakeFillChunks(int64_t sourceFrames, int64_t neededFrames, int64_t firstStart,
                                      int sampleRate) {
    std::vector<FillChunk> chunks;
    if (sourceFrames <= 0 || neededFrames <= 0) return chunks;
    firstStart = std::clamp<int64_t>(firstStart, 0, sourceFrames - 1);
    const int64_t fade = std::min<int64_t>(static_cast<int64_t>(0.05 * sampleRate), sourceFrames / 4);
    int64_t covered = 0;
    // Chunk lengths fit in 32 bits for any file under 12 hours at 48 kHz; longer
    // sources are simply used in pieces of that size.
    const int64_t cap = INT32_MAX;
    while (covered < neededFrames && chunks.size() < 4096) {
        const bool first = chunks.empty();
        const int64_t x = first ? 0 : fade;
        const int64_t start = first ? firstStart : 0;
        const int64_t length = std::min({sourceFrames - start, neededFrames - covered + x, cap});
        if (length <= x) break;  // a source too short to carry a crossfade
        chunks.push_back({static_cast<int32_t>(start), static_cast<int32_t>(length), static_cast<int32_t>(x)});
        covered += length - x;
    }
    return chunks;
}

std::vector<float> AssembleFill(const std::vector<float>& source, const std::vector<FillChunk>& chunks) {
    std::vector<float> out(static_cast<size_t>(FillLength(chunks)), 0.0f);
    const int64_t sourceFrames = static_cast<int64_t>(source.size());
    int64_t position = 0;  // where the current chunk begins in the output
    for (size_t k = 0; k < chunks.size(); ++k) {
        const int64_t length = std::max<int64_t>(0, chunks[k].l);
        const int64_t x = k == 0 ? 0 : std::clamp<int64_t>(chunks[k].x, 0, length);
        position -= x;  // overlap the tail of the previous chunk
        for (int64_t i = 0; i < length; ++i) {
            const int64_t at = position + i;
            if (at < 0 || at >= static_cast<int64_t>(out.size())) continue;
            const int64_t src = static_cast<int64_t>(chunks[k].s) + i;
            const float v = src >= 0 && src < sourceFrames ? source[static_cast<size_t>(src)] : 0.0f;
            float in = 1.0f;
            if (i < x) {
                // Equal power: the joined pieces are different stretches of sound,
                // uncorrelated, so their powers add.
                const double t = (static_cast<double>(i) + 0.5) / static_cast<double>(x);
                in = static_cast<float>(std::sin(0.5 * M_PI * t));
                out[static_cast<size_t>(at)] *= static_cast<float>(std::cos(0.5 * M_PI * t));
            }
            out[static_cast<size_t>(at)] += v * in;
        }
        position += length;
    }
    return out;
}

}  // namespace morvane
