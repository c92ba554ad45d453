#include "demo/sound_families.h"

#include <algorithm>
#include <cmath>

namespace morvane::demo {

namespace {

// The short noisy contact at the start of every struck sound.
Signal ContactClick(int frames, int rate, float brightness, float length, SynthRng& rng) {
    Signal click = WhiteNoise(frames, rng);
    const float hz = 1500.0f + 9000.0f * brightness;
    LowPass(click, rate, hz, hz * 0.5f);
    ApplyAttackDecay(click, rate, 0.0005f, length);
    return click;
}

Signal Wood(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    const float base = 140.0f + 260.0f * (1.0f - p.size);
    const float decay = 0.12f + 0.35f * p.size;
    Signal s = ModalStrike(frames, rate,
                           {{base, decay, 1.0f},
                            {base * 2.31f, decay * 0.6f, 0.6f},
                            {base * 3.9f, decay * 0.4f, 0.35f},
                            {base * 6.2f, decay * 0.25f, 0.2f * (0.5f + p.brightness)}},
                           rng);
    MixInto(s, ContactClick(frames, rate, p.brightness * 0.6f, 0.03f, rng), 0, 0.8f);
    // Big doors and crates add a low thump of the whole panel.
    if (p.size > 0.6f) MixInto(s, ModalStrike(frames, rate, {{70.0f + 30.0f * (1 - p.size), 0.25f, 1.2f}}, rng), 0, 1.0f);
    return s;
}

Signal Metal(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    const float base = 220.0f + 700.0f * (1.0f - p.size);
    const float decay = 0.6f + 2.2f * p.size;
    // Inharmonic ratios of a free plate: what makes it read as metal.
    static const float kRatios[] = {1.0f, 2.76f, 5.40f, 8.93f, 13.34f, 3.61f};
    std::vector<Partial> partials;
    for (int i = 0; i < 6; ++i)
        partials.push_back({base * kRatios[i] * rng.Range(0.98f, 1.02f), decay / (1.0f + 0.35f * i),
                            (i == 0 ? 1.0f : 0.7f / (1.0f + 0.3f * i)) * (0.6f + 0.8f * p.brightness)});
    Signal s = ModalStrike(frames, rate, partials, rng);
    MixInto(s, ContactClick(frames, rate, 0.6f + 0.4f * p.brightness, 0.01f, rng), 0, 0.6f);
    return s;
}

Signal Glass(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    const float base = 1200.0f + 2000.0f * (1.0f - p.size);
    Signal s = ModalStrike(frames, rate,
                           {{base, 0.9f, 1.0f}, {base * 2.32f, 0.6f, 0.7f}, {base * 4.25f, 0.4f, 0.45f},
                            {base * 6.8f, 0.25f, 0.3f}},
                           rng);
    MixInto(s, ContactClick(frames, rate, 1.0f, 0.006f, rng), 0, 0.7f);
    return s;
}

Signal GlassBreak(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = Glass(frames, rate, p, rng);
    // The shards: many small bright strikes over the first second, thinning out.
    const int shards = 40 + static_cast<int>(60 * p.size);
    for (int i = 0; i < shards; ++i) {
        const float t = 0.02f + 0.9f * std::pow(rng.Uniform(), 2.0f);
        const float hz = rng.Range(2500.0f, 9000.0f);
        const int len = FramesOf(0.25f, rate);
        Signal shard = ModalStrike(len, rate, {{hz, rng.Range(0.05f, 0.2f), 1.0f}, {hz * 1.7f, 0.08f, 0.5f}}, rng);
        MixInto(shard, ContactClick(len, rate, 1.0f, 0.003f, rng), 0, 0.8f);
        MixInto(s, shard, FramesOf(t, rate), rng.Range(0.1f, 0.5f) * (1.0f - t));
    }
    return s;
}

Signal Body(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    // A punch: a falling low thump under a dull slap of flesh and cloth.
    Signal thump = SineGlide(frames, rate, 110.0f - 40.0f * p.size, 45.0f);
    ApplyAttackDecay(thump, rate, 0.002f, 0.12f + 0.25f * p.size);
    Signal slap = WhiteNoise(frames, rng);
    LowPass(slap, rate, 1800.0f + 2500.0f * p.brightness, 500.0f);
    ApplyAttackDecay(slap, rate, 0.001f, 0.08f);
    MixInto(thump, slap, 0, 0.7f);
    return thump;
}

Signal BodyFall(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    // Knees, then the torso, then a small settle.
    const float times[] = {0.0f, 0.12f + 0.05f * p.size, 0.35f};
    const float gains[] = {0.5f, 1.0f, 0.25f};
    for (int i = 0; i < 3; ++i) {
        SoundParams part = p;
        part.size = std::min(1.0f, p.size + (i == 1 ? 0.3f : 0.0f));
        MixInto(s, Body(FramesOf(0.6f, rate), rate, part, rng), FramesOf(times[i], rate), gains[i]);
    }
    Signal cloth = WhiteNoise(frames, rng);
    BandPass(cloth, rate, 2500.0f, 1200.0f, 0.7f);
    ApplyCurve(cloth, {0.0f, 0.4f, 0.2f, 0.05f, 0.0f, 0.0f});
    MixInto(s, cloth, 0, 0.5f);
    return s;
}

Signal Stone(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = WhiteNoise(frames, rng);
    LowPass(s, rate, 2500.0f + 3000.0f * p.brightness, 300.0f);
    ApplyAttackDecay(s, rate, 0.001f, 0.15f + 0.3f * p.size);
    MixInto(s, ModalStrike(frames, rate, {{90.0f + 120.0f * (1 - p.size), 0.2f, 0.8f}, {330.0f, 0.1f, 0.3f}}, rng), 0,
            1.0f);
    // Debris after the hit.
    MixInto(s, Crackle(frames, rate, 30.0f, 0.004f, rng), FramesOf(0.05f, rate), 0.15f);
    return s;
}

// Band-passed noise swelling and fading: air moved past the microphone.
Signal WhooshMono(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = WhiteNoise(frames, rng);
    const float low = 300.0f + 500.0f * p.brightness, high = low * (3.0f + 4.0f * p.brightness);
    Signal up(s.begin(), s.begin() + frames / 2), down(s.begin() + frames / 2, s.end());
    BandPass(up, rate, low, high, 1.2f);
    BandPass(down, rate, high, low * 0.7f, 1.2f);
    std::copy(up.begin(), up.end(), s.begin());
    std::copy(down.begin(), down.end(), s.begin() + frames / 2);
    ApplyCurve(s, {0.0f, 0.05f, 0.2f, 0.6f, 1.0f, 0.7f, 0.3f, 0.1f, 0.0f});
    return s;
}

Signal Riser(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal noise = WhiteNoise(frames, rng);
    BandPass(noise, rate, 300.0f, 6000.0f + 4000.0f * p.brightness, 2.5f);
    Signal tone = SineGlide(frames, rate, NoteHz(p.note - 12), NoteHz(p.note + 12));
    Signal fifth = SineGlide(frames, rate, NoteHz(p.note - 5), NoteHz(p.note + 19));
    MixInto(noise, tone, 0, 0.35f);
    MixInto(noise, fifth, 0, 0.2f);
    std::vector<float> curve;
    for (int i = 0; i <= 20; ++i) curve.push_back(std::pow(i / 20.0f, 2.5f));
    curve.back() = 1.0f;
    ApplyCurve(noise, curve);
    return noise;
}

Signal Drone(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    const float root = NoteHz(p.note);
    // Slightly detuned partials beat against each other slowly.
    for (float ratio : {0.5f, 1.0f, 1.003f, 1.5f, 2.0f, 2.997f})
        MixInto(s, SineGlide(frames, rate, root * ratio, root * ratio * 1.002f), 0, 0.3f / ratio);
    Signal air = BrownNoise(frames, rng);
    LowPass(air, rate, 400.0f + 800.0f * p.brightness, 400.0f + 800.0f * p.brightness);
    MixInto(s, air, 0, 3.0f);
    std::vector<float> swell;
    for (int i = 0; i < 12; ++i) swell.push_back(0.75f + 0.25f * std::sin(i * 1.3f + rng.Uniform()));
    ApplyCurve(s, swell);
    return s;
}

Signal TonalHit(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    const float f = NoteHz(p.note);
    Signal s = ModalStrike(frames, rate,
                           {{f, 2.5f, 1.0f}, {f * 2.0f, 1.6f, 0.5f}, {f * 3.0f, 1.0f, 0.3f}, {f * 4.2f, 0.6f, 0.2f},
                            {f * 0.5f, 1.8f, 0.6f}},
                           rng);
    Signal boom = SineGlide(frames, rate, 90.0f, 38.0f);
    ApplyAttackDecay(boom, rate, 0.003f, 0.9f);
    MixInto(s, boom, 0, 0.7f * p.size);
    MixInto(s, ContactClick(frames, rate, p.brightness, 0.02f, rng), 0, 0.5f);
    return s;
}

Signal FireCrackle(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = Crackle(frames, rate, 25.0f + 60.0f * p.size, 0.003f, rng);
    HighPass(s, rate, 800.0f);
    Signal roar = BrownNoise(frames, rng);
    LowPass(roar, rate, 500.0f, 500.0f);
    MixInto(s, roar, 0, 2.0f * p.size);
    return s;
}

Signal FireBurn(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal roar = BrownNoise(frames, rng);
    LowPass(roar, rate, 900.0f, 900.0f);
    std::vector<float> flicker;
    for (int i = 0; i < 40; ++i) flicker.push_back(0.6f + 0.4f * rng.Uniform());
    ApplyCurve(roar, flicker);
    Signal crackle = Crackle(frames, rate, 12.0f, 0.004f, rng);
    HighPass(crackle, rate, 1500.0f);
    for (float& v : roar) v *= 3.0f;
    MixInto(roar, crackle, 0, 0.25f + 0.3f * p.brightness);
    return roar;
}

Signal WaterFlow(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = WhiteNoise(frames, rng);
    BandPass(s, rate, 900.0f + 1200.0f * p.brightness, 700.0f + 900.0f * p.brightness, 0.6f);
    // Gurgle: many short rising blips.
    const int blips = static_cast<int>(frames / static_cast<float>(rate) * (30.0f + 40.0f * p.size));
    for (int i = 0; i < blips; ++i) {
        const float hz = rng.Range(400.0f, 1600.0f);
        const int len = FramesOf(rng.Range(0.01f, 0.04f), rate);
        Signal blip = SineGlide(len, rate, hz, hz * 1.6f);
        ApplyAttackDecay(blip, rate, 0.002f, 0.03f);
        MixInto(s, blip, static_cast<int>(rng.Uniform() * frames), 0.15f);
    }
    return s;
}

Signal WaterBubbles(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    const int bubbles = static_cast<int>(frames / static_cast<float>(rate) * (8.0f + 20.0f * p.size));
    for (int i = 0; i < bubbles; ++i) {
        const float hz = rng.Range(300.0f, 1200.0f) * (1.5f - p.size);
        const int len = FramesOf(0.08f, rate);
        Signal bubble = SineGlide(len, rate, hz, hz * 2.2f);
        ApplyAttackDecay(bubble, rate, 0.001f, 0.06f);
        MixInto(s, bubble, static_cast<int>(rng.Uniform() * frames), rng.Range(0.3f, 1.0f));
    }
    return s;
}

Signal WaterDrips(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    for (float t = 0.1f; t < frames / static_cast<float>(rate) - 0.2f; t += rng.Range(0.35f, 0.9f)) {
        const float hz = rng.Range(900.0f, 1800.0f);
        const int len = FramesOf(0.2f, rate);
        Signal drip = SineGlide(len, rate, hz, hz * 1.8f);
        ApplyAttackDecay(drip, rate, 0.0005f, 0.08f + 0.1f * p.size);
        MixInto(s, drip, FramesOf(t, rate), rng.Range(0.4f, 1.0f));
    }
    return s;
}

Signal WaterSplash(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = WhiteNoise(frames, rng);
    LowPass(s, rate, 7000.0f, 1200.0f);
    ApplyAttackDecay(s, rate, 0.005f, 0.3f + 0.6f * p.size);
    Signal plunge = SineGlide(frames, rate, 180.0f, 60.0f);
    ApplyAttackDecay(plunge, rate, 0.002f, 0.2f);
    MixInto(s, plunge, 0, 0.8f * p.size);
    MixInto(s, WaterBubbles(frames, rate, p, rng), FramesOf(0.1f, rate), 0.3f);
    return s;
}

Signal RoomTone(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = BrownNoise(frames, rng);
    LowPass(s, rate, 250.0f + 500.0f * p.brightness, 250.0f + 500.0f * p.brightness);
    for (float& v : s) v *= 4.0f;
    Signal air = WhiteNoise(frames, rng);
    LowPass(air, rate, 3000.0f, 3000.0f);
    MixInto(s, air, 0, 0.03f);
    // Mains hum and a ventilation whine, quietly.
    MixInto(s, SineGlide(frames, rate, 50.0f, 50.0f), 0, 0.04f * p.size);
    MixInto(s, SineGlide(frames, rate, 100.0f, 100.0f), 0, 0.02f * p.size);
    return s;
}

Signal Wind(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = WhiteNoise(frames, rng);
    // The whistle's centre wanders: several sweeps joined end to end.
    const int pieces = 6;
    for (int i = 0; i < pieces; ++i) {
        const int from = frames * i / pieces, to = frames * (i + 1) / pieces;
        Signal piece(s.begin() + from, s.begin() + to);
        BandPass(piece, rate, 300.0f + 900.0f * rng.Uniform() * (0.5f + p.brightness),
                 300.0f + 900.0f * rng.Uniform() * (0.5f + p.brightness), 3.0f);
        std::copy(piece.begin(), piece.end(), s.begin() + from);
    }
    std::vector<float> gusts;
    for (int i = 0; i < 16; ++i) gusts.push_back(0.3f + 0.7f * rng.Uniform());
    ApplyCurve(s, gusts);
    return s;
}

Signal Rain(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = Crackle(frames, rate, 800.0f + 1500.0f * p.size, 0.0015f, rng);
    HighPass(s, rate, 1200.0f);
    Signal wash = WhiteNoise(frames, rng);
    LowPass(wash, rate, 5000.0f, 5000.0f);
    MixInto(s, wash, 0, 0.15f);
    return s;
}

Signal Forest(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s = Wind(frames, rate, p, rng);
    for (float& v : s) v *= 0.4f;
    // Bird chirps: quick falling and rising whistles.
    for (float t = 0.3f; t < frames / static_cast<float>(rate) - 0.5f; t += rng.Range(0.6f, 2.0f)) {
        const float hz = rng.Range(2500.0f, 4500.0f);
        for (int k = 0; k < 3; ++k) {
            const int len = FramesOf(0.07f, rate);
            Signal chirp = SineGlide(len, rate, hz * 1.3f, hz);
            ApplyFades(chirp, rate, 0.01f, 0.03f);
            MixInto(s, chirp, FramesOf(t + 0.1f * k, rate), 0.25f);
        }
    }
    return s;
}

Signal Footsteps(int frames, int rate, const SoundParams& p, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    const float pace = 0.55f - 0.15f * p.brightness;  // brighter surfaces: a quicker walker
    for (float t = 0.15f; t < frames / static_cast<float>(rate) - 0.3f; t += pace * rng.Range(0.93f, 1.07f)) {
        const int len = FramesOf(0.25f, rate);
        // Heel then toe; the surface is in the noise colour and the grit.
        Signal heel = WhiteNoise(len, rng);
        LowPass(heel, rate, 800.0f + 5000.0f * p.brightness, 400.0f);
        ApplyAttackDecay(heel, rate, 0.001f, 0.05f + 0.1f * p.size);
        MixInto(heel, ModalStrike(len, rate, {{90.0f + 60.0f * p.brightness, 0.06f, 0.8f}}, rng), 0, 1.0f);
        Signal toe = heel;
        if (p.size > 0.5f) MixInto(heel, Crackle(len, rate, 300.0f, 0.002f, rng), 0, 0.4f);  // gravel
        MixInto(s, heel, FramesOf(t, rate), rng.Range(0.7f, 1.0f));
        MixInto(s, toe, FramesOf(t + 0.07f, rate), 0.4f);
    }
    return s;
}

Signal MonoSource(const SoundParams& p, int frames, int rate, SynthRng& rng) {
    switch (p.family) {
        case SoundFamily::WoodImpact: return Wood(frames, rate, p, rng);
        case SoundFamily::MetalImpact: return Metal(frames, rate, p, rng);
        case SoundFamily::GlassImpact: return Glass(frames, rate, p, rng);
        case SoundFamily::GlassBreak: return GlassBreak(frames, rate, p, rng);
        case SoundFamily::BodyImpact: return Body(frames, rate, p, rng);
        case SoundFamily::BodyFall: return BodyFall(frames, rate, p, rng);
        case SoundFamily::StoneImpact: return Stone(frames, rate, p, rng);
        case SoundFamily::Whoosh:
        case SoundFamily::Passby: return WhooshMono(frames, rate, p, rng);
        case SoundFamily::Riser: return Riser(frames, rate, p, rng);
        case SoundFamily::Drone: return Drone(frames, rate, p, rng);
        case SoundFamily::TonalHit: return TonalHit(frames, rate, p, rng);
        case SoundFamily::FireCrackle: return FireCrackle(frames, rate, p, rng);
        case SoundFamily::FireBurn: return FireBurn(frames, rate, p, rng);
        case SoundFamily::WaterFlow: return WaterFlow(frames, rate, p, rng);
        case SoundFamily::WaterBubbles: return WaterBubbles(frames, rate, p, rng);
        case SoundFamily::WaterDrips: return WaterDrips(frames, rate, p, rng);
        case SoundFamily::WaterSplash: return WaterSplash(frames, rate, p, rng);
        case SoundFamily::RoomTone: return RoomTone(frames, rate, p, rng);
        case SoundFamily::Wind: return Wind(frames, rate, p, rng);
        case SoundFamily::Rain: return Rain(frames, rate, p, rng);
        case SoundFamily::Forest: return Forest(frames, rate, p, rng);
        case SoundFamily::Footsteps: return Footsteps(frames, rate, p, rng);
    }
    return Signal(static_cast<size_t>(frames), 0.0f);
}

bool IsSustained(SoundFamily family) {
    switch (family) {
        case SoundFamily::Drone:
        case SoundFamily::FireCrackle:
        case SoundFamily::FireBurn:
        case SoundFamily::WaterFlow:
        case SoundFamily::WaterBubbles:
        case SoundFamily::RoomTone:
        case SoundFamily::Wind:
        case SoundFamily::Rain:
        case SoundFamily::Forest: return true;
        default: return false;
    }
}

}  // namespace

std::vector<Signal> SynthesiseSound(const SoundParams& params, int rate, SynthRng& rng) {
    const int frames = FramesOf(params.seconds, rate);
    Signal mono = MonoSource(params, frames, rate, rng);
    HighPass(mono, rate, 20.0f);  // no DC or sub-sonic drift in a shipped file
    // Loops and beds fade in and out so they sit under a scene without a bump; struck
    // sounds keep their attack and only lose the click of a cut-off tail.
    if (IsSustained(params.family)) ApplyFades(mono, rate, 0.25f, 0.5f);
    else ApplyFades(mono, rate, 0.0f, std::min(0.1f, params.seconds * 0.2f));
    std::vector<Signal> channels;
    if (params.channels < 2) channels = {mono};
    else if (params.family == SoundFamily::Passby) channels = PanMoving(mono, -0.9f, 0.9f);
    else channels = WidenToStereo(mono, rate, rng);
    NormalisePeak(channels, params.peakDb);
    return channels;
}

}  // namespace morvane::demo
