#include "update/package_download.h"

#include "base/error.h"
#include "base/file_tree.h"
#include "base/handles.h"
#include "update/worker.h"

#include <bcrypt.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <optional>
#include <string_view>

namespace merovane::update {

namespace {

// How long a cancelled download's owner waits for its thread to end.
constexpr DWORD kChunkBytes = 64 * 1024;

// The folder and its files go unless the download succeeds.
class FolderGuard {
public:
    explicit FolderGuard(std::wstring path) : path_(std::move(path)) {}
    ~FolderGuard()
    {
        if (!path_.empty()) {
            RemoveTree(path_);
        }
    }
    FolderGuard(const FolderGuard&) = delete;
    FolderGuard& operator=(const FolderGuard&) = delete;

    void Keep() noexcept { path_.clear(); }

private:
    std::wstring path_;
};

DownloadProblem SignatureRefusal(SignatureProblem problem)
{
    switch (problem) {
    case SignatureProblem::None:
        return DownloadProblem::None;
    case SignatureProblem::WrongFile:
    case SignatureProblem::WrongVersion:
        return DownloadProblem::WrongPackage;
    case SignatureProblem::NotNewer:
        return DownloadProblem::NotNewer;
    case SignatureProblem::Malformed:
    case SignatureProblem::BadSignature:
    case SignatureProblem::TooLarge:
        break;
    }
    return DownloadProblem::SignatureInvalid;
}

// A failed WinHTTP call: a cancel closed the handles, the wait ran out, or the
// connection broke.
DownloadProblem TransferFailure(QueryCancel* cancel, DownloadProblem otherwise)
{
    const DWORD code = ::GetLastError();
    if (cancel != nullptr && cancel->Cancelled()) {
        return DownloadProblem::Cancelled;
    }
    if (code == ERROR_WINHTTP_TIMEOUT) {
        return DownloadProblem::TimedOut;
    }
    return otherwise;
}

// The package's pace, checked at each piece: in every window of the request
// at least the minimum average rate, so a trickle ends in about a window
// (plus one read timeout when it falls silent) instead of hours.
class RateFloor {
public:
    RateFloor(std::uint32_t bytesPerSecond, DWORD windowMs)
        : minimumBytes_(std::uint64_t{bytesPerSecond} * windowMs / 1000), window_(windowMs),
          windowStart_(std::chrono::steady_clock::now())
    {
    }

    // False once a whole window brought too little.
    bool Keeps(std::uint64_t received)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - windowStart_ < window_) {
            return true;
        }
        const bool enough = received - windowBytes_ >= minimumBytes_;
        windowStart_ = now;
        windowBytes_ = received;
        return enough;
    }

private:
    std::uint64_t minimumBytes_;
    std::chrono::milliseconds window_;
    std::chrono::steady_clock::time_point windowStart_;
    std::uint64_t windowBytes_ = 0;
};

// One GET: `sink` takes each piece and returns a problem to stop with.
template <typename Sink>
DownloadProblem Fetch(const DownloadRequest& what, const std::wstring& url, DWORD readTimeoutMs, QueryCancel* cancel,
                      Sink&& sink)
{
    std::optional<UpdateRequest> opened = OpenUpdateRequest(url, what.connectTimeoutMs, readTimeoutMs);
    if (!opened) {
        return DownloadProblem::NoConnection;
    }
    CancelScope scope(cancel, opened->request, opened->connection, opened->session);
    if (!scope.Enter()) {
        return DownloadProblem::Cancelled;
    }
    HINTERNET request = opened->request.get();
    if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request, nullptr)) {
        return TransferFailure(cancel, DownloadProblem::NoConnection);
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status != HTTP_STATUS_OK) {
        return DownloadProblem::NoConnection;
    }
    std::string buffer(kChunkBytes, '\0');
    for (;;) {
        // Asks what has arrived and reads just that, so each piece is handed
        // on (and reported) as soon as it is there.
        const auto waitStarted = std::chrono::steady_clock::now();
        DWORD available = 0;
        const bool answered = ::WinHttpQueryDataAvailable(request, &available) != FALSE;
        if (!answered || available == 0) {
            // Some implementations end a wait that ran out like a closed
            // connection: a silence of the whole read timeout is a stall.
            const DWORD code = ::GetLastError();
            const bool waitedOut = std::chrono::steady_clock::now() - waitStarted >=
                                   std::chrono::milliseconds(readTimeoutMs) * 9 / 10;
            if (cancel != nullptr && cancel->Cancelled()) {
                return DownloadProblem::Cancelled;
            }
            if ((!answered && code == ERROR_WINHTTP_TIMEOUT) || waitedOut) {
                return DownloadProblem::TimedOut;
            }
            return answered ? DownloadProblem::None : DownloadProblem::Incomplete;
        }
        DWORD read = 0;
        if (!::WinHttpReadData(request, buffer.data(), std::min(available, kChunkBytes), &read)) {
            return TransferFailure(cancel, DownloadProblem::Incomplete);
        }
        if (read == 0) {
            return cancel != nullptr && cancel->Cancelled() ? DownloadProblem::Cancelled : DownloadProblem::None;
        }
        if (const DownloadProblem problem = sink(std::string_view(buffer.data(), read));
            problem != DownloadProblem::None) {
            return problem;
        }
    }
}

DownloadResult Failed(DownloadProblem problem)
{
    return DownloadResult{.problem = problem};
}

// Full control for this user and the system, nothing for anyone else, and
// nothing taken over from the folder above: the temporary folder may be
// shared (TEMP pointing at C:\Temp).
unique_hlocal OwnerOnlySecurity()
{
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        ThrowLastError();
    }
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> user(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        ThrowLastError();
    }
    LPWSTR sidText = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText)) {
        ThrowLastError();
    }
    const unique_hlocal sidOwner(sidText);
    const std::wstring sid(sidText);
    const std::wstring sddl = L"O:" + sid + L"D:P(A;OICI;FA;;;" + sid + L")(A;OICI;FA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        ThrowLastError();
    }
    return unique_hlocal(descriptor);
}

} // namespace

std::wstring MakePrivateFolder(const std::wstring& root)
{
    std::wstring base = root;
    if (base.empty()) {
        wchar_t temp[MAX_PATH + 1]{};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH) {
            ThrowLastError();
        }
        base.assign(temp, length);
    }
    if (base.back() != L'\\' && base.back() != L'/') {
        base += L'\\';
    }
    const unique_hlocal descriptor = OwnerOnlySecurity();
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::uint8_t random[8]{};
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            ThrowWin32(ERROR_GEN_FAILURE);
        }
        std::wstring path = base + std::wstring(kPrivateFolderPrefix);
        for (const char c : ToHex(random)) {
            path += static_cast<wchar_t>(c);
        }
        // Made here or not at all: a folder that exists already may hold
        // someone else's files.
        if (::CreateDirectoryW(path.c_str(), &security)) {
            return path;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            ThrowLastError();
        }
    }
    ThrowWin32(ERROR_ALREADY_EXISTS);
}

DownloadResult DownloadPackage(const DownloadRequest& what, QueryCancel* cancel, const DownloadProgress& progress)
{
    // The description first: nothing of the package is fetched unless it
    // checks.
    std::string sig;
    const auto sigStarted = std::chrono::steady_clock::now();
    const auto sigBudget = std::chrono::milliseconds(what.signatureBudgetMs);
    const DWORD sigReadTimeoutMs = std::min(what.readTimeoutMs, what.signatureBudgetMs);
    DownloadProblem problem = Fetch(what, what.packageUrl + L".sig", sigReadTimeoutMs, cancel, [&](std::string_view piece) {
        sig.append(piece);
        if (sig.size() > kMaxSignatureFileBytes) {
            return DownloadProblem::SignatureInvalid;
        }
        return std::chrono::steady_clock::now() - sigStarted > sigBudget ? DownloadProblem::TooSlow
                                                                         : DownloadProblem::None;
    });
    if (problem != DownloadProblem::None) {
        return Failed(problem);
    }
    const std::vector<std::uint8_t> key = what.publicKey.empty() ? BuiltInUpdatePublicKey() : what.publicKey;
    const SignatureCheck check =
        VerifyPackageSignature(sig, key, what.fileName, what.offeredVersion, what.runningVersion, what.forced,
                               what.olderConfirmed);
    if (!check.accepted()) {
        return Failed(SignatureRefusal(check.problem));
    }
    const PackageSignature& signature = *check.signature;

    std::wstring folder;
    try {
        folder = MakePrivateFolder(what.tempRoot);
    } catch (const Error&) {
        return Failed(DownloadProblem::WriteFailed);
    }
    FolderGuard guard(folder);
    const std::wstring path = folder + L"\\" + what.fileName;
    std::uint64_t received = 0;
    Sha256 digest;
    {
        unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
        if (!file) {
            return Failed(DownloadProblem::WriteFailed);
        }
        std::uint64_t reported = 0;
        if (progress) {
            progress(0, signature.size);
        }
        RateFloor pace(what.minimumBytesPerSecond, what.rateWindowMs);
        problem = Fetch(what, what.packageUrl, what.readTimeoutMs, cancel, [&](std::string_view piece) {
            received += piece.size();
            if (received > signature.size) {
                return DownloadProblem::TooLong;
            }
            if (received < signature.size && !pace.Keeps(received)) {
                return DownloadProblem::TooSlow;
            }
            digest.Add(piece);
            DWORD written = 0;
            if (!::WriteFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr) ||
                written != piece.size()) {
                return DownloadProblem::WriteFailed;
            }
            // Not more than a thousand reports, whatever the size.
            if (progress && (received - reported) * 1000 >= signature.size) {
                reported = received;
                progress(received, signature.size);
            }
            return DownloadProblem::None;
        });
        if (problem != DownloadProblem::None) {
            return Failed(problem);
        }
        if (received < signature.size) {
            return Failed(DownloadProblem::Incomplete);
        }
        if (!::FlushFileBuffers(file.get())) {
            return Failed(DownloadProblem::WriteFailed);
        }
    }
    if (digest.Finish() != signature.sha256) {
        return Failed(DownloadProblem::Damaged);
    }
    // From here until it is used the package stays open, shared for reading
    // only, and is checked again through that handle: what is used is what
    // was checked.
    auto held = std::make_shared<unique_file>(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!*held) {
        return Failed(DownloadProblem::WriteFailed);
    }
    try {
        const std::optional<FileDigest> reread = Sha256OfOpenFile(held->get(), signature.size);
        if (!reread || reread->size != signature.size || reread->sha256 != signature.sha256) {
            return Failed(DownloadProblem::Damaged);
        }
    } catch (const Error&) {
        return Failed(DownloadProblem::WriteFailed);
    }
    if (progress && received != 0) {
        progress(received, signature.size);
    }
    guard.Keep();
    return DownloadResult{.problem = DownloadProblem::None, .folder = folder, .file = path, .package = std::move(held)};
}

struct PackageDownload::State : WorkerState {
    DownloadResult result;
};

PackageDownload::PackageDownload(DownloadRequest request, HWND window, DownloadMessages messages)
    : state_(std::make_shared<State>())
{
    state_->window = window;
    thread_ = std::thread([state = state_, request = std::move(request), messages] {
        const auto report = [&state, messages](std::uint64_t received, std::uint64_t total) {
            std::lock_guard lock(state->mutex);
            if (state->window != nullptr) {
                ::PostMessageW(state->window, messages.progress, static_cast<WPARAM>(received),
                               static_cast<LPARAM>(total));
            }
        };
        DownloadResult result;
        try {
            result = DownloadPackage(request, &state->cancel, report);
        } catch (...) {
            // The system's cryptography failed, or memory ran out.
            result = Failed(DownloadProblem::SignatureInvalid);
        }
        std::lock_guard lock(state->mutex);
        if (state->window != nullptr) {
            state->result = std::move(result);
            ::PostMessageW(state->window, messages.done, 0, 0);
        } else if (result.ok()) {
            // Cancelled after the last byte: the package is nobody's.
            result.package.reset();
            RemoveTree(result.folder);
        }
        MarkWorkerFinished(*state);
    });
}

PackageDownload::~PackageDownload()
{
    EndWorker(*state_, thread_);
}

void PackageDownload::Cancel() noexcept
{
    CancelWorker(*state_);
}

DownloadResult PackageDownload::Result() const
{
    std::lock_guard lock(state_->mutex);
    return state_->result;
}

} // namespace merovane::update
