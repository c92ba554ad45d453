#include "trace/trace_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "model/json.h"
#include "version.h"

namespace morvane {

namespace {

// Fixed-point text independent of the process locale; a value that is not finite is
// written as 0 so both files stay readable.
void Fixed(std::string& out, double value, int decimals) {
    if (!std::isfinite(value)) value = 0.0;
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {
        out += '0';
        return;
    }
    // "-0.000" reads oddly in a form meant for people.
    std::string_view text(buffer, r.ptr - buffer);
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) text.remove_prefix(1);
    out.append(text);
}

void JsonString(std::string& out, const std::string& text) {
    out += '"';
    JsonEscape(out, text);
    out += '"';
}

bool WriteWhole(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool wrote = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return wrote && closed;
}

const char* Layer(const TraceEvent& e) { return e.background ? "BG" : "FG"; }

}  // namespace

std::string TraceFilesBasePath(const std::string& projectPath, const std::string& videoPath) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(projectPath.empty() ? videoPath : projectPath).parent_path();
    std::string base = folder.string();
    if (base.empty()) base = ".";
    return base + "/" + fs::path(videoPath).stem().string() + "_trace";
}

std::string TraceTimecode(float time, float timecodeStart, float fps) {
    const double t = std::max(0.0, static_cast<double>(timecodeStart) + time);
    long long rate = 30;
    if (fps >= 1 && std::isfinite(fps)) rate = std::max(1LL, std::llround(fps));
    const double frames = t * rate + 0.5;
    const long long n = std::isfinite(frames) && frames < 9e15 ? static_cast<long long>(frames) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", n / rate / 3600, (n / rate / 60) % 60,
                  (n / rate) % 60, n % rate);
    return text;
}

TraceReference TraceEventReference(const TraceAnalysis& a, const TraceEvent& e) {
    TraceReference r;
    const int n = static_cast<int>(a.frames.size());
    if (n == 0) return r;
    const float rate = a.rate > 0 ? a.rate : 10.0f;
    const double scaled = static_cast<double>(e.time) * rate + 0.5;
    const int k = std::clamp(std::isfinite(scaled) ? static_cast<int>(std::clamp(scaled, -1.0, 2e9)) : 0, 0, n - 1);
    r.frame = k;
    r.shot = k < static_cast<int>(a.frameShot.size()) ? a.frameShot[k] : 0;
    int best = k;
    for (int i = std::max(0, k - 2); i <= std::min(n - 1, k + 2); ++i) {
        const TraceFrame& f = a.frames[i];
        if (f.composite > a.frames[best].composite) best = i;
        r.foregroundMass = std::max(r.foregroundMass, f.foregroundMass);
        r.impact = std::max(r.impact, f.impact);
        r.brightnessDelta = std::max(r.brightnessDelta, std::fabs(f.brightnessDelta));
        r.histogramDiff = std::max(r.histogramDiff, f.histogramDiff);
        r.motion = std::max(r.motion, f.motion);
    }
    const TraceFrame& b = a.frames[best];
    r.composite = b.composite;
    r.adaptiveThr = b.adaptiveThr;
    r.accentThr = b.accentThr;
    r.flow = b.flow;
    r.cameraMotion = b.cameraMotion;
    r.spatialSpread = b.spatialSpread;
    r.brightness = b.brightness;
    r.localMotionPeak = b.localMotionPeak;
    r.panX = b.panX;
    return r;
}

bool WriteTraceFiles(const std::string& basePath, const TraceAnalysis& a, const TraceParams& params,
                     const TraceSource& source) {
    const float fps = source.projectFps > 0 ? source.projectFps : 25.0f;
    const float rate = a.rate > 0 ? a.rate : 10.0f;
    float maxComposite = 0;
    for (const TraceFrame& f : a.frames) maxComposite = std::max(maxComposite, f.composite);

    std::string j;
    j += "{\n  \"mvtrace_version\": 1,\n  \"note\": \"work-in-progress internal format\",\n";
    j += "  \"source\": { \"path\": ";
    JsonString(j, source.videoPath);
    j += ", \"appVersion\": ";
    JsonString(j, MORVANE_VERSION);
    j += ", \"sourceFps\": ";
    Fixed(j, fps, 4);
    j += ", \"tcStartSec\": ";
    Fixed(j, static_cast<double>(source.timecodeStart) + source.videoStartTime, 4);
    j += ", \"width\": " + std::to_string(source.width) + ", \"height\": " + std::to_string(source.height) + " },\n";
    j += "  \"analysis\": { \"analysisFps\": ";
    Fixed(j, rate, 4);
    j += ", \"durationSec\": ";
    Fixed(j, a.duration, 4);
    j += ", \"numFrames\": " + std::to_string(a.frames.size()) + ", \"maxComposite\": ";
    Fixed(j, maxComposite, 6);
    j += " },\n  \"params\": { \"sensitivity\": ";
    Fixed(j, params.sensitivity, 4);
    j += ", \"minEventGap\": ";
    Fixed(j, params.minEventGap, 4);
    j += ", \"adaptiveWindowSec\": ";
    Fixed(j, params.adaptiveWindowSec, 4);
    j += " },\n";
    j += "  \"frame_columns\": [\"time\",\"brightness\",\"motion\",\"cameraMotion\",\"foregroundMass\",\"panX\","
         "\"panY\",\"spatialSpread\",\"impact\",\"flow\",\"composite\",\"adaptiveThr\",\"accentThr\","
         "\"localMotionPeak\",\"histogramDiff\",\"colorTemp\",\"saturation\"],\n";
    j += "  \"frames\": [";
    for (size_t i = 0; i < a.frames.size(); ++i) {
        const TraceFrame& f = a.frames[i];
        j += i ? ",\n    [" : "\n    [";
        const struct {
            float value;
            int decimals;
        } columns[] = {{f.time, 3},          {f.brightness, 4},    {f.motion, 4},        {f.cameraMotion, 4},
                       {f.foregroundMass, 4}, {f.panX, 3},          {f.panY, 3},          {f.spatialSpread, 3},
                       {f.impact, 4},         {f.flow, 4},          {f.composite, 5},     {f.adaptiveThr, 5},
                       {f.accentThr, 5},      {f.localMotionPeak, 4}, {f.histogramDiff, 4}, {f.colorTemp, 3},
                       {f.saturation, 3}};
        for (size_t c = 0; c < std::size(columns); ++c) {
            if (c) j += ',';
            Fixed(j, columns[c].value, columns[c].decimals);
        }
        j += ']';
    }
    j += "\n  ],\n  \"events\": [";

    std::string csv;
    csv += "# Morvane trace annotation form (internal, WIP)\n";
    csv += "# Fill user_layer = FG or BG (where this event SHOULD be), or leave blank to agree.\n";
    csv += "# Fill user_action = keep / remove / add. To add a MISSED event, append a row:\n";
    csv += "#   set id=NEW, put its timecode (or time_s), user_layer, user_action=add, and a note.\n";
    csv += "# The right-hand columns are the engine's OBJECTIVE data at each event (read-only reference).\n";
    csv += "id,time_s,timecode,engine_layer,type,depthSalience,intensity,confidence,user_layer,user_action,note,"
           "foregroundMass,impact,brightnessDelta,histDiff,composite,adaptiveThr,accentThr,cameraMotion,"
           "spatialSpread,brightness,localMotionPeak\n";

    for (size_t i = 0; i < a.events.size(); ++i) {
        const TraceEvent& e = a.events[i];
        const TraceReference r = TraceEventReference(a, e);
        const std::string timecode = TraceTimecode(e.time, source.timecodeStart, fps);
        const float salience = TraceEventStrength(e);

        j += i ? ",\n    {" : "\n    {";
        j += " \"id\": " + std::to_string(i) + ", \"time\": ";
        Fixed(j, e.time, 3);
        j += ", \"timecode\": \"" + timecode + "\", \"layer\": \"" + Layer(e) + "\", \"type\": \"" +
             TraceEventTypeName(e.type) + "\", \"depthSalience\": ";
        Fixed(j, salience, 3);
        j += ", \"intensity\": ";
        Fixed(j, e.intensity, 3);
        j += ", \"confidence\": ";
        Fixed(j, e.confidence, 3);
        j += ", \"duration\": ";
        Fixed(j, e.suggestedDuration, 3);
        j += ", \"shotIndex\": " + std::to_string(r.shot) + ",\n      \"obj\": { \"composite\": ";
        Fixed(j, r.composite, 5);
        j += ", \"adaptiveThr\": ";
        Fixed(j, r.adaptiveThr, 5);
        j += ", \"accentThr\": ";
        Fixed(j, r.accentThr, 5);
        j += ", \"foregroundMass\": ";
        Fixed(j, r.foregroundMass, 3);
        j += ", \"impact\": ";
        Fixed(j, r.impact, 4);
        j += ", \"brightnessDelta\": ";
        Fixed(j, r.brightnessDelta, 4);
        j += ", \"histDiff\": ";
        Fixed(j, r.histogramDiff, 4);
        j += ", \"flow\": ";
        Fixed(j, r.flow, 4);
        j += ", \"cameraMotion\": ";
        Fixed(j, r.cameraMotion, 3);
        j += ", \"spatialSpread\": ";
        Fixed(j, r.spatialSpread, 3);
        j += ", \"brightness\": ";
        Fixed(j, r.brightness, 3);
        j += ", \"localMotionPeak\": ";
        Fixed(j, r.localMotionPeak, 4);
        j += ", \"panX\": ";
        Fixed(j, r.panX, 3);
        j += " },\n      \"annotation\": { \"user_layer\": \"\", \"user_action\": \"\", \"note\": \"\" } }";

        csv += std::to_string(i) + ',';
        Fixed(csv, e.time, 3);
        csv += ',' + timecode + ',' + Layer(e) + ',' + TraceEventTypeName(e.type) + ',';
        Fixed(csv, salience, 3);
        csv += ',';
        Fixed(csv, e.intensity, 3);
        csv += ',';
        Fixed(csv, e.confidence, 3);
        csv += ",,,,";
        Fixed(csv, r.foregroundMass, 3);
        csv += ',';
        Fixed(csv, r.impact, 4);
        csv += ',';
        Fixed(csv, r.brightnessDelta, 4);
        csv += ',';
        Fixed(csv, r.histogramDiff, 4);
        csv += ',';
        Fixed(csv, r.composite, 5);
        csv += ',';
        Fixed(csv, r.adaptiveThr, 5);
        csv += ',';
        Fixed(csv, r.accentThr, 5);
        csv += ',';
        Fixed(csv, r.cameraMotion, 3);
        csv += ',';
        Fixed(csv, r.spatialSpread, 3);
        csv += ',';
        Fixed(csv, r.brightness, 3);
        csv += ',';
        Fixed(csv, r.localMotionPeak, 4);
        csv += '\n';
    }
    j += "\n  ]\n}\n";

    const bool jsonOk = WriteWhole(basePath + ".mvtrace", j);
    const bool csvOk = WriteWhole(basePath + ".mvtrace.csv", csv);
    return jsonOk && csvOk;
}

}  // namespace morvane
