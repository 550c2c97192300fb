#include "base/error.h"
#include "base/handles.h"
#include "support/dialogs.h"
#include "support/running_program.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace merovane {
namespace {

using test::RunningProgram;

std::wstring SettingsFileOfThePrefix()
{
    wchar_t appData[MAX_PATH]{};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    return std::wstring(appData) + L"\\Merovane Developers\\Merovane\\Config\\Option.ini";
}

TEST(Program, RunsOncePerLogonAndEndsWhenClosed)
{
    // A window that shows at start and closes for good.
    const std::wstring settings = SettingsFileOfThePrefix();
    std::filesystem::create_directories(std::filesystem::path(settings).parent_path());
    test::WriteFileBytes(settings, "[Option]\r\nCheckBoxAutostartToTray=0\r\nCheckBoxToTray=0\r\n");

    RunningProgram first;
    ASSERT_TRUE(first.Started());
    HWND window = first.WaitForMainWindow(std::chrono::seconds(60));
    ASSERT_NE(window, nullptr) << "the main window did not appear";
    wchar_t caption[128]{};
    ::GetWindowTextW(window, caption, 128);
    const std::wstring expected = std::wstring(L"Merovane ") + MEROVANE_EXPECTED_VERSION + L" " +
                                  (sizeof(void*) == 8 ? L"(64-bit)" : L"(32-bit)");
    EXPECT_EQ(std::wstring(caption), expected);

    RunningProgram second;
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitForExit(30'000), 0u);
    EXPECT_EQ(second.WaitForMainWindow(std::chrono::seconds(0)), nullptr);

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitForExit(30'000), 0u);
    std::ifstream saved(std::filesystem::path(settings), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Window=wsNormal"), std::string::npos);
}

// The running copy's main window, visible or not, or nullptr.
HWND FindMainWindowOf(DWORD process, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        HWND window = nullptr;
        while ((window = ::FindWindowExW(nullptr, window, L"TForm1", nullptr)) != nullptr) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == process) {
                return window;
            }
        }
        ::Sleep(100);
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
}

// Started again while it waits hidden in the notification area, the program
// brings the running copy's window forward instead of ending silently.
TEST(Program, ASecondStartShowsTheRunningCopysWindow)
{
    const std::wstring settings = SettingsFileOfThePrefix();
    std::filesystem::create_directories(std::filesystem::path(settings).parent_path());
    test::WriteFileBytes(settings, "[Option]\r\nCheckBoxAutostartToTray=1\r\nCheckBoxToTray=0\r\n");

    RunningProgram first;
    ASSERT_TRUE(first.Started());
    HWND hidden = FindMainWindowOf(first.Id(), std::chrono::seconds(60));
    ASSERT_NE(hidden, nullptr);
    ::Sleep(500); // until its start-up is through
    ASSERT_FALSE(::IsWindowVisible(hidden));

    RunningProgram second;
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitForExit(30'000), 0u);
    HWND shown = first.WaitForMainWindow(std::chrono::seconds(30));
    ASSERT_EQ(shown, hidden);
    EXPECT_EQ(::GetWindowLongPtrW(shown, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);

    ::PostMessageW(shown, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitForExit(30'000), 0u);
}

// An update's helper that gave up while the old copy still runs starts the
// program with the failure switch: the running copy tells the user.
TEST(Program, AFailedUpdateIsToldByTheRunningCopy)
{
    const std::wstring settings = SettingsFileOfThePrefix();
    std::filesystem::create_directories(std::filesystem::path(settings).parent_path());
    test::WriteFileBytes(settings, "[Option]\r\nCheckBoxAutostartToTray=1\r\nCheckBoxToTray=0\r\n");

    RunningProgram first;
    ASSERT_TRUE(first.Started());
    HWND window = FindMainWindowOf(first.Id(), std::chrono::seconds(60));
    ASSERT_NE(window, nullptr);
    ::Sleep(500); // until its start-up is through

    test::MessageBoxAnswer answer(IDOK, first.Id());
    RunningProgram second(RunningProgram::Path(), L"--update-failed " + std::to_wstring(WAIT_TIMEOUT));
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitForExit(30'000), 0u);
    ASSERT_TRUE(answer.Answered(30'000)) << "the running copy said nothing";
    EXPECT_NE(answer.Text().find(Error(WAIT_TIMEOUT).message()), std::wstring::npos) << ToUtf8(answer.Text());

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitForExit(30'000), 0u);
}

// Sets the build number the system reports to new processes, and puts the
// old one back afterwards.
class ReportedBuild {
public:
    explicit ReportedBuild(const wchar_t* build)
    {
        for (const wchar_t* name : {L"CurrentBuildNumber", L"CurrentBuild"}) {
            saved_.emplace_back(name, Read(name));
            Write(name, build);
        }
    }
    ~ReportedBuild()
    {
        for (const auto& [name, value] : saved_) {
            Write(name.c_str(), value.c_str());
        }
    }

private:
    static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
    static std::wstring Read(const wchar_t* name)
    {
        wchar_t value[64]{};
        DWORD size = sizeof(value);
        ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ, nullptr, value, &size);
        return value;
    }
    static void Write(const wchar_t* name, const wchar_t* value)
    {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, REG_SZ, value,
                          static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

TEST(Program, BeforeWindows11ItSaysSoAndEnds)
{
    ReportedBuild older(L"21999");
    RunningProgram program;
    ASSERT_TRUE(program.Started());
    test::MessageBoxAnswer answer(IDOK, program.Id());
    ASSERT_TRUE(answer.Answered(60'000)) << "no message appeared";
    EXPECT_EQ(answer.Title(), L"Ошибка");
    EXPECT_EQ(answer.Text(), L"Эта программа работает только на Windows 11.");
    EXPECT_EQ(program.WaitForExit(30'000), 0u);
}

} // namespace
} // namespace merovane
