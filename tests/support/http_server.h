#pragma once

// A small HTTP server on 127.0.0.1 for the update tests: an ephemeral port, a
// thread in the test process, and a script of replies per path. It also
// serves as a proxy: a request line with an absolute URL is matched by the
// URL's path and recorded as it came. Every wait is bounded and the server
// stops when it goes out of scope.

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace merovane::test {

struct HttpReply {
    enum class Kind {
        Normal,      // status, headers and body, then the connection closes
        Endless,     // status 200 and a body that never ends
        CloseMidway, // announces 100 bytes, sends the body, then hangs up
        Silent,      // reads the request and never answers
        Trickle,     // status 200, then trickleBytes of the body every trickleMs
        Stall,       // status 200 and the body, then the connection stays open and silent
    };
    int status = 200;
    std::string body{};
    std::string location{}; // a Location header, for redirects
    unsigned delayMs = 0; // before the answer
    Kind kind = Kind::Normal;
    std::size_t trickleBytes = 1;
    unsigned trickleMs = 2000;
};

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>" + path.
    [[nodiscard]] std::wstring Url(std::string_view path) const;
    // The update server base URL on this server: Url("/download/").
    [[nodiscard]] std::wstring BaseUrl() const { return Url("/download/"); }

    // Paths not scripted get 404.
    void Serve(const std::string& path, HttpReply reply);
    // Shorthand: status 200 with this body at path.
    void ServeText(const std::string& path, std::string body);

    // The request lines that arrived ("GET /download/... HTTP/1.1"), in order.
    [[nodiscard]] std::vector<std::string> Requests() const;
    // The value of a header of the last request, "" when it had none.
    [[nodiscard]] std::string LastHeader(std::string_view name) const;
    [[nodiscard]] int Hits(std::string_view path) const;

private:
    void AcceptLoop();
    void Handle(SOCKET client);
    // False when the server is stopping.
    bool Wait(unsigned ms) const;

    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, HttpReply> replies_;
    std::vector<std::string> requests_;
    std::vector<std::string> paths_;
    std::string lastHeaders_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

} // namespace merovane::test
