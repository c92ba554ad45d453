#pragma once
// The channel layouts of the mixdown and the stems ("exportWavLayout"): stereo,
// 5.1, 7.1.4 and first-order AmbiX, what each writes into the file (channel order,
// speaker mask, container) and how an offline mix cache is set up to produce it.
#include <cstdint>
#include <string>
#include <vector>

#include "audio/render_cache.h"

namespace morvane {

enum ExportLayout : int { kExportStereo = 0, kExport51 = 1, kExport714 = 2, kExportAmbiX = 3 };
inline constexpr int kExportLayoutCount = 4;

struct ExportLayoutInfo {
    const char* name = "Stereo";  // "Stereo", "5.1", "7.1.4", "AmbiX"
    int channels = 2;
    // The speaker mask of the extensible container; 0 with the plain container.
    uint32_t speakerMask = 0x3;
    bool plainContainer = false;  // AmbiX: no speaker positions to announce
    // For each channel of the file, the channel of the offline mix it comes from.
    // Extensible files must hold their channels in the order of the mask's bits,
    // which puts the rear pair of 7.1.4 before the side pair.
    std::vector<int> mixChannelOfFileChannel;
};

// The layout `layout` (a value outside 0..3 reads as stereo).
ExportLayoutInfo DescribeExportLayout(int layout);

// The channels of the layout's files as the panel lists them after "Channels: ", in
// the order they lie in the file: "L R" ... "L R C LFE Lrs Rrs Ls Rs Ltf Rtf Ltr Rtr",
// and for AmbiX "W Y Z X (ACN / SN3D)".
std::string ExportLayoutChannels(int layout);

// Sets up `cache`'s mixer so that an offline mix of the layout's channel count
// produces the layout: the surround decoders for 5.1 and 7.1.4, the plain sound
// field (W, Y, Z, X in ACN order, SN3D) for AmbiX. Stereo needs nothing.
void ConfigureExportLayout(RenderCache& cache, int layout);

// The interleaved mix split into the file's channels, `frames` each (missing
// frames are silence).
std::vector<std::vector<float>> FileChannelsFromMix(const std::vector<float>& interleaved, int64_t frames,
                                                    const ExportLayoutInfo& layout);

}  // namespace morvane
