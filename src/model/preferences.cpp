#include "model/preferences.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <locale.h>
#include <string_view>
#include <unordered_map>

#include "platform/folders.h"

namespace morvane {

namespace {

// Numbers in the file always use the C conventions ("0.500", never "0,500"),
// whatever locale the rest of the process runs in. uselocale is per thread, so this
// never disturbs another thread.
class CLocaleScope {
public:
    CLocaleScope() {
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        if (cLocale) previous_ = uselocale(cLocale);
    }
    ~CLocaleScope() {
        if (previous_) uselocale(previous_);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

// atoi, but a value beyond the int range saturates instead of wrapping.
int ReadInt(const std::string& value) {
    long long v = std::strtoll(value.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

bool ReadBool(const std::string& value) { return ReadInt(value) != 0; }

// atof, kept finite and within float range: "nan" reads as 0 like any other
// non-number, "inf" and huge values reach the nearest bound of the setting.
double ReadReal(const std::string& value) {
    double v = std::strtod(value.c_str(), nullptr);
    if (std::isnan(v)) return 0.0;
    return std::clamp<double>(v, -FLT_MAX, FLT_MAX);
}

std::string FormatReal(const char* format, double value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

bool ParseColor(const std::string& value, RgbColor& color) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (value.size() < 7 || value[0] != '#') return false;
    int digits[6];
    for (int i = 0; i < 6; ++i) {
        digits[i] = hex(value[static_cast<size_t>(i) + 1]);
        if (digits[i] < 0) return false;
    }
    // Only trailing blanks may follow, so a file edited on Windows (CR before the
    // line feed) keeps its colours while "#12345678" stays malformed.
    for (size_t i = 7; i < value.size(); ++i) {
        char c = value[i];
        if (c != ' ' && c != '\t' && c != '\r') return false;
    }
    color.r = static_cast<uint8_t>(digits[0] * 16 + digits[1]);
    color.g = static_cast<uint8_t>(digits[2] * 16 + digits[3]);
    color.b = static_cast<uint8_t>(digits[4] * 16 + digits[5]);
    return true;
}

bool HasControlByte(const std::string& text) {
    for (unsigned char c : text)
        if (c < 32 && c != '\t') return true;
    return false;
}

// The file output plus the diagnostics of entries that were left out.
struct Writer {
    std::string out;
    std::vector<std::string>* log = nullptr;

    static bool Fits(std::string_view key, std::string_view value) {
        return key.size() + 1 + value.size() <= kMaxPreferenceLineBytes;
    }
    void Line(std::string_view key, std::string_view value) {
        out.append(key);
        out += '=';
        out.append(value);
        out += '\n';
    }
    void Log(const std::string& line) {
        if (log) log->push_back(line);
    }
};

// Free text (update notes, versions) cannot hold a line feed or NUL in a line
// format, and must stay short enough to be read back: such bytes become spaces and
// the text is cut at a character boundary.
std::string WritableText(std::string_view key, std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\0') c = ' ';
    size_t room = kMaxPreferenceLineBytes - key.size() - 1;
    if (text.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    return text;
}

// One key of the file: how it is read and how (and where) it is written. The
// table order is the file order.
struct Entry {
    std::string key;  // the exact key read; empty for a position written only
    std::function<void(Preferences&, const std::string&)> read;
    std::function<void(const Preferences&, Writer&)> write;
};

template <class Get>
Entry Bool(std::string key, Get get) {
    return {key, [get](Preferences& p, const std::string& v) { std::invoke(get, p) = ReadBool(v); },
            [key, get](const Preferences& p, Writer& w) {
                w.Line(key, std::invoke(get, p) ? "1" : "0");
            }};
}

template <class Get>
Entry Int(std::string key, Get get, int lo, int hi) {
    return {key,
            [get, lo, hi](Preferences& p, const std::string& v) {
                std::invoke(get, p) = std::clamp(ReadInt(v), lo, hi);
            },
            [key, get](const Preferences& p, Writer& w) {
                w.Line(key, std::to_string(std::invoke(get, p)));
            }};
}

// An integer that only a few values make sense for; anything else is ignored.
template <class Get>
Entry OneOf(std::string key, Get get, std::initializer_list<int> allowed) {
    std::vector<int> values(allowed);
    return {key,
            [get, values](Preferences& p, const std::string& v) {
                int n = ReadInt(v);
                if (std::find(values.begin(), values.end(), n) != values.end()) std::invoke(get, p) = n;
            },
            [key, get](const Preferences& p, Writer& w) {
                w.Line(key, std::to_string(std::invoke(get, p)));
            }};
}

template <class Get>
Entry Real(std::string key, Get get, const char* format, double lo = -FLT_MAX, double hi = FLT_MAX) {
    return {key,
            [get, lo, hi](Preferences& p, const std::string& v) {
                std::invoke(get, p) = static_cast<float>(std::clamp(ReadReal(v), lo, hi));
            },
            [key, get, format](const Preferences& p, Writer& w) {
                w.Line(key, FormatReal(format, static_cast<double>(std::invoke(get, p))));
            }};
}

template <class Get>
Entry Text(std::string key, Get get) {
    return {key, [get](Preferences& p, const std::string& v) { std::invoke(get, p) = v; },
            [key, get](const Preferences& p, Writer& w) {
                w.Line(key, WritableText(key, std::invoke(get, p)));
            }};
}

template <class Get>
Entry Color(std::string key, Get get) {
    return {key, [get](Preferences& p, const std::string& v) { ParseColor(v, std::invoke(get, p)); },
            [key, get](const Preferences& p, Writer& w) {
                const RgbColor& c = std::invoke(get, p);
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", c.r, c.g, c.b);
                w.Line(key, buffer);
            }};
}

// Keys of older files: accepted and ignored, never written.
Entry Ignored(std::string key) {
    return {key, [](Preferences&, const std::string&) {}, nullptr};
}

// Trace model keys other than tm_valid are written only for a valid model.
Entry OnlyForValidModel(Entry entry) {
    auto write = entry.write;
    entry.write = [write](const Preferences& p, Writer& w) {
        if (p.traceModel.valid) write(p, w);
    };
    return entry;
}

// Channel maps: at most this many layouts, each with at most this many roles
// (the largest layout has 12), each a device channel 0..255.
constexpr size_t kMaxChannelMaps = 64;
constexpr size_t kMaxMappedRoles = 32;
constexpr int kMaxDeviceChannel = 255;

void ReadChannelMap(Preferences& p, const std::string& name, const std::string& value) {
    if (name.empty()) return;
    if (p.channelMaps.size() >= kMaxChannelMaps && !p.channelMaps.count(name)) return;
    std::vector<int> channels;
    size_t start = 0;
    while (start <= value.size() && channels.size() < kMaxMappedRoles) {
        size_t comma = value.find(',', start);
        std::string part = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool blank = part.find_first_not_of(" \t\r") == std::string::npos;
        if (!blank) channels.push_back(std::clamp(ReadInt(part), 0, kMaxDeviceChannel));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    p.channelMaps[name] = std::move(channels);
}

void WriteChannelMaps(const Preferences& p, Writer& w) {
    for (const auto& [name, channels] : p.channelMaps) {
        std::string key = "chmap." + name;
        std::string value;
        const char* separator = "";
        for (int channel : channels) {
            value += separator;
            value += std::to_string(channel);
            separator = ",";
        }
        bool writable = !name.empty() && name.find_first_of(std::string("=\n\0", 3)) == std::string::npos;
        if (!writable || !Writer::Fits(key, value)) {
            w.Log("[SavePrefs] Skipping channel map that cannot be written\n");
            continue;
        }
        w.Line(key, value);
    }
}

void ReadRecentProject(Preferences& p, const std::string& value) {
    if (value.empty() || p.recentProjects.size() >= static_cast<size_t>(kMaxRecentProjects)) return;
    if (std::find(p.recentProjects.begin(), p.recentProjects.end(), value) != p.recentProjects.end()) return;
    p.recentProjects.push_back(value);
}

void WriteRecentProjects(const Preferences& p, Writer& w) {
    const char* key = "recentProject";
    int count = static_cast<int>(std::min(p.recentProjects.size(), static_cast<size_t>(kMaxRecentProjects)));
    for (int i = 0; i < count; ++i) {
        const std::string& path = p.recentProjects[static_cast<size_t>(i)];
        if (path.empty()) continue;
        char line[96];
        if (HasControlByte(path)) {
            std::snprintf(line, sizeof line, "[SavePrefs] Skipping corrupted recent project entry %d\n", i);
            w.Log(line);
            continue;
        }
        if (!Writer::Fits(key, path)) {
            std::snprintf(line, sizeof line, "[SavePrefs] Skipping overlong recent project entry %d\n", i);
            w.Log(line);
            continue;
        }
        w.Line(key, path);
    }
}

void AddLibrary(Preferences& p, LibraryFolderSetting library) {
    if (library.path.empty()) return;
    for (const LibraryFolderSetting& existing : p.libraries)
        if (existing.path == library.path) return;
    p.libraries.push_back(std::move(library));
}

// "path|enabled|n". The two numbers are taken from the right, so a folder whose
// name holds "|" survives the round trip.
void ReadLibraryEx(Preferences& p, const std::string& value) {
    LibraryFolderSetting library;
    size_t last = value.rfind('|');
    if (last == std::string::npos) {
        library.path = value;
    } else {
        size_t previous = last == 0 ? std::string::npos : value.rfind('|', last - 1);
        if (previous == std::string::npos) {
            library.path = value.substr(0, last);
            library.enabled = ReadBool(value.substr(last + 1));
        } else {
            library.path = value.substr(0, previous);
            library.enabled = ReadBool(value.substr(previous + 1, last - previous - 1));
            library.weightClass = std::clamp(ReadInt(value.substr(last + 1)), -1, 2);
        }
    }
    AddLibrary(p, std::move(library));
}

void WriteLibraries(const Preferences& p, Writer& w) {
    const char* key = "libraryEx";
    for (size_t i = 0; i < p.libraries.size(); ++i) {
        const LibraryFolderSetting& library = p.libraries[i];
        if (library.path.empty()) continue;
        std::string value = library.path + "|" + (library.enabled ? "1" : "0") + "|" +
                            std::to_string(std::clamp(library.weightClass, -1, 2));
        if (library.path.find_first_of(std::string("\n\0", 2)) != std::string::npos ||
            !Writer::Fits(key, value)) {
            char line[96];
            std::snprintf(line, sizeof line, "[SavePrefs] Skipping unwritable library folder entry %d\n",
                          static_cast<int>(i));
            w.Log(line);
            continue;
        }
        w.Line(key, value);
    }
}

std::vector<Entry> BuildTable() {
    using P = Preferences;
    std::vector<Entry> t;
    t.push_back(Real("handleDuration", &P::handleDuration, "%.2f", 0.01, 60.0));
    t.push_back(Bool("handleFullSource", &P::handleFullSource));
    t.push_back(Real("fadeInDuration", &P::fadeInDuration, "%.3f", 0.0, 30.0));
    t.push_back(Real("fadeOutDuration", &P::fadeOutDuration, "%.3f", 0.0, 30.0));
    t.push_back(Bool("exportAAFMarkers", &P::exportAAFMarkers));
    t.push_back(Bool("exportAAFVolAuto", &P::exportAAFVolAuto));
    t.push_back(Bool("exportAAFSourceChannels", &P::exportAAFSourceChannels));
    t.push_back(Bool("exportFormatAAF", &P::exportFormatAAF));
    t.push_back(Bool("exportFormatWAV", &P::exportFormatWAV));
    t.push_back(Bool("exportWavMixdown", &P::exportWavMixdown));
    t.push_back(Bool("exportWavStems", &P::exportWavStems));
    t.push_back(Int("exportWavLayout", &P::exportWavLayout, 0, 3));
    t.push_back(Int("exportWavLUFSIndex", &P::exportWavLUFSIndex, 0, 4));
    t.push_back(Int("exportSpatialMode", &P::exportSpatialMode, 0, 2));
    {
        // -1 means "not set"; any negative value reads as that.
        Entry e = Real("spatialAmount", &P::spatialAmount, "%.4f", -1.0, 1.0);
        e.read = [](P& p, const std::string& v) {
            double amount = ReadReal(v);
            p.spatialAmount = amount < 0.0 ? -1.0f : static_cast<float>(std::min(amount, 1.0));
        };
        t.push_back(std::move(e));
    }
    t.push_back(Bool("spatialEnhanced", &P::spatialEnhanced));
    t.push_back(Real("spatialAmountLast", &P::spatialAmountLast, "%.4f", 0.01, 1.0));
    t.push_back(Int("monitorLayout", &P::monitorLayout, 0, 2));
    t.push_back(Bool("monitorBinaural", &P::monitorBinaural));
    t.push_back(Real("monitorGain", &P::monitorGain, "%.4f", 0.0, 10.0));
    t.push_back({"", nullptr, WriteChannelMaps});
    t.push_back(Bool("exportWavTracks", &P::exportWavTracks));
    t.push_back(Bool("exportWavClips", &P::exportWavClips));
    t.push_back(Bool("exportReverbStem", &P::exportReverbStem));
    t.push_back(Int("varCount", &P::varCount, 1, 100));
    t.push_back(Int("varChannels", &P::varChannels, 1, 2));
    t.push_back(OneOf("varSampleRate", &P::varSampleRate, {44100, 48000, 88200, 96000}));
    t.push_back(OneOf("varBitDepth", &P::varBitDepth, {16, 24}));
    t.push_back(Bool("varReverb", &P::varReverb));
    t.push_back(Bool("varShowAdvanced", &P::varShowAdvanced));
    t.push_back(Int("varNameStyle", &P::varNameStyle, 0, 1));
    t.push_back(Bool("varNormalize", &P::varNormalize));
    t.push_back(OneOf("projectSampleRate", &P::projectSampleRate, {44100, 48000, 88200, 96000}));
    t.push_back(Real("maxEventDuration", &P::maxEventDuration, "%.1f", 0.1, 600.0));
    t.push_back(Bool("protectSilence", &P::protectSilence));
    t.push_back(Bool("destructiveEQ", &P::destructiveEQ));
    t.push_back(Bool("chainsImportAsGroup", &P::chainsImportAsGroup));
    t.push_back(Int("channelOrderFallback", &P::channelOrderFallback, 0, 2));
    t.push_back(Bool("showSpectralHeatmap", &P::showSpectralHeatmap));
    t.push_back(Int("scaleType", &P::scaleType, 0, 16));
    t.push_back(Int("scaleRoot", &P::scaleRoot, 0, 11));
    t.push_back(Int("pitchShiftProb", &P::pitchShiftProb, 0, 100));
    t.push_back(Int("freqShiftIntensity", &P::freqShiftIntensity, 0, 100));
    t.push_back(Int("reverseProb", &P::reverseProb, 0, 100));
    t.push_back(Int("fontSizePreset", &P::fontSizePreset, 0, 2));
    t.push_back(Bool("fontSizeAuto", &P::fontSizeAuto));
    t.push_back(Bool("boldFonts", &P::boldFonts));
    t.push_back(Int("theme", &P::theme, 0, 6));
    t.push_back(Bool("colorByWeight", &P::colorByWeight));
    t.push_back(Bool("showAdvancedInspector", &P::showAdvancedInspector));
    t.push_back(Int("lastIntensityMode", &P::lastIntensityMode, 0, 2));
    t.push_back(Bool("autoSaveEnabled", &P::autoSaveEnabled));
    t.push_back(Bool("audioFocusLatched", &P::audioFocusLatched));
    t.push_back(Real("autoSaveInterval", &P::autoSaveInterval, "%.0f", 30.0, 3600.0));
    t.push_back(Int("maxBackups", &P::maxBackups, 1, 50));
    t.push_back(Color("weightColorLow", &P::weightColorLow));
    t.push_back(Color("weightColorMid", &P::weightColorMid));
    t.push_back(Color("weightColorHigh", &P::weightColorHigh));
    t.push_back(Bool("reverbEnabled", &P::reverbEnabled));
    t.push_back(Real("reverbSize", &P::reverbSize, "%.3f", 0.0, 1.0));
    t.push_back(Real("reverbDecay", &P::reverbDecay, "%.3f", 0.0, 1.0));
    t.push_back(Real("reverbDamping", &P::reverbDamping, "%.3f", 0.0, 1.0));
    t.push_back(Real("reverbDiffusion", &P::reverbDiffusion, "%.3f", 0.0, 1.0));
    t.push_back(Real("reverbModulation", &P::reverbModulation, "%.3f", 0.0, 1.0));
    t.push_back(Real("reverbMacro", &P::reverbMacro, "%.3f", 0.0, 1.0));
    t.push_back(Real("reverbPreDelay", &P::reverbPreDelay, "%.4f", 0.0, 0.2));
    for (size_t g = 0; g < 3; ++g) {
        t.push_back(Real("reverbSend" + std::to_string(g), [g](auto& p) -> auto& { return p.reverbSend[g]; },
                         "%.3f", 0.0, 1.0));
    }

    // The learned trace model, in its own order.
    t.push_back(Bool("tm_valid", [](auto& p) -> auto& { return p.traceModel.valid; }));
    std::vector<Entry> model;
    model.push_back(Int("tm_totalSpots", [](auto& p) -> auto& { return p.traceModel.totalSpots; }, 0, INT_MAX));
    for (size_t i = 0; i < 5; ++i)
        model.push_back(Real("tm_w" + std::to_string(i), [i](auto& p) -> auto& { return p.traceModel.w[i]; },
                             "%.6f"));
    auto real = [&model](const char* key, float TraceModelSettings::*field) {
        model.push_back(Real(key, [field](auto& p) -> auto& { return p.traceModel.*field; }, "%.6f"));
    };
    real("tm_defaultCompositeMean", &TraceModelSettings::defaultCompositeMean);
    real("tm_thresholdScale", &TraceModelSettings::thresholdScale);
    real("tm_subtleScale", &TraceModelSettings::subtleScale);
    real("tm_spotCutoff", &TraceModelSettings::spotCutoff);
    real("tm_gainA", &TraceModelSettings::gainA);
    real("tm_gainB", &TraceModelSettings::gainB);
    real("tm_weightBias", &TraceModelSettings::weightBias);
    real("tm_spotDurScale", &TraceModelSettings::spotDurScale);
    real("tm_sweepDurScale", &TraceModelSettings::sweepDurScale);
    real("tm_minGap", &TraceModelSettings::minGap);
    model.push_back(Int("tm_posCount", [](auto& p) -> auto& { return p.traceModel.posCount; }, 0, INT_MAX));
    for (size_t i = 0; i < 5; ++i)
        model.push_back(Real("tm_posMean" + std::to_string(i),
                             [i](auto& p) -> auto& { return p.traceModel.posMean[i]; }, "%.6f"));
    model.push_back(Int("tm_negCount", [](auto& p) -> auto& { return p.traceModel.negCount; }, 0, INT_MAX));
    for (size_t i = 0; i < 5; ++i)
        model.push_back(Real("tm_negMean" + std::to_string(i),
                             [i](auto& p) -> auto& { return p.traceModel.negMean[i]; }, "%.6f"));
    for (Entry& e : model) t.push_back(OnlyForValidModel(std::move(e)));

    t.push_back(Bool("showLauncherOnStartup", &P::showLauncherOnStartup));
    t.push_back(Bool("updateCheckEnabled", &P::updateCheckEnabled));
    t.push_back(Text("dismissedUpdateVersion", &P::dismissedUpdateVersion));
    t.push_back({"lastUpdateCheck",
                 [](P& p, const std::string& v) {
                     p.lastUpdateCheck = std::max(0LL, std::strtoll(v.c_str(), nullptr, 10));
                 },
                 [](const P& p, Writer& w) { w.Line("lastUpdateCheck", std::to_string(p.lastUpdateCheck)); }});
    t.push_back(Text("updateAvailableVersion", &P::updateAvailableVersion));
    t.push_back(Text("updateAvailablePageUrl", &P::updateAvailablePageUrl));
    t.push_back(Text("updateAvailableDate", &P::updateAvailableDate));
    t.push_back(Text("updateAvailableNote", &P::updateAvailableNote));
    t.push_back({"recentProject", ReadRecentProject, WriteRecentProjects});
    t.push_back({"libraryEx", ReadLibraryEx, WriteLibraries});
    // Older files named a library folder alone; the whole value is the path.
    t.push_back({"library", [](P& p, const std::string& v) { AddLibrary(p, LibraryFolderSetting{v}); }, nullptr});
    for (const char* key : {"maxLayersPerEvent", "deconflictEnabled", "adaptiveLayerCount", "dynamicRangePreserve",
                            "murchCeiling", "narrativeDensity"})
        t.push_back(Ignored(key));
    return t;
}

const std::vector<Entry>& Table() {
    static const std::vector<Entry> table = BuildTable();
    return table;
}

const std::unordered_map<std::string, const Entry*>& EntriesByKey() {
    static const std::unordered_map<std::string, const Entry*> index = [] {
        std::unordered_map<std::string, const Entry*> m;
        for (const Entry& e : Table())
            if (!e.key.empty() && e.read) m.emplace(e.key, &e);
        return m;
    }();
    return index;
}

void ApplyLine(Preferences& p, std::string line) {
    // Text after a NUL byte is not part of the setting.
    size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    const auto& index = EntriesByKey();
    auto it = index.find(key);
    if (it != index.end()) {
        it->second->read(p, value);
        return;
    }
    static constexpr std::string_view kChannelMapPrefix = "chmap.";
    if (key.compare(0, kChannelMapPrefix.size(), kChannelMapPrefix) == 0)
        ReadChannelMap(p, key.substr(kChannelMapPrefix.size()), value);
}

// Splits a byte stream into lines. A line longer than the limit is dropped as a
// whole: reading its first part would keep a cut-off path, and reading the rest as
// a line of its own could turn the tail of a path into a setting.
class LineReader {
public:
    explicit LineReader(Preferences& prefs) : prefs_(prefs) {
        prefs_.recentProjects.clear();
        prefs_.libraries.clear();
        prefs_.channelMaps.clear();
    }
    void Feed(char c) {
        if (c == '\n') {
            EndLine();
            return;
        }
        if (overlong_) return;
        if (line_.size() >= kMaxPreferenceLineBytes) {
            overlong_ = true;
            line_.clear();
            return;
        }
        line_ += c;
    }
    void Finish() {
        if (!line_.empty() || overlong_) EndLine();
    }

private:
    void EndLine() {
        if (!overlong_) ApplyLine(prefs_, line_);
        line_.clear();
        overlong_ = false;
    }
    Preferences& prefs_;
    std::string line_;
    bool overlong_ = false;
};

}  // namespace

Preferences& Prefs() {
    static Preferences prefs;
    return prefs;
}

std::string PreferencesFilePath() {
    std::string folder = AppDataFolder();
    return folder.empty() ? std::string() : JoinPath(folder, kPreferencesFileName);
}

void ParsePreferences(const std::string& text, Preferences& prefs) {
    CLocaleScope locale;
    LineReader reader(prefs);
    for (char c : text) reader.Feed(c);
    reader.Finish();
}

std::string FormatPreferences(const Preferences& prefs, std::vector<std::string>* log) {
    CLocaleScope locale;
    Writer writer;
    writer.log = log;
    for (const Entry& e : Table())
        if (e.write) e.write(prefs, writer);
    return std::move(writer.out);
}

bool LoadPreferencesFrom(const std::string& path, Preferences& prefs) {
    // Only a regular file: opening a pipe left at this path would block the start.
    if (!IsFile(path)) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    CLocaleScope locale;
    LineReader reader(prefs);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        for (size_t i = 0; i < n; ++i) reader.Feed(buffer[i]);
    reader.Finish();
    std::fclose(file);
    return true;
}

bool SavePreferencesTo(const std::string& path, const Preferences& prefs) {
    std::vector<std::string> log;
    std::string text = FormatPreferences(prefs, &log);
    for (const std::string& line : log) std::fputs(line.c_str(), stdout);
    if (!log.empty()) std::fflush(stdout);
    return WriteFileAtomically(path, text);
}

bool LoadPreferences() {
    std::string path = PreferencesFilePath();
    if (path.empty()) return false;
    return LoadPreferencesFrom(path, Prefs());
}

bool SavePreferences() {
    std::string path = PreferencesFilePath();
    if (path.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(AppDataFolder(), ec);
    return SavePreferencesTo(path, Prefs());
}

void AddRecentProject(Preferences& prefs, const std::string& path) {
    if (path.empty()) return;
    auto& list = prefs.recentProjects;
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
    list.insert(list.begin(), path);
    if (list.size() > static_cast<size_t>(kMaxRecentProjects)) list.resize(kMaxRecentProjects);
}

void ClearRecentProjects(Preferences& prefs) { prefs.recentProjects.clear(); }

void AddRecentProject(const std::string& path) {
    AddRecentProject(Prefs(), path);
    MarkPreferencesDirty();
}

void ClearRecentProjects() {
    ClearRecentProjects(Prefs());
    MarkPreferencesDirty();
}

std::atomic<bool>& PreferencesDirtyFlag() {
    static std::atomic<bool> dirty{false};
    return dirty;
}

void MarkPreferencesDirty() { PreferencesDirtyFlag().store(true, std::memory_order_release); }

bool TakePreferencesDirty() { return PreferencesDirtyFlag().exchange(false, std::memory_order_acq_rel); }

}  // namespace morvane
