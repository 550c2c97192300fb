#include "shell/main_window.h"

#include "about/about_window.h"
#include "core/cleanup.h"
#include "core/error.h"
#include "core/file_info.h"
#include "core/icon_list.h"
#include "core/icon_store.h"
#include "forms/forms.h"
#include "i18n/ini_file.h"
#include "settings/settings_dialog.h"
#include "shell/settings_file.h"
#include "shell/startup.h"
#include "shell/theme_reader.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"
#include "ui/tray_icon.h"
#include "update/update_dialog.h"

#include <commctrl.h>

namespace merovane {

namespace {

// Sub-items of a row: the two shown columns, then the entry's key name and
// its promoted state as "True" / "False".
constexpr size_t kCompanyItem = 0;
constexpr size_t kPathItem = 1;
constexpr size_t kKeyItem = 2;
constexpr size_t kPromotedItem = 3;
constexpr int kMinimumColumnWidth = 200;

// Items shown only when the general menu opens from the button, and only
// when it opens from the notification-area icon.
constexpr std::wstring_view kButtonOnlyItems[] = {L"DelOldIconMenu", L"DelNonExistentFilesMenu", L"ViewMenu"};
constexpr std::wstring_view kTrayOnlyItems[] = {L"CloseTrayMenu", L"ShowMainFormTrayMenu", L"Name", L"Version"};

// Settings keys that mirror controls of the settings dialog, in the order
// they are saved.
constexpr std::wstring_view kSettingsDialogKeys[] = {
    option_key::CheckBoxColorTrayIcon, option_key::CheckBoxAutoUpdateList, option_key::RadioButtonSystem,
    option_key::RadioButtonViewNew,    option_key::RadioButtonHideNew,     option_key::CheckBoxToTray,
    option_key::CheckBoxAutostartToTray,
};
constexpr std::wstring_view kThemeItems[] = {option_key::ThemeAuto, option_key::ThemeLight, option_key::ThemeDark};

std::wstring PromotedText(bool promoted)
{
    return promoted ? L"True" : L"False";
}

void AddExStyle(HWND window, LONG_PTR style)
{
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) | style);
}

} // namespace

TForm1::TForm1(std::function<LocalePaths()> paths)
    : ui::Form(forms::Form1Definition()), paths_(std::move(paths))
{
}

TForm1::~TForm1() = default;

void TForm1::SetWindows(TForm8* about, TForm2* settings, TForm10* update)
{
    about_ = about;
    settings_ = settings;
    update_ = update;
}

std::wstring TForm1::Message(std::wstring_view item) const
{
    return FindComponent(item) != nullptr ? FindComponent(item)->Caption() : std::wstring();
}

void TForm1::SetStatusCount(int count)
{
    status_->SetStatusText(Message(L"LangElements") + L" " + std::to_wstring(count));
}

void TForm1::FormCreate()
{
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
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    SetTrayImage(0);
    tray_->Add();

    const std::wstring version = ProgramVersionText();
    SetCaption(MainWindowCaption(Caption(), version, ArchitectureLabel(), PortableMode()));
    Get<ui::MenuItem>(L"Version").SetCaption(version + L" " + ArchitectureLabel());
    Get<ui::MenuItem>(L"Name").SetCaption(GetFileDescription(OwnExecutablePath()));
    AttachSystemImageLists(list_->Handle());
    list_->SetMinimumColumnWidth(kMinimumColumnWidth); // also before the first load finds rows
    LoadNastr();
    languages_->LoadLanguage();
    languages_->Globload();
    if (startToTray_) {
        Hide();
        AddExStyle(Handle(), WS_EX_TOOLWINDOW);
        pendingMaximize_ = startMaximized_;
    }
    // A second start asks this window to show itself; it may run elevated
    // beside a normal start, so the request is let through.
    ::ChangeWindowMessageFilterEx(Handle(), ActivationMessage(), MSGFLT_ALLOW, nullptr);
    MarkAsMainWindow(Handle());
    SetStatusCount(list_->RowCount());
    LowerProcessPriority();
}

void TForm1::WireHandlers()
{
    auto on = [this](std::wstring_view item, void (TForm1::*handler)()) {
        Get<ui::MenuItem>(item).onClick = [this, handler](ui::MenuItem&) { (this->*handler)(); };
    };
    on(L"ShowMainFormTrayMenu", &TForm1::ShowMainFormTrayMenuClick);
    on(L"IconSmallMenu", &TForm1::IconSmallMenuClick);
    on(L"IconBigMenu", &TForm1::IconBigMenuClick);
    on(L"DelOldIconMenu", &TForm1::DelOldIconMenuClick);
    on(L"DelNonExistentFilesMenu", &TForm1::DelNonExistentFilesMenuClick);
    on(L"OptionMenu", &TForm1::OptionMenuClick);
    on(L"CheckUpdateMenu", &TForm1::CheckUpdateMenuClick);
    on(L"AboutMenu", &TForm1::AboutMenuClick);
    on(L"CloseTrayMenu", &TForm1::CloseTrayMenuClick);
    on(L"OpenFolderMenu", &TForm1::OpenFolderMenuClick);
    on(L"DeleteIconMenu", &TForm1::DeleteIconMenuClick);
    Get<ui::MenuItem>(L"ShowAllMenu").onClick = [this](ui::MenuItem&) { CheckAll(true); };
    Get<ui::MenuItem>(L"HideAllMenu").onClick = [this](ui::MenuItem&) { CheckAll(false); };
    on(L"ThemeAuto", &TForm1::ThemeAutoClick);
    on(L"ThemeLight", &TForm1::ThemeLightClick);
    on(L"ThemeDark", &TForm1::ThemeDarkClick);
    Get<ui::Timer>(L"Timer2").onTimer = [this] { Timer2Timer(); };
    Get<ui::PopupMenu>(L"PopupMenuIcon").onPopup = [this] { PopupMenuIconPopup(); };

    menuButton_->onClick = [this] { SpeedButton_GeneralMenuClick(); };
    tray_->onMouseMove = [this] { TrayIcon1MouseMove(); };
    tray_->onDblClick = [this] { TrayIcon1DblClick(); };
    tray_->onSelect = [this] { ShowFromTray(); };
    tray_->onRightClick = [this](POINT point) { TrayIcon1RightClick(point); };
    list_->onItemChecked = [this](int row) { ListView1ItemChecked(row); };
    list_->onKeyDown = [this](WORD key, bool& handled) {
        if (key == VK_DELETE && list_->Selected() >= 0) {
            DeleteIconMenuClick();
            handled = true;
        }
    };
    list_->onContextMenu = [this](POINT point) { Get<ui::PopupMenu>(L"PopupMenuIcon").Popup(Handle(), point); };
    onShow = [this] { ReloadList(); };
    // Names in the list come from the language file too.
    languages_->onLanguageChosen = [this] { ReloadList(); };
}

void TForm1::ShowAtStart()
{
    if (startToTray_) {
        return;
    }
    ::ShowWindow(Handle(), startMaximized_ ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    ::SetForegroundWindow(Handle());
}

// The list

void TForm1::LoadNotifyIconSettingsWithUpdate()
{
    status_->SetStatusText(L"");
    // The settings and the language file are read once for the whole load.
    IniFile language;
    try {
        const LocalePaths paths = paths_();
        const std::wstring active = paths.ActiveLanguage();
        const std::wstring file = paths.LanguageFile(active);
        const DWORD attributes = ::GetFileAttributesW(file.c_str());
        if (!active.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            language = IniFile::Load(file);
        }
    } catch (const Error&) {
        // An unreadable language file names nothing; the other sources answer.
    }

    list_->BeginUpdate();
    FLoading = true;
    IconListLoad load;
    try {
        list_->Clear();
        load = ReadNotifyIconEntries(language);
        for (IconEntry& entry : load.entries) {
            list_->AddRow({std::move(entry.displayName),
                           entry.iconIndex,
                           {std::move(entry.company), std::move(entry.executablePath), std::move(entry.keyName),
                            PromotedText(entry.promoted)},
                           entry.promoted});
        }
    } catch (...) {
        list_->EndUpdate();
        FLoading = false;
        throw;
    }
    list_->EndUpdate();
    FLoading = false;
    ::InvalidateRect(list_->Handle(), nullptr, TRUE);

    if (!load.listed) {
        SetStatusCount(0);
        return;
    }
    if (list_->RowCount() > 0) {
        list_->AutoSizeColumns(kMinimumColumnWidth);
    }
    ui::application::ProcessMessages();
    SetStatusCount(list_->RowCount());
}

void TForm1::ReloadList()
{
    LoadNotifyIconSettingsWithUpdate();
    if (list_->RowCount() > 0) {
        SortList();
    }
}

void TForm1::SortList()
{
    try {
        list_->Sort([](const ui::ListRow& a, const ui::ListRow& b) {
            return CompareIconRows(a.caption, a.subItems, b.caption, b.subItems);
        });
    } catch (...) {
        // The rows stay in load order.
    }
}

std::wstring TForm1::RowKey(int row) const
{
    const ui::ListRow& data = list_->Row(row);
    return data.subItems.size() > kKeyItem ? data.subItems[kKeyItem] : std::wstring();
}

int TForm1::FindRowByKey(std::wstring_view key) const
{
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (RowKey(row) == key) {
            return row;
        }
    }
    return -1;
}

void TForm1::ListView1ItemChecked(int row)
{
    if (FLoading) {
        return;
    }
    const ui::ListRow& data = list_->Row(row);
    const std::wstring key = RowKey(row);
    if (key.empty()) {
        return;
    }
    const bool checked = data.checked;
    bool written = false;
    try {
        written = WriteIsPromoted(key, checked);
    } catch (const Error& error) {
        throw InContext(FormatText(Message(L"LangIconNotChanged"), data.caption), error);
    }
    if (!written) {
        // Explorer or the user removed the entry: nothing is written, and the
        // list is read again once this notification is over.
        PostReload();
        return;
    }
    list_->SetSubItem(row, kPromotedItem, PromotedText(checked));
}

void TForm1::PostReload()
{
    if (!reloadPosted_) {
        reloadPosted_ = ::PostMessageW(Handle(), ui::WM_APP_RELOADLIST, 0, 0) != FALSE;
    }
}

void TForm1::CheckAll(bool checked)
{
    for (int row = 0; row < list_->RowCount(); ++row) {
        list_->SetChecked(row, checked);
    }
}

// The "≡" button and the menus

void TForm1::ReleaseMenuButton()
{
    menuMarker_ = false;
    menuButton_->SetDown(false);
}

void TForm1::SetGeneralMenuOpening(bool fromButton)
{
    for (const std::wstring_view item : kButtonOnlyItems) {
        Get<ui::MenuItem>(item).SetVisible(fromButton);
    }
    for (const std::wstring_view item : kTrayOnlyItems) {
        Get<ui::MenuItem>(item).SetVisible(!fromButton);
    }
}

void TForm1::SpeedButton_GeneralMenuClick()
{
    if (menuMarker_) {
        ReleaseMenuButton();
        ::EndMenu();
        ui::application::ProcessMessages();
        return;
    }
    menuMarker_ = true;
    menuButton_->SetDown(true);
    ui::application::ProcessMessages();
    RECT button;
    ::GetWindowRect(menuButton_->Handle(), &button);
    SetGeneralMenuOpening(true);
    Get<ui::PopupMenu>(L"PopupMenu_General").Popup(Handle(), POINT{button.right, button.bottom},
                                                    TPM_RIGHTALIGN | TPM_TOPALIGN);
    // A menu dismissed without a command leaves the button marked: the next
    // click only releases it.
    if (menuMarker_) {
        menuButton_->SetDown(true);
    }
}

void TForm1::PopupMenuIconPopup()
{
    Get<ui::MenuItem>(L"DeleteIconMenu").SetEnabled(list_->Selected() >= 0);
}

void TForm1::DeleteIconMenuClick()
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
    DeleteRegistryKey(key);
    if (const int current = FindRowByKey(key); current >= 0) {
        list_->DeleteRow(current);
        SetStatusCount(list_->RowCount());
    }
}

void TForm1::OpenFolderMenuClick()
{
    const int row = list_->Selected();
    if (row < 0) {
        return;
    }
    const ui::ListRow& data = list_->Row(row);
    if (data.subItems.size() > kPathItem) {
        RevealInExplorer(data.subItems[kPathItem]);
    }
    ui::application::ProcessMessages();
}

void TForm1::IconSmallMenuClick()
{
    ReleaseMenuButton();
    SetSystemIconSize(list_->Handle(), false);
    Get<ui::MenuItem>(L"IconSmallMenu").SetChecked(true);
    ui::application::ProcessMessages();
}

void TForm1::IconBigMenuClick()
{
    ReleaseMenuButton();
    SetSystemIconSize(list_->Handle(), true);
    Get<ui::MenuItem>(L"IconBigMenu").SetChecked(true);
    ui::application::ProcessMessages();
}

void TForm1::ShowMainFormTrayMenuClick()
{
    ShowFromTray();
}

void TForm1::DelOldIconMenuClick()
{
    ReleaseMenuButton();
    if (CleanupNotifyIconSettingsDuplicates()) {
        ReloadList();
    }
}

void TForm1::DelNonExistentFilesMenuClick()
{
    ReleaseMenuButton();
    std::vector<std::vector<std::wstring>> rows;
    rows.reserve(static_cast<size_t>(list_->RowCount()));
    for (int row = 0; row < list_->RowCount(); ++row) {
        rows.push_back(list_->Row(row).subItems);
    }
    if (CleanupNotifyIconSettingsNonExistentFiles(rows)) {
        ReloadList();
    }
}

void TForm1::OptionMenuClick()
{
    ReleaseMenuButton();
    if (settings_ != nullptr) {
        settings_->ShowModal();
    }
}

void TForm1::CheckUpdateMenuClick()
{
    ReleaseMenuButton();
    if (update_ != nullptr) {
        update_->ShowModal();
    }
}

void TForm1::AboutMenuClick()
{
    ReleaseMenuButton();
    if (about_ != nullptr) {
        about_->ShowModal();
    }
}

// The notification-area icon

void TForm1::SetTrayImage(int index)
{
    trayImage_ = index;
    tray_->SetIcon(trayImages_[index].get());
}

void TForm1::TrayIcon1MouseMove()
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

void TForm1::TrayIcon1DblClick()
{
    if (Visible()) {
        HideToTray();
        return;
    }
    ShowFromTray();
}

void TForm1::ShowFromTray()
{
    // Back with a taskbar button and an Alt+Tab entry.
    ::SetWindowLongPtrW(Handle(), GWL_EXSTYLE, ::GetWindowLongPtrW(Handle(), GWL_EXSTYLE) & ~WS_EX_TOOLWINDOW);
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

void TForm1::TrayIcon1RightClick(POINT screenPoint)
{
    // Opened from the icon, by the mouse or the keyboard: the tray's items.
    SetGeneralMenuOpening(false);
    ::SetForegroundWindow(Handle());
    ui::application::ProcessMessages();
    Get<ui::PopupMenu>(L"PopupMenu_General").Popup(Handle(), screenPoint, TPM_RIGHTALIGN | TPM_BOTTOMALIGN);
}

// Themes and the refresh timer

void TForm1::UnCheckTheme()
{
    for (const std::wstring_view theme : kThemeItems) {
        Get<ui::MenuItem>(theme).SetChecked(false);
    }
}

void TForm1::SelectStyle(bool first, std::wstring_view firstName, std::wstring_view secondName)
{
    const std::wstring_view name = first ? firstName : secondName;
    if (name == ui::kDarkStyleName) {
        ui::application::SetStyle(ui::Style::Dark);
    } else if (name == ui::kLightStyleName) {
        ui::application::SetStyle(ui::Style::Light);
    }
}

void TForm1::ThemeAutoClick()
{
    ReleaseMenuButton();
    UnCheckTheme();
    Get<ui::MenuItem>(L"ThemeAuto").SetChecked(true);
    SelectStyle(true, IsAppsDarkTheme() ? ui::kDarkStyleName : ui::kLightStyleName, L"");
}

void TForm1::ThemeLightClick()
{
    ReleaseMenuButton();
    UnCheckTheme();
    Get<ui::MenuItem>(L"ThemeLight").SetChecked(true);
    SelectStyle(true, ui::kLightStyleName, L"");
}

void TForm1::ThemeDarkClick()
{
    ReleaseMenuButton();
    UnCheckTheme();
    Get<ui::MenuItem>(L"ThemeDark").SetChecked(true);
    SelectStyle(true, ui::kDarkStyleName, L"");
}

void TForm1::Timer2Timer()
{
    if (settings_ == nullptr) {
        return;
    }
    try {
        if (settings_->Checked(option_key::RadioButtonViewNew)) {
            SetAllIsPromotedToOne();
            ui::application::ProcessMessages();
        }
        if (settings_->Checked(option_key::RadioButtonHideNew)) {
            SetAllIsPromotedToOff();
            ui::application::ProcessMessages();
        }
    } catch (const Error& error) {
        throw InContext(Message(L"LangPolicyNotApplied"), error);
    }
}

// Minimise, close, exit

void TForm1::HideToTray()
{
    Hide();
    AddExStyle(Handle(), WS_EX_TOOLWINDOW);
}

void TForm1::FormClose()
{
    SaveNastrOnClose();
    if (settings_ != nullptr && settings_->Checked(option_key::CheckBoxToTray)) {
        HideToTray();
        return;
    }
    Terminate();
}

void TForm1::CloseTrayMenuClick()
{
    SaveNastrOnClose();
    Terminate();
}

void TForm1::Terminate()
{
    tray_->Remove();
    ::DestroyWindow(Handle());
    ui::application::Terminate(0);
    if (onTerminate) {
        onTerminate();
    }
}

bool TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        tray_->Add(); // Explorer restarted: the icon is gone with the old taskbar
        return false;
    }
    if (message == ActivationMessage()) {
        ShowFromTray(); // a second start of the program
        result = 0;
        return true;
    }
    switch (message) {
    case ui::WM_APP_RELOADLIST:
        reloadPosted_ = false;
        ReloadList();
        result = 0;
        return true;
    case ui::WM_APP_TRAYICON:
        tray_->HandleCallback(wParam, lParam);
        result = 0;
        return true;
    case WM_SYSCOMMAND:
        // The whole value, as the system sends it for the minimise box.
        if (wParam == SC_MINIMIZE) {
            HideToTray();
            result = 0;
            return true;
        }
        return false;
    case WM_CLOSE:
        FormClose();
        result = 0;
        return true;
    case WM_QUERYENDSESSION:
        result = TRUE;
        return true;
    case WM_ENDSESSION:
        // The session ends without an Exit: save as Exit does, but silently,
        // since a box now would hold up the logoff.
        if (wParam != FALSE) {
            try {
                SaveNastr();
            } catch (...) {
                // Nothing can be reported any more.
            }
            tray_->Remove();
        }
        result = 0;
        return true;
    case WM_MOUSEMOVE:
        ReleaseMenuButton();
        result = 0;
        return true;
    case WM_SETTINGCHANGE:
        // Any setting may be the light or dark preference; it is not examined.
        if (Get<ui::MenuItem>(L"ThemeAuto").Checked()) {
            try {
                SelectStyle(true, IsAppsDarkTheme() ? ui::kDarkStyleName : ui::kLightStyleName, L"");
            } catch (...) {
                // The current look stays.
            }
            ui::application::ProcessMessages();
        }
        if (settings_ != nullptr) {
            settings_->CheckBoxColorTrayIconClick();
            ui::application::ProcessMessages();
        }
        result = 0;
        return true;
    default:
        return false;
    }
}

// Settings

void TForm1::LoadNastr()
{
    const std::wstring path = paths_().settingsFile;
    SettingsRead read = ReadSettingsAtStart(path);
    if (read.failure) {
        settingsReadFailure_ = InContext(FormatText(Message(L"LangSettingsNotRead"), path), *read.failure);
    }
    const IniFile& settings = read.settings;
    for (const std::wstring_view theme : kThemeItems) {
        auto& item = Get<ui::MenuItem>(theme);
        const bool on = ReadOption(settings, theme);
        if (on) {
            item.Click(); // checks it alone and applies its style
        } else {
            item.SetChecked(false);
        }
    }
    startToTray_ = ReadOption(settings, option_key::CheckBoxAutostartToTray);
    // Both set: large icons win. Neither: no check mark, small icons.
    const std::pair<std::wstring_view, void (TForm1::*)()> views[] = {
        {option_key::IconSmallMenu, &TForm1::IconSmallMenuClick},
        {option_key::IconBigMenu, &TForm1::IconBigMenuClick},
    };
    for (const auto& [key, handler] : views) {
        const bool on = ReadOption(settings, key);
        Get<ui::MenuItem>(key).SetChecked(on);
        if (on) {
            (this->*handler)();
        }
    }
    startMaximized_ = ReadWindowMaximized(settings);
    RECT window;
    ::GetWindowRect(Handle(), &window);
    const int height = ReadOptionInteger(settings, option_key::Height).value_or(window.bottom - window.top);
    const int width = ReadOptionInteger(settings, option_key::Width).value_or(window.right - window.left);
    // The stored size is the restored one, also under a maximised window; the
    // minimum size still holds.
    ::SetWindowPos(Handle(), nullptr, 0, 0, std::max(width, Scale(Definition().minWidth)),
                   std::max(height, Scale(Definition().minHeight)), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ::GetWindowRect(Handle(), &window);
    ::SetWindowPos(Handle(), nullptr, work.left + (work.right - work.left - (window.right - window.left)) / 2,
                   work.top + (work.bottom - work.top - (window.bottom - window.top)) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    optionsLoaded_ = true;
}

void TForm1::ReportStartupProblems()
{
    if (settingsReadFailure_ && !settingsReadFailureShown_) {
        settingsReadFailureShown_ = true;
        ui::application::ShowError(settingsReadFailure_->message());
    }
}

void TForm1::SaveNastr()
{
    // A file that could not be read at start holds the user's options as far
    // as anyone knows: the defaults in the controls must not replace them.
    if (settingsReadFailure_) {
        return;
    }
    // Only windows whose options were read write them back: an exit during
    // the start-up would otherwise store controls that still hold defaults.
    const bool dialogLoaded = settings_ != nullptr && settings_->OptionsLoaded();
    const bool updateLoaded = update_ != nullptr && update_->OptionsLoaded();
    if (!optionsLoaded_ && !dialogLoaded && !updateLoaded) {
        return;
    }
    const std::wstring path = paths_().settingsFile;
    try {
        IniFile settings = LoadSettings(path);
        if (updateLoaded) {
            WriteOption(settings, option_key::CheckBoxQuickUpdate, update_->Checked(option_key::CheckBoxQuickUpdate));
            WriteOption(settings, option_key::CheckBoxForceUpdate, update_->Checked(option_key::CheckBoxForceUpdate));
        }
        if (optionsLoaded_) {
            for (const std::wstring_view theme : kThemeItems) {
                WriteOption(settings, theme, Get<ui::MenuItem>(theme).Checked());
            }
            WriteOption(settings, option_key::IconSmallMenu, Get<ui::MenuItem>(L"IconSmallMenu").Checked());
            WriteOption(settings, option_key::IconBigMenu, Get<ui::MenuItem>(L"IconBigMenu").Checked());
        }
        if (dialogLoaded) {
            for (const std::wstring_view key : kSettingsDialogKeys) {
                WriteOption(settings, key, settings_->Checked(key));
            }
        }
        if (optionsLoaded_) {
            WriteWindowState(settings);
        }
        SaveSettings(settings, path);
    } catch (const Error& error) {
        throw InContext(FormatText(Message(L"LangSettingsNotSaved"), path), error);
    }
}

void TForm1::WriteWindowState(IniFile& settings) const
{
    // The placement knows the restored size and whether a minimised window
    // comes back maximised; a window started in the tray that was never shown
    // keeps the state it was started with. A maximised window leaves the
    // stored size alone: it is the size to restore to.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!::GetWindowPlacement(Handle(), &placement)) {
        return;
    }
    bool maximized = ::IsZoomed(Handle()) != FALSE;
    if (::IsIconic(Handle())) {
        maximized = (placement.flags & WPF_RESTORETOMAXIMIZED) != 0;
    }
    if (pendingMaximize_) {
        maximized = true;
    }
    if (maximized) {
        settings.WriteString(kOptionSection, option_key::Window, kWindowMaximized);
        return;
    }
    const RECT& normal = placement.rcNormalPosition;
    settings.WriteString(kOptionSection, option_key::Window, kWindowNormal);
    settings.WriteInteger(kOptionSection, option_key::Height, normal.bottom - normal.top);
    settings.WriteInteger(kOptionSection, option_key::Width, normal.right - normal.left);
}

bool TForm1::SettingsWritable() const noexcept
{
    return !settingsReadFailure_;
}

void TForm1::SaveNastrOnClose()
{
    try {
        SaveNastr();
    } catch (const Error& error) {
        ui::application::ShowError(error.message());
    }
}

void TForm1::LowerProcessPriority()
{
    if (FProcessPrioritySet) {
        return;
    }
    unique_handle process(::OpenProcess(PROCESS_SET_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!process) {
        return;
    }
    ::SetPriorityClass(process.get(), BELOW_NORMAL_PRIORITY_CLASS);
    FProcessPrioritySet = true;
}

} // namespace merovane
