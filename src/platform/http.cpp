#include "platform/http.h"

#include <curl/curl.h>

#include <cstdio>
#include <mutex>

namespace morvane {

namespace {

// curl_global_init is not safe to race with itself; the update check may be the first
// user from a background thread, so it is done once, whoever comes first.
void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct BodySink {
    std::string* body;
    size_t limit;
};

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t bytes = size * count;
    if (sink->body->size() + bytes > sink->limit) return 0;  // curl ends with a write error
    sink->body->append(data, bytes);
    return bytes;
}

// The URL must name an http or https server; anything else (a file path, another
// scheme, no host) is refused before any connection is attempted.
bool IsUsableUrl(const std::string& url) {
    if (url.empty() || url.size() > 1024) return false;
    CURLU* parsed = curl_url();
    if (!parsed) return false;
    bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    char* scheme = nullptr;
    char* host = nullptr;
    if (ok) ok = curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                 curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK;
    if (ok) {
        const std::string s = scheme;
        ok = (s == "http" || s == "https") && host && *host;
    }
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(parsed);
    return ok;
}

std::string ErrorText(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return "Bad URL";
        case CURLE_OPERATION_TIMEDOUT:
            return "Request timed out";
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return "Connection failed";
        default: {
            char text[48];
            std::snprintf(text, sizeof text, "HTTP client error %d", static_cast<int>(code));
            return text;
        }
    }
}

}  // namespace

HttpResult HttpGet(const std::string& url, const HttpOptions& options) {
    HttpResult result;
    if (!IsUsableUrl(url)) {
        result.error = "Bad URL";
        return result;
    }
    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = ErrorText(CURLE_FAILED_INIT);
        return result;
    }
    BodySink sink{&result.body, options.maxBodyBytes};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Morvane/1.0");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    // Signals would be the only way curl could time out name resolution, and they are
    // not safe on a background thread.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    result.status = static_cast<int>(status);
    if (code != CURLE_OK) {
        result.error = ErrorText(code);
        result.body.clear();
    }
    return result;
}

}  // namespace morvane
