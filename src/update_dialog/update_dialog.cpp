#include "update_dialog/update_dialog.h"

#include "base/application_title.h"
#include "base/error.h"
#include "base/file_info.h"
#include "base/file_tree.h"
#include "base/settings_file.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/messages.h"
#include "update/package_install.h"
#include "update_dialog/update_dialog_definition.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace merovane {

using namespace update_dialog;

namespace {

// Lets go of a package held open since its check, and removes its folder.
void DropPackage(const update::DownloadResult& package) noexcept
{
    if (package.package) {
        package.package->reset();
    }
    RemoveTree(package.folder);
}

// The offer's Yes and No carry the dialog's own texts, which the system's
// message box does not know: a hook on this thread renames them as the box
// comes up.
struct ButtonTexts {
    HHOOK hook = nullptr;
    const std::wstring* yes = nullptr;
    const std::wstring* no = nullptr;
};
ButtonTexts g_buttonTexts; // user-interface thread only

LRESULT CALLBACK RenameButtons(int code, WPARAM wParam, LPARAM lParam) noexcept
{
    const HHOOK hook = g_buttonTexts.hook;
    if (code == HCBT_ACTIVATE && hook != nullptr) {
        const auto box = reinterpret_cast<HWND>(wParam);
        ::SetDlgItemTextW(box, IDYES, g_buttonTexts.yes->c_str());
        ::SetDlgItemTextW(box, IDNO, g_buttonTexts.no->c_str());
        ::UnhookWindowsHookEx(hook);
        g_buttonTexts.hook = nullptr;
    }
    return ::CallNextHookEx(hook, code, wParam, lParam);
}

int AskYesNo(HWND owner, const std::wstring& text, const std::wstring& yes, const std::wstring& no)
{
    g_buttonTexts = {::SetWindowsHookExW(WH_CBT, RenameButtons, nullptr, ::GetCurrentThreadId()), &yes, &no};
    const std::wstring title(kApplicationTitle);
    const int answer = ::MessageBoxW(owner, text.c_str(), title.c_str(),
                                     MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON1 | MB_SETFOREGROUND);
    if (g_buttonTexts.hook != nullptr) {
        ::UnhookWindowsHookEx(std::exchange(g_buttonTexts.hook, nullptr));
    }
    return answer;
}

} // namespace

UpdateDialog::UpdateDialog(Options& options, Services services)
    : ui::Form(UpdateDialogDefinition()), options_(options), services_(std::move(services))
{
}

UpdateDialog::~UpdateDialog()
{
    CancelChecks();
}

std::wstring UpdateDialog::Message(std::wstring_view item) const
{
    const ui::Component* text = FindComponent(item);
    return text != nullptr ? text->Caption() : std::wstring();
}

void UpdateDialog::Initialize()
{
    auto& quick = Get(kCheckBoxQuickUpdate);
    auto& force = Get(kCheckBoxForceUpdate);
    auto& check = Get(kCheckBoxAutoCheck);
    // Quick and Forced start as designed in every run; the check at start is
    // what the settings say.
    options_.quickUpdate = quick.Checked();
    options_.forceUpdate = force.Checked();
    check.SetChecked(options_.checkForUpdatesAtStart);
    quick.onClick = [this, &quick] { options_.quickUpdate = quick.Checked(); };
    // Forced allows the download whatever the versions say; unticked, it
    // withholds it whatever the last check found.
    force.onClick = [this, &force] {
        options_.forceUpdate = force.Checked();
        SetDownloadEnabled(force.Checked() && CanInstallUpdates());
    };
    check.onClick = [this, &check] { options_.checkForUpdatesAtStart = check.Checked(); };
    Get(kButtonDownload).onClick = [this] { StartDownload(); };
    Get(kButtonClose).onClick = [this] { Close(); };
    onShow = [this] { OnShow(); };
    onClose = [this](bool&) { OnClose(); };
}

void UpdateDialog::SetStatus(std::wstring_view text)
{
    Get(kLabelUpDate).SetCaption(text);
}

void UpdateDialog::SetVersions(std::wstring_view local, std::wstring_view server)
{
    Get(kLabelLocalVersion).SetCaption(local);
    Get(kLabelServerVersion).SetCaption(server);
}

void UpdateDialog::SetOptionsEnabled(bool enabled)
{
    const BOOL state = enabled ? TRUE : FALSE;
    ::EnableWindow(Get(kGroupBoxOption).Handle(), state);
    for (const ui::Named<ui::CheckBox> box : {kCheckBoxQuickUpdate, kCheckBoxForceUpdate, kCheckBoxAutoCheck}) {
        ::EnableWindow(Get(box).Handle(), state);
    }
}

void UpdateDialog::SetDownloadEnabled(bool enabled)
{
    ::EnableWindow(Get(kButtonDownload).Handle(), enabled ? TRUE : FALSE);
}

bool UpdateDialog::CanInstallUpdates() const
{
    try {
        return update::IsUsablePublicKey(downloadSettings_.publicKey.empty() ? update::BuiltInUpdatePublicKey()
                                                                             : downloadSettings_.publicKey);
    } catch (const Error&) {
        return false;
    }
}

void UpdateDialog::ShowIdleState()
{
    SetOptionsEnabled(true);
    SetDownloadEnabled(CanInstallUpdates() && (options_.forceUpdate || compareResult_ == 1));
}

void UpdateDialog::OnShow()
{
    localVersion_ = services_.localVersion ? services_.localVersion() : std::wstring();
    SetVersions(localVersion_, L"");
    SetStatus(Message(L"LangCheckUpdate"));
    Get(kCheckBoxForceUpdate).SetChecked(false);
    if (std::exchange(quickStartPending_, false)) {
        QuickStart();
    } else {
        StartDialogCheck();
    }
}

void UpdateDialog::StartDialogCheck()
{
    // A check left running by an earlier showing is dropped: this one starts
    // afresh.
    dialogCheck_.reset();
    SetOptionsEnabled(false);
    SetDownloadEnabled(false);
    dialogCheckTag_ = dialogCheckTag_ + 1 == kStartCheckTag ? dialogCheckTag_ + 2 : dialogCheckTag_ + 1;
    VersionQuery query = services_.query ? services_.query() : VersionQuery{};
    query.portable = PortableCopy();
    dialogCheck_ = std::make_unique<BackgroundQuery>(std::move(query), Handle(), ui::WM_APP_UPDATECHECKED,
                                                     dialogCheckTag_);
}

void UpdateDialog::DialogCheckFinished()
{
    const std::optional<ServerAnswer> answer = dialogCheck_->Result();
    dialogCheck_.reset();
    if (answer) {
        serverVersion_ = answer->version;
        downloadUrl_ = answer->packageUrl;
        compareResult_ = CompareVersions(serverVersion_, localVersion_);
        SetStatus(compareResult_ == 1
                      ? Message(L"LangUpdateAvailable") + L" " + localVersion_ + L" ---> " + serverVersion_
                      : Message(L"LangNoUpdate"));
        Get(kLabelServerVersion).SetCaption(serverVersion_);
    } else {
        SetStatus(Message(L"LangFailedCheckUpdates"));
        Get(kLabelServerVersion).SetCaption(Message(L"LangConnectionError"));
        compareResult_ = 0;
        downloadUrl_.clear();
        serverVersion_.clear();
    }
    // Said before a download is tried, not after it failed at the end.
    if (!CanInstallUpdates()) {
        SetStatus(Get(kLabelUpDate).Caption() + L"\r\n" + Message(L"LangCannotInstallUpdates"));
    }
    ShowIdleState();
}

void UpdateDialog::StartCheckAtStart()
{
    if (!options_.checkForUpdatesAtStart || startCheckRan_ || Handle() == nullptr) {
        return;
    }
    startCheckRan_ = true;
    VersionQuery query = services_.query ? services_.query() : VersionQuery{};
    query.portable = PortableCopy();
    startCheck_ = std::make_unique<BackgroundQuery>(std::move(query), Handle(), ui::WM_APP_UPDATECHECKED,
                                                    kStartCheckTag);
}

void UpdateDialog::StartCheckFinished()
{
    const std::optional<ServerAnswer> answer = startCheck_->Result();
    startCheck_.reset();
    if (answer) {
        backgroundVersion_ = answer->version;
        backgroundUrl_ = answer->packageUrl;
        const std::wstring local = services_.localVersion ? services_.localVersion() : std::wstring();
        updateAvailable_ = CompareVersions(backgroundVersion_, local) == 1;
    } else {
        // The check at start fails silently.
        backgroundVersion_.clear();
        backgroundUrl_.clear();
        updateAvailable_ = false;
    }
    OfferUpdate();
}

void UpdateDialog::OfferUpdate()
{
    // While the dialog is open its own check speaks; the offer would only
    // repeat it.
    if (!updateAvailable_ || backgroundUrl_.empty() || Visible() || !CanInstallUpdates()) {
        return;
    }
    const std::wstring text = Message(L"LangUpdateAvailable") + L" " + backgroundVersion_ + L"\r\n" +
                              Message(L"LangUpdateNow");
    if (AskYesNo(nullptr, text, Message(L"LangYes"), Message(L"LangNo")) != IDYES || Visible()) {
        return;
    }
    downloadUrl_ = backgroundUrl_;
    serverVersion_ = backgroundVersion_;
    compareResult_ = 1;
    quickStartPending_ = true;
    ShowModal();
}

void UpdateDialog::QuickStart()
{
    downloadUrl_ = backgroundUrl_;
    serverVersion_ = backgroundVersion_;
    SetStatus(Message(L"LangUpdateAvailable") + L" " + localVersion_ + L" ---> " + serverVersion_);
    ShowIdleState();
    // The download starts once the dialog is on screen.
    ::PostMessageW(Handle(), ui::WM_APP_QUICKSTART, 0, 0);
}

void UpdateDialog::SetDownloadingState(bool downloading)
{
    auto& button = Get(kButtonDownload);
    button.SetCaption(Message(downloading ? L"LangCancel" : L"LangDownload"));
    ::EnableWindow(Get(kButtonClose).Handle(), downloading ? FALSE : TRUE);
    auto& bar = Get(kProgressBarUpdate);
    bar.SetMaximum(100);
    bar.SetPosition(0);
    // Visible from the dialog's creation until the first download ends, then
    // only while one runs.
    ::ShowWindow(bar.Handle(), downloading ? SW_SHOWNA : SW_HIDE);
    if (downloading) {
        ShowTaskbarProgress(0, 0);
    } else {
        ClearTaskbarProgress();
    }
    if (downloading) {
        SetOptionsEnabled(false);
        SetDownloadEnabled(true);
    } else {
        ShowIdleState();
    }
}

std::wstring UpdateDialog::DownloadProblemText(update::DownloadProblem problem) const
{
    using update::DownloadProblem;
    switch (problem) {
    case DownloadProblem::None:
    case DownloadProblem::Cancelled:
        return {};
    case DownloadProblem::NoConnection:
        return Message(L"LangPackageNotServed");
    case DownloadProblem::TimedOut:
        return Message(L"LangPackageStalled");
    case DownloadProblem::TooSlow:
        return Message(L"LangPackageTooSlow");
    case DownloadProblem::SignatureInvalid:
        return Message(L"LangPackageBadSignature");
    case DownloadProblem::WrongPackage:
        return Message(L"LangPackageWrongSignature");
    case DownloadProblem::NotNewer:
        return Message(L"LangPackageNotNewer");
    case DownloadProblem::TooLong:
        return Message(L"LangPackageTooLong");
    case DownloadProblem::Incomplete:
        return Message(L"LangPackageIncomplete");
    case DownloadProblem::Damaged:
        return Message(L"LangPackageDamaged");
    case DownloadProblem::WriteFailed:
        return Message(L"LangPackageNotSaved");
    }
    return {};
}

void UpdateDialog::StartDownload()
{
    if (download_) {
        CancelDownload();
        return;
    }
    if (localVersion_.empty() && services_.localVersion) {
        localVersion_ = services_.localVersion();
    }
    // Forced reinstalls this version; an older one only when the user says
    // yes to it by name.
    const bool older = ChooseDownload(serverVersion_, localVersion_, options_.forceUpdate) == DownloadChoice::AskOlder;
    if (older) {
        const std::wstring question =
            Message(L"LangOlderVersion") + L" " + serverVersion_ + L"\r\n" + Message(L"LangInstallOlder");
        if (AskYesNo(Handle(), question, Message(L"LangYes"), Message(L"LangNo")) != IDYES) {
            SetStatus(Message(L"LangNoDownload"));
            return;
        }
    }
    // The package's file name is the URL's last part, as the .sig must name it.
    const std::size_t slash = downloadUrl_.rfind(L'/');
    update::DownloadRequest request{
        .packageUrl = downloadUrl_,
        .fileName = slash == std::wstring::npos ? downloadUrl_ : downloadUrl_.substr(slash + 1),
        .offeredVersion = serverVersion_,
        .runningVersion = localVersion_,
        .forced = options_.forceUpdate,
        .olderConfirmed = older,
        .publicKey = downloadSettings_.publicKey,
        .readTimeoutMs = downloadSettings_.readTimeoutMs,
        .signatureBudgetMs = downloadSettings_.signatureBudgetMs,
        .tempRoot = downloadSettings_.tempRoot,
    };
    SetDownloadingState(true);
    download_ = std::make_unique<update::PackageDownload>(
        std::move(request), Handle(), update::DownloadMessages{ui::WM_APP_DOWNLOADPROGRESS, ui::WM_APP_DOWNLOADDONE});
}

void UpdateDialog::CancelDownload()
{
    if (!download_) {
        return;
    }
    // Closes the transfer; the worker deletes what it wrote.
    download_.reset();
    SetDownloadingState(false);
    SetStatus(Message(L"LangNoDownload"));
}

void UpdateDialog::DownloadProgressed(std::uint64_t received, std::uint64_t total)
{
    if (!download_ || total == 0) {
        return;
    }
    const auto percent = static_cast<int>(std::min<std::uint64_t>(received, total) * 100 / total);
    Get(kProgressBarUpdate).SetPosition(percent);
    ShowTaskbarProgress(received, total);
}

void UpdateDialog::ShowTaskbarProgress(std::uint64_t received, std::uint64_t total)
{
    // The dialog's own button, and the main window's when it has one.
    taskbar_.Show(Handle(), ::GetWindow(Handle(), GW_OWNER), received, total);
}

void UpdateDialog::ClearTaskbarProgress()
{
    if (Handle() != nullptr) {
        taskbar_.Clear(Handle(), ::GetWindow(Handle(), GW_OWNER));
    }
}

bool UpdateDialog::PortableCopy() const
{
    return downloadSettings_.portable.value_or(PortableMode());
}

void UpdateDialog::DownloadFinished()
{
    if (!download_) {
        return;
    }
    const update::DownloadResult result = download_->Result();
    download_.reset();
    SetDownloadingState(false);
    if (!result.ok()) {
        const std::wstring reason = DownloadProblemText(result.problem);
        SetStatus(Message(L"LangNoDownload") + (reason.empty() ? L"" : L"\r\n" + reason));
        return;
    }
    SetStatus(Message(L"LangDownloadComplet"));
    UsePackage(result);
}

void UpdateDialog::UsePackage(const update::DownloadResult& package)
{
    if (PortableCopy()) {
        UsePortablePackage(package);
        return;
    }
    // The installer stays in its private folder: it runs from there, and the
    // next start of the program removes the folder.
    const bool quick = options_.quickUpdate;
    try {
        const std::wstring arguments =
            quick ? update::QuietInstallerArguments(services_.languageName ? services_.languageName() : L"")
                  : std::wstring();
        update::StartInstaller(package.file, arguments);
    } catch (const Error& error) {
        DropPackage(package);
        SetStatus(Message(L"LangUpdateNotStarted") + L"\r\n" + error.message());
        return;
    }
    // A quiet installer replaces the running program and starts the new one.
    if (quick && services_.exitProgram) {
        Close();
        services_.exitProgram();
    }
}

void UpdateDialog::UsePortablePackage(const update::DownloadResult& package)
{
    const std::wstring folder =
        downloadSettings_.programFolder.empty() ? ExecutableDirectory() : downloadSettings_.programFolder;
    const std::wstring programFolder =
        !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/') ? folder.substr(0, folder.size() - 1)
                                                                              : folder;
    const std::wstring fileName = std::filesystem::path(package.file).filename().wstring();
    if (!options_.quickUpdate) {
        // Without Quick the verified package waits in the program folder;
        // it can't be moved while held.
        if (package.package) {
            package.package->reset();
        }
        const std::wstring target = programFolder + L"\\" + fileName;
        if (!::MoveFileExW(package.file.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
            const Error error(::GetLastError());
            DropPackage(package);
            SetStatus(Message(L"LangNoDownload") + L"\r\n" + Message(L"LangPackageNotSaved") + L": " +
                      error.message());
            return;
        }
        DropPackage(package);
        return;
    }
    std::wstring exeName = downloadSettings_.exeName;
    if (exeName.empty()) {
        exeName = std::filesystem::path(OwnExecutablePath()).filename().wstring();
    }
    update::PortableStart start;
    try {
        start = update::StartPortableUpdate({
            .zip = package.file,
            .programFolder = programFolder,
            .exeName = exeName,
            .process = downloadSettings_.process,
            .tempRoot = downloadSettings_.tempRoot,
            .zipFile = package.package ? package.package->get() : nullptr,
        });
    } catch (const Error& error) {
        DropPackage(package);
        SetStatus(Message(L"LangUpdateNotStarted") + L"\r\n" + error.message());
        return;
    }
    DropPackage(package);
    if (!start.ok()) {
        SetStatus(Message(L"LangNoDownload") + L"\r\n" +
                  Message(start.problem == update::PortableProblem::NoProgram ? L"LangPackageNoProgram"
                                                                               : L"LangPackageDamaged"));
        return;
    }
    // The helper waits for this process to end.
    if (services_.exitProgram) {
        Close();
        services_.exitProgram();
    }
}

void UpdateDialog::OnClose()
{
    // A check still running is dropped, and the hidden dialog shows what the
    // last finished check found.
    dialogCheck_.reset();
    // Closed from the title bar while a download runs: it is cancelled.
    download_.reset();
    SetDownloadingState(false);
    SetStatus(L"");
    SetVersions(L"", L"");
    // An unwritable settings file is reported; the dialog closes anyway.
    if (services_.saveCheckOption) {
        ui::application::ReportingErrors(services_.saveCheckOption);
    }
}

void UpdateDialog::ReportFailedUpdate(DWORD code)
{
    ui::application::ShowError(InContext(Message(L"LangUpdateNotInstalled"), Error(code)).message());
}

void UpdateDialog::CancelChecks() noexcept
{
    download_.reset();
    dialogCheck_.reset();
    startCheck_.reset();
}

bool UpdateDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case ui::WM_APP_UPDATECHECKED:
        if (wParam == kStartCheckTag && startCheck_) {
            StartCheckFinished();
        } else if (wParam == dialogCheckTag_ && dialogCheck_) {
            DialogCheckFinished();
        }
        result = 0;
        return true;
    case ui::WM_APP_DOWNLOADPROGRESS:
        DownloadProgressed(static_cast<std::uint64_t>(wParam), static_cast<std::uint64_t>(lParam));
        result = 0;
        return true;
    case ui::WM_APP_DOWNLOADDONE:
        DownloadFinished();
        result = 0;
        return true;
    case ui::WM_APP_QUICKSTART:
        if (Visible()) {
            try {
                StartDownload();
            } catch (const std::exception&) {
                // The download reports its own failures in the status line.
            }
        }
        result = 0;
        return true;
    default:
        return ui::Form::HandleMessage(message, wParam, lParam, result);
    }
}

} // namespace merovane
