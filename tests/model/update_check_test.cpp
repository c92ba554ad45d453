#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "model/preferences.h"
#include "model/update_check.h"
#include "support/http_server.h"

using namespace morvane;
using morvane::test::HttpTestServer;

namespace {

std::string Manifest(const std::string& releases, const std::string& extra = "") {
    return "{\"schemaVersion\": 1," + extra + " \"releases\": [" + releases + "]}";
}

std::string Release(const std::string& version, const std::string& platformObject,
                    const std::string& more = "") {
    return "{\"version\": \"" + version + "\", \"date\": \"2026-09-01\", \"files\": {" + platformObject + "}" +
           more + "}";
}

UpdateFindings Read(const std::string& body, std::string* log = nullptr) {
    testing::internal::CaptureStderr();
    UpdateFindings f = ReadUpdateManifest(body, "2026.8.2");
    std::string err = testing::internal::GetCapturedStderr();
    if (log) *log = err;
    return f;
}

// Runs one check against url and hands its outcome to prefs, as the frame loop would.
bool CheckOnce(const std::string& url, Preferences& prefs) {
    setenv("MV_UPDATE_URL", url.c_str(), 1);
    StartUpdateCheck();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < until) {
        if (TakeUpdateCheckResult(prefs)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace

TEST(UpdateCheck, ComparesDottedVersionsNumerically) {
    EXPECT_EQ(CompareVersions("2026.8.10", "2026.8.2"), 1);
    EXPECT_EQ(CompareVersions("2026.8.2", "2026.8.10"), -1);
    EXPECT_EQ(CompareVersions("2026.8", "2026.8.0"), 0);
    EXPECT_EQ(CompareVersions("2026.8.0.0", "2026.8"), 0);
    EXPECT_EQ(CompareVersions("2027", "2026.99.99"), 1);
    EXPECT_EQ(CompareVersions("", "0.0"), 0);
    EXPECT_EQ(CompareVersions("2026.8.2", "2026.8.2"), 0);
    EXPECT_EQ(CompareVersions("2026.9-beta", "2026.9"), 0);
    // A component too long for any integer must still order sensibly, not wrap around.
    EXPECT_EQ(CompareVersions("2026.99999999999999999999999999", "2026.8"), 1);
}

TEST(UpdateCheck, TheManifestReaderIsStrict) {
    JsonValue root;
    ASSERT_TRUE(ParseManifest(" \t\r\n{\"a\": [1, -2.5e1, true, false, null], \"b\": {}} \n", root));
    ASSERT_TRUE(root.IsObject());
    const JsonValue& a = JsonMember(root, "a");
    ASSERT_EQ(JsonSize(a), 5);
    EXPECT_DOUBLE_EQ(JsonItem(a, 1).number, -25.0);
    EXPECT_TRUE(JsonItem(a, 2).boolValue);
    EXPECT_TRUE(JsonItem(a, 4).IsNull());

    ASSERT_TRUE(ParseManifest(R"({"s": "\b\f\n\r\t\/\q\u00e9\u20AC\ud83d\ude00"})", root));
    EXPECT_EQ(JsonAsText(JsonMember(root, "s")), "\b\f\n\r\t/q\xC3\xA9\xE2\x82\xAC??");

    for (const char* bad : {"", "{", "{\"a\" 1}", "{\"a\": 1,}", "{\"a\": 1 \"b\": 2}", "[1,]",
                            "{\"s\": \"\\u12\"}", "{\"s\": \"\\u12G4\"}", "{\"s\": \"open}",
                            "{} trailing", "{\"n\": +1}", "{\"n\": 1e999}", "{\"t\": tru}", "{'a': 1}"})
        EXPECT_FALSE(ParseManifest(bad, root)) << bad;
    std::string deep(kJsonMaxDepth + 10, '[');
    deep += std::string(kJsonMaxDepth + 10, ']');
    EXPECT_FALSE(ParseManifest(deep, root));
}

TEST(UpdateCheck, ManifestsThatCannotBeUsedLeaveTheStoredStateAlone) {
    std::string log;
    EXPECT_EQ(Read("{\"releases\": []}", &log).kind, UpdateFindings::Kind::Unchanged);
    EXPECT_EQ(log, "[Update] manifest missing schemaVersion \xE2\x80\x94 skipping.\n");
    EXPECT_EQ(Read("{\"schemaVersion\": \"1\"}", &log).kind, UpdateFindings::Kind::Unchanged);
    EXPECT_EQ(log, "[Update] manifest missing schemaVersion \xE2\x80\x94 skipping.\n");
    EXPECT_EQ(Read("{\"schemaVersion\": 2, \"releases\": []}", &log).kind, UpdateFindings::Kind::Unchanged);
    EXPECT_EQ(log, "[Update] manifest schemaVersion 2 > supported 1 \xE2\x80\x94 skipping.\n");
    // Malformed, not an object, no releases: silent.
    for (const char* body : {"{\"schemaVersion\": 1, ", "[1]", "{\"schemaVersion\": 1}",
                             "{\"schemaVersion\": 1, \"releases\": []}"}) {
        EXPECT_EQ(Read(body, &log).kind, UpdateFindings::Kind::Unchanged) << body;
        EXPECT_EQ(log, "") << body;
    }
}

TEST(UpdateCheck, PicksTheNewestReleaseForThisPlatform) {
    std::string log;
    // Ties keep the first; a release for other platforms only is ignored even when newer.
    auto f = Read(Manifest(Release("2026.9.0", "\"linux\": {\"url\": \"https://x.test/first\"}") + "," +
                           Release("2026.9.0", "\"linux\": {\"url\": \"https://x.test/second\"}") + "," +
                           Release("2027.1", "\"windows\": {\"url\": \"https://x.test/win\"}") + "," +
                           Release("2026.8.10", "\"linux\": {}")));
    ASSERT_EQ(f.kind, UpdateFindings::Kind::Available);
    EXPECT_EQ(f.version, "2026.9.0");
    EXPECT_EQ(f.pageUrl, "https://x.test/first");
    EXPECT_EQ(f.date, "2026-09-01");

    f = Read(Manifest(Release("2030.1", "\"windows\": {}") + ", 7, {\"version\": 3, \"files\": {\"linux\": {}}}"),
             &log);
    EXPECT_EQ(f.kind, UpdateFindings::Kind::NoUpdate);
    EXPECT_EQ(log, "[Update] no release found for platform \"linux\".\n");

    // The newest release equal to (or older than) the running version: nothing to offer.
    EXPECT_EQ(Read(Manifest(Release("2026.8.2", "\"linux\": {}"))).kind, UpdateFindings::Kind::NoUpdate);
    EXPECT_EQ(Read(Manifest(Release("2026.8", "\"linux\": {}"))).kind, UpdateFindings::Kind::NoUpdate);

    // Without its own page the release uses the manifest's changelog; only web pages count.
    f = Read(Manifest(Release("2026.10", "\"linux\": {\"url\": \"\"}"), "\"changelogUrl\": \"https://x.test/log\","));
    EXPECT_EQ(f.pageUrl, "https://x.test/log");
    f = Read(Manifest(Release("2026.10", "\"linux\": {\"url\": \"file:///etc/passwd\"}"),
                      "\"changelogUrl\": \"https://x.test/log\","));
    EXPECT_EQ(f.pageUrl, "https://x.test/log");
    f = Read(Manifest(Release("2026.10", "\"linux\": {}"), "\"changelogUrl\": \"javascript:alert(1)\","));
    EXPECT_EQ(f.kind, UpdateFindings::Kind::Available);
    EXPECT_EQ(f.pageUrl, "");
}

TEST(UpdateCheck, StoredTextsSurviveThePreferencesFile) {
    // Notes come from the server and are stored as one preferences line. A line feed in
    // them must not become a line of its own that sets another setting.
    auto f = Read(Manifest(Release("2026.9", "\"linux\": {}",
                                   ", \"notes\": [\"Faster scans\", 3, \"Fix\\ntheme=5\", \"" +
                                       std::string(3000, 'n') + "\"]")));
    ASSERT_EQ(f.kind, UpdateFindings::Kind::Available);
    EXPECT_EQ(f.note.rfind("Faster scans \xC2\xB7 Fix theme=5 \xC2\xB7 nnn", 0), 0u);

    Preferences prefs;
    prefs.updateAvailableVersion = f.version;
    prefs.updateAvailableNote = f.note;
    prefs.updateAvailableDate = f.date;
    Preferences back;
    ParsePreferences(FormatPreferences(prefs), back);
    EXPECT_EQ(back.theme, Preferences().theme);
    EXPECT_EQ(back.updateAvailableNote, f.note);
    EXPECT_EQ(back.updateAvailableVersion, "2026.9");
    EXPECT_EQ(back.updateAvailableDate, "2026-09-01");
}

TEST(UpdateCheck, ChecksAgainstARealServer) {
    HttpTestServer server;
    server.Serve("/newer.json",
                 {200, Manifest(Release("2026.9.1", "\"linux\": {\"url\": \"https://x.test/r\"}",
                                        ", \"notes\": [\"Reverb tails\"]"))});
    server.Serve("/same.json", {200, Manifest(Release("2026.8.2", "\"linux\": {}"))});
    server.Serve("/broken.json", {200, "{\"schemaVersion\": 1, \"releases\": [ {"});
    server.Serve("/empty.json", {200, ""});
    server.Serve("/slow.json", {200, Manifest(Release("2026.9.1", "\"linux\": {}")), 300});

    Preferences prefs;
    TakePreferencesDirty();
    const long long before = static_cast<long long>(std::time(nullptr));
    testing::internal::CaptureStderr();

    ASSERT_TRUE(CheckOnce(server.Url("/newer.json"), prefs));
    EXPECT_TRUE(UpdateCheckFinished());
    EXPECT_FALSE(UpdateCheckRunning());
    EXPECT_TRUE(TakePreferencesDirty());
    EXPECT_GE(prefs.lastUpdateCheck, before);
    EXPECT_EQ(prefs.updateAvailableVersion, "2026.9.1");
    EXPECT_EQ(prefs.updateAvailablePageUrl, "https://x.test/r");
    EXPECT_EQ(prefs.updateAvailableNote, "Reverb tails");
    EXPECT_TRUE(UpdateOffered(prefs));

    // Failures of every kind keep what was found, but record that a request was made.
    for (const std::string& url : {server.Url("/broken.json"), server.Url("/empty.json"), server.Url("/missing.json"),
                                   "http://127.0.0.1:" + std::to_string(HttpTestServer::ClosedPort()) + "/m.json"}) {
        prefs.lastUpdateCheck = 1;
        ASSERT_TRUE(CheckOnce(url, prefs)) << url;
        EXPECT_GE(prefs.lastUpdateCheck, before) << url;
        EXPECT_EQ(prefs.updateAvailableVersion, "2026.9.1") << url;
    }
    // A manifest whose newest release is the running one clears the stored update.
    ASSERT_TRUE(CheckOnce(server.Url("/same.json"), prefs));
    EXPECT_EQ(prefs.updateAvailableVersion, "");
    EXPECT_EQ(prefs.updateAvailablePageUrl, "");
    EXPECT_FALSE(UpdateOffered(prefs));

    // Pressing "Check now" twice quickly makes one request.
    setenv("MV_UPDATE_URL", server.Url("/slow.json").c_str(), 1);
    StartUpdateCheck();
    StartUpdateCheck();
    EXPECT_TRUE(UpdateCheckRunning());
    while (UpdateCheckRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(TakeUpdateCheckResult(prefs));
    EXPECT_EQ(server.RequestCount("/slow.json"), 1);
    EXPECT_FALSE(TakeUpdateCheckResult(prefs));  // one outcome is taken once

    // An empty address turns checking off: nothing starts, nothing is recorded.
    setenv("MV_UPDATE_URL", "", 1);
    StartUpdateCheck();
    EXPECT_FALSE(UpdateCheckRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(TakeUpdateCheckResult(prefs));
    testing::internal::GetCapturedStderr();
    unsetenv("MV_UPDATE_URL");
}

TEST(UpdateCheck, SettingsTextsFollowTheStoredState) {
    const long long now = 2000000000;
    EXPECT_EQ(LastCheckedText(0, now), "");
    EXPECT_EQ(LastCheckedText(now - 59, now), "Last checked just now.");
    EXPECT_EQ(LastCheckedText(now - 60, now), "Last checked 1 min ago.");
    EXPECT_EQ(LastCheckedText(now - 3599, now), "Last checked 59 min ago.");
    EXPECT_EQ(LastCheckedText(now - 3600, now), "Last checked 1 hr ago.");
    EXPECT_EQ(LastCheckedText(now - 86399, now), "Last checked 23 hr ago.");
    EXPECT_EQ(LastCheckedText(now - 86400, now), "Last checked 1 day ago.");
    EXPECT_EQ(LastCheckedText(now - 3 * 86400 - 5, now), "Last checked 3 days ago.");
    EXPECT_EQ(LastCheckedText(now + 500, now), "Last checked just now.");  // clock set back

    Preferences prefs;
    prefs.lastUpdateCheck = now - 86399;
    EXPECT_FALSE(UpdateCheckDue(prefs, now));
    prefs.lastUpdateCheck = now - 86400;
    EXPECT_TRUE(UpdateCheckDue(prefs, now));
    prefs.updateCheckEnabled = false;
    EXPECT_FALSE(UpdateCheckDue(prefs, now));
    EXPECT_EQ(UpdateStatusLines(prefs), (std::vector<std::string>{"Automatic update checks are off.",
                                                                   "This app never connects on its own."}));
    prefs.updateCheckEnabled = true;
    EXPECT_EQ(UpdateStatusLines(prefs),
              std::vector<std::string>{"You're on 2026.8.2 \xE2\x80\x94 the latest version."});

    prefs.updateAvailableVersion = "2026.9";
    EXPECT_EQ(UpdateStatusLines(prefs),
              (std::vector<std::string>{"Version 2026.9 is available.", "You're on 2026.8.2."}));
    TakePreferencesDirty();
    DismissUpdate(prefs);
    EXPECT_TRUE(TakePreferencesDirty());
    EXPECT_EQ(prefs.dismissedUpdateVersion, "2026.9");
    EXPECT_FALSE(UpdateOffered(prefs));
    // A newer release than the dismissed one is offered again.
    prefs.updateAvailableVersion = "2026.10";
    EXPECT_TRUE(UpdateOffered(prefs));
    EXPECT_EQ(std::string(RunningVersion()), "2026.8.2");
}
