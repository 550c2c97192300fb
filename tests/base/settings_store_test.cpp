#include "base/error.h"
#include "base/ini_file.h"
#include "base/settings_store.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace merovane {
namespace {

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Rewrites the file in place and puts its last-write time back: size, time
// and identity as before.
void RewriteUnseen(const std::wstring& path, const std::string& bytes)
{
    FILETIME written{};
    {
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::GetFileTime(file, nullptr, nullptr, &written);
        ::CloseHandle(file);
    }
    test::WriteFileBytes(path, bytes);
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::SetFileTime(file, nullptr, nullptr, &written);
    ::CloseHandle(file);
}

class SettingsStoreTest : public ::testing::Test {
protected:
    test::TempDir temp;
    std::wstring path = temp / L"Option.ini";
    SettingsStore store{[this] { return path; }};
};

// The file is read again when it changed on disk, and only then.
TEST_F(SettingsStoreTest, TheFileIsReadAgainOnlyWhenItChanged)
{
    test::WriteFileBytes(path, "[Language]\r\nLanguage=English\r\n");
    store.ReadAtStart();
    EXPECT_EQ(store.InForce().language, L"English");

    RewriteUnseen(path, "[Language]\r\nLanguage=Deutsch\r\n");
    EXPECT_EQ(store.InForce().language, L"English"); // the file was not read

    test::WriteFileBytes(path, "[Language]\r\nLanguage=Francais\r\n"); // another size
    EXPECT_EQ(store.InForce().language, L"Francais");
    // Replaced by another file of the same size, as a save does.
    test::WriteFileBytes(temp / L"next.ini", "[Language]\r\nLanguage=Italiano\r\n");
    ASSERT_TRUE(::MoveFileExW((temp / L"next.ini").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(store.InForce().language, L"Italiano");

    // What the program changed itself stays in force whatever the file says.
    store.Current().language = L"Nederlands";
    test::WriteFileBytes(path, "[Language]\r\nLanguage=Deutsch\r\n");
    EXPECT_EQ(store.InForce().language, L"Nederlands");
    // So does its own save: it is no change to read again.
    store.Save(OptionGroup::Language);
    std::string bytes = ReadBytes(path);
    ASSERT_NE(bytes.find("Nederlands"), std::string::npos);
    RewriteUnseen(path, bytes.replace(bytes.find("Nederlands"), 10, "Vlaanderen"));
    EXPECT_EQ(store.InForce().language, L"Nederlands");
    EXPECT_EQ(ReadOptions(IniFile::Load(path)).language, L"Vlaanderen");
}

// An import while the program runs: what it wrote survives the program's
// next save, which writes only what the program changed.
TEST_F(SettingsStoreTest, ASaveKeepsWhatAnotherProcessWrote)
{
    test::WriteFileBytes(path, "[Option]\r\nThemeLight=1\r\n");
    store.ReadAtStart();
    EXPECT_EQ(store.Current().theme, ThemeChoice::Light);
    store.Current().iconSize = IconSize::Large;

    test::WriteFileBytes(path, "[Option]\r\nThemeDark=1\r\nCheckBoxToTray=1\r\n[Language]\r\nLanguage=English\r\n"
                               "[Update]\r\nPrimaryServer=https://m.example/\r\n");
    store.Save(OptionGroup::MainWindow | OptionGroup::SettingsDialog | OptionGroup::Language);

    const Options saved = ReadOptions(IniFile::Load(path));
    EXPECT_EQ(saved.theme, ThemeChoice::Dark);
    EXPECT_EQ(saved.iconSize, IconSize::Large);
    EXPECT_TRUE(saved.closeToTray);
    EXPECT_EQ(saved.language, L"English");
    EXPECT_EQ(saved.primaryUpdateServer, L"https://m.example/");
}

// A file that could not be read at start holds the user's options as far as
// anyone knows: no save writes over it.
TEST_F(SettingsStoreTest, AFileThatCouldNotBeReadIsNeverWritten)
{
    const std::string undecodable = "\xEF\xBB\xBF[Option]\r\nThemeDark=1\r\nName=\xC3\x28\r\n";
    test::WriteFileBytes(path, undecodable);
    store.ReadAtStart();
    ASSERT_TRUE(store.ReadFailure());
    store.Current().theme = ThemeChoice::Light;
    store.Save(OptionGroup::All);
    EXPECT_EQ(ReadBytes(path), undecodable);
}

} // namespace
} // namespace merovane
