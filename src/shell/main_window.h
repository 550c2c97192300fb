#pragma once

// The main window: the list of notification-area entries with a check box
// each, the general menu behind the "≡" button, the list's own menu, and what
// minimising and closing mean for a program that lives in the notification
// area.

#include "i18n/language.h"
#include "core/error.h"
#include "core/handles.h"
#include "i18n/locale_paths.h"
#include "ui/form.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace merovane::ui {
class ListView;
class MenuItem;
class SpeedButton;
class StatusBar;
class TrayIcon;
} // namespace merovane::ui

namespace merovane {

class IniFile;
class TForm2;
class TForm8;
class TForm10;

class TForm1 : public ui::Form {
public:
    // `paths` names the language folder, the settings file and the log; the
    // program passes LocalePaths::ForProgram.
    explicit TForm1(std::function<LocalePaths()> paths);
    ~TForm1() override;

    // The other windows, once they exist: the menus open them and the settings
    // save reads their controls.
    void SetWindows(TForm8* about, TForm2* settings, TForm10* update);

    // Creation: caption, menu texts, image lists, settings, language, start to
    // tray, status text, priority.
    void FormCreate();
    // Shows the window as the start-up does, unless it starts in the tray.
    void ShowAtStart();

    // The list.
    void LoadNotifyIconSettingsWithUpdate();
    void SortList();
    // Load, then sort when there are rows: after every showing, cleanup and
    // language choice.
    void ReloadList();
    void ListView1ItemChecked(int row);
    void CheckAll(bool checked);
    [[nodiscard]] bool Loading() const noexcept { return FLoading; }

    // Commands.
    void SpeedButton_GeneralMenuClick();
    void ReleaseMenuButton();
    [[nodiscard]] bool MenuButtonMarked() const noexcept { return menuMarker_; }
    // Sets the general menu's items for the opening from the button (true) or
    // from the notification-area icon (false).
    void SetGeneralMenuOpening(bool fromButton);
    void PopupMenuIconPopup();
    void DeleteIconMenuClick();
    void OpenFolderMenuClick();
    void IconSmallMenuClick();
    void IconBigMenuClick();
    void ShowMainFormTrayMenuClick();
    void DelOldIconMenuClick();
    void DelNonExistentFilesMenuClick();
    void OptionMenuClick();
    void CheckUpdateMenuClick();
    void AboutMenuClick();
    void CloseTrayMenuClick();
    // Hides the window to the notification area, without a taskbar button.
    void HideToTray();

    // Themes.
    void ThemeAutoClick();
    void ThemeLightClick();
    void ThemeDarkClick();
    void UnCheckTheme();
    // Makes the first style active when `first` is true, else the second.
    static void SelectStyle(bool first, std::wstring_view firstName, std::wstring_view secondName);

    // The refresh timer's tick: the new-icon policy.
    void Timer2Timer();

    // Settings.
    void LoadNastr();
    void SaveNastr();
    // SaveNastr for the ways out (closing, exiting): a settings file that
    // can't be written is reported, and the window still closes.
    void SaveNastrOnClose();
    // Whether the options were read; an exit before that saves none of them.
    [[nodiscard]] bool OptionsLoaded() const noexcept { return optionsLoaded_; }
    // False when the settings file could not be read at start: the program
    // then runs with defaults and writes no options over the file.
    [[nodiscard]] bool SettingsWritable() const noexcept;
    // Shows, once, what went wrong during the start-up, in the chosen language.
    void ReportStartupProblems();
    [[nodiscard]] bool StartToTray() const noexcept { return startToTray_; }

    [[nodiscard]] LanguageMenu& Languages() noexcept { return *languages_; }
    [[nodiscard]] LocalePaths Paths() const { return paths_(); }
    // A message text: the caption of a hidden Lang* item.
    [[nodiscard]] std::wstring Message(std::wstring_view item) const;
    void SetStatusCount(int count);

    // The notification-area icon: its image (0 dark grey, 1 light grey,
    // 2 colour) and the handlers of its mouse events.
    void SetTrayImage(int index);
    [[nodiscard]] int TrayImage() const noexcept { return trayImage_; }
    void TrayIcon1MouseMove();
    void TrayIcon1DblClick();
    // Shows the window from the notification area (double click, "Show main
    // window", the keyboard on the icon, a second start): with its taskbar
    // button, maximised if it was, in front.
    void ShowFromTray();
    void TrayIcon1RightClick(POINT screenPoint);

    // Runs after the window is destroyed by a close that ends the program.
    std::function<void()> onTerminate;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void WireHandlers();
    // The entry key a row carries ("" for none), and the row carrying a key (-1).
    [[nodiscard]] std::wstring RowKey(int row) const;
    [[nodiscard]] int FindRowByKey(std::wstring_view key) const;
    void PostReload();
    void FormClose();
    void Terminate();
    void LowerProcessPriority();
    void WriteWindowState(IniFile& settings) const;

    std::function<LocalePaths()> paths_;
    std::unique_ptr<LanguageMenu> languages_;
    ui::ListView* list_ = nullptr;
    ui::StatusBar* status_ = nullptr;
    ui::SpeedButton* menuButton_ = nullptr;
    TForm8* about_ = nullptr;
    TForm2* settings_ = nullptr;
    TForm10* update_ = nullptr;
    bool FLoading = false;
    bool reloadPosted_ = false;
    bool menuMarker_ = false;
    bool startToTray_ = false;
    bool startMaximized_ = false;
    // Started in the tray with a maximised window that was never shown yet.
    bool pendingMaximize_ = false;
    bool optionsLoaded_ = false;
    std::optional<Error> settingsReadFailure_;
    bool settingsReadFailureShown_ = false;
    bool FProcessPrioritySet = false;
    ui::TrayIcon* tray_ = nullptr;
    unique_hicon trayImages_[3];
    int trayImage_ = 0;
    UINT taskbarCreated_ = 0;
};

} // namespace merovane
