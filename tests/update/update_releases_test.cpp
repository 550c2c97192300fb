// A user's copy of one release updates itself to the next, as built by the
// tests' build (releases/current and releases/next: the same program with
// two version numbers, packed and signed like a release) and served on
// loopback. Real installers, real processes, the prefix's own profile.

#include "base/error.h"
#include "base/file_info.h"
#include "base/handles.h"
#include "package_fixtures.h"
#include "support/http_server.h"
#include "support/running_program.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>

namespace merovane {
namespace {

namespace fs = std::filesystem;
using test::Files;
using test::HttpServer;
using Clock = std::chrono::steady_clock;

const fs::path kReleases = test::TestBinaryDir().parent_path() / L"releases";
const std::string kBase = "/download/Merovane/";

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        ::Sleep(100);
    }
    return true;
}

std::wstring Version(const std::wstring& release)
{
    return FromUtf8(test::ReadAll(kReleases / release / L"dist" / L"version.txt"));
}

std::wstring AppData()
{
    wchar_t folder[MAX_PATH]{};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

std::wstring UninstallValue(const wchar_t* name)
{
    wchar_t value[512]{};
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Merovane", name,
                       RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

// The message box a program shows, once it is up.
HWND WaitForMessageBox(DWORD processId, std::chrono::seconds timeout)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = test::FindTopWindow(processId, L"#32770")) != nullptr; }, timeout);
    return found;
}

// The texts of the child windows of a program's window of `className`.
std::vector<std::wstring> ChildTexts(DWORD processId, const wchar_t* className)
{
    std::vector<std::wstring> texts;
    const HWND window = test::FindTopWindow(processId, className, false);
    if (window == nullptr) {
        return texts;
    }
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM parameter) -> BOOL {
            wchar_t text[512]{};
            ::SendMessageTimeoutW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                                  nullptr);
            reinterpret_cast<std::vector<std::wstring>*>(parameter)->push_back(text);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

class UpdateReleasesTest : public ::testing::Test {
protected:
    // The next release on loopback, as an update server holds it.
    void ServeNextRelease(const std::function<void(std::string&)>& tamperZip = {})
    {
        const fs::path dist = kReleases / L"next" / L"dist";
        for (const wchar_t* file : {L"version.txt", L"Merovane-setup.exe", L"Merovane-setup.exe.sig",
                                    L"Merovane.zip", L"Merovane.zip.sig"}) {
            std::string bytes = test::ReadAll(dist / file);
            ASSERT_FALSE(bytes.empty()) << ToUtf8(file);
            if (tamperZip && std::wstring_view(file) == L"Merovane.zip") {
                tamperZip(bytes);
            }
            server.ServeText(kBase + ToUtf8(file), bytes);
        }
    }

    // Settings that check for updates at start against the loopback server,
    // with a choice of the user's own that must survive the update.
    std::string UsersSettings() const
    {
        return "[Option]\r\nCheckBoxAutoCheck=1\r\nCheckBoxAutostartToTray=0\r\nCheckBoxToTray=0\r\n"
               "ThemeDark=1\r\n[Update]\r\nPrimaryServer=" +
               ToUtf8(server.BaseUrl()) + "\r\nFallbackServer=" + ToUtf8(server.BaseUrl()) + "\r\n";
    }

    // Starts a copy, answers Yes to its offer of the next version, and
    // returns it running.
    std::unique_ptr<test::RunningProgram> StartAndAcceptTheOffer(const std::wstring& program)
    {
        auto running = std::make_unique<test::RunningProgram>(program);
        EXPECT_TRUE(running->Started());
        HWND offer = WaitForMessageBox(running->Id(), std::chrono::seconds(60));
        EXPECT_NE(offer, nullptr) << "no offer of the next version";
        if (offer != nullptr) {
            ::PostMessageW(offer, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(offer, IDYES)));
        }
        return running;
    }

    // The new version's window, started from `program`, closed again.
    static void CloseTheNewCopy(const std::wstring& program)
    {
        HWND window = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (window = test::MainWindowOfProgramAt(program)) != nullptr; },
                              std::chrono::seconds(60)))
            << "the new version did not start";
        DWORD id = 0;
        ::GetWindowThreadProcessId(window, &id);
        const test::RunningProgram copy(id);
        test::CloseAsAnInstallerDoes(window);
        EXPECT_NE(copy.WaitForExit(20'000), STILL_ACTIVE);
    }

    HttpServer server;
};

TEST_F(UpdateReleasesTest, AnInstalledCopyUpdatesThroughTheNextInstaller)
{
    const std::wstring current = Version(L"current");
    const std::wstring next = Version(L"next");
    ASSERT_NE(current, next);
    ServeNextRelease();
    const std::wstring folder = L"C:\\merovane-update-test";
    const std::wstring program = folder + L"\\Merovane.exe";
    std::error_code ignored;
    fs::remove_all(folder, ignored);

    // The current release, installed as a user installs it.
    {
        const std::wstring installer = (kReleases / L"current" / L"dist" / L"Merovane-setup.exe").wstring();
        test::RunningProgram setup(installer, L"/SILENT /SUPPRESSMSGBOXES /D=" + folder);
        ASSERT_EQ(setup.WaitForExit(120'000), 0u);
    }
    ASSERT_EQ(GetFileVersionText(program), current);
    const std::wstring settings = AppData() + L"\\Merovane Developers\\Merovane\\Config\\Option.ini";
    fs::create_directories(fs::path(settings).parent_path());
    test::WriteFileBytes(settings, UsersSettings());

    const auto old = StartAndAcceptTheOffer(program);
    // The old copy ends, the installer puts the next release in its place
    // and starts it.
    EXPECT_NE(old->WaitForExit(60'000), STILL_ACTIVE);
    EXPECT_TRUE(WaitUntil([&] { return GetFileVersionText(program) == next; }, std::chrono::seconds(90)));
    CloseTheNewCopy(program);
    EXPECT_EQ(UninstallValue(L"DisplayVersion"), next);
    EXPECT_EQ(UninstallValue(L"InstallLocation"), folder);
    // The user's choices as they were.
    const std::string saved = test::ReadAll(settings);
    for (const char* line : {"CheckBoxAutoCheck=1", "ThemeDark=1", "PrimaryServer="}) {
        EXPECT_NE(saved.find(line), std::string::npos) << line << " missing from\n" << saved;
    }

    // And it uninstalls cleanly, keeping the settings.
    {
        test::RunningProgram uninstall(folder + L"\\Uninstall.exe", L"/S");
        EXPECT_EQ(uninstall.WaitForExit(60'000), 0u);
    }
    // The uninstaller runs on from a copy of itself; its entry goes last.
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(folder) && UninstallValue(L"DisplayVersion").empty(); },
                          std::chrono::seconds(30)));
    EXPECT_TRUE(fs::exists(settings));
    fs::remove(settings, ignored);
}

// The current release's ZIP unpacked as a user does, with the user's own
// settings and language file.
struct PortableCopy {
    test::TempDir temp;
    std::wstring folder = temp / L"Merovane Portable";
    std::wstring program = folder + L"\\Merovane.exe";
    Files usersFiles;

    explicit PortableCopy(const std::string& settings)
        : usersFiles{{L"Config\\Option.ini", settings},
                     {L"Language\\Mine.ini", "[Language information]\r\nLANGNAME=Mine\r\n"}}
    {
        const fs::path bin = kReleases / L"current" / L"bin";
        Files files{{L"Merovane.exe", test::ReadAll(bin / L"Merovane.exe")}, {L"portable.ini", ""}};
        for (const auto& item : fs::directory_iterator(bin / L"Language")) {
            files[L"Language\\" + item.path().filename().wstring()] = test::ReadAll(item.path());
        }
        test::WriteTree(folder, files);
        test::WriteTree(folder, usersFiles);
    }

    [[nodiscard]] Files UsersFilesNow() const
    {
        Files now = test::ReadTree(folder);
        std::erase_if(now, [this](const auto& item) { return !usersFiles.contains(item.first); });
        return now;
    }
};

TEST_F(UpdateReleasesTest, APortableCopyUpdatesInPlaceAndLeavesNothingBehind)
{
    const std::wstring next = Version(L"next");
    PortableCopy copy(UsersSettings());
    // Used once before, so that its settings file is as the program writes
    // it; no update is offered yet.
    {
        test::RunningProgram first(copy.program);
        HWND window = first.WaitForMainWindow(std::chrono::seconds(60));
        ASSERT_NE(window, nullptr);
        test::CloseAsAnInstallerDoes(window);
        ASSERT_NE(first.WaitForExit(20'000), STILL_ACTIVE);
    }
    copy.usersFiles = copy.UsersFilesNow();
    ServeNextRelease();
    const Files before = test::ReadTree(copy.folder);

    const auto old = StartAndAcceptTheOffer(copy.program);
    EXPECT_NE(old->WaitForExit(60'000), STILL_ACTIVE);
    // The helper swaps the files in once the old copy has ended, then starts
    // the new one.
    EXPECT_TRUE(WaitUntil([&] { return GetFileVersionText(copy.program) == next; }, std::chrono::seconds(60)));
    // The user's files are compared before the new copy saves its settings
    // on closing.
    EXPECT_TRUE(WaitUntil([&] { return test::MainWindowOfProgramAt(copy.program) != nullptr; },
                          std::chrono::seconds(60)));
    EXPECT_EQ(copy.UsersFilesNow(), copy.usersFiles);
    // Nothing of the update stays: the same files as before, the program
    // replaced.
    Files after = test::ReadTree(copy.folder);
    for (const auto& [name, bytes] : before) {
        EXPECT_TRUE(after.contains(name)) << ToUtf8(name);
    }
    for (const auto& [name, bytes] : after) {
        EXPECT_TRUE(before.contains(name)) << "left behind: " << ToUtf8(name);
    }
    EXPECT_NE(after[L"Merovane.exe"], before.at(L"Merovane.exe"));
    CloseTheNewCopy(copy.program);
}

TEST_F(UpdateReleasesTest, ATamperedPackageIsRefusedAndTheCopyStaysAsItWas)
{
    const std::wstring current = Version(L"current");
    ServeNextRelease([](std::string& zip) { zip[zip.size() / 2] ^= 0x01; });
    PortableCopy copy("[Option]\r\nCheckBoxAutoCheck=1\r\nCheckBoxAutostartToTray=0\r\nCheckBoxToTray=0\r\n"
                      "[Update]\r\nPrimaryServer=" +
                      ToUtf8(server.BaseUrl()) + "\r\n");
    const Files before = test::ReadTree(copy.folder);

    const auto old = StartAndAcceptTheOffer(copy.program);
    // The update dialog says why, and the copy runs on.
    const std::wstring refused = L"Файлы обновления не загружены!\r\nПакет повреждён или подменён";
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto texts = ChildTexts(old->Id(), L"TForm10");
            return std::find(texts.begin(), texts.end(), refused) != texts.end();
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(old->WaitForExit(0), STILL_ACTIVE);
    EXPECT_EQ(test::ReadTree(copy.folder), before);
    EXPECT_EQ(GetFileVersionText(copy.program), current);
}

} // namespace
} // namespace merovane
