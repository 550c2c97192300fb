#include "base/error.h"
#include "base/file_info.h"
#include "base/options.h"
#include "base/settings_file.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace merovane {
namespace {

using test::TempDir;

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

TEST(SettingsPath, FollowsTheModeAndKeepsEveryBackslash)
{
    const struct {
        bool portable;
        std::wstring_view appData;
        std::wstring_view company;
        std::wstring_view expected;
    } cases[] = {
        {true, L"C:\\Users\\u\\AppData\\Roaming", L"Merovane Developers", L"D:\\Apps\\Merovane\\Config\\Option.ini"},
        {false, L"C:\\Users\\u\\AppData\\Roaming", L"Merovane Developers",
         L"C:\\Users\\u\\AppData\\Roaming\\Merovane Developers\\Merovane\\Config\\Option.ini"},
        {false, L"C:\\Roaming\\", L"Company", L"C:\\Roaming\\Company\\Merovane\\Config\\Option.ini"},
        {false, L"", L"Merovane Developers", L"\\Merovane Developers\\Merovane\\Config\\Option.ini"},
        {false, L"C:\\Roaming", L"", L"C:\\Roaming\\\\Merovane\\Config\\Option.ini"},
        {false, L"", L"", L"\\\\Merovane\\Config\\Option.ini"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsPathFor(c.portable, L"D:\\Apps\\Merovane\\", c.appData, c.company), c.expected)
            << ToUtf8(c.expected);
    }
}

TEST(SettingsPath, ProgramPathsAreBesideTheExecutableOrInTheRoamingProfile)
{
    const std::wstring exeDir = ExecutableDirectory();
    EXPECT_EQ(std::filesystem::path(exeDir), test::TestBinaryDir() / L"");

    wchar_t appData[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)));

    // Answered once: a marker that appears later changes nothing.
    const std::wstring marker = exeDir + L"portable.ini";
    const bool portable = PortableMode();
    const bool placeMarker = !portable && !std::filesystem::exists(marker);
    if (placeMarker) {
        test::WriteFileBytes(marker, "");
    }
    EXPECT_EQ(PortableMode(), portable);
    if (placeMarker) {
        ::DeleteFileW(marker.c_str());
    }

    const std::wstring exe = (test::TestBinaryDir() / L"test_settings_file.exe").wstring();
    const std::wstring expected = SettingsPathFor(portable, exeDir, appData, GetCompanyName(exe));
    const std::wstring folder = expected.substr(0, expected.rfind(L'\\'));
    // Leave the profile as it was found.
    const std::filesystem::path created = portable ? std::filesystem::path(folder)
                                                   : std::filesystem::path(appData) / L"Merovane";
    const bool existed = std::filesystem::exists(created);

    EXPECT_EQ(PortablePath(), expected);
    EXPECT_TRUE(FolderExists(folder));

    if (!existed) {
        std::error_code ignored;
        std::filesystem::remove_all(created, ignored);
    }
}

TEST(SettingsPath, MissingFoldersAreCreatedAndAFailureOnlyMeansDefaults)
{
    TempDir dir;
    const std::wstring path = SettingsPathFor(false, L"", dir.path().wstring(), L"Company");
    CreateSettingsFolder(path);
    EXPECT_TRUE(FolderExists(dir / L"Company\\Merovane\\Config"));
    EXPECT_FALSE(std::filesystem::exists(path));
    CreateSettingsFolder(path); // already there

    // A file where a folder should be: nothing can be created below it.
    test::WriteFileBytes(dir / L"blocked", "");
    const std::wstring blocked = SettingsPathFor(false, L"", dir / L"blocked", L"Company");
    CreateSettingsFolder(blocked);
    const IniFile settings = ReadSettings(blocked);
    EXPECT_TRUE(settings.Sections().empty());
    EXPECT_EQ(ReadOptions(settings), Options{});

    IniFile changed;
    changed.WriteBool(kOptionSection, option_key::CheckBoxToTray, true);
    EXPECT_THROW(SaveSettings(changed, blocked), Error);
    EXPECT_EQ(std::filesystem::file_size(dir.path() / L"blocked"), 0u);
}

TEST(SettingsValues, MissingOrUnparsableValuesGiveTheDefaults)
{
    TempDir dir;
    const std::wstring path = dir / L"Option.ini";
    test::WriteFileBytes(path, "[option]\r\n"
                               "checkboxtotray=0x1\r\n"
                               "ThemeDark=yes\r\n"
                               "CheckBoxAutoCheck=yes\r\n"
                               "CheckBoxColorTrayIcon=2\r\n"
                               "IconBigMenu=0\r\n"
                               "Window=WSMAXIMIZED\r\n"
                               "Height=$200\r\n"
                               "Width=wide\r\n"
                               "[LANGUAGE]\r\n"
                               "language=English\r\n");
    const Options options = ReadOptions(LoadSettings(path));
    EXPECT_TRUE(options.closeToTray);
    EXPECT_EQ(options.theme, ThemeChoice::None);
    EXPECT_TRUE(options.checkForUpdatesAtStart);
    EXPECT_TRUE(options.colourTrayIcon);
    EXPECT_EQ(options.iconSize, IconSize::None);
    EXPECT_FALSE(options.window.maximized); // compared as written, case included
    EXPECT_EQ(options.window.height, 512);
    EXPECT_EQ(options.window.width, std::nullopt);
    EXPECT_EQ(options.language, L"English");

    EXPECT_TRUE(ReadOptions(IniFile::FromText(L"[Option]\r\nWindow=wsMaximized")).window.maximized);
}

TEST(SettingsValues, SaveKeepsWhatThisProgramDoesNotUse)
{
    TempDir dir;
    const std::wstring path = dir / L"Option.ini";
    test::WriteFileBytes(path, "; written by hand\r\n"
                               "[Option]\r\n"
                               "ThemeDark=1\r\n"
                               "Unknown=kept\r\n"
                               "Height=700\r\n"
                               "Width=900\r\n"
                               "[Language]\r\n"
                               "Language=English\r\n"
                               "[Extra]\r\n"
                               "foo=bar\r\n");

    // What the main window's save does for a maximised window.
    IniFile settings = LoadSettings(path);
    Options options;
    options.quickUpdate = false;
    options.theme = ThemeChoice::Light;
    options.window.maximized = true;
    WriteOptions(settings, options, OptionGroup::UpdateFlags | OptionGroup::MainWindow | OptionGroup::SettingsDialog);
    SaveSettings(settings, path);

    EXPECT_EQ(ReadBytes(path), "[Option]\r\n"
                               "ThemeDark=0\r\n"
                               "Unknown=kept\r\n"
                               "Height=700\r\n"
                               "Width=900\r\n"
                               "CheckBoxQuickUpdate=0\r\n"
                               "CheckBoxForceUpdate=0\r\n"
                               "ThemeAuto=0\r\n"
                               "ThemeLight=1\r\n"
                               "IconSmallMenu=0\r\n"
                               "IconBigMenu=0\r\n"
                               "CheckBoxColorTrayIcon=0\r\n"
                               "CheckBoxAutoUpdateList=0\r\n"
                               "RadioButtonSystem=0\r\n"
                               "RadioButtonViewNew=0\r\n"
                               "RadioButtonHideNew=0\r\n"
                               "RadioButtonViewNewOnly=0\r\n"
                               "CheckBoxToTray=0\r\n"
                               "CheckBoxAutostartToTray=0\r\n"
                               "Window=wsMaximized\r\n"
                               "HotKeyShowEveryIcon=0\r\n"
                               "\r\n"
                               "[Language]\r\n"
                               "Language=English\r\n"
                               "\r\n"
                               "[Extra]\r\n"
                               "foo=bar\r\n"
                               "\r\n");

    // A failed save changes nothing on disk.
    const std::string saved = ReadBytes(path);
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    settings.WriteString(kLanguageSection, language_key::Language, L"Deutsch");
    EXPECT_THROW(SaveSettings(settings, path), Error);
    EXPECT_EQ(ReadBytes(path), saved);
    EXPECT_EQ(ReadOptions(ReadSettings(path)).language, L"English");
}

} // namespace
} // namespace merovane
