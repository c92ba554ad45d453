#include "trace/markers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "platform/regular_file.h"
#include "platform/utf8.h"

namespace morvane {

namespace {

constexpr size_t kMarkerTextMaxBytes = 127;
// The session text of a whole feature runs to a few megabytes; anything far larger is
// not one, and reading it would only fill the memory.
constexpr size_t kSessionTextMaxBytes = size_t{64} << 20;

std::string_view Trim(std::string_view s) {
    const char* ws = " \t\r\n";
    const size_t first = s.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(ws);
    return s.substr(first, last - first + 1);
}

// Mac OS Roman, bytes 0x80..0xFF: what Pro Tools on older Macs writes into a session text.
constexpr char32_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};
bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Which 8-bit encoding a text that is not UTF-8 is in. Pro Tools wrote Mac Roman on the
// Mac and Windows Latin-1 on Windows. Their upper halves overlap, so the bytes are weighed:
// Mac Roman keeps its lower-case accented letters at 0x87..0x9F and its dashes, quotes and
// ellipsis at 0xC9..0xD5, where Latin-1 has controls or rare capitals; Latin-1 keeps its
// lower-case accented letters at 0xE0..0xFF, which in Mac Roman are symbols that never sit
// inside a word. Bytes that Windows leaves undefined settle it for Mac Roman; a tie goes
// to Mac Roman, the older exports' encoding.
bool LooksLikeMacRoman(std::string_view s) {
    int mac = 0, latin = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) continue;
        if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) return true;
        const bool letterBefore = i > 0 && IsAsciiLetter(static_cast<unsigned char>(s[i - 1]));
        const bool letterAfter = i + 1 < s.size() && IsAsciiLetter(static_cast<unsigned char>(s[i + 1]));
        if ((c >= 0x87 && c <= 0x9F) || (c >= 0xC9 && c <= 0xD5)) ++mac;
        else if (c >= 0xE0 && (letterBefore || letterAfter)) ++latin;
    }
    return mac >= latin;
}

bool Contains(std::string_view line, std::string_view what) { return line.find(what) != std::string_view::npos; }

// The number at the start of text (after blanks); false when there is none or it is not finite.
bool LeadingNumber(std::string_view text, double* value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc() && std::isfinite(*value);
}

// A sample count: the whole field is an integer. A bars|beats reference ("58|4| 735")
// begins with a number too, but it is no count of samples.
bool WholeInteger(std::string_view text, long long* value) {
    text = Trim(text);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// "hh:mm:ss:ff" (";" also accepted before the frames, as Pro Tools writes drop-frame).
bool ParseTimecode(std::string_view text, double fps, double* seconds) {
    long long parts[4];
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < 4; ++i) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const auto r = std::from_chars(p, end, parts[i]);
        if (r.ec != std::errc() || std::llabs(parts[i]) > 100000000LL) return false;
        p = r.ptr;
        if (i < 3) {
            if (p >= end || (*p != ':' && *p != ';')) return false;
            ++p;
        }
    }
    *seconds = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2] + parts[3] / fps;
    return true;
}

std::vector<std::string_view> Split(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t at = line.find(separator, start);
        fields.push_back(Trim(line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start)));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return fields;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// A recipe is named in a marker when its name, compared without case, is one of the
// marker's comma-separated parts, or appears in the name as whole words ("Door slam heavy"
// names the recipe "door slam"). The longest such name wins, so "Door slam heavy" beats
// "Door" when both exist.
const MarkerRecipe* RecipeNamedIn(std::string_view name, std::span<const MarkerRecipe> recipes) {
    const std::string lowered = Lower(name);
    const MarkerRecipe* best = nullptr;
    size_t bestLength = 0;
    for (const MarkerRecipe& recipe : recipes) {
        const std::string wanted = Lower(Trim(recipe.name));
        if (wanted.empty() || wanted.size() <= bestLength) continue;
        auto isWordChar = [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 0x80;
        };
        for (size_t at = lowered.find(wanted); at != std::string::npos; at = lowered.find(wanted, at + 1)) {
            const bool startOk = at == 0 || !isWordChar(lowered[at - 1]);
            const size_t after = at + wanted.size();
            const bool endOk = after >= lowered.size() || !isWordChar(lowered[after]);
            if (startOk && endOk) {
                best = &recipe;
                bestLength = wanted.size();
                break;
            }
        }
    }
    return best;
}

struct ParseState {
    int sampleRate = 48000;
    double frameRate = 25.0;
    bool headerSeen = false;
    bool inMarkers = false;
    int commentsColumn = -1;  // from the column header when it names COMMENTS
    std::string sessionStart;  // "SESSION START TIMECODE", read once the frame rate is known
};

// The session's start in seconds of timecode; 0 when the text names none.
double SessionStartSeconds(const ParseState& st) {
    double start = 0;
    if (st.sessionStart.empty() || !ParseTimecode(st.sessionStart, st.frameRate, &start) || start < 0) return 0;
    return start;
}

// A marker's time from the session's start: its sample count when TIME REFERENCE is one
// (Pro Tools counts samples from the session start), else its LOCATION timecode less the
// session's start timecode, else 0.
double MarkerTime(const ParseState& st, std::string_view location, std::string_view reference, std::string_view units) {
    long long samples = 0;
    const bool sampleUnits = units.empty() || Lower(units) == "samples";
    if (sampleUnits && WholeInteger(reference, &samples) && st.sampleRate >= 1)
        return static_cast<double>(samples) / st.sampleRate;
    double fromTimecode = 0;
    if (ParseTimecode(location, st.frameRate, &fromTimecode)) return fromTimecode - SessionStartSeconds(st);
    return 0;
}

}  // namespace

std::string SessionTextToUtf8(std::string_view text) {
    if (IsValidUtf8(text)) return std::string(text);
    const bool mac = LooksLikeMacRoman(text);
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) out += ch;
        else if (mac) AppendUtf8(out, kMacRoman[c - 0x80]);
        else AppendUtf8(out, Windows1252Character(c));
    }
    return out;
}

SessionMarkersRead ImportSessionMarkersText(std::string_view text, float defaultFps, std::vector<TraceEvent>& events,
                              std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes) {
    events.clear();
    if (scenes) scenes->clear();
    SessionMarkersRead read;
    ParseState st;
    if (defaultFps > 0 && std::isfinite(defaultFps)) st.frameRate = defaultFps;
    const std::string utf8 = SessionTextToUtf8(text);
    text = utf8;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    double lastTime = 0;

    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;

        if (Contains(line, "SAMPLE RATE:")) {
            double rate = 0;
            // Rates beyond any real session are ignored rather than truncated into nonsense.
            if (LeadingNumber(line.substr(line.find(':') + 1), &rate) && rate > 0 && rate < 1e7)
                st.sampleRate = static_cast<int>(rate);
            continue;
        }
        if (Contains(line, "SESSION START TIMECODE:")) {
            st.sessionStart = std::string(Trim(line.substr(line.find(':') + 1)));
            continue;
        }
        if (Contains(line, "TIMECODE FORMAT:")) {
            double rate = 0;
            if (LeadingNumber(line.substr(line.find(':') + 1), &rate) && rate > 0 && rate < 1e6) st.frameRate = rate;
            continue;
        }
        if (Contains(line, "M A R K E R S  L I S T I N G") || Contains(line, "MARKERS LISTING")) {
            st.inMarkers = true;
            st.headerSeen = false;
            read.markersSection = true;
            continue;
        }
        if (st.inMarkers && (Contains(line, "T R A C K") || Contains(line, "P L U G-I N S") || Contains(line, "O N L I N E")))
            break;
        if (Contains(line, "#") && Contains(line, "LOCATION")) {
            st.headerSeen = true;
            st.commentsColumn = -1;
            const std::vector<std::string_view> columns = Split(line, '\t');
            for (size_t i = 0; i < columns.size(); ++i)
                if (columns[i] == "COMMENTS") st.commentsColumn = static_cast<int>(i);
            continue;
        }
        if (!st.headerSeen) continue;

        const std::vector<std::string_view> f = Split(line, '\t');
        if (f.size() < 5 || f[4].empty()) continue;
        const std::string_view name = f[4];
        // The column header tells where the comments are; without it, the position of the
        // comments in the 8-column export.
        std::string_view comment;
        if (st.commentsColumn > 4 && static_cast<size_t>(st.commentsColumn) < f.size()) comment = f[st.commentsColumn];
        else if (st.commentsColumn < 0 && f.size() >= 8) comment = f[7];

        double time = MarkerTime(st, f[1], f[2], f[3]);
        // A marker before the session's zero has no place on the timeline.
        if (!std::isfinite(time) || time < 0) time = 0;
        time = std::min(time, static_cast<double>(std::numeric_limits<float>::max()));
        lastTime = std::max(lastTime, time);

        const std::vector<std::string_view> tokens = Split(name, ',');
        if (scenes && Lower(tokens[0]) == "scene") {
            Scene scene;
            scene.name = CutText(tokens.size() > 1 ? tokens[1] : std::string_view("Scene"), kNameMaxBytes);
            if (scene.name.empty()) scene.name = "Scene";
            std::string note;
            for (size_t i = 2; i < tokens.size(); ++i) {
                if (tokens[i].empty()) continue;
                if (!note.empty()) note += ", ";
                note += tokens[i];
            }
            if (!comment.empty()) {
                if (!note.empty()) note += " ";
                note += comment;
            }
            scene.keywords = CutText(note, kSceneKeywordsMaxBytes);
            scene.inTime = scene.outTime = static_cast<float>(time);
            scenes->push_back(std::move(scene));
            continue;
        }

        TraceEvent e;
        e.time = static_cast<float>(time);
        e.imported = true;
        e.name = CutText(name, kMarkerTextMaxBytes);
        std::string keywords(name);
        if (!comment.empty()) keywords += " " + std::string(comment);
        e.keywords = CutText(keywords, kMarkerTextMaxBytes);
        // A marker is a spot the editor placed by hand: full confidence, a 3 s stretch to
        // build into, a low weight centre, and gain, sync and spread left automatic (-1) so
        // the event keeps its own defaults unless a recipe says otherwise.
        e.type = kTraceSpot;
        e.confidence = 1.0f;
        e.intensity = 1.0f;
        e.suggestedShape = 0;
        e.suggestedDuration = 3.0f;
        e.suggestedWeightCenter = 0.3f;
        e.suggestedGain = -1.0f;
        e.suggestedSyncOffset = -1.0f;
        e.suggestedSpread = -1.0f;
        if (const MarkerRecipe* recipe = RecipeNamedIn(name, recipes)) {
            e.presetName = CutText(recipe->name, kNameMaxBytes);
            e.suggestedShape = std::clamp(recipe->shape, 0, 6);
            if (recipe->duration > 0) e.suggestedDuration = recipe->duration;
            e.suggestedSyncOffset = recipe->syncOffset;
            e.suggestedSpread = recipe->spread;
            e.suggestedWeightCenter = recipe->weightCenter;
            e.suggestedGain = recipe->gain;
        }
        events.push_back(std::move(e));
    }

    if (scenes && !scenes->empty()) {
        // A scene runs until the next one begins; the last one until the last marker of the
        // session (the caller stretches it to the timeline's end when it knows it).
        std::stable_sort(scenes->begin(), scenes->end(),
                         [](const Scene& a, const Scene& b) { return a.inTime < b.inTime; });
        for (size_t i = 0; i + 1 < scenes->size(); ++i) (*scenes)[i].outTime = (*scenes)[i + 1].inTime;
        scenes->back().outTime = std::max(scenes->back().inTime, static_cast<float>(lastTime));
    }
    std::stable_sort(events.begin(), events.end(), [](const TraceEvent& a, const TraceEvent& b) { return a.time < b.time; });
    return read;
}

SessionMarkersRead ImportSessionMarkers(const std::string& path, float defaultFps, std::vector<TraceEvent>& events,
                                        std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes) {
    events.clear();
    if (scenes) scenes->clear();
    std::string text;
    if (!ReadRegularFile(path, text, nullptr, kSessionTextMaxBytes)) return {};
    return ImportSessionMarkersText(text, defaultFps, events, scenes, recipes);
}

std::string MarkerSourceName(const std::string& path) {
    return CutText(std::filesystem::path(path).filename().string(), kNameMaxBytes);
}

MarkerImportPlan PlanMarkerImport(const TimelineState& timeline, const std::string& source,
                                  const std::vector<TraceEvent>& proposed, const std::vector<Scene>& scenes) {
    MarkerImportPlan plan;
    plan.remove.assign(timeline.events.size(), 0);
    float end = timeline.settings.totalDuration;
    for (size_t i = 0; i < timeline.events.size(); ++i) {
        if (timeline.events[i].markerSource != source) continue;
        plan.remove[i] = 1;
        ++plan.replaced;
    }
    for (const TraceEvent& marker : proposed) {
        Event event = EventFromTraceEvent(marker);
        event.markerSource = source;
        end = std::max(end, event.time + event.duration);
        plan.events.push_back(std::move(event));
    }
    // Scenes carry no source: one that is already on the timeline, by name and start, is
    // the same scene imported before and is not added twice.
    for (const Scene& scene : scenes) {
        const bool known = std::any_of(timeline.scenes.begin(), timeline.scenes.end(), [&](const Scene& s) {
            return s.name == scene.name && std::fabs(s.inTime - scene.inTime) < 0.0005f;
        });
        if (known) continue;
        end = std::max(end, scene.outTime);
        plan.scenes.push_back(scene);
    }
    plan.totalDuration = end;
    return plan;
}

MarkerRecipe MarkerRecipeFromPreset(const EventPreset& p) {
    MarkerRecipe r;
    r.name = p.name;
    r.keywords = p.keywords;
    r.shape = static_cast<int>(p.shape);
    r.duration = p.duration;
    r.syncOffset = p.syncOffset;
    r.spread = p.spread;
    r.weightCenter = p.weightCenter;
    r.gain = p.gain;
    return r;
}

std::vector<MarkerRecipe> MarkerRecipesFromPresets(const std::vector<std::shared_ptr<EventPreset>>& presets) {
    std::vector<MarkerRecipe> out;
    for (const std::shared_ptr<EventPreset>& p : presets)
        if (p) out.push_back(MarkerRecipeFromPreset(*p));
    return out;
}

Event EventFromTraceEvent(const TraceEvent& p) {
    Event e;
    e.time = p.time;
    if (p.suggestedDuration > 0) e.duration = p.suggestedDuration;
    e.shape = EventShapeFromInt(p.suggestedShape);
    if (p.suggestedSpread >= 0) e.spread = p.suggestedSpread;
    if (p.suggestedWeightCenter >= 0) e.weightCenter = p.suggestedWeightCenter;
    if (p.suggestedSyncOffset >= 0) e.syncOffset = std::min(p.suggestedSyncOffset, e.duration);
    if (p.suggestedGain >= 0) e.gain = std::clamp(p.suggestedGain, 0.0f, 1.0f);
    e.keywords = CutText(p.keywords, kKeywordsMaxBytes);
    e.presetName = CutText(p.presetName, kNameMaxBytes);
    // A fill proposal is a Fill event, which puts it in the background group.
    if (p.type == kTraceFill) e.shape = EventShape::Fill;
    if (p.hasIntensityCurve) {
        e.intensity = p.intensityCurve;
        for (float& v : e.intensity) v = std::clamp(v, 0.0f, 1.0f);
    }
    if (p.intensity > 0) e.intensityScale = std::clamp(p.intensity, 0.05f, 1.0f);
    return e;
}

}  // namespace morvane
