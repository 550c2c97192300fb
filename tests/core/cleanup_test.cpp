#include "core/cleanup.h"
#include "base/error.h"
#include "core/icon_list.h"
#include "core/tray_actions.h"
#include "support/entries.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace merovane {
namespace {

using test::kBase;
constexpr wchar_t kWindowsFolderId[] = L"{F38BF404-1D43-42F2-9305-67DE0B28FC23}";

using test::Entry;

// Lets the registry clock move on, so the next entry is written later.
void LetTimePass()
{
    ::Sleep(50);
}

std::wstring WindowsDirectory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

TEST(DuplicateKey, ExpandsFoldersAndCapitalisesAsciiLettersOnly)
{
    const std::wstring programFiles = AsciiUpper(ProgramFilesDirectory());
    const std::wstring windows = AsciiUpper(WindowsDirectory());
    const std::wstring folderId = kWindowsFolderId;
    ASSERT_TRUE(IsExistingFile(WindowsDirectory() + L"\\system32\\kernel32.dll"));

    struct Case {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"c:\\apps\\Tool.exe", L"C:\\APPS\\TOOL.EXE"},
        {L"C:\\Apps\\\u00E4rger.exe", L"C:\\APPS\\\u00E4RGER.EXE"}, // ä stays small
        {std::wstring(kProgramFilesFolderId) + L"\\Vendor\\app.exe", programFiles + L"\\VENDOR\\APP.EXE"},
        {ProgramFilesDirectory() + L"\\Vendor\\app.exe", programFiles + L"\\VENDOR\\APP.EXE"},
        {L"{junk}\\" + std::wstring(kProgramFilesFolderId) + L"\\app.exe", L"{JUNK}\\" + programFiles + L"\\APP.EXE"},
        {L"C:\\Program Files (x86)\\Gone\\app.exe", L"C:\\PROGRAM FILES (X86)\\GONE\\APP.EXE"}, // no x86 step
        {L"D:\\old\\" + folderId + L"\\a.exe", windows + L"\\A.EXE"},
        // A second folder id is expanded only when that names an existing file.
        {folderId + L"\\" + folderId + L"\\system32\\kernel32.dll", windows + L"\\SYSTEM32\\KERNEL32.DLL"},
        {folderId + L"\\" + folderId + L"\\gone.exe", windows + L"\\" + folderId + L"\\GONE.EXE"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DuplicateKey(c.path), c.expected) << ToUtf8(c.path);
    }
}

TEST(PlanDuplicateDeletions, KeepsTheLastWrittenOfEachKey)
{
    struct Case {
        const char* name;
        std::vector<DuplicateCandidate> candidates; // in enumeration order
        std::vector<std::wstring> deletions;        // in deletion order
    } cases[] = {
        {"10:00, 10:05, 10:03",
         {{L"K", L"a", 1000}, {L"K", L"b", 1005}, {L"K", L"c", 1003}},
         {L"a", L"c"}},
        {"same time: the first enumerated stays", {{L"K", L"a", 5}, {L"K", L"b", 5}, {L"K", L"c", 5}}, {L"b", L"c"}},
        {"unknown time loses", {{L"K", L"a", 0}, {L"K", L"b", 5}}, {L"a"}},
        {"keys compare exactly", {{L"K", L"a", 1}, {L"k", L"b", 2}}, {}},
        {"interleaved groups",
         {{L"K", L"a", 1}, {L"L", L"b", 5}, {L"K", L"c", 3}, {L"L", L"d", 4}, {L"K", L"e", 2}},
         {L"a", L"d", L"e"}},
        {"none", {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanDuplicateDeletions(c.candidates), c.deletions) << c.name;
    }
}

class DuplicateCleanupTest : public ::testing::Test {
protected:
    test::RegistrySandbox sandbox;
};

TEST_F(DuplicateCleanupTest, TheLastWrittenEntrySurvives)
{
    // Written first, third, second; enumerated a, b, c.
    test::SetRegString(Entry(L"a"), L"ExecutablePath", L"C:\\Apps\\tool.exe");
    LetTimePass();
    test::SetRegString(Entry(L"c"), L"ExecutablePath", L"C:\\Apps\\tool.exe");
    LetTimePass();
    test::SetRegString(Entry(L"b"), L"ExecutablePath", L"C:\\Apps\\tool.exe");
    ASSERT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    ASSERT_LT(GetRegistryKeyLastWriteTime(Entry(L"a")), GetRegistryKeyLastWriteTime(Entry(L"c")));
    ASSERT_LT(GetRegistryKeyLastWriteTime(Entry(L"c")), GetRegistryKeyLastWriteTime(Entry(L"b")));

    EXPECT_EQ(CleanUpDuplicates(), (std::vector<std::wstring>{L"a", L"c"}));
    EXPECT_EQ(test::RegSubkeys(kBase), std::vector<std::wstring>{L"b"});

    EXPECT_TRUE(CleanUpDuplicates().empty());
    EXPECT_EQ(test::RegSubkeys(kBase), std::vector<std::wstring>{L"b"});
}

TEST_F(DuplicateCleanupTest, OnlyPathEntriesWithoutGuidTakePart)
{
    struct Written {
        const wchar_t* name;
        const wchar_t* path; // nullptr: no value
        const wchar_t* guid;
    } written[] = {
        {L"a", L"C:\\Apps\\Tool.exe", nullptr},
        {L"b", L"c:\\apps\\TOOL.EXE", nullptr},         // duplicate of a
        {L"c", L"C:\\Apps\\\u00C4rger.exe", nullptr},
        {L"d", L"C:\\Apps\\\u00E4rger.exe", nullptr},   // not of c: Ä and ä differ
        {L"e", L"C:\\Apps\\Tool.exe", L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}"},
        {L"f", L"C:\\Apps\\Tool.exe", L"{7820AE75-23E3-4229-82C1-E41CB67D5B9C}"},
        {L"g", L"C:\\Apps\\Tool.exe", L""},             // an empty GUID is none
        {L"h", nullptr, L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}"},
        {L"i", L"", nullptr},
    };
    for (const Written& entry : written) {
        test::SetRegDword(Entry(entry.name), L"IsPromoted", 0);
        if (entry.path != nullptr) {
            test::SetRegString(Entry(entry.name), L"ExecutablePath", entry.path);
        }
        if (entry.guid != nullptr) {
            test::SetRegString(Entry(entry.name), L"IconGuid", entry.guid);
        }
        LetTimePass();
    }

    EXPECT_EQ(CleanUpDuplicates(), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"c", L"d", L"e", L"f", L"g", L"h", L"i"}));
}

TEST_F(DuplicateCleanupTest, NothingToDoReportsFalse)
{
    EXPECT_TRUE(CleanUpDuplicates().empty());
    EXPECT_FALSE(test::RegKeyExists(kBase));

    test::SetRegString(Entry(L"a"), L"ExecutablePath", L"C:\\Apps\\one.exe");
    test::SetRegString(Entry(L"b"), L"ExecutablePath", L"C:\\Apps\\two.exe");
    EXPECT_TRUE(CleanUpDuplicates().empty());
    EXPECT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"a", L"b"}));
}

TEST(DuplicateCleanup, AValueOfTheWrongTypeLeavesOnlyItsEntryOut)
{
    const std::vector<BYTE> number{1, 0, 0, 0};
    std::vector<BYTE> path; // REG_MULTI_SZ holding the duplicates' path
    for (const wchar_t c : std::wstring(L"C:\\Apps\\tool.exe") + L'\0' + L'\0') {
        path.push_back(static_cast<BYTE>(c & 0xFF));
        path.push_back(static_cast<BYTE>(c >> 8));
    }
    // Entry "a", read first, is the newest of three entries of one path, the
    // other two written before it; one of its values is of the wrong type.
    struct Case {
        const char* name;
        const wchar_t* value;
        DWORD type;
        const std::vector<BYTE>& data;
    } cases[] = {
        {"number ExecutablePath", L"ExecutablePath", REG_DWORD, number},
        {"multi-string ExecutablePath", L"ExecutablePath", REG_MULTI_SZ, path},
        // Some GUID is there: such an entry is never one program's duplicate.
        {"binary IconGuid", L"IconGuid", REG_BINARY, number},
        {"number IconGuid", L"IconGuid", REG_DWORD, number},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RegistrySandbox sandbox;
        test::SetRegString(Entry(L"b"), L"ExecutablePath", L"C:\\Apps\\tool.exe");
        LetTimePass();
        test::SetRegString(Entry(L"c"), L"ExecutablePath", L"C:\\Apps\\tool.exe");
        LetTimePass();
        test::SetRegString(Entry(L"a"), L"ExecutablePath", L"C:\\Apps\\tool.exe");
        test::SetRegRaw(Entry(L"a"), c.value, c.type, c.data);

        std::vector<std::wstring> deleted;
        EXPECT_NO_THROW(deleted = CleanUpDuplicates());
        EXPECT_EQ(deleted, std::vector<std::wstring>{L"b"});
        EXPECT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"a", L"c"}));
    }
}

TEST(NonExistentFilesCleanup, DeletesEntriesWhoseFileIsGone)
{
    test::RegistrySandbox sandbox;
    test::TempDir temp;
    const std::wstring fixture = test::FixturePath(L"full.exe");
    const std::wstring gone = temp / L"gone.exe";
    std::filesystem::create_directories(temp.path() / L"folder.exe");

    for (const wchar_t* name : {L"kept", L"no path", L"gone", L"folder"}) {
        test::SetRegDword(Entry(name), L"IsPromoted", 0);
    }
    test::SetRegDword(Entry(L"gone\\child"), L"x", 1);

    const auto entry = [](std::wstring keyName, std::wstring path) {
        IconEntry result;
        result.keyName = std::move(keyName);
        result.executablePath = std::move(path);
        return result;
    };
    const std::vector<IconEntry> untouched = {
        entry(L"kept", fixture),
        entry(L"no path", L""),
        entry(L"already deleted", gone),
        entry(L"", gone), // no name: must not reach the base key
    };
    EXPECT_TRUE(CleanUpMissingPrograms(untouched).empty());
    EXPECT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"folder", L"gone", L"kept", L"no path"}));

    std::vector<IconEntry> entries = untouched;
    entries.push_back(entry(L"gone", gone));
    entries.push_back(entry(L"folder", temp / L"folder.exe")); // a folder is no file
    EXPECT_EQ(CleanUpMissingPrograms(entries), (std::vector<std::wstring>{L"gone", L"folder"}));
    EXPECT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"kept", L"no path"}));
}

} // namespace
} // namespace merovane
