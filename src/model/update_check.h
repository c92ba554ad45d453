#pragma once
// The update check: at most once a day, or when the user asks, fetch the maker's small
// JSON release manifest and remember whether a newer release exists. Nothing is ever
// downloaded or installed; the Settings tab shows the result and can open the page.
//
// The check runs on a detached thread. It never touches the preferences itself: it
// leaves its outcome in a slot that the frame loop takes over (TakeUpdateCheckResult),
// so the stored fields are only ever written on the user-interface thread.
#include <string>
#include <string_view>
#include <vector>

#include "model/json.h"
#include "model/preferences.h"

namespace morvane {

// The running program's version, shown in the about box as "Version %s".
const char* RunningVersion();

// The key under a release's "files" that names this program's platform.
inline constexpr const char* kUpdatePlatformKey = "linux";

// Dotted-version comparison: -1 when a < b, 0 when equal, 1 when a > b. Components are
// read as decimal numbers up to the next "."; a missing component counts as 0, so
// "2026.8.10" > "2026.8.2" and "2026.8" == "2026.8.0".
int CompareVersions(std::string_view a, std::string_view b);

// The strict reader for the manifest. Unlike the tolerant project reader it refuses a
// malformed document: false for any syntax error, a \u without four hexadecimal digits,
// text after the root value, or nesting deeper than kJsonMaxDepth.
bool ParseManifest(std::string_view text, JsonValue& root);

// What a manifest says about the stored update state.
struct UpdateFindings {
    enum class Kind {
        Unchanged,  // the manifest could not be used: the stored state stays
        NoUpdate,   // read, and nothing newer than the running version: clear the stored update
        Available,  // a newer release: store the fields below
    };
    Kind kind = Kind::Unchanged;
    std::string version;
    std::string pageUrl;  // empty when neither the release nor the manifest names an http(s) page
    std::string date;
    std::string note;     // the release's notes, joined with " · "
};

// Reads a manifest body against runningVersion. Diagnostic lines ("[Update] ...") go
// to the standard error stream.
UpdateFindings ReadUpdateManifest(std::string_view body, std::string_view runningVersion);

// The manifest address is configuration: the program sets the built-in one at start;
// MV_UPDATE_URL in the environment replaces it (an empty value turns checking off).
// Without an address no request is ever made.
void SetUpdateServer(const std::string& manifestUrl, const std::string& changelogUrl);
std::string UpdateManifestUrl();
std::string UpdateChangelogUrl();

// Starts a check on a detached thread unless one is already running; returns at once.
void StartUpdateCheck();
bool UpdateCheckRunning();   // a request is in flight
bool UpdateCheckFinished();  // at least one check has completed since start

// The frame loop's part: when a check has completed since the last call, writes its
// outcome into prefs (the time of the request always, the update fields as the
// findings say), marks the preferences dirty and returns true.
bool TakeUpdateCheckResult(Preferences& prefs);

// On the first frame: automatic checks are on and a day (86400 s) has passed since
// the last one. A last-check time in the future (a clock set back) also counts as due.
bool UpdateCheckDue(const Preferences& prefs, long long now);

// The Settings tab's view of the stored state.
bool UpdateOffered(const Preferences& prefs);         // available and not dismissed
void DismissUpdate(Preferences& prefs);               // remembers the version; marks dirty
std::string UpdatePageToOpen(const Preferences& prefs);  // stored page, else the changelog page
// "Last checked just now." / "... %lld min ago." / "... %lld hr ago." / "... %lld day%s ago.";
// empty when never checked.
std::string LastCheckedText(long long lastCheck, long long now);
// The lines below the "Check now" button: when an update is offered "Version %s is
// available." and "You're on %s."; otherwise "You're on %s — the latest version." when
// automatic checks are on, or "Automatic update checks are off." and "This app never
// connects on its own." when they are off.
std::vector<std::string> UpdateStatusLines(const Preferences& prefs);

}  // namespace morvane
