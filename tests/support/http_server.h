#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests of the network code: real sockets,
// real requests, canned answers chosen by path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvane::test {

class HttpTestServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        int delayMs = 0;       // wait this long before answering
        bool silent = false;   // accept, read the request, never answer
    };

    HttpTestServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 16);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }

    ~HttpTestServer() {
        stop_ = true;
        acceptor_.join();
        for (auto& t : workers_) t.join();
        close(listener_);
    }

    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    void Serve(const std::string& path, Reply reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        routes_[path] = std::move(reply);
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    int RequestCount(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_[path];
    }

    std::string LastUserAgent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return userAgent_;
    }

    // A port on which nothing listens: bound once to learn a free number, then closed.
    static int ClosedPort() {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
        close(s);
        return ntohs(addr.sin_port);
    }

private:
    void AcceptLoop() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            workers_.emplace_back([this, client] { Handle(client); });
        }
    }

    // Waits up to ms, returning early when the server is stopping.
    void Wait(int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stop_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    void Handle(int client) {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
            pollfd p{client, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            ssize_t n = read(client, buf, sizeof buf);
            if (n <= 0) break;
            request.append(buf, static_cast<size_t>(n));
        }
        std::string path;
        size_t sp = request.find(' ');
        if (sp != std::string::npos) path = request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
        Reply reply{404, "not found", 0, false};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            counts_[path]++;
            size_t ua = request.find("User-Agent: ");
            if (ua != std::string::npos)
                userAgent_ = request.substr(ua + 12, request.find("\r\n", ua) - ua - 12);
            auto it = routes_.find(path);
            if (it != routes_.end()) reply = it->second;
        }
        if (reply.silent) {
            Wait(60000);
        } else {
            Wait(reply.delayMs);
            std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " X\r\nContent-Length: " +
                               std::to_string(reply.body.size()) +
                               "\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n";
            std::string all = head + reply.body;
            size_t sent = 0;
            while (sent < all.size()) {
                ssize_t n = send(client, all.data() + sent, all.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
        }
        close(client);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::map<std::string, Reply> routes_;
    std::map<std::string, int> counts_;
    std::string userAgent_;
};

}  // namespace morvane::test
