#pragma once
// Fetching a piece of a source file as channel buffers at the project's rate,
// through the process-wide decoded-segment cache, so the same piece of a file is
// decoded and resampled only once however many layers use it.
#include <memory>
#include <string>

#include "audio/render_cache.h"

namespace morvane {

// [offset, offset + duration) seconds of the file at `path`, at `sampleRate`.
// With `keepChannels` off the channels are averaged to one (a mono layer); with it
// on the file's channels are kept (at most twelve), with their speaker roles from
// the file's channel map, the channel-order fallback and the library's
// interpretation of the path. Null when the file cannot be read or the piece is
// empty (an offset past the end).
std::shared_ptr<const DecodedSegment> LoadSegment(const std::string& path, double offset, double duration,
                                                  int sampleRate, bool keepChannels, int channelOrderFallback);

// Decode misses since the start (tests and benchmarks check that cached pieces are
// not decoded again).
uint64_t SegmentDecodeCount();

}  // namespace morvane
