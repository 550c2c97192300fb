#pragma once

// The update dialog: on every showing it asks the update servers on a worker
// and shows the local and the server version; the check at start asks them
// without showing anything and offers a newer version once. The workers post
// their answers to the dialog's window. Its options live in the program's; it
// saves its own when it closes.

#include "base/options.h"
#include "ui/form.h"
#include "ui/taskbar_progress.h"
#include "update/package_download.h"
#include "update/version_query.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace merovane {

class UpdateDialog : public ui::Form {
public:
    struct Services {
        // Writes checkForUpdatesAtStart; throws merovane::Error naming the file.
        std::function<void()> saveCheckOption;
        // The servers to ask and the package kind, read when a check starts.
        std::function<VersionQuery()> query;
        // The running program's version, "1.0.0.0".
        std::function<std::wstring()> localVersion;
        // The chosen language file's base name, "" when none: the installer
        // speaks it.
        std::function<std::wstring()> languageName;
        // Ends the program the ordinary way (options saved) once the current
        // message is handled: the installer or the helper takes over.
        std::function<void()> exitProgram;
    };

    UpdateDialog(Options& options, Services services);
    ~UpdateDialog() override;

    // Sets the controls from the options and wires them.
    void Initialize();

    // The check at start, when the option asks for it: nothing shows unless
    // a newer version is found, and then one offer to update now.
    void StartCheckAtStart();

    // Tells the user that the portable update's helper could not put the new
    // files in place (`code`, the system's error) and left this version.
    void ReportFailedUpdate(DWORD code);

    // Stops the running checks and drops their answers; the program calls it
    // before its windows go.
    void CancelChecks() noexcept;

    // The last check's answer, or an accepted offer's: what the download
    // fetches. A failed check clears the URL and the version.
    [[nodiscard]] const std::wstring& DownloadUrl() const noexcept { return downloadUrl_; }
    [[nodiscard]] const std::wstring& ServerVersion() const noexcept { return serverVersion_; }
    // 1 when the server's version is newer than this one, -1 older, 0 equal
    // or unknown.
    [[nodiscard]] int CompareResult() const noexcept { return compareResult_; }
    // True from the Download button (or an accepted offer) until the package
    // is verified, refused or cancelled.
    [[nodiscard]] bool Downloading() const noexcept { return download_ != nullptr; }

    // What a download takes from elsewhere than the check: the key packages
    // are checked against, the time limits and where the private folder goes.
    // The program keeps the defaults; the tests use their own key.
    struct DownloadSettings {
        std::vector<std::uint8_t> publicKey; // empty: the built-in key
        DWORD readTimeoutMs = update::kPackageReadTimeoutMs;
        DWORD signatureBudgetMs = update::kSignatureBudgetMs;
        std::wstring tempRoot; // empty: the user's temporary folder
        // A portable copy (ZIP) or an installed one (installer); nothing:
        // as the program was started.
        std::optional<bool> portable{};
        // The portable copy's folder and program name; empty: the running
        // executable's.
        std::wstring programFolder{};
        std::wstring exeName{};
        // The process the portable update's helper waits for; nullptr: this one.
        HANDLE process = nullptr;
    };
    void SetDownloadSettings(DownloadSettings settings) { downloadSettings_ = std::move(settings); }

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // wParam of the start check's answer; the dialog's checks count up from 1.
    static constexpr WPARAM kStartCheckTag = 0;

    [[nodiscard]] std::wstring Message(std::wstring_view item) const;
    void SetStatus(std::wstring_view text);
    void SetVersions(std::wstring_view local, std::wstring_view server);
    void SetOptionsEnabled(bool enabled);
    void SetDownloadEnabled(bool enabled);
    // False when no package can ever check against the key downloads use: a
    // build made without a release key.
    [[nodiscard]] bool CanInstallUpdates() const;
    // Options enabled, Download as the last answer and the Forced option say.
    void ShowIdleState();

    void OnShow();
    void OnClose();
    void StartDialogCheck();
    void DialogCheckFinished();
    void StartCheckFinished();
    void OfferUpdate();
    void QuickStart();
    // The Download button, also pressed by an accepted offer once the dialog
    // is on screen: starts the download of DownloadUrl(), or cancels the one
    // running.
    void StartDownload();
    void CancelDownload();
    void DownloadProgressed(std::uint64_t received, std::uint64_t total);
    void DownloadFinished();
    // Download button, Close, options and progress bar as for a download
    // running or not.
    void SetDownloadingState(bool downloading);
    [[nodiscard]] std::wstring DownloadProblemText(update::DownloadProblem problem) const;
    [[nodiscard]] bool PortableCopy() const;
    // A verified package: the installer started, or the portable update
    // handed to its helper, or the ZIP kept in the program folder.
    void UsePackage(const update::DownloadResult& package);
    void UsePortablePackage(const update::DownloadResult& package);
    void ShowTaskbarProgress(std::uint64_t received, std::uint64_t total);
    void ClearTaskbarProgress();

    Options& options_;
    Services services_;

    std::unique_ptr<BackgroundQuery> dialogCheck_;
    WPARAM dialogCheckTag_ = kStartCheckTag;
    std::unique_ptr<BackgroundQuery> startCheck_;
    bool startCheckRan_ = false;
    std::wstring localVersion_;

    std::wstring downloadUrl_;
    std::wstring serverVersion_;
    int compareResult_ = 0;
    bool quickStartPending_ = false;
    // What the check at start found.
    std::wstring backgroundVersion_;
    std::wstring backgroundUrl_;
    bool updateAvailable_ = false;
    std::unique_ptr<update::PackageDownload> download_;
    DownloadSettings downloadSettings_;
    ui::TaskbarProgress taskbar_;
};

} // namespace merovane
