#pragma once

// Fetches an update package that proves itself genuine: first its signed
// description `<url>.sig` (see update/signature.h), then the package itself,
// streamed into a fresh private folder under the user's temporary folder and
// compared with the size and SHA-256 the description signs. Nothing that
// fails a check is left on disk.

#include "base/handles.h"
#include "update/signature.h"
#include "update/version_query.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace merovane::update {

// The private folders' names begin with this.
inline constexpr std::wstring_view kPrivateFolderPrefix = L"Merovane-update-";

// A transfer that stalls this long without a byte ends.
inline constexpr DWORD kPackageReadTimeoutMs = 30000;
// The whole .sig, from the request on, as for version.txt: a server that
// sends a byte now and then stays within each read's timeout, not this.
inline constexpr DWORD kSignatureBudgetMs = kConnectTimeoutMs + kReadTimeoutMs;
// The package must arrive at this average rate in every such window.
inline constexpr std::uint32_t kMinimumBytesPerSecond = 1024;
inline constexpr DWORD kRateWindowMs = 60000;

// Why a download did not deliver a verified package; the dialog shows one text
// per reason.
enum class DownloadProblem {
    None,
    Cancelled,
    NoConnection,     // no server, or an answer other than 200
    TimedOut,         // a stalled transfer
    TooSlow,          // the .sig beyond its budget, or the package below the minimum rate
    SignatureInvalid, // the .sig is missing its form, its size cap or a valid signature
    WrongPackage,     // the .sig describes another file or version
    NotNewer,         // not newer than the running copy, and neither forced nor confirmed
    TooLong,          // more bytes than the .sig's Size
    Incomplete,       // the connection ended before Size bytes
    Damaged,          // the bytes differ from the signed SHA-256
    WriteFailed,      // the private folder or the file could not be written
};

struct DownloadRequest {
    std::wstring packageUrl;
    // The package's file name, which the .sig must name, and the name it gets
    // on disk.
    std::wstring fileName;
    std::wstring offeredVersion;
    std::wstring runningVersion;
    bool forced = false;
    // The user said yes to this older version (see ChooseDownload).
    bool olderConfirmed = false;
    // Empty: the key built into the program.
    std::vector<std::uint8_t> publicKey;
    DWORD connectTimeoutMs = kConnectTimeoutMs;
    DWORD readTimeoutMs = kPackageReadTimeoutMs;
    DWORD signatureBudgetMs = kSignatureBudgetMs;
    std::uint32_t minimumBytesPerSecond = kMinimumBytesPerSecond;
    DWORD rateWindowMs = kRateWindowMs;
    // Where the private folder is made; empty: the user's temporary folder.
    std::wstring tempRoot;
};

struct DownloadResult {
    DownloadProblem problem = DownloadProblem::None;
    // When problem is None: the private folder and the verified package in it.
    // The folder is the caller's to delete once the package has been used.
    std::wstring folder{};
    std::wstring file{};
    // The package, open for reading with only reading shared since it was
    // checked, so that it can't be changed or replaced before it is used.
    // Reset it to let go (before moving the file, for one).
    std::shared_ptr<unique_file> package{};

    [[nodiscard]] bool ok() const noexcept { return problem == DownloadProblem::None; }
};

// Bytes received so far and the signed total; called on the downloading
// thread.
using DownloadProgress = std::function<void(std::uint64_t received, std::uint64_t total)>;

// The whole download on the calling thread. Cancel (from another thread)
// closes the request under way.
DownloadResult DownloadPackage(const DownloadRequest& request, QueryCancel* cancel = nullptr,
                               const DownloadProgress& progress = {});

// A new folder named kPrivateFolderPrefix and 16 lowercase hex digits under
// `root` (the user's temporary folder when empty), made by this call so nobody
// can have planted files in it, with a security descriptor of its own: this
// user and the system only, nothing inherited. Throws merovane::Error when it
// can't be made.
std::wstring MakePrivateFolder(const std::wstring& root = {});

// The window messages a download posts: `progress` (wParam bytes, lParam
// total) as it goes, not more often than each per mille, and `done` once at
// the end.
struct DownloadMessages {
    UINT progress = 0;
    UINT done = 0;
};

// One download on a thread of its own, reporting to `window` with
// `messages`; after `done`, Result() holds the result. After Cancel, or once
// this object is gone, nothing more is posted; a cancelled download deletes
// its files.
class PackageDownload {
public:
    PackageDownload(DownloadRequest request, HWND window, DownloadMessages messages);
    ~PackageDownload();
    PackageDownload(const PackageDownload&) = delete;
    PackageDownload& operator=(const PackageDownload&) = delete;

    void Cancel() noexcept;
    [[nodiscard]] DownloadResult Result() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace merovane::update
