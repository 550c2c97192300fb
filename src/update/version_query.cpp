#include "update/version_query.h"

#include "base/handles.h"
#include "update/worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

namespace merovane {

const wchar_t kUpdateUserAgent[] = L"Mozilla/5.0 (Windows NT 6.1; WOW64;rv:12.0) Gecko/20100101 Firefox/12.0";

namespace {

// Connecting plus reading, for the whole version file: a server that sends
// a byte now and then stays within each read's timeout but not within this.
constexpr auto kAttemptBudget = std::chrono::milliseconds(kConnectTimeoutMs + kReadTimeoutMs);
// How long a cancelled query's owner waits for its thread to end.

struct UrlParts {
    std::wstring scheme;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
    bool secure = false;
};

std::optional<UrlParts> CrackUrl(const std::wstring& url)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0) {
        return std::nullopt;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return std::nullopt;
    }
    UrlParts result;
    result.scheme.assign(parts.lpszScheme, parts.dwSchemeLength);
    result.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    result.port = parts.nPort;
    result.pathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) {
        result.pathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    if (result.pathAndQuery.empty()) {
        result.pathAndQuery = L"/";
    }
    result.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return result;
}

void RestrictToModernTls(HINTERNET session)
{
    // TLS 1.2 and 1.3 where the system has 1.3; systems that do not know the
    // 1.3 flag refuse the pair, and then 1.2 alone.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    }
}

// What is found on the network for "automatically detect settings" (WPAD):
// looked for once in a while, not for every request, as browsers do, since a
// network without it may take seconds to say so.
constexpr auto kDetectionLifetime = std::chrono::minutes(15);

std::wstring DetectedScriptUrl()
{
    static std::mutex mutex;
    static std::optional<std::chrono::steady_clock::time_point> detectedAt;
    static std::wstring detected;
    std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (!detectedAt || now - *detectedAt > kDetectionLifetime) {
        detected.clear();
        unique_hglobal found;
        LPWSTR text = nullptr;
        if (::WinHttpDetectAutoProxyConfigUrl(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &text)) {
            found.reset(text);
            if (text != nullptr) {
                detected = text;
            }
        }
        detectedAt = now;
    }
    return detected;
}

// The proxy list the user's automatic configuration (a script, or one found
// on the network) gives for `url`: "" for a direct connection, nothing when
// none is configured or it gave no answer.
std::optional<std::wstring> AutomaticProxy(const std::wstring& url, DWORD connectTimeoutMs, DWORD readTimeoutMs)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&settings)) {
        return std::nullopt;
    }
    // Only the automatic part is read here; the explicit proxy is read from
    // the registry as the fallback.
    const unique_hglobal scriptUrl(settings.lpszAutoConfigUrl);
    const unique_hglobal unusedProxy(settings.lpszProxy);
    const unique_hglobal unusedBypass(settings.lpszProxyBypass);
    std::wstring script = settings.lpszAutoConfigUrl != nullptr ? settings.lpszAutoConfigUrl : L"";
    if (script.empty() && settings.fAutoDetect) {
        script = DetectedScriptUrl();
    }
    if (script.empty()) {
        return std::nullopt;
    }
    const unique_hinternet session(
        ::WinHttpOpen(kUpdateUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return std::nullopt;
    }
    // The script's own download keeps to the request's limits.
    ::WinHttpSetTimeouts(session.get(), static_cast<int>(connectTimeoutMs), static_cast<int>(connectTimeoutMs),
                         static_cast<int>(readTimeoutMs), static_cast<int>(readTimeoutMs));
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = script.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!::WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        return std::nullopt;
    }
    const unique_hglobal proxyList(info.lpszProxy);
    const unique_hglobal bypassList(info.lpszProxyBypass);
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr) {
        return std::wstring(info.lpszProxy);
    }
    return std::wstring();
}

// The proxy for one URL as browsers choose it: the automatic configuration
// when the user's Internet settings ask for one and it answers, else the
// explicit proxy unless its bypass list names the host; "" for none.
std::wstring ProxyFor(const std::wstring& url, const UrlParts& parts, DWORD connectTimeoutMs, DWORD readTimeoutMs)
{
    if (std::optional<std::wstring> automatic = AutomaticProxy(url, connectTimeoutMs, readTimeoutMs)) {
        return std::move(*automatic);
    }
    const SystemProxy proxy = GetSystemProxy(parts.scheme);
    if (!proxy.enabled || !proxy.address || ProxyBypassed(proxy.bypass, parts.host)) {
        return {};
    }
    return proxy.address->host + L":" + std::to_wstring(proxy.address->port);
}

} // namespace

std::optional<UpdateRequest> OpenUpdateRequest(const std::wstring& url, DWORD connectTimeoutMs, DWORD readTimeoutMs)
{
    const std::optional<UrlParts> parts = CrackUrl(url);
    if (!parts) {
        return std::nullopt;
    }
    const std::wstring proxyName = ProxyFor(url, *parts, connectTimeoutMs, readTimeoutMs);

    UpdateRequest opened;
    opened.session.reset(::WinHttpOpen(kUpdateUserAgent,
                                       proxyName.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                       proxyName.empty() ? WINHTTP_NO_PROXY_NAME : proxyName.c_str(),
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!opened.session) {
        return std::nullopt;
    }
    RestrictToModernTls(opened.session.get());
    if (!::WinHttpSetTimeouts(opened.session.get(), static_cast<int>(connectTimeoutMs),
                              static_cast<int>(connectTimeoutMs), static_cast<int>(readTimeoutMs),
                              static_cast<int>(readTimeoutMs))) {
        return std::nullopt;
    }
    opened.connection.reset(::WinHttpConnect(opened.session.get(), parts->host.c_str(), parts->port, 0));
    if (!opened.connection) {
        return std::nullopt;
    }
    opened.request.reset(::WinHttpOpenRequest(opened.connection.get(), L"GET", parts->pathAndQuery.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts->secure ? WINHTTP_FLAG_SECURE : 0));
    if (!opened.request) {
        return std::nullopt;
    }
    // Waiting for the status line is reading too; some implementations time
    // it separately.
    DWORD responseTimeout = readTimeoutMs;
    ::WinHttpSetOption(opened.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                       sizeof(responseTimeout));
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    ::WinHttpSetOption(opened.request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof(redirects));
    return opened;
}

CancelScope::~CancelScope()
{
    if (entered_ && !cancel_->Leave()) {
        request_.release();
        connection_.release();
        session_.release();
    }
}

bool CancelScope::Enter()
{
    if (cancel_ == nullptr) {
        return true;
    }
    entered_ = cancel_->Enter({request_.get(), connection_.get(), session_.get()});
    return entered_;
}

namespace {

// The version text one server gives, or nothing.
std::optional<std::wstring> FetchVersionText(const std::wstring& url, QueryCancel* cancel)
{
    const auto started = std::chrono::steady_clock::now();
    std::optional<UpdateRequest> opened = OpenUpdateRequest(url, kConnectTimeoutMs, kReadTimeoutMs);
    if (!opened) {
        return std::nullopt;
    }
    unique_hinternet& session = opened->session;
    unique_hinternet& connection = opened->connection;
    unique_hinternet& request = opened->request;

    CancelScope scope(cancel, request, connection, session);
    if (!scope.Enter()) {
        return std::nullopt;
    }
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return std::nullopt;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status != HTTP_STATUS_OK) {
        return std::nullopt;
    }

    // Asks what has arrived and reads just that, so that every read returns
    // as soon as there is something and the budget is checked in between.
    std::string body;
    for (;;) {
        if (std::chrono::steady_clock::now() - started > kAttemptBudget) {
            return std::nullopt;
        }
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &available)) {
            return std::nullopt;
        }
        if (available == 0) {
            break;
        }
        const size_t room = kMaxVersionFileBytes + 1 - body.size();
        const size_t wanted = std::min<size_t>(available, room);
        const size_t offset = body.size();
        body.resize(offset + wanted);
        DWORD read = 0;
        if (!::WinHttpReadData(request.get(), body.data() + offset, static_cast<DWORD>(wanted), &read)) {
            return std::nullopt;
        }
        body.resize(offset + read);
        if (body.size() > kMaxVersionFileBytes) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
    }
    // A connection that ends before the announced length delivered a part
    // of the text, not a shorter version.
    DWORD announced = 0;
    size = sizeof(announced);
    if (::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size, WINHTTP_NO_HEADER_INDEX) &&
        announced != body.size()) {
        return std::nullopt;
    }
    std::wstring version = VersionTextFromBody(body);
    if (version.empty()) {
        return std::nullopt;
    }
    return version;
}

} // namespace

void QueryCancel::Cancel() noexcept
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    for (HINTERNET handle : open_) {
        ::WinHttpCloseHandle(handle);
    }
    open_.clear();
}

bool QueryCancel::Cancelled() const noexcept
{
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool QueryCancel::Enter(std::initializer_list<HINTERNET> handles)
{
    std::lock_guard lock(mutex_);
    if (cancelled_) {
        return false;
    }
    open_.assign(handles.begin(), handles.end());
    return true;
}

bool QueryCancel::Leave() noexcept
{
    std::lock_guard lock(mutex_);
    const bool stillOpen = !open_.empty();
    open_.clear();
    return stillOpen;
}

std::optional<ServerAnswer> GetServerVersion(const VersionQuery& query, QueryCancel* cancel)
{
    for (const std::wstring& server : query.servers) {
        if (cancel != nullptr && cancel->Cancelled()) {
            return std::nullopt;
        }
        if (auto version = FetchVersionText(VersionFileUrl(server), cancel)) {
            return ServerAnswer{.version = std::move(*version), .packageUrl = PackageUrl(server, query.portable)};
        }
    }
    return std::nullopt;
}

struct BackgroundQuery::State : WorkerState {
    UINT message = 0;
    WPARAM tag = 0;
    std::optional<ServerAnswer> result;
};

BackgroundQuery::BackgroundQuery(VersionQuery query, HWND window, UINT message, WPARAM tag)
    : state_(std::make_shared<State>())
{
    state_->window = window;
    state_->message = message;
    state_->tag = tag;
    thread_ = std::thread([state = state_, query = std::move(query)] {
        std::optional<ServerAnswer> answer;
        try {
            answer = GetServerVersion(query, &state->cancel);
        } catch (...) {
            // Out of memory and the like: no answer, as from a server that is down.
            answer.reset();
        }
        std::lock_guard lock(state->mutex);
        if (state->window != nullptr) {
            state->result = std::move(answer);
            ::PostMessageW(state->window, state->message, state->tag, 0);
        }
        MarkWorkerFinished(*state);
    });
}

BackgroundQuery::~BackgroundQuery()
{
    EndWorker(*state_, thread_);
}

void BackgroundQuery::Cancel() noexcept
{
    CancelWorker(*state_);
}

std::optional<ServerAnswer> BackgroundQuery::Result() const
{
    std::lock_guard lock(state_->mutex);
    return state_->result;
}

} // namespace merovane
