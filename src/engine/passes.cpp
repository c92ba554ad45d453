#include "engine/passes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <unordered_map>

#include "engine/event_build.h"

namespace morvane {

BandLookup MakeBandLookup(const std::vector<LibraryRoot>& roots) {
    auto table = std::make_shared<std::unordered_map<std::string, std::array<float, 5>>>();
    for (const LibraryEntry* e : CollectCandidates(roots, -1)) {
        table->emplace(e->path, BandShares(*e));
    }
    return [table](const Layer& layer) {
        auto it = table->find(layer.filepath);
        return it != table->end() ? it->second : std::array<float, 5>{0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
    };
}

float LayerLoudness(const Layer& layer) { return layer.layerGain * layer.userVolume; }

namespace {

float LayerEnd(const Layer& l) { return l.startTime + l.duration; }

bool ValidEvent(const Project& p, const Layer& l) {
    return l.eventIdx >= 0 && l.eventIdx < static_cast<int>(p.timeline.events.size());
}

}  // namespace

void ProtectSilencePass(Project& project) {
    TimelineState& tl = project.timeline;
    std::vector<std::pair<float, float>> spans;
    for (const Event& ev : tl.events) spans.emplace_back(EventStart(ev), EventEnd(ev));
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<float, float>> merged;
    for (const auto& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second) merged.back().second = std::max(merged.back().second, s.second);
        else merged.push_back(s);
    }
    std::vector<float> gaps;
    for (size_t i = 1; i < merged.size(); ++i)
        if (merged[i].first - merged[i - 1].second > 0.01f) gaps.push_back(merged[i - 1].second);
    for (Layer& l : tl.results) {
        if (l.muted || !ValidEvent(project, l)) continue;
        const float eventEnd = EventEnd(tl.events[static_cast<size_t>(l.eventIdx)]);
        for (float g : gaps) {
            if (!(l.startTime < g && g < LayerEnd(l) && g >= eventEnd - 0.01f)) continue;
            const float d = g - l.startTime;
            if (d < 0.05f) {
                l.muted = true;
            } else {
                l.duration = d;
                l.fadeIn = std::min(l.fadeIn, 0.45f * d);
                l.fadeOut = std::min(std::max(l.fadeOut, 0.03f), 0.45f * d);
            }
            break;
        }
    }
}

void DensityDuckingPass(Project& project) {
    TimelineState& tl = project.timeline;
    float T = 0.0f;
    for (const Layer& l : tl.results)
        if (!l.muted) T = std::max(T, LayerEnd(l));
    if (T <= 0.0f) return;
    const int bins = static_cast<int>(std::ceil(4.0f * T)) + 1;
    std::vector<int> count(static_cast<size_t>(bins), 0);
    std::vector<float> loud(static_cast<size_t>(bins), 0.0f);
    auto binOf = [&](float t) { return std::clamp(static_cast<int>(std::floor(4.0f * t)), 0, bins - 1); };
    for (const Layer& l : tl.results) {
        if (l.muted) continue;
        for (int b = binOf(l.startTime); b <= binOf(LayerEnd(l)); ++b) ++count[static_cast<size_t>(b)], loud[static_cast<size_t>(b)] += LayerLoudness(l);
    }
    std::vector<float> density(static_cast<size_t>(bins));
    for (int i = 0; i < bins; ++i) {
        const int a = std::max(i - 4, 0), z = std::min(i + 4, bins - 1);
        float sum = 0.0f;
        for (int j = a; j <= z; ++j) sum += static_cast<float>(count[static_cast<size_t>(j)]);
        density[static_cast<size_t>(i)] = sum / static_cast<float>(z - a + 1);
    }
    for (Layer& l : tl.results) {
        if (l.muted || !ValidEvent(project, l) || tl.events[static_cast<size_t>(l.eventIdx)].hero) continue;
        std::array<float, kDeconGainPoints> g{};
        bool any = false;
        for (int k = 0; k < kDeconGainPoints; ++k) {
            const float t = l.startTime + static_cast<float>(k) / (kDeconGainPoints - 1) * l.duration;
            const size_t b = static_cast<size_t>(binOf(t));
            g[static_cast<size_t>(k)] = 1.0f;
            if (density[b] <= 4.0f) continue;
            const float excess = std::clamp((density[b] - 4.0f) * 0.25f, 0.0f, 1.0f);
            float rel;
            if (count[b] == 0) rel = LayerLoudness(l);
            else {
                const float mean = loud[b] / static_cast<float>(count[b]);
                rel = mean > 0.001f ? LayerLoudness(l) / mean : 1.0f;
            }
            const float factor = std::clamp(1.3f - rel, 0.3f, 1.0f);
            g[static_cast<size_t>(k)] = std::pow(10.0f, -4.0f * excess * factor / 20.0f);
            if (g[static_cast<size_t>(k)] < 0.99f) any = true;
        }
        if (!any) continue;
        std::array<float, kDeconGainPoints> smooth{};
        for (int k = 0; k < kDeconGainPoints; ++k) {
            float sum = 0.0f;
            int n = 0;
            for (int j = std::max(0, k - 2); j <= std::min(kDeconGainPoints - 1, k + 2); ++j) sum += g[static_cast<size_t>(j)], ++n;
            smooth[static_cast<size_t>(k)] = sum / static_cast<float>(n);
        }
        for (int k = 0; k < kDeconGainPoints; ++k)
            l.deconGain[static_cast<size_t>(k)] = l.hasDeconGain ? l.deconGain[static_cast<size_t>(k)] * smooth[static_cast<size_t>(k)] : smooth[static_cast<size_t>(k)];
        l.hasDeconGain = true;
    }
}

void DeconflictPass(Project& project, const BandLookup& bands) {
    TimelineState& tl = project.timeline;
    std::vector<size_t> order;
    for (size_t i = 0; i < tl.results.size(); ++i) {
        if (tl.results[i].muted) continue;
        tl.results[i].deconOffset = 0.0f;
        order.push_back(i);
    }
    // 1-2. Clusters of layers of one event starting together.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const Layer &la = tl.results[a], &lb = tl.results[b];
        return la.eventIdx != lb.eventIdx ? la.eventIdx < lb.eventIdx : la.startTime < lb.startTime;
    });
    for (size_t i = 0; i < order.size();) {
        const Layer& first = tl.results[order[i]];
        size_t j = i + 1;
        while (j < order.size() && tl.results[order[j]].eventIdx == first.eventIdx &&
               std::fabs(tl.results[order[j]].startTime - first.startTime) < 0.015f)
            ++j;
        const size_t n = j - i;
        if (n >= 2) {
            std::vector<size_t> cluster(order.begin() + static_cast<std::ptrdiff_t>(i), order.begin() + static_cast<std::ptrdiff_t>(j));
            std::stable_sort(cluster.begin(), cluster.end(),
                             [&](size_t a, size_t b) { return LayerLoudness(tl.results[a]) > LayerLoudness(tl.results[b]); });
            const float lead = LayerLoudness(tl.results[cluster[0]]);
            for (size_t k = 1; k < n; ++k) {
                Layer& l = tl.results[cluster[k]];
                const float r = lead > 0.001f ? LayerLoudness(l) / lead : 1.0f;
                float offset = static_cast<float>(k) / static_cast<float>(n) * 0.01f + 0.005f + (1.0f - r) * 0.015f;
                if (k % 2 == 0) offset = -offset * 0.6f;
                l.deconOffset = offset;
            }
        }
        i = j;
    }
    // 3. Spectral masking in 50 ms bins.
    float T = 0.0f;
    for (const Layer& l : tl.results)
        if (!l.muted) T = std::max(T, LayerEnd(l));
    if (T <= 0.0f) return;
    const int bins = static_cast<int>(std::ceil(T / 0.05f)) + 1;
    std::vector<std::array<float, 5>> energy(static_cast<size_t>(bins), std::array<float, 5>{});
    std::vector<int> layersIn(static_cast<size_t>(bins), 0);
    auto binOf = [&](float t) { return std::clamp(static_cast<int>(std::floor(t / 0.05f)), 0, bins - 1); };
    std::vector<std::array<float, 5>> shares(tl.results.size());
    for (size_t i = 0; i < tl.results.size(); ++i) {
        const Layer& l = tl.results[i];
        if (l.muted) continue;
        shares[i] = bands(l);
        for (int b = binOf(l.startTime); b <= binOf(LayerEnd(l)); ++b) {
            for (int k = 0; k < 5; ++k) energy[static_cast<size_t>(b)][static_cast<size_t>(k)] += LayerLoudness(l) * shares[i][static_cast<size_t>(k)];
            ++layersIn[static_cast<size_t>(b)];
        }
    }
    static constexpr float kWeights[5] = {1.4f, 0.7f, 0.5f, 1.0f, 1.4f};
    for (size_t i = 0; i < tl.results.size(); ++i) {
        Layer& l = tl.results[i];
        if (l.muted) continue;
        if (!ValidEvent(project, l) || tl.events[static_cast<size_t>(l.eventIdx)].hero) {
            l.hasDeconGain = false;
            continue;
        }
        std::array<float, kDeconGainPoints> g{};
        bool any = false;
        for (int p = 0; p < kDeconGainPoints; ++p) {
            const float t = l.startTime + static_cast<float>(p) / (kDeconGainPoints - 1) * l.duration;
            const size_t b = static_cast<size_t>(binOf(t));
            float total = 0.0f;
            if (layersIn[b] > 1) {
                for (int k = 0; k < 5; ++k) {
                    const float share = shares[i][static_cast<size_t>(k)];
                    const float own = LayerLoudness(l) * share;
                    const float others = energy[b][static_cast<size_t>(k)] - own;
                    if (share < 0.05f || others <= 1e-6f) continue;
                    const float ratio = others / std::max(0.01f, own);
                    if (ratio > 1.5f) total += std::clamp((ratio - 1.5f) * 0.5f, 0.0f, 1.0f) * 6.0f * share * kWeights[k];
                }
            }
            g[static_cast<size_t>(p)] = std::pow(10.0f, -std::min(9.0f, total) / 20.0f);
            if (g[static_cast<size_t>(p)] < 0.99f) any = true;
        }
        if (!any) {
            l.hasDeconGain = false;
            continue;
        }
        for (int p = 0; p < kDeconGainPoints; ++p) {
            float sum = 0.0f;
            int n = 0;
            for (int j = std::max(0, p - 1); j <= std::min(kDeconGainPoints - 1, p + 1); ++j) sum += g[static_cast<size_t>(j)], ++n;
            l.deconGain[static_cast<size_t>(p)] = sum / static_cast<float>(n);
        }
        l.hasDeconGain = true;
    }
}

void DestructiveEqPass(Project& project, const BandLookup& bands) {
    std::vector<Layer>& layers = project.timeline.results;
    for (Layer& l : layers) {
        l.eqGains = FilledCurve<kEqBands>(1.0f);
        l.hasEqGains = false;
    }
    std::vector<std::array<float, 5>> shares(layers.size());
    for (size_t i = 0; i < layers.size(); ++i) shares[i] = bands(layers[i]);
    for (size_t i = 0; i < layers.size(); ++i) {
        Layer& L = layers[i];
        if (L.muted) continue;
        float W = 0.0f;
        std::array<float, 5> E{};
        for (size_t j = 0; j < layers.size(); ++j) {
            const Layer& M = layers[j];
            if (j == i || M.muted) continue;
            const float overlap = std::min(LayerEnd(L), LayerEnd(M)) - std::max(L.startTime, M.startTime);
            if (overlap <= 0.0f) continue;
            const float w = overlap / std::max(0.01f, L.duration);
            W += w;
            for (int b = 0; b < 5; ++b) E[static_cast<size_t>(b)] += LayerLoudness(M) * w * shares[j][static_cast<size_t>(b)];
        }
        if (W < 0.5f) continue;
        for (int b = 0; b < 5; ++b) {
            const float own = shares[i][static_cast<size_t>(b)];
            if (own <= 0.05f || E[static_cast<size_t>(b)] <= 1.5f * own * LayerLoudness(L)) continue;
            const float x = std::min(1.0f, (E[static_cast<size_t>(b)] / std::max(0.01f, own * LayerLoudness(L)) - 1.5f) / 3.0f);
            L.eqGains[static_cast<size_t>(b)] = std::pow(10.0f, -6.0f * x / 20.0f);
            L.hasEqGains = true;
        }
    }
}

void AssignTracks(Project& project) {
    TimelineState& tl = project.timeline;
    const TrackLayout& layout = tl.trackLayout;
    std::array<int, kGroupCount> used{};
    for (int g = 0; g < kGroupCount; ++g) {
        const int limit = layout.budgetMode ? std::max(1, layout.groups[static_cast<size_t>(g)].trackCount) : 48;
        struct Item {
            size_t index;
            float start, end;
            bool hero, bed;
        };
        std::vector<Item> items;
        for (size_t i = 0; i < tl.results.size(); ++i) {
            Layer& l = tl.results[i];
            if (std::clamp(l.group, 0, 2) != g) continue;
            // Only the budget's own muting is undone here; a layer muted by silence
            // protection stays muted and takes no track room.
            if (l.muted && l.groupTrack == -1) l.muted = false;
            // Muted layers and "(no match)" slots sound nothing, so they take no track
            // room from layers that do.
            if (l.muted || (l.filepath.empty() && !IsPlaceholderLayer(l))) {
                l.groupTrack = 0;
                continue;
            }
            const bool valid = ValidEvent(project, l);
            const Event* ev = valid ? &tl.events[static_cast<size_t>(l.eventIdx)] : nullptr;
            items.push_back({i, l.startTime, LayerEnd(l), ev != nullptr && ev->hero,
                             ev != nullptr && ev->shape == EventShape::Bed});
        }
        // Hero layers claim their tracks first, then everything else by start time,
        // so the budget mutes ordinary layers before hero ones.
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
            if (a.hero != b.hero) return a.hero;
            return a.start < b.start;
        });
        std::vector<std::vector<std::pair<float, float>>> tracks;
        auto fits = [](const std::vector<std::pair<float, float>>& track, float s, float e) {
            for (const auto& [ts, te] : track)
                if (s < te + 0.001f && ts < e + 0.001f && !(te + 0.001f <= s) && !(e + 0.001f <= ts)) return false;
            return true;
        };
        for (const Item& it : items) {
            Layer& l = tl.results[it.index];
            int chosen = -1;
            for (size_t t = 0; t < tracks.size(); ++t)
                if (fits(tracks[t], it.start, it.end)) { chosen = static_cast<int>(t); break; }
            if (chosen < 0) chosen = static_cast<int>(tracks.size());
            if (layout.budgetMode && chosen >= limit && !it.bed) {
                l.muted = true;
                l.groupTrack = -1;
                continue;
            }
            if (chosen == static_cast<int>(tracks.size())) tracks.emplace_back();
            tracks[static_cast<size_t>(chosen)].emplace_back(it.start, it.end);
            l.groupTrack = chosen;
            used[static_cast<size_t>(g)] = std::max(used[static_cast<size_t>(g)], chosen + 1);
        }
    }
    // Group 1's tracks first, then group 2's, then the background's.
    const std::array<int, kGroupCount> base{used[1] + used[2], 0, used[1]};
    for (Layer& l : tl.results) {
        const int g = std::clamp(l.group, 0, 2);
        l.track = base[static_cast<size_t>(g)] + std::max(0, l.groupTrack);
        l.pitchShift = l.pitchVarShift;
    }
}

void RunPostBuildPasses(Project& project, const BandLookup& bands, bool protectSilence, bool destructiveEQ) {
    if (protectSilence) ProtectSilencePass(project);
    DensityDuckingPass(project);
    DeconflictPass(project, bands);
    if (destructiveEQ) DestructiveEqPass(project, bands);
    AssignTracks(project);
}

}  // namespace morvane
