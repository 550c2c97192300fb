// Shows the program's windows in a chosen style, for screenshots:
//   showcase.exe light|dark main|settings|menu|entrymenu
//   showcase.exe light|dark update <update server base URL>
// It runs the real start-up with a settings file of its own (the style and
// the English language file beside Merovane.exe), shows the main window and,
// for "settings", the settings dialog beside it, for "update" the update
// dialog checking the server given, for "menu" the general menu opened as
// Alt opens it, for "entrymenu" the list's menu as Shift+F10 opens it on the
// second row, and runs until closed.

#include "shell/program.h"
#include "base/settings_file.h"
#include "base/error.h"
#include "base/startup.h"
#include "ui/application.h"
#include "ui/list_view.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The demonstration's chat app always shown, its backup program always
// hidden (tools/demo/seed.sh installs both).
constexpr char kDemoRules[] = "[Rule1]\r\nFile=contoso-chat.exe\r\nCompany=Contoso, Ltd.\r\n"
                              "Folder=%LOCALAPPDATA%\\Contoso\\Chat\r\nAction=Show\r\n\r\n"
                              "[Rule2]\r\nFile=lwbackup.exe\r\nCompany=Litware, Inc.\r\n"
                              "Folder=%ProgramFiles%\\Litware\\Backup\r\nAction=Hide\r\n";

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) {
        return 2;
    }
    const std::wstring style = argv[1];
    const bool settings = std::wstring(argv[2]) == L"settings";
    const bool update = std::wstring(argv[2]) == L"update" && argc == 4;
    const bool generalMenu = std::wstring(argv[2]) == L"menu";
    const bool entryMenu = std::wstring(argv[2]) == L"entrymenu";
    const std::string updateServer = update ? merovane::ToUtf8(argv[3]) : std::string();
    ::LocalFree(argv);

    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    wchar_t temp[MAX_PATH + 1]{};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path folder = std::filesystem::path(temp) / L"merovane-showcase";
    std::filesystem::create_directories(folder);
    merovane::LocalePaths paths;
    paths.languageDirectory =
        (std::filesystem::path(merovane::OwnExecutablePath()).parent_path().parent_path() / L"bin" / L"Language")
            .wstring() + L"\\";
    paths.settingsFile = (folder / L"Option.ini").wstring();
    paths.missingKeysLog = (folder / L"Merovane.log").wstring();
    {
        std::ofstream out(folder / L"Option.ini", std::ios::binary | std::ios::trunc);
        out << "[Option]\r\n" << (style == L"dark" ? "ThemeDark=1\r\n" : "ThemeLight=1\r\n")
            << "CheckBoxAutoCheck=0\r\nRadioButtonViewNew=1\r\nCheckBoxColorTrayIcon=1\r\n"
            << "HotKeyShowEveryIcon=" << MAKEWORD('S', HOTKEYF_CONTROL | HOTKEYF_ALT) << "\r\n"
            << "[Language]\r\nLanguage=English\r\n";
        if (update) {
            out << "[Update]\r\nPrimaryServer=" << updateServer << "\r\nFallbackServer=" << updateServer << "\r\n";
        }
    }

    {
        // Two per-app rules, so the list shows rows under a rule.
        std::ofstream out(folder / L"Rules.ini", std::ios::binary | std::ios::trunc);
        out << kDemoRules;
    }

    merovane::Program program([paths] { return paths; });
    program.Start();
    program.Main().ShowAtStart();
    if (settings || update) {
        // Beside the main window rather than over it, and not modal, so both show.
        RECT main{};
        ::GetWindowRect(program.Main().Handle(), &main);
        ::SetWindowPos(program.Main().Handle(), nullptr, main.left - 200, main.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER);
        ::GetWindowRect(program.Main().Handle(), &main);
        merovane::ui::Form& second = update ? static_cast<merovane::ui::Form&>(program.Update())
                                            : static_cast<merovane::ui::Form&>(program.Settings());
        ::SetWindowPos(second.Handle(), HWND_TOP, main.right + 10, main.top, 0, 0, SWP_NOSIZE);
        second.Show();
    }
    if (generalMenu) {
        ::PostMessageW(program.Main().Handle(), WM_SYSCOMMAND, SC_KEYMENU, 0);
    }
    if (entryMenu) {
        HWND list = program.Main().Get<merovane::ui::ListView>(L"ListView1").Handle();
        ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ::PostMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
    }
    merovane::ui::application::Run();
    ::CoUninitialize();
    return 0;
}
