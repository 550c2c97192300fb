#pragma once

// The main window: the general menu behind the "≡" button, themes, the
// organisation's policies and the refresh worker, the show-every-icon key, and
// what minimising, closing and the end of the session mean for a program that
// lives in the notification area. The list of entries (EntryList) and the
// notification-area icon (TrayPresence) are parts of it, each given only the
// controls and callbacks it needs. It knows no other window: what it needs of
// the rest of the program comes in as Services.

#include "base/folder_watch.h"
#include "base/handles.h"
#include "i18n/language.h"
#include "base/locale_paths.h"
#include "base/options.h"
#include "base/policies.h"
#include "core/app_rules.h"
#include "core/organisation_rules.h"
#include "core/icon_images.h"
#include "core/promotion_watcher.h"
#include "main_window/entry_list.h"
#include "main_window/tray_presence.h"
#include "ui/form.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace merovane::ui {
class StatusBar;
} // namespace merovane::ui

namespace merovane {

class MainWindow : public ui::Form {
public:
    // What the program does for the window.
    struct Services {
        std::function<void()> openSettings;
        std::function<void()> openUpdate;
        std::function<void()> openAbout;
        // Writes the options; throws merovane::Error naming the file.
        std::function<void()> saveOptions;
        // A start of the program by an update's helper that gave up found
        // this copy still running: it tells the user (the system's code).
        std::function<void(DWORD)> reportFailedUpdate{};
        // The organisation's policies changed (CurrentPolicies()).
        std::function<void()> policiesChanged{};
    };

    // `paths` names the language folder, the settings file and the log; the
    // program passes LocalePaths::ForProgram. `options` is the program's.
    MainWindow(std::function<LocalePaths()> paths, Options& options, Services services);
    ~MainWindow() override;

    // Creation: caption, menu texts, image lists, the options (style, view,
    // size), the language, start in the tray, status text, priority.
    void Initialize();
    // Shows the window as the start-up does, unless it starts in the tray.
    void ShowAtStart();
    // Shows the window from the notification area (double click, "Show main
    // window", the keyboard on the icon, a second start): with its taskbar
    // button, maximised if it was, in front.
    void ShowFromTray();
    // Hides the window to the notification area, without a taskbar button.
    void HideToTray();

    // Starts, changes or stops keeping the entries at the per-app rules and
    // the new-icon policy, as Rules.ini, the refresh option and the policy in
    // the options now say. The rules count whatever the refresh option says.
    void ApplyRefreshPolicy();
    // The organisation's policies as last read (Group Policy, Intune).
    [[nodiscard]] const Policies& CurrentPolicies() const noexcept { return policies_; }
    // The worker that keeps the entries at the policy.
    [[nodiscard]] PromotionWatcher& Refresh() noexcept { return refresh_; }
    // Picks the icon image from the colour option and the taskbar's light or
    // dark setting; errors leave the image as it is.
    void UpdateTrayImage();
    // The image shown: 0 dark grey, 1 light grey, 2 colour.
    [[nodiscard]] int TrayImage() const noexcept { return tray_ ? tray_->Image() : 0; }

    // Registers the options' key for showing every icon for now (none: the
    // key is let go). False when another program holds the combination; the
    // status line says so.
    bool RegisterShowEveryIconHotKey();
    // Shows every icon for now, or puts them back as they were.
    void ToggleShowEveryIcon();
    [[nodiscard]] std::wstring ShowEveryIconStatePath() const;

    // The window's size and state, for the options to save.
    [[nodiscard]] WindowPlacement Placement() const;

    [[nodiscard]] LanguageMenu& Languages() noexcept { return *languages_; }
    [[nodiscard]] LocalePaths Paths() const { return paths_(); }

    // Saves the options and ends the program, as the Exit command does, once
    // the message being handled now is done.
    void ExitSoon();

    // Runs after the window is destroyed by a close that ends the program.
    std::function<void()> onTerminate;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct Bound;

    void WireHandlers();
    // For the workers' threads: posts to the window while it exists.
    void PostFromWorker(UINT message) const noexcept;
    void ApplyOptions();
    void LowerProcessPriority();

    // Menus and commands.
    void OpenGeneralMenuFromButton();
    void ReleaseMenuButton();
    // Sets the general menu's items for the opening from the button (true) or
    // from the notification-area icon (false).
    void SetGeneralMenuOpening(bool fromButton);
    void SetIconSize(IconSize size);
    void RestartExplorer();
    void OpenDialog(const std::function<void()>& open);
    void SetTheme(ThemeChoice theme);
    void ApplyTheme();

    // Rules.ini's folder changed, or a read that failed is due again: a
    // changed file counts at once, in the rows' marks and for the entries.
    void FollowRulesFile();
    // Reads the policy keys again; true when what they say changed.
    bool RefreshPolicies();

    // Puts the icons back as they were before "show every icon": at exit
    // and at the start after a run that could not.
    void PutBackEveryIconReporting(bool quietly);

    // A pass of the refresh worker failed; its error waits in refreshError_.
    void ReportRefreshFailure();

    // Closing and exiting.
    void CloseWindow();
    void Exit();
    // Saves the options on the ways out: a file that can't be written is
    // reported, and the window still closes.
    void SaveOptionsReporting();
    void Terminate();

    std::function<LocalePaths()> paths_;
    Options& options_;
    Services services_;
    std::unique_ptr<LanguageMenu> languages_;
    // Found once the window is created.
    std::unique_ptr<Bound> bound_;
    ui::StatusBar* status_ = nullptr;
    Policies policies_;
    std::shared_ptr<const OrganisationPolicy> organisation_ = std::make_shared<OrganisationPolicy>();
    bool menuMarked_ = false;
    bool prioritySet_ = false;
    bool hotKeyRegistered_ = false;
    std::mutex refreshErrorMutex_;
    std::optional<Error> refreshError_; // guarded by refreshErrorMutex_
    // Last, so the workers end before anything they report to goes.
    // The window the workers post to, from Initialize until WM_DESTROY: read
    // on their threads, so never through Handle().
    std::atomic<HWND> workerTarget_{nullptr};
    std::atomic<bool> rulesChangePosted_{false};
    // Rules written by the command line or by hand count at once, whether
    // or not the refresh worker runs.
    FolderWatch rulesFolder_;
    PolicyWatch policyWatch_;
    PromotionWatcher refresh_;
    std::unique_ptr<TrayPresence> tray_;
    // The icon worker within ends first.
    std::unique_ptr<EntryList> entries_;
};

} // namespace merovane
