#include <gtest/gtest.h>

#include <chrono>

#include "platform/http.h"
#include "support/http_server.h"

using morvane::HttpGet;
using morvane::HttpOptions;
using morvane::test::HttpTestServer;

TEST(HttpGet, ReturnsStatusAndBodyOfARealServer) {
    HttpTestServer server;
    const std::string manifest = "{\"schemaVersion\": 1, \"note\": \"caf\xc3\xa9\"}";
    server.Serve("/manifest.json", {200, manifest});
    server.Serve("/gone", {404, "no such thing"});

    auto ok = HttpGet(server.Url("/manifest.json"));
    EXPECT_EQ(ok.error, "");
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, manifest);  // bytes unchanged, UTF-8 included
    EXPECT_EQ(server.LastUserAgent(), "Morvane/1.0");

    // A 404 is an answer, not a transport failure: the caller judges the status.
    auto missing = HttpGet(server.Url("/gone"));
    EXPECT_EQ(missing.error, "");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "no such thing");
}

TEST(HttpGet, RefusesAnythingButAnHttpServerAddress) {
    HttpTestServer server;
    server.Serve("/x", {200, "secret"});
    const std::string port = std::to_string(HttpTestServer::ClosedPort());
    for (const std::string& url :
         {std::string(), std::string("not a url"), std::string("file:///etc/hostname"),
          std::string("ftp://127.0.0.1/x"), std::string("http://"),
          "http://127.0.0.1:" + port + "/" + std::string(1100, 'a')}) {
        auto r = HttpGet(url);
        EXPECT_EQ(r.error, "Bad URL") << url;
        EXPECT_EQ(r.status, 0) << url;
        EXPECT_TRUE(r.body.empty()) << url;
    }
}

TEST(HttpGet, ReportsTransportFailuresWithTheirTexts) {
    // Nothing listens: the connection is refused at once.
    auto refused = HttpGet("http://127.0.0.1:" + std::to_string(HttpTestServer::ClosedPort()) + "/m.json");
    EXPECT_EQ(refused.error, "Connection failed");
    EXPECT_EQ(refused.status, 0);

    // A server that accepts and never answers runs into the total time-out.
    HttpTestServer server;
    server.Serve("/silent", {200, "", 0, true});
    HttpOptions quick;
    quick.totalTimeoutMs = 400;
    auto start = std::chrono::steady_clock::now();
    auto timedOut = HttpGet(server.Url("/silent"), quick);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(timedOut.error, "Request timed out");
    EXPECT_LT(took, std::chrono::seconds(3));

    // An oversized answer is cut off rather than held in memory, and leaves no body.
    server.Serve("/huge", {200, std::string(64 * 1024, 'x')});
    HttpOptions small;
    small.maxBodyBytes = 1024;
    auto huge = HttpGet(server.Url("/huge"), small);
    EXPECT_EQ(huge.error.rfind("HTTP client error ", 0), 0u) << huge.error;
    EXPECT_TRUE(huge.body.empty());
}
