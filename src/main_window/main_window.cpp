#include "main_window/main_window.h"

#include "base/error.h"
#include "base/file_info.h"
#include "base/option_names.h"
#include "base/settings_file.h"
#include "base/shell_restart.h"
#include "base/startup.h"
#include "base/theme_reader.h"
#include "core/show_every_icon.h"
#include "main_window/main_window_definition.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"
#include "ui/screen.h"
#include "ui/tray_icon.h"

#include <algorithm>
#include <array>

namespace merovane {

using namespace main_window;

namespace {

// Items shown only when the general menu opens from the button, and only
// when it opens from the notification-area icon.
constexpr ui::Named<ui::MenuItem> kButtonOnlyItems[] = {kDeleteDuplicatesItem, kDeleteMissingItem,
                                                         kViewItem,             kShowAppGeneralItem,
                                                         kHideAppGeneralItem,   kNoRuleGeneralItem,
                                                         kRulesSeparator,       kRefreshListItem};
constexpr ui::Named<ui::MenuItem> kTrayOnlyItems[] = {kExitItem, kShowWindowItem, kNameItem, kVersionItem};

} // namespace

// The components the window itself changes after creation, found once.
struct MainWindow::Bound {
    explicit Bound(const ui::Form& form)
        : menuButton(form.Get(kMenuButton)), generalMenu(form.Get(kGeneralMenu)),
          showEveryIcon(form.Get(kShowEveryIconItem)), checkUpdate(form.Get(kCheckUpdateItem))
    {
        for (size_t i = 0; i < std::size(kButtonOnlyItems); ++i) {
            buttonOnly[i] = &form.Get(kButtonOnlyItems[i]);
        }
        for (size_t i = 0; i < std::size(kTrayOnlyItems); ++i) {
            trayOnly[i] = &form.Get(kTrayOnlyItems[i]);
        }
        for (size_t i = 0; i < std::size(option_names::kThemes); ++i) {
            themes[i] = &form.Get<ui::MenuItem>(option_names::kThemes[i].first);
        }
        for (size_t i = 0; i < std::size(option_names::kIconSizes); ++i) {
            iconSizes[i] = &form.Get<ui::MenuItem>(option_names::kIconSizes[i].first);
        }
    }

    ui::SpeedButton& menuButton;
    ui::PopupMenu& generalMenu;
    ui::MenuItem& showEveryIcon;
    ui::MenuItem& checkUpdate;
    ui::MenuItem* buttonOnly[std::size(kButtonOnlyItems)] = {};
    ui::MenuItem* trayOnly[std::size(kTrayOnlyItems)] = {};
    // In the order of option_names' tables.
    ui::MenuItem* themes[std::size(option_names::kThemes)] = {};
    ui::MenuItem* iconSizes[std::size(option_names::kIconSizes)] = {};
};

MainWindow::MainWindow(std::function<LocalePaths()> paths, Options& options, Services services)
    : ui::Form(MainWindowDefinition()), paths_(std::move(paths)), options_(options), services_(std::move(services)),
      keeper_(options_, [this](UINT message) { PostFromWorker(message); })
{
}

MainWindow::~MainWindow() = default;

void MainWindow::PostFromWorker(UINT message) const noexcept
{
    if (HWND window = workerTarget_.load()) {
        ::PostMessageW(window, message, 0, 0);
    }
}

void MainWindow::Initialize()
{
    workerTarget_ = Handle();
    bound_ = std::make_unique<Bound>(*this);
    status_ = &Get(kStatusBar);
    languages_ = std::make_unique<LanguageMenu>(Get(kLanguageItem), paths_);
    entries_ = std::make_unique<EntryList>(
        Handle(),
        EntryList::Controls{.list = Get(kList),
                            .status = *status_,
                            .deleteItem = Get(kDeleteItem),
                            .moveUpItem = Get(kMoveUpItem),
                            .moveDownItem = Get(kMoveDownItem),
                            .entryRules = {Get(kShowAppItem), Get(kHideAppItem), Get(kNoRuleItem)},
                            .generalRules = {Get(kShowAppGeneralItem), Get(kHideAppGeneralItem),
                                             Get(kNoRuleGeneralItem)}},
        EntryList::Host{.message = [this](ui::Named<ui::MenuItem> item) { return Message(item); },
                        .paths = paths_,
                        .rulesChanged = [this] { ApplyRefreshPolicy(); },
                        .postFromWorker = [this](UINT message) { PostFromWorker(message); }},
        keeper_.Worker(), keeper_.Organisation());
    everyIcon_ = std::make_unique<EveryIconToggle>(
        Handle(), keeper_.Worker(), [this] { return ShowEveryIconStatePath(); },
        EveryIconToggle::Host{.message = [this](ui::Named<ui::MenuItem> item) { return Message(item); },
                              .say = [this](const std::wstring& text) { status_->SetStatusText(text); },
                              .iconsChanged =
                                  [this] {
                                      if (Visible()) {
                                          entries_->ReloadList();
                                      }
                                  }});
    tray_ = std::make_unique<TrayPresence>(Handle(), Dpi(), Get(kTrayIcon), bound_->generalMenu,
                                           [this] { SetGeneralMenuOpening(false); });
    WireHandlers();
    tray_->Add();

    const std::wstring version = ProgramVersionText();
    SetCaption(MainWindowCaption(Caption(), version, ArchitectureLabel(), PortableMode()));
    Get(kVersionItem).SetCaption(version + L" " + ArchitectureLabel());
    Get(kNameItem).SetCaption(GetFileDescription(OwnExecutablePath()));
    entries_->AttachIconImages(options_.iconSize == IconSize::Large);
    ApplyOptions();
    languages_->RebuildMenu();
    languages_->ApplyToAllWindows();
    if (options_.startToTray) {
        tray_->StartHidden(options_.window.maximized);
    }
    // A second start asks this window to show itself; it may run elevated
    // beside a normal start, so the request is let through.
    ::ChangeWindowMessageFilterEx(Handle(), ActivationMessage(), MSGFLT_ALLOW, nullptr);
    MarkAsMainWindow(Handle());
    entries_->SetStatusCount(entries_->RowCount());
    LowerProcessPriority();
    // A run that ended while every icon was shown left the values behind.
    everyIcon_->PutBackReporting(false);
    RegisterShowEveryIconHotKey();
}

void MainWindow::WireHandlers()
{
    auto on = [this](ui::Named<ui::MenuItem> item, std::function<void()> handler) {
        Get(item).onClick = [handler = std::move(handler)](ui::MenuItem&) { handler(); };
    };
    // Commands that release the "≡" button first, should it be marked.
    auto released = [this](std::function<void()> command) {
        return [this, command = std::move(command)] {
            ReleaseMenuButton();
            command();
        };
    };
    EntryList& entries = *entries_;
    on(kShowWindowItem, [this] { ShowFromTray(); });
    on(kDeleteDuplicatesItem, released([&entries] { entries.DeleteDuplicateEntries(); }));
    on(kDeleteMissingItem, released([&entries] { entries.DeleteEntriesOfMissingPrograms(); }));
    on(kRestartExplorerItem, [this] { RestartExplorer(); });
    on(kShowEveryIconItem, [this] { ToggleShowEveryIcon(); });
    on(kRefreshListItem, released([&entries] { entries.ReloadList(); }));
    on(kMoveUpItem, [&entries] { entries.MoveSelectedInOrder(-1); });
    on(kMoveDownItem, [&entries] { entries.MoveSelectedInOrder(+1); });
    on(kSettingsItem, [this] { OpenDialog(services_.openSettings); });
    on(kCheckUpdateItem, [this] { OpenDialog(services_.openUpdate); });
    on(kAboutItem, [this] { OpenDialog(services_.openAbout); });
    on(kExitItem, [this] { Exit(); });
    on(kOpenFolderItem, [&entries] { entries.RevealSelectedEntry(); });
    on(kDeleteItem, [&entries] { entries.DeleteSelectedEntry(); });
    on(kShowAllItem, [&entries] { entries.CheckAll(true); });
    on(kHideAllItem, [&entries] { entries.CheckAll(false); });
    for (const auto& items : {std::array{kShowAppItem, kHideAppItem, kNoRuleItem},
                              std::array{kShowAppGeneralItem, kHideAppGeneralItem, kNoRuleGeneralItem}}) {
        on(items[0], released([&entries] { entries.SetRuleOfSelected(RuleAction::Show); }));
        on(items[1], released([&entries] { entries.SetRuleOfSelected(RuleAction::Hide); }));
        on(items[2], released([&entries] { entries.SetRuleOfSelected(std::nullopt); }));
    }
    for (size_t i = 0; i < std::size(option_names::kIconSizes); ++i) {
        bound_->iconSizes[i]->onClick = [this, size = option_names::kIconSizes[i].second](ui::MenuItem&) {
            SetIconSize(size);
        };
    }
    for (size_t i = 0; i < std::size(option_names::kThemes); ++i) {
        bound_->themes[i]->onClick = [this, theme = option_names::kThemes[i].second](ui::MenuItem&) {
            SetTheme(theme);
        };
    }
    auto& entryMenu = Get(kEntryMenu);
    entryMenu.onPopup = [&entries] { entries.PrepareEntryMenu(); };

    bound_->menuButton.onClick = [this] { OpenGeneralMenuFromButton(); };
    Get(kList).onContextMenu = [this, &entryMenu](POINT point) { entryMenu.Popup(Handle(), point); };
    onShow = [&entries] { entries.ReloadList(); };
    // Names in the list come from the language too.
    languages_->onLanguageChosen = [&entries] { entries.ReloadList(); };
}

void MainWindow::ShowAtStart()
{
    if (options_.startToTray) {
        return;
    }
    ::ShowWindow(Handle(), options_.window.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    ::SetForegroundWindow(Handle());
}

// The "≡" button and the menus

void MainWindow::ReleaseMenuButton()
{
    menuMarked_ = false;
    bound_->menuButton.SetDown(false);
}

void MainWindow::SetGeneralMenuOpening(bool fromButton)
{
    bound_->showEveryIcon.SetChecked(ShowingEveryIcon(ShowEveryIconStatePath()));
    for (ui::MenuItem* item : bound_->buttonOnly) {
        item->SetVisible(fromButton);
    }
    for (ui::MenuItem* item : bound_->trayOnly) {
        item->SetVisible(!fromButton);
    }
    bound_->checkUpdate.SetEnabled(!keeper_.CurrentPolicies().disableSelfUpdate);
}

void MainWindow::OpenGeneralMenuFromButton()
{
    if (menuMarked_) {
        ReleaseMenuButton();
        ::EndMenu();
        ui::application::ProcessMessages();
        return;
    }
    menuMarked_ = true;
    bound_->menuButton.SetDown(true);
    ui::application::ProcessMessages();
    RECT button;
    ::GetWindowRect(bound_->menuButton.Handle(), &button);
    SetGeneralMenuOpening(true);
    entries_->PrepareRuleItems(true);
    bound_->generalMenu.Popup(Handle(), POINT{button.right, button.bottom}, TPM_RIGHTALIGN | TPM_TOPALIGN);
    // A menu dismissed without a command leaves the button marked: the next
    // click only releases it.
    if (menuMarked_) {
        bound_->menuButton.SetDown(true);
    }
}

void MainWindow::SetIconSize(IconSize size)
{
    ReleaseMenuButton();
    options_.iconSize = size;
    entries_->AttachIconImages(size == IconSize::Large);
    for (size_t i = 0; i < std::size(option_names::kIconSizes); ++i) {
        if (option_names::kIconSizes[i].second == size) {
            bound_->iconSizes[i]->SetChecked(true);
        }
    }
    ui::application::ProcessMessages();
}

void MainWindow::RestartExplorer()
{
    ReleaseMenuButton();
    const std::optional<ShellProcess> shell = FindShellProcess();
    const HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    const ShellRestart restart = shell ? RestartShell(*shell) : ShellRestart{ShellRestartOutcome::Failed, ERROR_NOT_FOUND};
    ::SetCursor(previous);
    if (restart.outcome == ShellRestartOutcome::Failed) {
        throw InContext(Message(kLangExplorerNotRestarted), Error(restart.error));
    }
    status_->SetStatusText(Message(kLangExplorerRestarted));
}

std::wstring MainWindow::ShowEveryIconStatePath() const
{
    return FileBesideSettings(paths_(), kShowEveryIconStateName);
}

void MainWindow::ToggleShowEveryIcon()
{
    ReleaseMenuButton();
    everyIcon_->Toggle();
}

bool MainWindow::RegisterShowEveryIconHotKey()
{
    return everyIcon_->RegisterHotKey(options_.showEveryIconHotKey);
}

void MainWindow::OpenDialog(const std::function<void()>& open)
{
    ReleaseMenuButton();
    if (open) {
        open();
    }
}

// The notification-area icon

void MainWindow::UpdateTrayImage()
{
    tray_->UpdateImage(options_.colourTrayIcon);
}

void MainWindow::ShowFromTray()
{
    tray_->ShowFromTray();
}

// Rules and policies

void MainWindow::FollowRulesFile()
{
    keeper_.ChangeSeen();
    const bool rulesChanged = entries_->RefreshRules();
    const bool policiesChanged = keeper_.RefreshPolicies();
    if (!rulesChanged && !policiesChanged) {
        return;
    }
    ApplyRefreshPolicy();
    if (::IsWindowVisible(Handle()) || policiesChanged) {
        entries_->ShowRules();
    }
    if (policiesChanged && services_.policiesChanged) {
        services_.policiesChanged();
    }
}

void MainWindow::ApplyRefreshPolicy()
{
    entries_->RefreshRules();
    keeper_.Apply(entries_->Rules(), entries_->RulesPath());
}

void MainWindow::ReportRefreshFailure()
{
    if (const std::optional<Error> error = keeper_.TakeFailure()) {
        ui::application::ShowError(InContext(Message(kLangPolicyNotApplied), *error).message());
    }
}

// Themes

void MainWindow::SetTheme(ThemeChoice theme)
{
    ReleaseMenuButton();
    options_.theme = theme;
    for (size_t i = 0; i < std::size(option_names::kThemes); ++i) {
        bound_->themes[i]->SetChecked(option_names::kThemes[i].second == theme);
    }
    ApplyTheme();
}

void MainWindow::ApplyTheme()
{
    switch (options_.theme) {
    case ThemeChoice::System:
        ui::application::SetStyle(IsAppsDarkTheme() ? ui::Style::Dark : ui::Style::Light);
        break;
    case ThemeChoice::Light:
        ui::application::SetStyle(ui::Style::Light);
        break;
    case ThemeChoice::Dark:
        ui::application::SetStyle(ui::Style::Dark);
        break;
    case ThemeChoice::None:
        break;
    }
}

// Minimise, close, exit

void MainWindow::HideToTray()
{
    tray_->HideToTray();
}

void MainWindow::CloseWindow()
{
    SaveOptionsReporting();
    if (options_.closeToTray) {
        HideToTray();
        return;
    }
    Terminate();
}

void MainWindow::Exit()
{
    SaveOptionsReporting();
    Terminate();
}

void MainWindow::ExitSoon()
{
    ::PostMessageW(Handle(), ui::WM_APP_EXITPROGRAM, 0, 0);
}

void MainWindow::SaveOptionsReporting()
{
    if (services_.saveOptions) {
        ui::application::ReportingErrors(services_.saveOptions);
    }
}

void MainWindow::Terminate()
{
    everyIcon_->UnregisterHotKey();
    // Whatever ends the program, the icons go back as they were; a failure
    // leaves the file for the next start.
    everyIcon_->PutBackReporting(true);
    keeper_.Stop();
    ::KillTimer(Handle(), EntryList::kRulesRetryTimer);
    tray_->Remove();
    ::DestroyWindow(Handle());
    ui::application::Terminate(0);
    if (onTerminate) {
        onTerminate();
    }
}

bool MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == ActivationMessage()) {
        ShowFromTray(); // a second start of the program
        if (wParam == kActivationUpdateFailed && services_.reportFailedUpdate) {
            services_.reportFailedUpdate(static_cast<DWORD>(lParam));
        }
        result = 0;
        return true;
    }
    switch (message) {
    case WM_DESTROY:
        workerTarget_ = nullptr; // what a worker reports from now on has nobody to go to
        return false;
    case ui::WM_APP_ICONSREADY:
        entries_->ImagesReady();
        result = 0;
        return true;
    case ui::WM_APP_ENTRYTEXTS:
        entries_->FileTextsReady();
        result = 0;
        return true;
    case ui::WM_APP_RULESFOLDERCHANGED:
        FollowRulesFile();
        result = 0;
        return true;
    case WM_TIMER:
        if (wParam != EntryList::kRulesRetryTimer) {
            return false; // the form's own timers
        }
        ::KillTimer(Handle(), EntryList::kRulesRetryTimer);
        FollowRulesFile();
        result = 0;
        return true;
    case ui::WM_APP_REFRESHFAILED:
        ReportRefreshFailure();
        result = 0;
        return true;
    case ui::WM_APP_RELOADLIST:
        entries_->ReloadPosted();
        result = 0;
        return true;
    case ui::WM_APP_EXITPROGRAM:
        Exit();
        result = 0;
        return true;
    case WM_HOTKEY:
        if (wParam != EveryIconToggle::kHotKeyId) {
            return false;
        }
        ui::application::ReportingErrors([this] { ToggleShowEveryIcon(); });
        result = 0;
        return true;
    case WM_SYSCOMMAND:
        // The whole value, as the system sends it for the minimise box.
        if (wParam == SC_MINIMIZE) {
            HideToTray();
            result = 0;
            return true;
        }
        // Alt alone or F10 opens a window's menu: here the general menu.
        if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 0) {
            OpenGeneralMenuFromButton();
            result = 0;
            return true;
        }
        return false;
    case WM_CLOSE:
        CloseWindow();
        result = 0;
        return true;
    case WM_QUERYENDSESSION:
        result = TRUE;
        return true;
    case WM_ENDSESSION:
        // The session ends, or an installer closes the program through the
        // Restart Manager (ENDSESSION_CLOSEAPP): save as Exit does, silently,
        // since a box now would hold things up, and end whatever the
        // close-to-tray option says.
        if (wParam != FALSE) {
            try {
                if (services_.saveOptions) {
                    services_.saveOptions();
                }
            } catch (...) {
                // Nothing can be reported any more.
            }
            Terminate();
        }
        result = 0;
        return true;
    case WM_MOUSEMOVE:
        ReleaseMenuButton();
        result = 0;
        return true;
    case WM_SETTINGCHANGE:
        // Any setting may be the light or dark preference; it is not examined.
        // A high-contrast theme turned on or off repaints in its colours.
        if (options_.theme == ThemeChoice::System || wParam == SPI_SETHIGHCONTRAST) {
            try {
                ApplyTheme();
            } catch (...) {
                // The current look stays.
            }
            ui::application::ProcessMessages();
        }
        UpdateTrayImage();
        result = 0;
        return true;
    default:
        return false;
    }
}

// Options

void MainWindow::ApplyOptions()
{
    if (options_.theme != ThemeChoice::None) {
        SetTheme(options_.theme);
    }
    // No size chosen: no check mark, and the list keeps its small icons.
    if (options_.iconSize != IconSize::None) {
        SetIconSize(options_.iconSize);
    }
    const WindowPlacement& stored = options_.window;
    RECT window;
    ::GetWindowRect(Handle(), &window);
    // The stored size is the restored one, also under a maximised window; the
    // minimum size still holds.
    const int height = stored.height.value_or(window.bottom - window.top);
    const int width = stored.width.value_or(window.right - window.left);
    ::SetWindowPos(Handle(), nullptr, 0, 0, std::max(width, Scale(Definition().minWidth)),
                   std::max(height, Scale(Definition().minHeight)), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ui::CentreOnWorkArea(Handle());
}

WindowPlacement MainWindow::Placement() const
{
    // The placement knows the restored size and whether a minimised window
    // comes back maximised; a window started in the tray that was never shown
    // keeps the state it was started with. A maximised window keeps the stored
    // size: it is the size to restore to.
    WindowPlacement result = options_.window;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!::GetWindowPlacement(Handle(), &placement)) {
        return result;
    }
    bool maximized = ::IsZoomed(Handle()) != FALSE;
    if (::IsIconic(Handle())) {
        maximized = (placement.flags & WPF_RESTORETOMAXIMIZED) != 0;
    }
    result.maximized = maximized || (tray_ && tray_->PendingMaximize());
    if (!result.maximized) {
        const RECT& normal = placement.rcNormalPosition;
        result.width = normal.right - normal.left;
        result.height = normal.bottom - normal.top;
    }
    return result;
}

void MainWindow::LowerProcessPriority()
{
    if (prioritySet_) {
        return;
    }
    unique_handle process(::OpenProcess(PROCESS_SET_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!process) {
        return;
    }
    ::SetPriorityClass(process.get(), BELOW_NORMAL_PRIORITY_CLASS);
    prioritySet_ = true;
}

} // namespace merovane
