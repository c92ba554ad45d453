#include "model/update_check.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/http.h"
#include "platform/utf8.h"
#include "version.h"

namespace morvane {

const char* RunningVersion() { return MORVANE_VERSION; }

// ---------------------------------------------------------------- versions

int CompareVersions(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    // A component is its leading digits; anything after them up to the next "." is
    // ignored ("9-beta" reads as 9). Huge components saturate instead of overflowing.
    auto component = [](std::string_view s, size_t& pos) {
        unsigned long long value = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (value < 100000000000000000ULL) value = value * 10 + static_cast<unsigned>(s[pos] - '0');
            ++pos;
        }
        while (pos < s.size() && s[pos] != '.') ++pos;
        if (pos < s.size()) ++pos;  // the "."
        return value;
    };
    while (i < a.size() || j < b.size()) {
        unsigned long long x = i < a.size() ? component(a, i) : 0;
        unsigned long long y = j < b.size() ? component(b, j) : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// ---------------------------------------------------------------- strict reader

namespace {

struct StrictReader {
    std::string_view s;
    size_t pos = 0;

    void SkipSpace() {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r')) ++pos;
    }

    bool Literal(std::string_view word) {
        if (s.substr(pos, word.size()) != word) return false;
        pos += word.size();
        return true;
    }

    static int Hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }


    bool String(std::string& out) {
        if (pos >= s.size() || s[pos] != '"') return false;
        ++pos;
        while (pos < s.size()) {
            char c = s[pos++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos >= s.size()) return false;
            char e = s[pos++];
            switch (e) {
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (pos + 4 > s.size()) return false;
                    unsigned code = 0;
                    for (int k = 0; k < 4; ++k) {
                        int h = Hex(s[pos + static_cast<size_t>(k)]);
                        if (h < 0) return false;
                        code = code * 16 + static_cast<unsigned>(h);
                    }
                    pos += 4;
                    // A lone or paired surrogate cannot be written as UTF-8 on its own.
                    if (code >= 0xD800 && code <= 0xDFFF) out += '?';
                    else AppendUtf8(out, code);
                    break;
                }
                default: out += e; break;
            }
        }
        return false;  // unterminated
    }

    bool Number(JsonValue& v) {
        const char* begin = s.data() + pos;
        const char* end = s.data() + s.size();
        double value = 0;
        auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
        if (ec != std::errc() || ptr == begin || !std::isfinite(value)) return false;
        pos += static_cast<size_t>(ptr - begin);
        v.type = JsonType::Number;
        v.number = value;
        return true;
    }

    bool Value(JsonValue& v, int depth) {
        SkipSpace();
        if (pos >= s.size()) return false;
        char c = s[pos];
        if (c == '{' || c == '[') {
            if (depth >= kJsonMaxDepth) return false;
            ++pos;
            const bool object = c == '{';
            v.type = object ? JsonType::Object : JsonType::Array;
            const char close = object ? '}' : ']';
            SkipSpace();
            if (pos < s.size() && s[pos] == close) {
                ++pos;
                return true;
            }
            for (;;) {
                SkipSpace();
                if (object) {
                    std::string key;
                    if (!String(key)) return false;
                    SkipSpace();
                    if (pos >= s.size() || s[pos] != ':') return false;
                    ++pos;
                    JsonValue member;
                    if (!Value(member, depth + 1)) return false;
                    v.members.emplace_back(std::move(key), std::move(member));
                } else {
                    JsonValue item;
                    if (!Value(item, depth + 1)) return false;
                    v.items.push_back(std::move(item));
                }
                SkipSpace();
                if (pos >= s.size()) return false;
                if (s[pos] == ',') {
                    ++pos;
                    continue;
                }
                if (s[pos] != close) return false;
                ++pos;
                return true;
            }
        }
        if (c == '"') {
            v.type = JsonType::String;
            return String(v.text);
        }
        if (c == 't' && Literal("true")) {
            v.type = JsonType::Bool;
            v.boolValue = true;
            return true;
        }
        if (c == 'f' && Literal("false")) {
            v.type = JsonType::Bool;
            return true;
        }
        if (c == 'n' && Literal("null")) return true;
        if (c == '-' || (c >= '0' && c <= '9')) return Number(v);
        return false;
    }
};

}  // namespace

bool ParseManifest(std::string_view text, JsonValue& root) {
    StrictReader reader{text};
    JsonValue value;
    if (!reader.Value(value, 0)) return false;
    reader.SkipSpace();
    if (reader.pos != text.size()) return false;
    root = std::move(value);
    return true;
}

// ---------------------------------------------------------------- manifest

namespace {

// Manifest texts end up in the preferences file, one key=value line each: a line feed
// in a note would start a line of its own (and could set any other setting), and a
// text longer than a line the reader accepts would be lost. So control characters
// become spaces and each text is cut, at a character boundary, well inside a line.
constexpr size_t kMaxStoredText = 900;

std::string StorableText(std::string_view text) {
    std::string out;
    out.reserve(std::min(text.size(), kMaxStoredText));
    for (char c : text) out += (static_cast<unsigned char>(c) < 32 || c == 127) ? ' ' : c;
    if (out.size() > kMaxStoredText) {
        size_t cut = kMaxStoredText;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

// Only a web page is ever handed to the browser.
bool IsWebUrl(std::string_view url) {
    auto starts = [&](std::string_view prefix) {
        if (url.size() <= prefix.size()) return false;
        for (size_t i = 0; i < prefix.size(); ++i) {
            char c = url[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != prefix[i]) return false;
        }
        return true;
    };
    return starts("https://") || starts("http://");
}

}  // namespace

UpdateFindings ReadUpdateManifest(std::string_view body, std::string_view runningVersion) {
    UpdateFindings findings;
    JsonValue root;
    if (!ParseManifest(body, root) || !root.IsObject()) return findings;

    const JsonValue& schema = JsonMember(root, "schemaVersion");
    if (!schema.IsNumber()) {
        std::fprintf(stderr, "[Update] manifest missing schemaVersion \xE2\x80\x94 skipping.\n");
        return findings;
    }
    const int schemaVersion = JsonAsInt(schema, 0);
    if (schemaVersion >= 2) {
        std::fprintf(stderr, "[Update] manifest schemaVersion %d > supported %d \xE2\x80\x94 skipping.\n",
                     schemaVersion, 1);
        return findings;
    }
    const std::string& changelogUrl = JsonAsText(JsonMember(root, "changelogUrl"));
    const JsonValue& releases = JsonMember(root, "releases");
    if (JsonSize(releases) == 0) return findings;

    const JsonValue* kept = nullptr;
    const JsonValue* keptPlatform = nullptr;
    for (const JsonValue& release : releases.items) {
        const JsonValue& version = JsonMember(release, "version");
        const JsonValue& files = JsonMember(release, "files");
        const JsonValue& platform = JsonMember(files, kUpdatePlatformKey);
        if (!release.IsObject() || !version.IsString() || !files.IsObject() || !platform.IsObject()) continue;
        // Ties keep the earlier release.
        if (!kept || CompareVersions(version.text, JsonAsText(JsonMember(*kept, "version"))) > 0) {
            kept = &release;
            keptPlatform = &platform;
        }
    }
    if (!kept) {
        std::fprintf(stderr, "[Update] no release found for platform \"%s\".\n", kUpdatePlatformKey);
        findings.kind = UpdateFindings::Kind::NoUpdate;
        return findings;
    }
    const std::string& version = JsonAsText(JsonMember(*kept, "version"));
    if (CompareVersions(version, runningVersion) <= 0) {
        findings.kind = UpdateFindings::Kind::NoUpdate;
        return findings;
    }
    findings.kind = UpdateFindings::Kind::Available;
    findings.version = StorableText(version);
    const std::string& page = JsonAsText(JsonMember(*keptPlatform, "url"));
    if (IsWebUrl(page)) findings.pageUrl = StorableText(page);
    else if (IsWebUrl(changelogUrl)) findings.pageUrl = StorableText(changelogUrl);
    findings.date = StorableText(JsonAsText(JsonMember(*kept, "date")));
    std::string notes;
    for (const JsonValue& note : JsonMember(*kept, "notes").items) {
        if (!note.IsString()) continue;
        if (!notes.empty()) notes += " \xC2\xB7 ";
        notes += note.text;
    }
    findings.note = StorableText(notes);
    return findings;
}

// ---------------------------------------------------------------- the check

namespace {

struct UpdateCheckSlot {
    std::mutex mutex;
    std::string manifestUrl;
    std::string changelogUrl;
    std::atomic<bool> checkRunning{false};
    std::atomic<bool> checkFinished{false};
    // The outcome of the last completed check, until the frame loop takes it.
    std::optional<long long> checkedAt;
    UpdateFindings findings;
};

UpdateCheckSlot& Slot() {
    static UpdateCheckSlot slot;
    return slot;
}

void RunUpdateCheck(std::string url) {
    UpdateCheckSlot& slot = Slot();
    HttpResult response = HttpGet(url);
    const long long now = static_cast<long long>(std::time(nullptr));
    UpdateFindings findings;
    if (response.error.empty() && response.status >= 200 && response.status <= 299 && !response.body.empty())
        findings = ReadUpdateManifest(response.body, RunningVersion());
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        slot.checkedAt = now;
        slot.findings = std::move(findings);
    }
    slot.checkFinished = true;
    // Cleared last, so that "Checking…" stays until the outcome is there to take and
    // a second press cannot start a request whose result would race this one.
    slot.checkRunning = false;
}

}  // namespace

void SetUpdateServer(const std::string& manifestUrl, const std::string& changelogUrl) {
    std::lock_guard<std::mutex> lock(Slot().mutex);
    Slot().manifestUrl = manifestUrl;
    Slot().changelogUrl = changelogUrl;
}

std::string UpdateManifestUrl() {
    if (const char* overridden = std::getenv("MV_UPDATE_URL")) return overridden;
    std::lock_guard<std::mutex> lock(Slot().mutex);
    return Slot().manifestUrl;
}

std::string UpdateChangelogUrl() {
    std::lock_guard<std::mutex> lock(Slot().mutex);
    return Slot().changelogUrl;
}

void StartUpdateCheck() {
    UpdateCheckSlot& slot = Slot();
    const std::string url = UpdateManifestUrl();
    if (url.empty()) return;
    bool expected = false;
    if (!slot.checkRunning.compare_exchange_strong(expected, true)) return;
    try {
        std::thread(RunUpdateCheck, url).detach();
    } catch (...) {
        slot.checkRunning = false;  // no thread could be started; try again another time
    }
}

bool UpdateCheckRunning() { return Slot().checkRunning.load(); }
bool UpdateCheckFinished() { return Slot().checkFinished.load(); }

bool TakeUpdateCheckResult(Preferences& prefs) {
    UpdateCheckSlot& slot = Slot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (!slot.checkedAt) return false;
    prefs.lastUpdateCheck = *slot.checkedAt;
    const UpdateFindings& f = slot.findings;
    if (f.kind == UpdateFindings::Kind::NoUpdate) {
        prefs.updateAvailableVersion.clear();
        prefs.updateAvailablePageUrl.clear();
        prefs.updateAvailableDate.clear();
        prefs.updateAvailableNote.clear();
    } else if (f.kind == UpdateFindings::Kind::Available) {
        prefs.updateAvailableVersion = f.version;
        prefs.updateAvailablePageUrl = f.pageUrl;
        prefs.updateAvailableDate = f.date;
        prefs.updateAvailableNote = f.note;
    }
    slot.checkedAt.reset();
    MarkPreferencesDirty();
    return true;
}

bool UpdateCheckDue(const Preferences& prefs, long long now) {
    if (!prefs.updateCheckEnabled) return false;
    return prefs.lastUpdateCheck > now || now - prefs.lastUpdateCheck >= 86400;
}

// ---------------------------------------------------------------- texts

bool UpdateOffered(const Preferences& prefs) {
    return !prefs.updateAvailableVersion.empty() && prefs.updateAvailableVersion != prefs.dismissedUpdateVersion;
}

void DismissUpdate(Preferences& prefs) {
    prefs.dismissedUpdateVersion = prefs.updateAvailableVersion;
    MarkPreferencesDirty();
}

std::string UpdatePageToOpen(const Preferences& prefs) {
    if (IsWebUrl(prefs.updateAvailablePageUrl)) return prefs.updateAvailablePageUrl;
    const std::string changelog = UpdateChangelogUrl();
    return IsWebUrl(changelog) ? changelog : std::string();
}

std::string LastCheckedText(long long lastCheck, long long now) {
    if (lastCheck <= 0) return {};
    const long long age = now > lastCheck ? now - lastCheck : 0;
    char text[96];
    if (age < 60) return "Last checked just now.";
    if (age < 3600) std::snprintf(text, sizeof text, "Last checked %lld min ago.", age / 60);
    else if (age < 86400) std::snprintf(text, sizeof text, "Last checked %lld hr ago.", age / 3600);
    else {
        const long long days = age / 86400;
        std::snprintf(text, sizeof text, "Last checked %lld day%s ago.", days, days == 1 ? "" : "s");
    }
    return text;
}

std::vector<std::string> UpdateStatusLines(const Preferences& prefs) {
    std::vector<std::string> lines;
    if (UpdateOffered(prefs)) {
        lines.push_back("Version " + prefs.updateAvailableVersion + " is available.");
        lines.push_back(std::string("You're on ") + RunningVersion() + ".");
    } else if (prefs.updateCheckEnabled) {
        lines.push_back(std::string("You're on ") + RunningVersion() + " \xE2\x80\x94 the latest version.");
    } else {
        lines.push_back("Automatic update checks are off.");
        lines.push_back("This app never connects on its own.");
    }
    return lines;
}

}  // namespace morvane
