#include "audio/ambisonics.h"

#include <algorithm>
#include <cmath>

#include "library/channel_map.h"

namespace morvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kDeg = static_cast<float>(kPi / 180.0);

// Where each role's speaker stands, for decoding (the height roles included).
struct SpeakerDirection {
    float azimuth;    // degrees, positive to the left
    float elevation;  // degrees
    bool hasDirection;
};
constexpr SpeakerDirection kSpeakerDirections[kChannelRoleCount] = {
    {30, 0, true},    {-30, 0, true},   {0, 0, true},     {0, 0, false},    // L R C LFE
    {110, 0, true},   {-110, 0, true},  {150, 0, true},   {-150, 0, true},  // Ls Rs Lrs Rrs
    {45, 45, true},   {-45, 45, true},  {135, 45, true},  {-135, 45, true}, // Ltf Rtf Ltr Rtr
};

// In-phase row for a speaker in direction (az, el), before normalisation.
AmbiGains InPhaseRow(float azimuthDeg, float elevationDeg) {
    const AmbiGains d = EncodeDirection(azimuthDeg * kDeg, elevationDeg * kDeg);
    return {1.0f, d.y, d.z, d.x};
}

// Scales rows so that a horizontal source has on average unit energy over them.
template <size_t N>
void NormaliseRows(std::array<AmbiGains, N>& rows, int count) {
    double total = 0.0;
    constexpr int kSteps = 360;
    for (int i = 0; i < kSteps; ++i) {
        const AmbiGains s = EncodeDirection(static_cast<float>(2.0 * kPi * i / kSteps), 0.0f);
        for (int r = 0; r < count; ++r) {
            const double g = rows[r].w * s.w + rows[r].y * s.y + rows[r].z * s.z + rows[r].x * s.x;
            total += g * g;
        }
    }
    const double mean = total / kSteps;
    const float k = mean > 0.0 ? static_cast<float>(1.0 / std::sqrt(mean)) : 0.0f;
    for (int r = 0; r < count; ++r) {
        rows[r].w *= k;
        rows[r].y *= k;
        rows[r].z *= k;
        rows[r].x *= k;
    }
}

}  // namespace

AmbiGains EncodeDirection(float azimuth, float elevation) {
    const float ce = std::cos(elevation);
    return {1.0f, std::sin(azimuth) * ce, std::sin(elevation), std::cos(azimuth) * ce};
}

bool RoleAzimuth(int role, float* azimuth) {
    // Only the seven ear-height roles have an encoding direction; LFE and the
    // height roles reach the field through W.
    switch (role) {
        case kRoleL: case kRoleR: case kRoleC: case kRoleLs: case kRoleRs: case kRoleLrs: case kRoleRrs:
            *azimuth = kSpeakerDirections[role].azimuth * kDeg;
            return true;
        default:
            return false;
    }
}

AmbiGains EncodeSourceChannel(int channel, int channels, const int* roles, bool stereoPair) {
    if (channels <= 1) return EncodeDirection(0.0f, 0.0f);
    if (stereoPair && channels == 2) return EncodeDirection(channel == 0 ? 30.0f * kDeg : -30.0f * kDeg, 0.0f);
    float azimuth = 0.0f;
    if (roles && channel >= 0 && channel < channels && RoleAzimuth(roles[channel], &azimuth))
        return EncodeDirection(azimuth, 0.0f);
    return {1.0f, 0.0f, 0.0f, 0.0f};
}

SpreadComponents ComputeSpread(int mode, float amount, float azimuth, float elevation) {
    float v = (amount < 0.0f || !std::isfinite(amount)) ? 0.5f : std::clamp(amount, 0.0f, 1.0f);
    const float f = mode == 1 ? 0.25f : mode == 2 ? 0.6f : 1.0f;
    v = v * 0.5f * f;
    if (2.0f * v * v > 0.9f) v = 0.67f;
    SpreadComponents s;
    s.direct = std::sqrt(std::max(0.0f, 1.0f - 2.0f * v * v));
    if (v <= 0.001f) return s;
    s.side = v;
    s.hasSides = true;
    s.sideAzimuth[0] = azimuth + 1.9198622f;
    s.sideAzimuth[1] = azimuth - 1.9198622f;
    s.sideElevation = elevation + 0.2617994f;
    return s;
}

void InitSideHighPass(SideHighPass& f, int sampleRate) {
    const double rate = std::max(1000, sampleRate);
    const double w0 = 2.0 * kPi * 250.0 / rate;
    const double alpha = std::sin(w0) / (2.0 * 0.70710678);
    const double cw = std::cos(w0);
    const double a0 = 1.0 + alpha;
    f.b0 = static_cast<float>((1.0 + cw) / 2.0 / a0);
    f.b1 = static_cast<float>(-(1.0 + cw) / a0);
    f.b2 = f.b0;
    f.a1 = static_cast<float>(-2.0 * cw / a0);
    f.a2 = static_cast<float>((1.0 - alpha) / a0);
    f.x1 = f.x2 = f.y1 = f.y2 = 0.0f;
}

MonitorLayoutInfo MonitorLayout(int monitorLayout) {
    MonitorLayoutInfo info;
    info.roles.fill(kRoleUnknown);
    switch (monitorLayout) {
        case kMonitor51:
            info.layoutNumber = 6;
            info.speakerCount = 6;
            for (int i = 0; i < 6; ++i) info.roles[i] = i;  // L R C LFE Ls Rs
            break;
        case kMonitor714:
            info.layoutNumber = 9;
            info.speakerCount = 12;
            for (int i = 0; i < 12; ++i) info.roles[i] = i;
            break;
        default:
            info.layoutNumber = 2;
            info.speakerCount = 2;
            info.roles[0] = kRoleL;
            info.roles[1] = kRoleR;
            break;
    }
    return info;
}

SpeakerDecoder MakeSpeakerDecoder(int monitorLayout) {
    const MonitorLayoutInfo info = MonitorLayout(monitorLayout);
    SpeakerDecoder d;
    d.speakerCount = info.speakerCount;
    d.roles = info.roles;
    if (info.speakerCount == 2) {
        // Two virtual cardioids aimed left and right.
        d.gains[0] = InPhaseRow(90.0f, 0.0f);
        d.gains[1] = InPhaseRow(-90.0f, 0.0f);
    } else {
        for (int s = 0; s < d.speakerCount; ++s) {
            const SpeakerDirection& dir = kSpeakerDirections[d.roles[s]];
            d.gains[s] = dir.hasDirection ? InPhaseRow(dir.azimuth, dir.elevation) : AmbiGains{};
        }
    }
    NormaliseRows(d.gains, d.speakerCount);
    return d;
}

void InitBinauralDecoder(BinauralDecoder& b, int sampleRate) {
    b.sampleRate = std::max(8000, sampleRate);
    constexpr float kSpeakerAzimuth[kBinauralSpeakers] = {0, 60, -60, 120, -120, 180};
    for (int s = 0; s < kBinauralSpeakers; ++s) b.speakerGains[s] = InPhaseRow(kSpeakerAzimuth[s], 0.0f);
    NormaliseRows(b.speakerGains, kBinauralSpeakers);

    constexpr double kHeadRadius = 0.0875;  // metres
    constexpr double kSpeedOfSound = 343.0;
    const double headTime = kHeadRadius / kSpeedOfSound;
    const double beta = 2.0 * kSpeedOfSound / kHeadRadius;
    const double K = 2.0 * b.sampleRate;
    for (int s = 0; s < kBinauralSpeakers; ++s) {
        for (int ear = 0; ear < 2; ++ear) {
            const double earAzimuth = ear == 0 ? 90.0 : -90.0;
            // Angle between the source and the ear's axis, 0..π.
            const double theta = std::acos(std::clamp(std::cos((kSpeakerAzimuth[s] - earAzimuth) * kPi / 180.0), -1.0, 1.0));
            // Woodworth's path difference, measured from the nearest possible arrival.
            const double t = theta < kPi / 2 ? headTime * (1.0 - std::cos(theta)) : headTime * (1.0 + theta - kPi / 2);
            b.delay[s][ear] = static_cast<float>(t * b.sampleRate);
            const double alpha = 1.05 + 0.95 * std::cos(theta * 180.0 / 150.0);
            const double norm = K + beta;
            auto& c = b.shadow[s * 2 + ear];
            c[0] = static_cast<float>((alpha * K + beta) / norm);
            c[1] = static_cast<float>((beta - alpha * K) / norm);
            c[2] = static_cast<float>((beta - K) / norm);
        }
    }
    // The virtual speakers add up partly coherently at each ear; this brings a
    // frontal source back to about the level of the plain stereo mix.
    b.outputGain = 0.6f;
    ClearBinaural(b);
}

void ClearBinaural(BinauralDecoder& b) {
    for (auto& h : b.history) h.fill(0.0f);
    b.shadowX1.fill(0.0f);
    b.shadowY1.fill(0.0f);
    b.write = 0;
}

void ProcessBinaural(BinauralDecoder& b, const float* w, const float* y, const float* z, const float* x,
                     float* left, float* right, int frames) {
    constexpr int kMask = kBinauralDelayLength - 1;
    for (int n = 0; n < frames; ++n) {
        float ears[2] = {0.0f, 0.0f};
        for (int s = 0; s < kBinauralSpeakers; ++s) {
            const AmbiGains& g = b.speakerGains[s];
            b.history[s][b.write] = g.w * w[n] + g.y * y[n] + g.z * z[n] + g.x * x[n];
            for (int ear = 0; ear < 2; ++ear) {
                const float d = b.delay[s][ear];
                const int whole = static_cast<int>(d);
                const float frac = d - static_cast<float>(whole);
                const float a = b.history[s][(b.write - whole) & kMask];
                const float c = b.history[s][(b.write - whole - 1) & kMask];
                const float in = a + (c - a) * frac;
                const int f = s * 2 + ear;
                const auto& k = b.shadow[f];
                float out = k[0] * in + k[1] * b.shadowX1[f] - k[2] * b.shadowY1[f];
                if (out > -1e-20f && out < 1e-20f) out = 0.0f;
                b.shadowX1[f] = in;
                b.shadowY1[f] = out;
                ears[ear] += out;
            }
        }
        b.write = (b.write + 1) & kMask;
        left[n] = ears[0] * b.outputGain;
        right[n] = ears[1] * b.outputGain;
    }
}

}  // namespace morvane
