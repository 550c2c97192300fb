#pragma once

// The main window: the general menu behind the "≡" button, themes, the
// show-every-icon key, Restart Explorer, and what minimising, closing and the
// end of the session mean for a program that lives in the notification area.
// Its parts are the list of entries (EntryList), the notification-area icon
// (TrayPresence), what keeps the entries at the rules and policies
// (RuleKeeper) and "show every icon for now" with its key (EveryIconToggle);
// each is given only the controls and callbacks it needs. It
// knows no other window: what it needs of the rest of the program comes in as
// Services.

#include "i18n/language.h"
#include "base/locale_paths.h"
#include "base/options.h"
#include "base/policies.h"
#include "core/promotion_watcher.h"
#include "main_window/entry_list.h"
#include "main_window/every_icon_toggle.h"
#include "main_window/rule_keeper.h"
#include "main_window/tray_presence.h"
#include "ui/form.h"

#include <atomic>
#include <functional>
#include <memory>
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
    [[nodiscard]] const Policies& CurrentPolicies() const noexcept { return keeper_.CurrentPolicies(); }
    // The worker that keeps the entries at the policy.
    [[nodiscard]] PromotionWatcher& Refresh() noexcept { return keeper_.Worker(); }
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

    // A pass of the refresh worker failed; the keeper holds its error.
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
    bool menuMarked_ = false;
    bool prioritySet_ = false;
    // Last, so the workers end before anything they report to goes.
    // The window the workers post to, from Initialize until WM_DESTROY: read
    // on their threads, so never through Handle().
    std::atomic<HWND> workerTarget_{nullptr};
    RuleKeeper keeper_;
    std::unique_ptr<TrayPresence> tray_;
    std::unique_ptr<EveryIconToggle> everyIcon_;
    // The icon worker within ends first.
    std::unique_ptr<EntryList> entries_;
};

} // namespace merovane
