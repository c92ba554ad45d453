#pragma once
// A blocking HTTP GET for the update check. The one place that talks to libcurl, so
// nothing else in the program includes a network header.
#include <string>

namespace morvane {

struct HttpResult {
    int status = 0;      // numeric HTTP status; 0 when no response arrived
    std::string body;    // response bytes, exactly as received
    std::string error;   // empty on success; "Bad URL", "Connection failed", ...
};

// Time-outs of one request. The defaults are the program's own; tests shorten them
// so that a silent server does not hold the suite for ten seconds.
struct HttpOptions {
    long connectTimeoutMs = 5000;   // name resolution and connection
    long totalTimeoutMs = 10000;    // the whole request, body included
    // A body larger than this ends the request: the only caller reads a manifest of a
    // few kilobytes, and a misbehaving server must not fill the memory.
    size_t maxBodyBytes = 8u << 20;
};

// Fetches url (http or https only) with the user agent "Morvane/1.0"; redirects are
// followed, again to http or https only. Never throws. A response with any status,
// 404 included, is a success at this level (error empty, status set); the caller
// judges the status.
HttpResult HttpGet(const std::string& url, const HttpOptions& options = {});

}  // namespace morvane
