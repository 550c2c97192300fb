#pragma once

// Asks the update servers for the current version over WinHTTP, primary
// first, and runs that query on a thread of its own for the windows, which
// get the result as a message and never wait for the network.

#include "base/handles.h"
#include "update/update_client.h"

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace merovane {

// "Mozilla/5.0 ..." as the servers have always seen it.
extern const wchar_t kUpdateUserAgent[];

// Per request: connecting (name resolution included) and each read.
inline constexpr DWORD kConnectTimeoutMs = 3000;
inline constexpr DWORD kReadTimeoutMs = 5000;
// A version.txt larger than this, or one that never ends, is no answer.
inline constexpr std::size_t kMaxVersionFileBytes = 4096;

struct ServerAnswer {
    std::wstring version;
    std::wstring packageUrl;
};

struct VersionQuery {
    std::vector<std::wstring> servers; // base URLs, primary first
    bool portable = false;             // which package the answer names
};

// Lets another thread stop a running query: it closes the handles of the
// request under way, which ends a call waiting on them, and no further
// request starts.
class QueryCancel {
public:
    QueryCancel() = default;
    QueryCancel(const QueryCancel&) = delete;
    QueryCancel& operator=(const QueryCancel&) = delete;

    void Cancel() noexcept;
    [[nodiscard]] bool Cancelled() const noexcept;

    // For the query: records the handles of the request under way, innermost
    // first; false when the query was cancelled already.
    bool Enter(std::initializer_list<HINTERNET> handles);
    // Forgets them; false when Cancel closed them meanwhile, so their owners
    // must let go without closing.
    bool Leave() noexcept;

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    std::vector<HINTERNET> open_;
};

// A GET request set up as every request of the update client: the proxy the
// user's Internet settings give for this URL (automatic configuration first,
// then the explicit proxy and its bypass list), TLS 1.2 or newer, redirects
// followed (never from HTTPS to HTTP), the servers' User-Agent and these
// timeouts. Nothing when the URL is no http(s) URL or WinHTTP refuses.
struct UpdateRequest {
    unique_hinternet session;
    unique_hinternet connection;
    unique_hinternet request;
};
std::optional<UpdateRequest> OpenUpdateRequest(const std::wstring& url, DWORD connectTimeoutMs, DWORD readTimeoutMs);

// Hands a request's handles to a QueryCancel for as long as it lives, and lets
// go of them without closing when a cancel closed them already.
class CancelScope {
public:
    CancelScope(QueryCancel* cancel, unique_hinternet& request, unique_hinternet& connection,
                unique_hinternet& session)
        : cancel_(cancel), request_(request), connection_(connection), session_(session)
    {
    }
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

    // False when the query was cancelled already (or cancel is nullptr: true).
    bool Enter();

private:
    QueryCancel* cancel_;
    unique_hinternet& request_;
    unique_hinternet& connection_;
    unique_hinternet& session_;
    bool entered_ = false;
};

// Asks each server in order for PackageDirectoryUrl + "version.txt" with a
// fresh session: status 200 and a body that VersionTextFromBody reads as a
// version is an answer, and the package URL comes from the same server.
// Anything else (no connection, a timeout, another status, any other text,
// an oversized or endless body, a TLS failure) moves on to the next server.
// Redirects are followed, to HTTPS too, and the user's proxy settings as
// OpenUpdateRequest says. Nothing when no server answered or the query was
// cancelled.
std::optional<ServerAnswer> GetServerVersion(const VersionQuery& query, QueryCancel* cancel = nullptr);

// One query on a thread of its own. When it ends it posts `message` with
// `tag` as wParam to `window`; the answer then waits in Result(). After
// Cancel, or once this object is gone, nothing is posted. Going away never
// waits for the network: a thread that a cancel could not stop at once is
// left to end by its own timeouts, holding nothing of its owner's.
class BackgroundQuery {
public:
    BackgroundQuery(VersionQuery query, HWND window, UINT message, WPARAM tag);
    ~BackgroundQuery();
    BackgroundQuery(const BackgroundQuery&) = delete;
    BackgroundQuery& operator=(const BackgroundQuery&) = delete;

    void Cancel() noexcept;
    // The answer, once the message has come; nothing before or when no
    // server answered.
    [[nodiscard]] std::optional<ServerAnswer> Result() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace merovane
