#include "base/error.h"
#include "base/file_info.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shellapi.h>

namespace merovane {
namespace {

TEST(CleanFileVersionText, KeepsDigitsAndSingleDots)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"1, 9, 26, 312", L"1.9.26.312"},
        {L"10.0.22621.1 (WinBuild.160101.0800)", L"10.0.22621.1"},
        {L" , 2,,3.", L"2.3"},
        {L"1.2beta", L"1.2"},
        {L"beta 1.2", L""},
        {L"..1..2..", L"1.2"},
        {L"1 2 3", L"123"},
        {L"4.5\t6", L"4.5"},
        {L"7.\u0668", L"7"}, // a digit of another script ends the text
        {L"", L""},
        {L"...", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CleanFileVersionText(c.text), c.expected) << ToUtf8(c.text);
    }
}

TEST(TranslationName, IsEightCapitalHexDigitsWithAFallbackForZero)
{
    EXPECT_EQ(TranslationName(0x0409, 0x04B0), L"040904B0");
    EXPECT_EQ(TranslationName(0x0419, 1251), L"041904E3");
    EXPECT_EQ(TranslationName(0xABCD, 0x0001), L"ABCD0001");
    EXPECT_EQ(TranslationName(0, 0), L"040904E4");
    EXPECT_EQ(TranslationName(0, 0x04B0), L"000004B0");
}

TEST(VersionResource, TextsOfRealExecutables)
{
    test::TempDir temp;
    const std::wstring textFile = temp / L"not-an-exe.exe";
    test::WriteFileBytes(textFile, "MZ but not really an executable");

    struct Case {
        std::wstring file;
        const wchar_t* company;
        const wchar_t* description;
        const wchar_t* copyright;
        const wchar_t* version;
    } cases[] = {
        {test::FixturePath(L"full.exe"), L"Fixture Company", L"Fixture Tool", L"\u00A9 2026 Fixture Company",
         L"1.9.26.312"},
        {test::FixturePath(L"no_translation.exe"), L"Fallback Company", L"", L"", L"2.5"},
        {test::FixturePath(L"zero_translation.exe"), L"Fallback Company", L"", L"", L"3.1"},
        {test::FixturePath(L"russian.exe"), L"ООО «Ромашка»", L"Утилита", L"", L"10.0.22621.1"},
        {test::FixturePath(L"letters_version.exe"), L"", L"", L"", L"5.0.0.0"},
        {test::FixturePath(L"wrong_block.exe"), L"", L"", L"", L"6.1.65535.7"},
        {test::FixturePath(L"no_strings.exe"), L"", L"", L"", L"7.2.0.1"},
        {test::FixturePath(L"bare.exe"), L"", L"", L"", L""},
        {temp / L"missing.exe", L"", L"", L"", L""},
        {textFile, L"", L"", L"", L""},
        {temp.path().wstring(), L"", L"", L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.file));
        EXPECT_EQ(GetCompanyName(c.file), c.company);
        EXPECT_EQ(GetFileDescription(c.file), c.description);
        EXPECT_EQ(GetLegalCopyright(c.file), c.copyright);
        EXPECT_EQ(GetFileVersionText(c.file), c.version);
        // The list's one reading of both, which skips files that can hold none.
        const CompanyAndDescription both = GetCompanyAndDescription(c.file);
        EXPECT_EQ(both.company, c.company);
        EXPECT_EQ(both.description, c.description);
    }
    EXPECT_EQ(GetVersionInfoString(test::FixturePath(L"full.exe"), L"ProductName"), L"");
    EXPECT_EQ(GetVersionInfoString(test::FixturePath(L"full.exe"), L"FileVersion"), L"1, 9, 26, 312");
}

TEST(RevealInExplorer, CommandSelectsTheQuotedPathInItsFolder)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* windows;
        const wchar_t* file;
        const wchar_t* parameters;
        const wchar_t* directory;
    } cases[] = {
        {L"C:\\Program Files\\App\\app.exe", L"C:\\Windows", L"C:\\Windows\\explorer.exe",
         L"/select,\"C:\\Program Files\\App\\app.exe\"", L"C:\\Program Files\\App\\"},
        {L"D:app.exe", L"C:\\Windows\\", L"C:\\Windows\\explorer.exe", L"/select,\"D:app.exe\"", L"D:"},
        {L"\\\\server\\share\\a b.exe", L"C:\\Windows", L"C:\\Windows\\explorer.exe",
         L"/select,\"\\\\server\\share\\a b.exe\"", L"\\\\server\\share\\"},
        {L"app.exe", L"C:\\Windows", L"C:\\Windows\\explorer.exe", L"/select,\"app.exe\"", L""},
    };
    for (const Case& c : cases) {
        const ShellCommand command = RevealInExplorerCommand(c.path, c.windows);
        EXPECT_EQ(command.file, c.file) << ToUtf8(c.path);
        EXPECT_EQ(command.parameters, c.parameters) << ToUtf8(c.path);
        EXPECT_EQ(command.directory, c.directory) << ToUtf8(c.path);
    }
}

TEST(RevealInExplorer, DoesNothingForFoldersAndMissingFiles)
{
    test::TempDir temp;
    EXPECT_FALSE(RevealInExplorer(temp.path().wstring()));
    EXPECT_FALSE(RevealInExplorer(temp / L"missing.exe"));
    EXPECT_FALSE(RevealInExplorer(L""));
}

} // namespace
} // namespace merovane
