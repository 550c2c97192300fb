#include "support/http_server.h"

#include <ws2tcpip.h>

#include <chrono>
#include <stdexcept>

namespace merovane::test {

namespace {

constexpr unsigned kPollMs = 50;
// No connection is held longer than this, whatever its script says.
constexpr unsigned kLongestHoldMs = 30'000;

struct WinsockUser {
    WinsockUser()
    {
        WSADATA data{};
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("WSAStartup failed");
        }
    }
    ~WinsockUser() { ::WSACleanup(); }
};

bool Readable(SOCKET socket, unsigned ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    return ::select(0, &set, nullptr, nullptr, &wait) == 1;
}

bool SendAll(SOCKET socket, std::string_view data)
{
    while (!data.empty()) {
        const int sent = ::send(socket, data.data(), static_cast<int>(data.size()), 0);
        if (sent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

std::string StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// The path of a request target; an absolute URL, as a proxy gets it, loses
// its scheme and host.
std::string PathOf(std::string target)
{
    const size_t scheme = target.find("://");
    if (scheme != std::string::npos) {
        const size_t path = target.find('/', scheme + 3);
        target = path == std::string::npos ? "/" : target.substr(path);
    }
    return target;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

HttpServer::HttpServer()
{
    static WinsockUser winsock;
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, SOMAXCONN) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer()
{
    stop_ = true;
    acceptor_.join();
    ::closesocket(listener_);
    for (std::thread& connection : connections_) {
        connection.join();
    }
}

std::wstring HttpServer::Url(std::string_view path) const
{
    return L"http://127.0.0.1:" + std::to_wstring(port_) + std::wstring(path.begin(), path.end());
}

void HttpServer::Serve(const std::string& path, HttpReply reply)
{
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
}

void HttpServer::ServeText(const std::string& path, std::string body)
{
    Serve(path, {.body = std::move(body)});
}

std::vector<std::string> HttpServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string HttpServer::LastHeader(std::string_view name) const
{
    std::lock_guard lock(mutex_);
    std::string wanted = "\r\n";
    for (char c : name) {
        wanted += Lower(c);
    }
    wanted += ":";
    std::string folded;
    for (char c : lastHeaders_) {
        folded += Lower(c);
    }
    const size_t at = folded.find(wanted);
    if (at == std::string::npos) {
        return {};
    }
    size_t start = at + wanted.size();
    while (start < lastHeaders_.size() && lastHeaders_[start] == ' ') {
        ++start;
    }
    const size_t end = lastHeaders_.find("\r\n", start);
    return lastHeaders_.substr(start, end - start);
}

int HttpServer::Hits(std::string_view path) const
{
    std::lock_guard lock(mutex_);
    int hits = 0;
    for (const std::string& seen : paths_) {
        hits += seen == path ? 1 : 0;
    }
    return hits;
}

bool HttpServer::Wait(unsigned ms) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        ::Sleep(kPollMs / 5);
    }
    return !stop_;
}

void HttpServer::AcceptLoop()
{
    while (!stop_) {
        if (!Readable(listener_, kPollMs)) {
            continue;
        }
        const SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            continue;
        }
        connections_.emplace_back([this, client] {
            Handle(client);
            ::shutdown(client, SD_BOTH);
            ::closesocket(client);
        });
    }
}

void HttpServer::Handle(SOCKET client)
{
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        if (stop_ || std::chrono::steady_clock::now() > deadline) {
            return;
        }
        if (!Readable(client, kPollMs)) {
            continue;
        }
        char buffer[2048];
        const int got = ::recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            return;
        }
        request.append(buffer, static_cast<size_t>(got));
    }
    const std::string line = request.substr(0, request.find("\r\n"));
    const size_t first = line.find(' ');
    const size_t second = line.find(' ', first + 1);
    const std::string path = PathOf(line.substr(first + 1, second - first - 1));

    HttpReply reply{.status = 404, .body = "not here"};
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(line);
        paths_.push_back(path);
        lastHeaders_ = request.substr(line.size());
        if (auto found = replies_.find(path); found != replies_.end()) {
            reply = found->second;
        }
    }
    if (reply.delayMs > 0 && !Wait(reply.delayMs)) {
        return;
    }
    const std::string statusLine = "HTTP/1.1 " + std::to_string(reply.status) + " " + StatusText(reply.status) + "\r\n";
    switch (reply.kind) {
    case HttpReply::Kind::Silent:
        Wait(kLongestHoldMs);
        return;
    case HttpReply::Kind::Endless: {
        if (!SendAll(client, statusLine + "Content-Type: text/plain\r\nConnection: close\r\n\r\n")) {
            return;
        }
        const std::string chunk(4096, '7');
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLongestHoldMs);
        while (!stop_ && std::chrono::steady_clock::now() < until && SendAll(client, chunk)) {
        }
        return;
    }
    case HttpReply::Kind::Trickle:
        if (!SendAll(client, statusLine + "Content-Type: text/plain\r\nConnection: close\r\n\r\n")) {
            return;
        }
        for (std::size_t sent = 0; sent < reply.body.size(); sent += reply.trickleBytes) {
            if (!SendAll(client, reply.body.substr(sent, reply.trickleBytes)) || !Wait(reply.trickleMs)) {
                return;
            }
        }
        return;
    case HttpReply::Kind::Stall:
        if (SendAll(client, statusLine + "Content-Type: text/plain\r\nConnection: close\r\n\r\n" + reply.body)) {
            Wait(kLongestHoldMs);
        }
        return;
    case HttpReply::Kind::CloseMidway:
        SendAll(client, statusLine + "Content-Type: text/plain\r\nContent-Length: 100\r\nConnection: close\r\n\r\n" +
                            reply.body);
        return;
    case HttpReply::Kind::Normal:
        break;
    }
    std::string head = statusLine + "Content-Type: text/plain\r\nConnection: close\r\n";
    if (!reply.location.empty()) {
        head += "Location: " + reply.location + "\r\n";
    }
    if (reply.status != 204) {
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    SendAll(client, head + "\r\n" + (reply.status == 204 ? std::string() : reply.body));
    // Lets the client read everything before the connection goes.
    if (Readable(client, 2000)) {
        char drain[256];
        ::recv(client, drain, sizeof(drain), 0);
    }
}

} // namespace merovane::test
