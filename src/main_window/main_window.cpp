#include "main_window/main_window.h"

#include "core/cleanup.h"
#include "base/error.h"
#include "base/file_info.h"
#include "core/icon_list.h"
#include "core/icon_order.h"
#include "core/icon_store.h"
#include "core/show_every_icon.h"
#include "main_window/main_window_definition.h"
#include "base/ini_file.h"
#include "base/settings_file.h"
#include "base/shell_restart.h"
#include "base/startup.h"
#include "base/theme_reader.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"
#include "ui/screen.h"
#include "ui/tray_icon.h"

#include <commctrl.h>

#include <algorithm>

namespace merovane {

namespace {

constexpr int kMinimumColumnWidth = 200;
// Outside the range of the form's own command and timer ids.
constexpr UINT_PTR kRulesRetryTimer = 0x7E01;
constexpr int kShowEveryIconHotKeyId = 1;

// The hot-key control's value as RegisterHotKey's modifiers and key.
UINT HotKeyModifiers(WORD value)
{
    const BYTE flags = HIBYTE(value);
    UINT modifiers = MOD_NOREPEAT;
    if ((flags & HOTKEYF_ALT) != 0) {
        modifiers |= MOD_ALT;
    }
    if ((flags & HOTKEYF_CONTROL) != 0) {
        modifiers |= MOD_CONTROL;
    }
    if ((flags & HOTKEYF_SHIFT) != 0) {
        modifiers |= MOD_SHIFT;
    }
    return modifiers;
}

// Items shown only when the general menu opens from the button, and only
// when it opens from the notification-area icon.
constexpr std::wstring_view kButtonOnlyItems[] = {L"DelOldIconMenu",           L"DelNonExistentFilesMenu",
                                                   L"ViewMenu",                 L"AlwaysShowAppGeneralMenu",
                                                   L"AlwaysHideAppGeneralMenu", L"NoRuleGeneralMenu",
                                                   L"N10",                      L"RefreshListMenu"};

// The rule items of the list's menu and of the general menu.
struct RuleItems {
    std::wstring_view show;
    std::wstring_view hide;
    std::wstring_view none;
};
constexpr RuleItems kEntryRuleItems{L"AlwaysShowAppMenu", L"AlwaysHideAppMenu", L"NoRuleMenu"};
constexpr RuleItems kGeneralRuleItems{L"AlwaysShowAppGeneralMenu", L"AlwaysHideAppGeneralMenu",
                                      L"NoRuleGeneralMenu"};
constexpr std::wstring_view kTrayOnlyItems[] = {L"CloseTrayMenu", L"ShowMainFormTrayMenu", L"Name", L"Version"};

struct ThemeItem {
    std::wstring_view item;
    ThemeChoice theme;
};
constexpr ThemeItem kThemeItems[] = {
    {L"ThemeAuto", ThemeChoice::System},
    {L"ThemeLight", ThemeChoice::Light},
    {L"ThemeDark", ThemeChoice::Dark},
};

// The entry a row of the list stands for.
const IconEntry* EntryOf(const ui::ListRow& row)
{
    return std::any_cast<IconEntry>(&row.data);
}

std::optional<AppIdentity> AppOf(const IconEntry& entry)
{
    return IdentifyApp(entry.executablePath, entry.company, entry.iconGuid);
}

void AddExStyle(HWND window, LONG_PTR style)
{
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) | style);
}

void RemoveExStyle(HWND window, LONG_PTR style)
{
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) & ~style);
}

} // namespace

MainWindow::MainWindow(std::function<LocalePaths()> paths, Options& options, Services services)
    : ui::Form(MainWindowDefinition()), paths_(std::move(paths)), options_(options), services_(std::move(services)),
      icons_([this] {
          if (!iconsPosted_.exchange(true)) {
              PostFromWorker(ui::WM_APP_ICONSREADY);
          }
      })
{
}

MainWindow::~MainWindow()
{
    // The image lists go with the icon cache, before the list view.
    if (list_ != nullptr && list_->Handle() != nullptr) {
        ListView_SetImageList(list_->Handle(), nullptr, LVSIL_NORMAL);
        ListView_SetImageList(list_->Handle(), nullptr, LVSIL_SMALL);
    }
}

void MainWindow::AttachIconImages(bool large)
{
    HWND view = list_->Handle();
    HIMAGELIST images = icons_.Images(large);
    if (view == nullptr || images == nullptr) {
        return;
    }
    // The cache owns the lists; the view only shows them.
    const LONG_PTR style = ::GetWindowLongPtrW(view, GWL_STYLE);
    if ((style & LVS_SHAREIMAGELISTS) == 0) {
        ::SetWindowLongPtrW(view, GWL_STYLE, style | LVS_SHAREIMAGELISTS);
    }
    ListView_SetImageList(view, images, LVSIL_NORMAL);
    ListView_SetImageList(view, images, LVSIL_SMALL);
}

void MainWindow::SetStatusCount(int count)
{
    status_->SetStatusText(Message(L"LangElements") + L" " + std::to_wstring(count));
}

void MainWindow::PostFromWorker(UINT message) const noexcept
{
    if (HWND window = workerTarget_.load()) {
        ::PostMessageW(window, message, 0, 0);
    }
}

void MainWindow::Initialize()
{
    workerTarget_ = Handle();
    list_ = &Get<ui::ListView>(L"ListView1");
    status_ = &Get<ui::StatusBar>(L"StatusBar1");
    menuButton_ = &Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu");
    languages_ = std::make_unique<LanguageMenu>(Get<ui::MenuItem>(L"LanguageMenu"), paths_);
    tray_ = &Get<ui::TrayIcon>(L"TrayIcon1");
    WireHandlers();

    // The notification area shows small icons; the images are drawn at 32 x 32.
    const int size = ::GetSystemMetricsForDpi(SM_CXSMICON, Dpi());
    const wchar_t* images[] = {L"TRAYDARK", L"TRAYLIGHT", L"TRAYCOLOR"};
    for (size_t i = 0; i < std::size(images); ++i) {
        trayImages_[i].reset(static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), images[i], IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    }
    SetTrayImage(0);
    tray_->Add();

    const std::wstring version = ProgramVersionText();
    SetCaption(MainWindowCaption(Caption(), version, ArchitectureLabel(), PortableMode()));
    Get<ui::MenuItem>(L"Version").SetCaption(version + L" " + ArchitectureLabel());
    Get<ui::MenuItem>(L"Name").SetCaption(GetFileDescription(OwnExecutablePath()));
    AttachIconImages(options_.iconSize == IconSize::Large);
    list_->SetMinimumColumnWidth(kMinimumColumnWidth); // also before the first load finds rows
    ApplyOptions();
    languages_->RebuildMenu();
    languages_->ApplyToAllWindows();
    if (options_.startToTray) {
        Hide();
        AddExStyle(Handle(), WS_EX_TOOLWINDOW);
        pendingMaximize_ = options_.window.maximized;
    }
    // A second start asks this window to show itself; it may run elevated
    // beside a normal start, so the request is let through.
    ::ChangeWindowMessageFilterEx(Handle(), ActivationMessage(), MSGFLT_ALLOW, nullptr);
    MarkAsMainWindow(Handle());
    SetStatusCount(list_->RowCount());
    LowerProcessPriority();
    // A run that ended while every icon was shown left the values behind.
    PutBackEveryIconReporting(false);
    RegisterShowEveryIconHotKey();
}

void MainWindow::WireHandlers()
{
    auto on = [this](std::wstring_view item, std::function<void()> handler) {
        Get<ui::MenuItem>(item).onClick = [handler = std::move(handler)](ui::MenuItem&) { handler(); };
    };
    on(L"ShowMainFormTrayMenu", [this] { ShowFromTray(); });
    on(L"IconSmallMenu", [this] { SetIconSize(IconSize::Small); });
    on(L"IconBigMenu", [this] { SetIconSize(IconSize::Large); });
    on(L"DelOldIconMenu", [this] { DeleteDuplicateEntries(); });
    on(L"DelNonExistentFilesMenu", [this] { DeleteEntriesOfMissingPrograms(); });
    on(L"RestartExplorerMenu", [this] { RestartExplorer(); });
    on(L"ShowEveryIconMenu", [this] { ToggleShowEveryIcon(); });
    on(L"RefreshListMenu", [this] {
        ReleaseMenuButton();
        ReloadList();
    });
    on(L"MoveUpMenu", [this] { MoveSelectedInOrder(-1); });
    on(L"MoveDownMenu", [this] { MoveSelectedInOrder(+1); });
    on(L"OptionMenu", [this] { OpenDialog(services_.openSettings); });
    on(L"CheckUpdateMenu", [this] { OpenDialog(services_.openUpdate); });
    on(L"AboutMenu", [this] { OpenDialog(services_.openAbout); });
    on(L"CloseTrayMenu", [this] { Exit(); });
    on(L"OpenFolderMenu", [this] { RevealSelectedEntry(); });
    on(L"DeleteIconMenu", [this] { DeleteSelectedEntry(); });
    on(L"ShowAllMenu", [this] { CheckAll(true); });
    on(L"HideAllMenu", [this] { CheckAll(false); });
    for (const RuleItems& items : {kEntryRuleItems, kGeneralRuleItems}) {
        on(items.show, [this] { SetRuleOfSelected(RuleAction::Show); });
        on(items.hide, [this] { SetRuleOfSelected(RuleAction::Hide); });
        on(items.none, [this] { SetRuleOfSelected(std::nullopt); });
    }
    for (const ThemeItem& theme : kThemeItems) {
        on(theme.item, [this, choice = theme.theme] { SetTheme(choice); });
    }
    refresh_.onPassFailed = [this](const Error& error) {
        {
            const std::lock_guard lock(refreshErrorMutex_);
            refreshError_ = error;
        }
        PostFromWorker(ui::WM_APP_REFRESHFAILED);
    };
    Get<ui::PopupMenu>(L"PopupMenuIcon").onPopup = [this] { PrepareEntryMenu(); };

    menuButton_->onClick = [this] { OpenGeneralMenuFromButton(); };
    tray_->onMouseMove = [this] { UpdateTrayHint(); };
    tray_->onDblClick = [this] { ToggleFromTray(); };
    tray_->onSelect = [this] { ShowFromTray(); };
    tray_->onRightClick = [this](POINT point) { OpenTrayMenu(point); };
    list_->onItemChecked = [this](int row) { OnEntryChecked(row); };
    list_->onImageNeeded = [this](const ui::ListRow& row) {
        const IconEntry* entry = EntryOf(row);
        if (entry == nullptr) {
            return -1;
        }
        try {
            return icons_.Find(*entry).value_or(-1);
        } catch (...) {
            return -1; // the row goes without its icon
        }
    };
    list_->onKeyDown = [this](WORD key, bool& handled) {
        if (key == VK_DELETE && list_->Selected() >= 0) {
            DeleteSelectedEntry();
            handled = true;
        }
    };
    list_->describeRowState = [this](int row) {
        return Message(list_->Row(row).checked ? L"LangRowShown" : L"LangRowHidden");
    };
    list_->onAltKeyDown = [this](WORD key, bool& handled) {
        if ((key == VK_UP || key == VK_DOWN) && list_->Selected() >= 0) {
            ui::application::ReportingErrors([this, key] { MoveSelectedInOrder(key == VK_UP ? -1 : +1); });
            handled = true;
        }
    };
    list_->onContextMenu = [this](POINT point) { Get<ui::PopupMenu>(L"PopupMenuIcon").Popup(Handle(), point); };
    onShow = [this] { ReloadList(); };
    // Names in the list come from the language too.
    languages_->onLanguageChosen = [this] { ReloadList(); };
}

void MainWindow::ShowAtStart()
{
    if (options_.startToTray) {
        return;
    }
    ::ShowWindow(Handle(), options_.window.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    ::SetForegroundWindow(Handle());
}

// The list

void MainWindow::LoadEntries()
{
    status_->SetStatusText(L"");
    // The language file is read once for the whole load.
    const IniFile language = ReadActiveLanguageFile(paths_());

    const PromotionWatcher::Hold hold(refresh_); // a pass waits until the rows are read
    list_->BeginUpdate();
    loading_ = true;
    IconListLoad load;
    try {
        list_->Clear();
        load = ReadNotifyIconEntries(language);
        for (IconEntry& entry : load.entries) {
            ui::ListRow row{entry.displayName, ui::ListRow::kImageOnDemand, {entry.company, entry.executablePath},
                            entry.promoted};
            row.data = std::move(entry);
            list_->AddRow(std::move(row));
        }
    } catch (...) {
        list_->EndUpdate();
        loading_ = false;
        throw;
    }
    list_->EndUpdate();
    loading_ = false;
    ::InvalidateRect(list_->Handle(), nullptr, TRUE);

    if (!load.listed) {
        SetStatusCount(0);
        return;
    }
    if (list_->RowCount() > 0) {
        list_->AutoSizeColumns(kMinimumColumnWidth);
    }
    SetStatusCount(list_->RowCount());
}

void MainWindow::ReloadList()
{
    LoadEntries();
    ShowRules();
    if (list_->RowCount() > 0) {
        SortList();
    }
    // Rules made by the command line while nothing was watched start the
    // worker now.
    if (!refresh_.Running() && (!rules_.Rules().Empty() || !organisation_->rules.empty())) {
        ApplyRefreshPolicy();
    }
}

void MainWindow::PostReload()
{
    if (!reloadPosted_) {
        reloadPosted_ = ::PostMessageW(Handle(), ui::WM_APP_RELOADLIST, 0, 0) != FALSE;
    }
}

void MainWindow::SortList()
{
    try {
        list_->Sort([](const ui::ListRow& a, const ui::ListRow& b) {
            const IconEntry* entryA = EntryOf(a);
            const IconEntry* entryB = EntryOf(b);
            return entryA != nullptr && entryB != nullptr ? CompareIconEntries(*entryA, *entryB) : 0;
        });
    } catch (...) {
        // The rows stay in load order.
    }
}

std::wstring MainWindow::RowKey(int row) const
{
    const IconEntry* entry = EntryOf(list_->Row(row));
    return entry != nullptr ? entry->keyName : std::wstring();
}

int MainWindow::FindRowByKey(std::wstring_view key) const
{
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (RowKey(row) == key) {
            return row;
        }
    }
    return -1;
}

void MainWindow::OnEntryChecked(int row)
{
    if (loading_) {
        return;
    }
    const std::wstring key = RowKey(row);
    if (key.empty()) {
        return;
    }
    const std::wstring caption = list_->Row(row).caption;
    const bool checked = list_->Row(row).checked;
    // The organisation's rule is not the user's to change: the tick goes back.
    if (const std::optional<RuleAction> held = OrganisationRuleOfRow(row);
        !applyingRules_ && held && checked != (*held == RuleAction::Show)) {
        applyingRules_ = true;
        list_->SetChecked(row, !checked);
        applyingRules_ = false;
        return;
    }
    if (!applyingRules_) {
        FollowTickWithRule(row, checked);
    }
    bool written = false;
    try {
        written = WriteIsPromoted(key, checked);
    } catch (const Error& error) {
        throw InContext(FormatText(Message(L"LangIconNotChanged"), caption), error);
    }
    if (!written) {
        // Explorer or the user removed the entry: nothing is written, and the
        // list is read again once this notification is over.
        PostReload();
        return;
    }
    if (auto* entry = std::any_cast<IconEntry>(&list_->Data(row))) {
        entry->promoted = checked;
        entry->hasIsPromoted = true;
    }
}

void MainWindow::FollowTickWithRule(int row, bool checked)
{
    // A rule would undo the tick at the next pass: the tick says what the
    // user wants for this app from now on, so the rule follows it. It is
    // saved before the entry is written, so no pass sees the new value
    // under the old rule.
    const IconEntry* entry = EntryOf(list_->Row(row));
    if (entry == nullptr) {
        return;
    }
    RefreshRules();
    const std::optional<AppIdentity> app = AppOf(*entry);
    const std::optional<RuleAction> rule = app ? rules_.Rules().ActionFor(*app) : std::nullopt;
    const RuleAction wanted = checked ? RuleAction::Show : RuleAction::Hide;
    if (!rule || *rule == wanted) {
        return;
    }
    const std::wstring name = entry->displayName;
    try {
        SetAppRule(*app, wanted);
    } catch (...) {
        // The rule stays, and so does the row.
        applyingRules_ = true;
        list_->SetChecked(row, !checked);
        applyingRules_ = false;
        throw;
    }
    status_->SetStatusText(FormatText(Message(checked ? L"LangRuleNowShow" : L"LangRuleNowHide"), name));
}

void MainWindow::CheckAll(bool checked)
{
    RefreshRules();
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (!RuleOfRow(row)) {
            list_->SetChecked(row, checked);
        }
    }
}

// Per-app rules

std::wstring MainWindow::RulesPath() const
{
    return RulesPathBeside(paths_().settingsFile);
}

bool MainWindow::RefreshRules()
{
    if (std::wstring path = RulesPath(); path != rules_.Path()) {
        rules_ = RulesFileFollower(std::move(path));
    }
    const bool changed = rules_.Refresh();
    // Held open by another program for a while: tried again, less often the
    // longer it lasts; a change in the folder tries at once.
    if (rules_.ReadFailed() && Handle() != nullptr) {
        rulesRetryMs_ = rulesRetryMs_ == 0 ? 250 : std::min<UINT>(rulesRetryMs_ * 2, 30'000);
        ::SetTimer(Handle(), kRulesRetryTimer, rulesRetryMs_, nullptr);
    } else if (!rules_.ReadFailed() && rulesRetryMs_ != 0) {
        rulesRetryMs_ = 0;
        ::KillTimer(Handle(), kRulesRetryTimer);
    }
    return changed;
}

void MainWindow::FollowRulesFile()
{
    rulesChangePosted_ = false;
    const bool rulesChanged = RefreshRules();
    const bool policiesChanged = RefreshPolicies();
    if (!rulesChanged && !policiesChanged) {
        return;
    }
    ApplyRefreshPolicy();
    if (::IsWindowVisible(Handle()) || policiesChanged) {
        ShowRules();
    }
    if (policiesChanged && services_.policiesChanged) {
        services_.policiesChanged();
    }
}

bool MainWindow::RefreshPolicies()
{
    Policies read = ReadPolicies();
    if (read.SameEffect(policies_) && read.problems == policies_.problems) {
        return false;
    }
    organisation_ = std::make_shared<OrganisationPolicy>(OrganisationPolicyFrom(read));
    policies_ = std::move(read);
    return true;
}

std::optional<RuleAction> MainWindow::OrganisationRuleOfRow(int row) const
{
    const IconEntry* entry = EntryOf(list_->Row(row));
    if (entry == nullptr || organisation_->rules.empty()) {
        return std::nullopt;
    }
    const std::optional<AppIdentity> app = AppOf(*entry);
    return app ? organisation_->ActionFor(*app) : std::nullopt;
}

std::optional<RuleAction> MainWindow::RuleOfRow(int row) const
{
    if (const std::optional<RuleAction> organisations = OrganisationRuleOfRow(row)) {
        return organisations;
    }
    const IconEntry* entry = EntryOf(list_->Row(row));
    if (entry == nullptr || rules_.Rules().Empty()) {
        return std::nullopt;
    }
    const std::optional<AppIdentity> app = AppOf(*entry);
    return app ? rules_.Rules().ActionFor(*app) : std::nullopt;
}

void MainWindow::PrepareRuleItems(bool generalMenu)
{
    const RuleItems& items = generalMenu ? kGeneralRuleItems : kEntryRuleItems;
    ui::MenuItem& show = Get<ui::MenuItem>(items.show);
    ui::MenuItem& hide = Get<ui::MenuItem>(items.hide);
    ui::MenuItem& none = Get<ui::MenuItem>(items.none);
    RefreshRules();
    const int row = list_->Selected();
    const IconEntry* entry = row >= 0 ? EntryOf(list_->Row(row)) : nullptr;
    const bool hasApp = entry != nullptr && AppOf(*entry).has_value();
    const std::optional<RuleAction> rule = hasApp ? RuleOfRow(row) : std::nullopt;
    const bool organisations = hasApp && OrganisationRuleOfRow(row).has_value();
    for (ui::MenuItem* item : {&show, &hide, &none}) {
        item->SetEnabled(hasApp && !organisations);
    }
    show.SetChecked(hasApp && rule == RuleAction::Show);
    hide.SetChecked(hasApp && rule == RuleAction::Hide);
    none.SetChecked(hasApp && !rule);
}

void MainWindow::SetRuleOfSelected(std::optional<RuleAction> action)
{
    ReleaseMenuButton();
    const int row = list_->Selected();
    const IconEntry* entry = row >= 0 ? EntryOf(list_->Row(row)) : nullptr;
    if (entry == nullptr) {
        return;
    }
    if (const std::optional<AppIdentity> app = AppOf(*entry)) {
        SetAppRule(*app, action);
    }
}

void MainWindow::SetAppRule(const AppIdentity& app, std::optional<RuleAction> action)
{
    // Read, changed and written at once, so rules the command line set
    // meanwhile stay.
    const std::wstring path = RulesPath();
    try {
        AppRules rules = LoadRules(path);
        if (rules.Set(app, action)) {
            SaveRules(rules, path);
        }
    } catch (const Error& error) {
        throw InContext(FormatText(Message(L"LangRulesNotSaved"), path), error);
    }
    RefreshRules();
    ShowRules();
    ApplyRefreshPolicy();
}

void MainWindow::ShowRules()
{
    RefreshRules();
    const bool wasApplying = applyingRules_;
    applyingRules_ = true;
    try {
        for (int row = 0; row < list_->RowCount(); ++row) {
            const IconEntry* entry = EntryOf(list_->Row(row));
            if (entry == nullptr) {
                continue;
            }
            const std::optional<RuleAction> rule = RuleOfRow(row);
            std::wstring caption = entry->displayName;
            if (OrganisationRuleOfRow(row)) {
                caption = FormatText(
                    Message(*rule == RuleAction::Show ? L"LangPolicyShowMark" : L"LangPolicyHideMark"), caption);
            } else if (rule) {
                caption = FormatText(Message(*rule == RuleAction::Show ? L"LangRuleShowMark" : L"LangRuleHideMark"),
                                     caption);
            }
            if (caption != list_->Row(row).caption) {
                list_->SetCaption(row, caption);
            }
            // The entry follows its rule now, not at the worker's next pass
            // (which may not run at all while nothing changes).
            // Not while every icon is shown for now: that wins until it ends.
            if (rule && !ShowEveryIconActive() && list_->Row(row).checked != (*rule == RuleAction::Show)) {
                list_->SetChecked(row, *rule == RuleAction::Show);
            }
        }
    } catch (...) {
        applyingRules_ = wasApplying;
        throw;
    }
    applyingRules_ = wasApplying;
}

// The "≡" button and the menus

void MainWindow::ReleaseMenuButton()
{
    menuMarked_ = false;
    menuButton_->SetDown(false);
}

void MainWindow::SetGeneralMenuOpening(bool fromButton)
{
    Get<ui::MenuItem>(L"ShowEveryIconMenu").SetChecked(ShowingEveryIcon(ShowEveryIconStatePath()));
    for (const std::wstring_view item : kButtonOnlyItems) {
        Get<ui::MenuItem>(item).SetVisible(fromButton);
    }
    for (const std::wstring_view item : kTrayOnlyItems) {
        Get<ui::MenuItem>(item).SetVisible(!fromButton);
    }
    Get<ui::MenuItem>(L"CheckUpdateMenu").SetEnabled(!policies_.disableSelfUpdate);
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
    menuButton_->SetDown(true);
    ui::application::ProcessMessages();
    RECT button;
    ::GetWindowRect(menuButton_->Handle(), &button);
    SetGeneralMenuOpening(true);
    PrepareRuleItems(true);
    Get<ui::PopupMenu>(L"PopupMenu_General").Popup(Handle(), POINT{button.right, button.bottom},
                                                    TPM_RIGHTALIGN | TPM_TOPALIGN);
    // A menu dismissed without a command leaves the button marked: the next
    // click only releases it.
    if (menuMarked_) {
        menuButton_->SetDown(true);
    }
}

void MainWindow::PrepareEntryMenu()
{
    Get<ui::MenuItem>(L"DeleteIconMenu").SetEnabled(list_->Selected() >= 0);
    // Movable when the taskbar's order holds the row's icon.
    bool movable = false;
    if (const int row = list_->Selected(); row >= 0) {
        try {
            const std::optional<IconId> id = IconIdFromKeyName(RowKey(row));
            const StoredIconOrder stored = ReadIconOrder();
            movable = id && stored.binary && stored.ids &&
                      std::find(stored.ids->begin(), stored.ids->end(), *id) != stored.ids->end();
        } catch (const Error&) {
            movable = false;
        }
    }
    Get<ui::MenuItem>(L"MoveUpMenu").SetEnabled(movable);
    Get<ui::MenuItem>(L"MoveDownMenu").SetEnabled(movable);
    PrepareRuleItems(false);
}

void MainWindow::DeleteSelectedEntry()
{
    const int row = list_->Selected();
    if (row < 0) {
        return;
    }
    // The question runs a message loop in which the list may be reloaded: keep
    // what names the entry, not the row.
    const std::wstring caption = list_->Row(row).caption;
    const std::wstring key = RowKey(row);
    const std::wstring question = Message(L"LangDeleteRegistryKey") + L"\r\n\"" + caption + L"\"?";
    if (ui::application::MessageBoxOnScreenCentre(Handle(), question, kApplicationTitle, MB_YESNO | MB_ICONWARNING) !=
        IDYES) {
        return;
    }
    if (key.empty()) {
        return;
    }
    try {
        DeleteRegistryKey(key);
    } catch (const Error& error) {
        throw InContext(FormatText(Message(L"LangEntryNotDeleted"), caption), error);
    }
    if (const int current = FindRowByKey(key); current >= 0) {
        list_->DeleteRow(current);
    }
    SayDeletedUntilExplorerRestarts();
}

void MainWindow::RevealSelectedEntry()
{
    const int row = list_->Selected();
    if (row < 0) {
        return;
    }
    if (const IconEntry* entry = EntryOf(list_->Row(row))) {
        RevealInExplorer(entry->executablePath);
    }
    ui::application::ProcessMessages();
}

void MainWindow::SetIconSize(IconSize size)
{
    ReleaseMenuButton();
    options_.iconSize = size;
    AttachIconImages(size == IconSize::Large);
    Get<ui::MenuItem>(size == IconSize::Large ? L"IconBigMenu" : L"IconSmallMenu").SetChecked(true);
    ui::application::ProcessMessages();
}

void MainWindow::DeleteDuplicateEntries()
{
    ReleaseMenuButton();
    if (CleanupNotifyIconSettingsDuplicates()) {
        ReloadList();
        SayDeletedUntilExplorerRestarts();
    }
}

void MainWindow::DeleteEntriesOfMissingPrograms()
{
    ReleaseMenuButton();
    std::vector<IconEntry> entries;
    entries.reserve(static_cast<size_t>(list_->RowCount()));
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (const IconEntry* entry = EntryOf(list_->Row(row))) {
            entries.push_back(*entry);
        }
    }
    if (CleanupNotifyIconSettingsNonExistentFiles(entries)) {
        ReloadList();
        SayDeletedUntilExplorerRestarts();
    }
}

void MainWindow::SayDeletedUntilExplorerRestarts()
{
    status_->SetStatusText(Message(L"LangElements") + L" " + std::to_wstring(list_->RowCount()) + L". " +
                           Message(L"LangAfterExplorerRestart"));
}

void MainWindow::RestartExplorer()
{
    ReleaseMenuButton();
    const std::optional<ShellProcess> shell = FindShellProcess();
    const HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    const ShellRestart restart = shell ? RestartShell(*shell) : ShellRestart{ShellRestartOutcome::Failed, ERROR_NOT_FOUND};
    ::SetCursor(previous);
    if (restart.outcome == ShellRestartOutcome::Failed) {
        throw InContext(Message(L"LangExplorerNotRestarted"), Error(restart.error));
    }
    status_->SetStatusText(Message(L"LangExplorerRestarted"));
}

std::wstring MainWindow::FileBesideSettings(std::wstring_view name) const
{
    const std::wstring settings = paths_().settingsFile;
    const size_t separator = settings.find_last_of(L"\\/");
    return (separator == std::wstring::npos ? std::wstring() : settings.substr(0, separator + 1)) + std::wstring(name);
}

std::wstring MainWindow::ShowEveryIconStatePath() const
{
    return FileBesideSettings(kShowEveryIconStateName);
}

void MainWindow::MoveSelectedInOrder(int delta)
{
    const int row = list_->Selected();
    if (row < 0) {
        return;
    }
    const std::optional<IconId> id = IconIdFromKeyName(RowKey(row));
    try {
        const StoredIconOrder stored = ReadIconOrder();
        const std::vector<IconId>* ids = stored.binary && stored.ids ? &*stored.ids : nullptr;
        if (!id || ids == nullptr || std::find(ids->begin(), ids->end(), *id) == ids->end()) {
            status_->SetStatusText(Message(L"LangOrderNotKept"));
            return;
        }
        std::vector<IconId> order = *ids;
        // At either end it stays where it is.
        if (std::optional<std::vector<IconId>> moved = MoveIcon(order, *id, delta)) {
            ChangeIconOrder(*moved, FileBesideSettings(kIconOrderBackupName));
            order = std::move(*moved);
        }
        const auto place = std::find(order.begin(), order.end(), *id) - order.begin() + 1;
        status_->SetStatusText(FormatText(Message(L"LangOrderPosition"),
                                          std::to_wstring(place) + L"/" + std::to_wstring(order.size())));
    } catch (const Error& error) {
        throw InContext(Message(L"LangOrderNotChanged"), error);
    }
}

void MainWindow::ToggleShowEveryIcon()
{
    ReleaseMenuButton();
    const std::wstring state = ShowEveryIconStatePath();
    const bool showing = ShowingEveryIcon(state);
    {
        // No pass writes between the reading and the writing.
        const PromotionWatcher::Hold hold(refresh_);
        try {
            if (showing) {
                PutBackEveryIcon(state);
            } else {
                ShowEveryIcon(state);
            }
        } catch (const Error& error) {
            throw InContext(Message(L"LangEveryIconNotChanged"), error);
        }
    }
    if (Visible()) {
        ReloadList();
    }
    status_->SetStatusText(Message(showing ? L"LangEveryIconPutBack" : L"LangEveryIconShown"));
}

void MainWindow::PutBackEveryIconReporting(bool quietly)
{
    const std::wstring state = ShowEveryIconStatePath();
    if (!ShowingEveryIcon(state)) {
        return;
    }
    try {
        const PromotionWatcher::Hold hold(refresh_);
        PutBackEveryIcon(state);
    } catch (const Error& error) {
        if (!quietly) {
            ui::application::ShowError(InContext(Message(L"LangEveryIconNotChanged"), error).message());
        }
    }
}

bool MainWindow::RegisterShowEveryIconHotKey()
{
    if (hotKeyRegistered_) {
        ::UnregisterHotKey(Handle(), kShowEveryIconHotKeyId);
        hotKeyRegistered_ = false;
    }
    const WORD value = options_.showEveryIconHotKey;
    if (value == 0 || LOBYTE(value) == 0) {
        return true;
    }
    if (!::RegisterHotKey(Handle(), kShowEveryIconHotKeyId, HotKeyModifiers(value), LOBYTE(value))) {
        status_->SetStatusText(FormatText(Message(L"LangHotKeyTaken"), ui::HotKeyText(value)));
        return false;
    }
    hotKeyRegistered_ = true;
    return true;
}

void MainWindow::OpenDialog(const std::function<void()>& open)
{
    ReleaseMenuButton();
    if (open) {
        open();
    }
}

// The notification-area icon

void MainWindow::SetTrayImage(int index)
{
    trayImage_ = index;
    tray_->SetIcon(trayImages_[index].get());
}

void MainWindow::UpdateTrayImage()
{
    try {
        if (options_.colourTrayIcon) {
            SetTrayImage(2);
        } else {
            SetTrayImage(IsSystemLightTheme() ? 0 : 1);
        }
        ui::application::ProcessMessages();
    } catch (...) {
        // The icon keeps its image.
    }
}

void MainWindow::UpdateTrayHint()
{
    std::wstring hint = GetFileDescription(OwnExecutablePath()) + L"\r" + ProgramVersionText() + L" " +
                        ArchitectureLabel();
    if (PortableMode()) {
        hint += L"\r Portable";
    }
    tray_->SetHint(hint);
    ui::application::ProcessMessages();
    SetGeneralMenuOpening(false);
}

void MainWindow::ToggleFromTray()
{
    if (Visible()) {
        HideToTray();
        return;
    }
    ShowFromTray();
}

void MainWindow::ShowFromTray()
{
    // Back with a taskbar button and an Alt+Tab entry.
    RemoveExStyle(Handle(), WS_EX_TOOLWINDOW);
    if (pendingMaximize_) {
        pendingMaximize_ = false;
        ::ShowWindow(Handle(), SW_SHOWMAXIMIZED);
    } else if (!Visible()) {
        Show();
    }
    ::SetWindowPos(Handle(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
    if (::IsIconic(Handle())) {
        ::ShowWindow(Handle(), SW_RESTORE);
    }
    ::BringWindowToTop(Handle());
    ::SetForegroundWindow(Handle());
}

void MainWindow::OpenTrayMenu(POINT screenPoint)
{
    // Opened from the icon, by the mouse or the keyboard: the tray's items.
    SetGeneralMenuOpening(false);
    ::SetForegroundWindow(Handle());
    ui::application::ProcessMessages();
    Get<ui::PopupMenu>(L"PopupMenu_General").Popup(Handle(), screenPoint, TPM_RIGHTALIGN | TPM_BOTTOMALIGN);
}

// Themes and the refresh timer

void MainWindow::SetTheme(ThemeChoice theme)
{
    ReleaseMenuButton();
    options_.theme = theme;
    for (const ThemeItem& item : kThemeItems) {
        Get<ui::MenuItem>(item.item).SetChecked(item.theme == theme);
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

void MainWindow::ApplyRefreshPolicy()
{
    // The worker's own copy of the rules, read again before each pass when
    // the file changed; the user-interface thread keeps rules_. It starts as
    // a copy of that, so a file another program holds open right now still
    // gives the rules read last.
    RefreshRules();
    auto rules = std::make_shared<RulesFileFollower>(rules_);
    const std::wstring rulesPath = RulesPath();
    const size_t separator = rulesPath.find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : rulesPath.substr(0, separator);
    if (!rulesFolder_.Running() || rulesFolder_.Folder() != folder) {
        rulesFolder_.Start(folder, [this] {
            if (!rulesChangePosted_.exchange(true)) {
                PostFromWorker(ui::WM_APP_RULESFOLDERCHANGED);
            }
        });
    }
    // The organisation's policies count whatever the refresh option says; a
    // change to them comes in as a change of the rules folder does.
    RefreshPolicies();
    policyWatch_.Start([this] {
        if (!rulesChangePosted_.exchange(true)) {
            PostFromWorker(ui::WM_APP_RULESFOLDERCHANGED);
        }
    });
    const NewIconPolicy policy = NewIconPolicyInForce(*organisation_, options_.newIconPolicy, options_.refreshList);
    // Neither a policy nor a rule to follow stops the worker: nothing is
    // watched in vain.
    if (!RuleForNewIconPolicy(policy) && rules->Rules().Empty() && organisation_->rules.empty()) {
        refresh_.Start(PromotionRule());
        return;
    }
    refresh_.Start(RuleForPolicyAndAppRules(policy, rules, organisation_), [rules] { return rules->Refresh(); });
}

void MainWindow::ReportRefreshFailure()
{
    std::optional<Error> error;
    {
        const std::lock_guard lock(refreshErrorMutex_);
        error.swap(refreshError_);
    }
    if (error) {
        ui::application::ShowError(InContext(Message(L"LangPolicyNotApplied"), *error).message());
    }
}

// Minimise, close, exit

void MainWindow::HideToTray()
{
    Hide();
    AddExStyle(Handle(), WS_EX_TOOLWINDOW);
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
    if (hotKeyRegistered_) {
        ::UnregisterHotKey(Handle(), kShowEveryIconHotKeyId);
        hotKeyRegistered_ = false;
    }
    // Whatever ends the program, the icons go back as they were; a failure
    // leaves the file for the next start.
    PutBackEveryIconReporting(true);
    rulesFolder_.Stop();
    policyWatch_.Stop();
    ::KillTimer(Handle(), kRulesRetryTimer);
    refresh_.Stop();
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
        iconsPosted_ = false;
        list_->RedrawVisibleRows();
        result = 0;
        return true;
    case ui::WM_APP_RULESFOLDERCHANGED:
        FollowRulesFile();
        result = 0;
        return true;
    case WM_TIMER:
        if (wParam != kRulesRetryTimer) {
            return false; // the form's own timers
        }
        ::KillTimer(Handle(), kRulesRetryTimer);
        FollowRulesFile();
        result = 0;
        return true;
    case ui::WM_APP_REFRESHFAILED:
        ReportRefreshFailure();
        result = 0;
        return true;
    case ui::WM_APP_RELOADLIST:
        reloadPosted_ = false;
        ReloadList();
        result = 0;
        return true;
    case ui::WM_APP_EXITPROGRAM:
        Exit();
        result = 0;
        return true;
    case WM_HOTKEY:
        if (wParam != kShowEveryIconHotKeyId) {
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
    result.maximized = maximized || pendingMaximize_;
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
