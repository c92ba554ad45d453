#pragma once
// Single-sideband frequency shift of rendered layer audio: every component moves
// by the same number of hertz (not by a ratio, as a pitch shift does), which
// detunes harmonic sounds into inharmonic ones, the "freqShiftIntensity" colour
// of a project.
//
// The analytic signal x + j·H{x} is formed with a windowed FIR Hilbert transformer
// (Blackman window, about a sixth of a second of taps: 8001 at 48 kHz), applied by
// fast convolution in overlapping blocks. Then y = Re{(x + j·H{x}) · e^{j2πft}}.
//
// Why a long FIR by block convolution rather than one FFT of the whole layer:
// - One transform over a whole layer needs memory for minutes of complex audio
//   and treats the layer as periodic, so its end would leak into its start. The
//   block convolution costs O(n log n) in blocks of a fixed size.
// - The FIR's length sets how low the shifter stays right: its response reaches
//   full level about 16 Hz above DC, so a 100 Hz tone moves to 130 Hz without an
//   audible mirror image at 70 Hz. Content below that is rumble, and the channel's
//   DC offset is taken out first, since a shifted DC would be a steady hum.
// - The transforms are the program's one FFT (library/fft.h), whose plans are made
//   under a lock: FFTW's planner may not be used from two threads at once, and the
//   library scan plans on its own threads.
// The result depends only on the input, the shift and the rate, so renders repeat
// bit for bit.
#include <vector>

namespace morvane {

// Shifts every frequency of `channel` (at `sampleRate`) by `shiftHz`, positive
// up. A steady tone keeps its level. A shift of 0 (or a non-finite one) leaves
// the samples untouched.
void ShiftFrequency(std::vector<float>& channel, float shiftHz, int sampleRate);

// The same shift for every channel of a layer, so a stereo or multichannel image
// stays as it was.
void ShiftFrequency(std::vector<std::vector<float>>& channels, float shiftHz, int sampleRate);

}  // namespace morvane
