#include "base/error.h"
#include "core/icon_images.h"
#include "core/icon_list.h"
#include "core/icon_store.h"
#include "base/ini_file.h"
#include "support/entries.h"
#include "support/pictures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

namespace merovane {
namespace {

using test::kBase;
constexpr wchar_t kBattery[] = L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}";
constexpr wchar_t kDriverHelperGuid[] = L"{D36B22A6-995E-4340-8339-3DE08C6840DF}";
constexpr wchar_t kWindowsFolderId[] = L"{F38BF404-1D43-42F2-9305-67DE0B28FC23}";

using test::Entry;

std::wstring WindowsDirectory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

void SetClassDefault(const std::wstring& path, DWORD value)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    ::RegCloseKey(key);
}

std::vector<std::wstring> KeyNames(const IconListLoad& load)
{
    std::vector<std::wstring> names;
    for (const IconEntry& entry : load.entries) {
        names.push_back(entry.keyName);
    }
    return names;
}

TEST(ReadNotifyIconEntries, RowsShowWhatEachSourceGives)
{
    test::RegistrySandbox sandbox;
    test::TempDir temp;
    const std::wstring fixture = test::FixturePath(L"full.exe");
    const std::wstring gone = temp / L"gone\\Tool.exe";
    const std::wstring nvidia = temp / L"nvcontainer.exe"; // missing: the name alone decides

    test::SetRegString(Entry(L"system"), L"IconGuid", kBattery);
    test::SetRegDword(Entry(L"system"), L"IsPromoted", 1);
    test::SetRegString(Entry(L"language"), L"IconGuid", L"{AAAAAAAA-0000-0000-0000-00000000000A}");
    test::SetRegString(Entry(L"publisher"), L"ExecutablePath", fixture);
    test::SetRegString(Entry(L"publisher"), L"Publisher", L"Acme Publisher");
    test::SetRegDword(Entry(L"publisher"), L"IsPromoted", 2);
    test::SetRegString(Entry(L"file"), L"ExecutablePath", fixture);
    test::SetRegDword(Entry(L"file"), L"IsPromoted", 0);
    test::SetRegString(Entry(L"publisher dword"), L"ExecutablePath", fixture);
    test::SetRegDword(Entry(L"publisher dword"), L"Publisher", 7);
    test::SetRegString(Entry(L"gone, publisher"), L"ExecutablePath", gone);
    test::SetRegString(Entry(L"gone, publisher"), L"Publisher", L"Gone Inc");
    test::SetRegString(Entry(L"gone"), L"ExecutablePath", gone);
    test::CreateRegKey(Entry(L"no values"));
    test::SetRegString(Entry(L"nvidia"), L"IconGuid", kDriverHelperGuid);
    test::SetRegString(Entry(L"nvidia"), L"ExecutablePath", nvidia);
    test::SetRegString(Entry(L"nvidia, no guid"), L"ExecutablePath", nvidia);
    test::SetRegString(Entry(L"nvidia, lower-case guid"), L"IconGuid", L"{d36b22a6-995e-4340-8339-3de08c6840df}");
    test::SetRegString(Entry(L"nvidia, lower-case guid"), L"ExecutablePath", nvidia);
    test::SetRegString(Entry(L"network"), L"IconGuid", kDriverHelperGuid);
    // The tooltip names what has no name of its own, before the file name.
    const std::wstring bare = test::FixturePath(L"bare.exe");
    test::SetRegString(Entry(L"tooltip, no version"), L"ExecutablePath", bare);
    test::SetRegString(Entry(L"tooltip, no version"), L"InitialTooltip", L"Bare Sync");
    test::SetRegString(Entry(L"tooltip, lines"), L"ExecutablePath", gone);
    test::SetRegString(Entry(L"tooltip, lines"), L"InitialTooltip", L"\r\n \t\r\n  Backup: idle \r\nLast run: never");
    test::SetRegString(Entry(L"tooltip, blanks"), L"InitialTooltip", L" \r\n\t");
    test::SetRegDword(Entry(L"tooltip, dword"), L"InitialTooltip", 5);
    test::SetRegString(Entry(L"tooltip, below a description"), L"ExecutablePath", fixture);
    test::SetRegString(Entry(L"tooltip, below a description"), L"InitialTooltip", L"Not this");
    test::SetRegString(Entry(L"tooltip, below a publisher"), L"ExecutablePath", gone);
    test::SetRegString(Entry(L"tooltip, below a publisher"), L"Publisher", L"Gone Inc");
    test::SetRegString(Entry(L"tooltip, below a publisher"), L"InitialTooltip", L"Not this");
    test::SetRegString(Entry(L"tooltip, below a GUID name"), L"IconGuid", kBattery);
    test::SetRegString(Entry(L"tooltip, below a GUID name"), L"InitialTooltip", L"Not this");

    const IniFile language =
        IniFile::FromText(L"[GUID]\r\n{AAAAAAAA-0000-0000-0000-00000000000A}=From the language file\r\n");
    const IconListLoad load = ReadNotifyIconEntries(language);
    EXPECT_TRUE(load.listed);
    EXPECT_FALSE(load.stoppedByError);
    EXPECT_EQ(KeyNames(load), test::RegSubkeys(kBase)); // enumeration order

    // The registry alone names each row at once; the files then give what
    // the full load gives.
    struct Row {
        const wchar_t* keyName;
        const wchar_t* displayName;
        const wchar_t* company;
        std::wstring path;
        bool promoted;
        const wchar_t* registryName;
    } rows[] = {
        {L"system", L"Питание/Батарея", L"", L"", true, L"Питание/Батарея"},
        {L"language", L"From the language file", L"", L"", false, L"From the language file"},
        {L"publisher", L"Fixture Tool", L"Acme Publisher", fixture, true, L"Acme Publisher"},
        {L"file", L"Fixture Tool", L"Fixture Company", fixture, false, L"full.exe"},
        {L"publisher dword", L"Fixture Tool", L"Fixture Company", fixture, false, L"full.exe"}, // as if there were none
        {L"gone, publisher", L"Gone Inc", L"Gone Inc", gone, false, L"Gone Inc"},
        {L"gone", L"Tool.exe", L"", gone, false, L"Tool.exe"},
        {L"no values", L"no values", L"", L"", false, L"no values"},
        {L"nvidia", L"NVIDIA", L"", nvidia, false, L"NVIDIA"},
        {L"nvidia, no guid", L"nvcontainer.exe", L"", nvidia, false, L"nvcontainer.exe"},
        {L"nvidia, lower-case guid", L"nvcontainer.exe", L"", nvidia, false, L"nvcontainer.exe"},
        {L"network", L"Сеть", L"", L"", false, L"Сеть"},
        {L"tooltip, no version", L"Bare Sync", L"", bare, false, L"Bare Sync"},
        {L"tooltip, lines", L"Backup: idle", L"", gone, false, L"Backup: idle"},
        {L"tooltip, blanks", L"tooltip, blanks", L"", L"", false, L"tooltip, blanks"},
        {L"tooltip, dword", L"tooltip, dword", L"", L"", false, L"tooltip, dword"},
        {L"tooltip, below a description", L"Fixture Tool", L"Fixture Company", fixture, false, L"Not this"},
        {L"tooltip, below a publisher", L"Gone Inc", L"Gone Inc", gone, false, L"Gone Inc"},
        {L"tooltip, below a GUID name", L"Питание/Батарея", L"", L"", false, L"Питание/Батарея"},
    };
    ASSERT_EQ(load.entries.size(), std::size(rows));
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.keyName));
        const auto entry = std::find_if(load.entries.begin(), load.entries.end(),
                                        [&](const IconEntry& e) { return e.keyName == row.keyName; });
        ASSERT_NE(entry, load.entries.end());
        EXPECT_EQ(entry->displayName, row.displayName);
        EXPECT_EQ(entry->company, row.company);
        EXPECT_EQ(entry->executablePath, row.path);
        EXPECT_EQ(entry->promoted, row.promoted);
        EXPECT_EQ(entry->fileExists, row.path == fixture || row.path == bare);
        EXPECT_FALSE(entry->textsPending);
    }

    IconListLoad registry = ReadNotifyIconEntriesFromRegistry(language);
    ASSERT_EQ(registry.entries.size(), std::size(rows));
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.keyName));
        const auto entry = std::find_if(registry.entries.begin(), registry.entries.end(),
                                        [&](const IconEntry& e) { return e.keyName == row.keyName; });
        ASSERT_NE(entry, registry.entries.end());
        EXPECT_EQ(entry->displayName, row.registryName);
        EXPECT_EQ(entry->textsPending, !row.path.empty());
        EXPECT_FALSE(entry->fileExists);
    }
    FinishPendingEntries(registry);
    EXPECT_TRUE(registry.pending.empty());
    ASSERT_EQ(registry.entries.size(), load.entries.size());
    for (size_t i = 0; i < load.entries.size(); ++i) {
        const IconEntry& full = load.entries[i];
        const IconEntry& finished = registry.entries[i];
        SCOPED_TRACE(ToUtf8(full.keyName));
        EXPECT_EQ(std::tie(finished.keyName, finished.displayName, finished.company, finished.executablePath,
                           finished.iconGuid),
                  std::tie(full.keyName, full.displayName, full.company, full.executablePath, full.iconGuid));
        EXPECT_EQ(std::tie(finished.promoted, finished.hasIsPromoted, finished.fileExists, finished.systemEntry,
                           finished.textsPending),
                  std::tie(full.promoted, full.hasIsPromoted, full.fileExists, full.systemEntry, full.textsPending));
    }
}

TEST(ReadNotifyIconEntries, NothingToListIsToldApartFromAnEmptyResult)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool listed;
        size_t entries;
    } cases[] = {
        {"no base key", [] {}, false, 0},
        {"no subkeys", [] { test::SetRegDword(kBase, L"IsPromoted", 1); }, false, 0},
        {"one subkey", [] { test::CreateRegKey(Entry(L"only")); }, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RegistrySandbox sandbox;
        c.arrange();
        const IconListLoad load = ReadNotifyIconEntries(IniFile());
        EXPECT_EQ(load.listed, c.listed);
        EXPECT_EQ(load.entries.size(), c.entries);
        EXPECT_FALSE(load.stoppedByError);
    }
}

TEST(ReadNotifyIconEntries, AValueOfTheWrongTypeCountsAsAbsentForItsEntryOnly)
{
    const std::wstring fixture = test::FixturePath(L"full.exe");
    const std::vector<BYTE> one{1, 0, 0, 0};
    const std::vector<BYTE> oneAsQword{1, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<BYTE> text{'1', 0, 0, 0};
    std::vector<BYTE> guids; // REG_MULTI_SZ: the battery's GUID, then the closing NUL
    for (const wchar_t c : std::wstring(kBattery) + L'\0' + L'\0') {
        guids.push_back(static_cast<BYTE>(c & 0xFF));
        guids.push_back(static_cast<BYTE>(c >> 8));
    }
    constexpr wchar_t kClass[] = L"{BBBBBBBB-0000-0000-0000-00000000000B}";

    // Entry "a" is read first and holds one unreadable value among good ones:
    // ExecutablePath the fixture, Publisher "Acme", IsPromoted 1.
    struct Case {
        const char* name;
        std::function<void()> spoil;
        const wchar_t* displayName;
        const wchar_t* company;
        bool hasPath;
        bool promoted;
    } cases[] = {
        {"string IsPromoted", [&] { test::SetRegRaw(Entry(L"a"), L"IsPromoted", REG_SZ, text); },
         L"Fixture Tool", L"Acme", true, false},
        {"binary IsPromoted", [&] { test::SetRegRaw(Entry(L"a"), L"IsPromoted", REG_BINARY, one); },
         L"Fixture Tool", L"Acme", true, false},
        {"64-bit IsPromoted", [&] { test::SetRegRaw(Entry(L"a"), L"IsPromoted", REG_QWORD, oneAsQword); },
         L"Fixture Tool", L"Acme", true, false},
        {"number ExecutablePath", [&] { test::SetRegRaw(Entry(L"a"), L"ExecutablePath", REG_DWORD, one); },
         L"Acme", L"Acme", false, true},
        {"multi-string IconGuid", [&] { test::SetRegRaw(Entry(L"a"), L"IconGuid", REG_MULTI_SZ, guids); },
         L"Fixture Tool", L"Acme", true, true},
        {"binary IconGuid", [&] { test::SetRegRaw(Entry(L"a"), L"IconGuid", REG_BINARY, one); },
         L"Fixture Tool", L"Acme", true, true},
        // Absent, so the file's own company answers.
        {"binary Publisher", [&] { test::SetRegRaw(Entry(L"a"), L"Publisher", REG_BINARY, text); },
         L"Fixture Tool", L"Fixture Company", true, true},
        {"number as class name",
         [&] {
             test::SetRegString(Entry(L"a"), L"IconGuid", kClass);
             SetClassDefault(L"CLSID\\" + std::wstring(kClass), 1);
         },
         L"Fixture Tool", L"Acme", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RegistrySandbox sandbox;
        test::SetRegString(Entry(L"a"), L"ExecutablePath", fixture);
        test::SetRegString(Entry(L"a"), L"Publisher", L"Acme");
        test::SetRegDword(Entry(L"a"), L"IsPromoted", 1);
        c.spoil();
        test::SetRegString(Entry(L"b"), L"IconGuid", kBattery);
        test::SetRegDword(Entry(L"b"), L"IsPromoted", 1);
        test::SetRegString(Entry(L"c"), L"ExecutablePath", fixture);

        const IconListLoad load = ReadNotifyIconEntries(IniFile());
        EXPECT_TRUE(load.listed);
        EXPECT_FALSE(load.stoppedByError);
        ASSERT_EQ(KeyNames(load), (std::vector<std::wstring>{L"a", L"b", L"c"}));
        const IconEntry& spoilt = load.entries[0];
        EXPECT_EQ(spoilt.displayName, c.displayName);
        EXPECT_EQ(spoilt.company, c.company);
        EXPECT_EQ(spoilt.executablePath, c.hasPath ? fixture : L"");
        EXPECT_EQ(spoilt.promoted, c.promoted);
        EXPECT_EQ(load.entries[1].displayName, L"Питание/Батарея");
        EXPECT_TRUE(load.entries[1].promoted);
        EXPECT_EQ(load.entries[2].displayName, L"Fixture Tool");
    }
}

// Gives a class key a security descriptor that lets everyone read it and no
// more, as machine-wide classes are for a standard user. DELETE lets the
// sandbox remove it afterwards.
void MakeClassKeyReadOnly(const std::wstring& path)
{
    test::SetKeyAccess(HKEY_CLASSES_ROOT, path, L"D:(A;;KRSD;;;WD)");
    HKEY key = nullptr;
    // The arrangement holds: full access is refused, reading is not.
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void SetClassName(const std::wstring& path, std::wstring_view name)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring value(name);
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

TEST(ReadNotifyIconEntries, ClassNamesAreReadFromReadOnlyKeysAndNoGuidNamesNothing)
{
    test::RegistrySandbox sandbox;
    test::TempDir temp;
    constexpr wchar_t kClass[] = L"{BBBBBBBB-0000-0000-0000-00000000000B}";
    constexpr wchar_t kLocalized[] = L"{CCCCCCCC-0000-0000-0000-00000000000C}";
    SetClassName(L"CLSID", L"ClassMoniker");
    SetClassName(L"CLSID\\" + std::wstring(kClass), L"Registered class");
    MakeClassKeyReadOnly(L"CLSID\\" + std::wstring(kClass));
    SetClassName(L"CLSID\\" + std::wstring(kLocalized) + L"\\LocalizedString", L"Localized");
    MakeClassKeyReadOnly(L"CLSID\\" + std::wstring(kLocalized) + L"\\LocalizedString");
    MakeClassKeyReadOnly(L"CLSID\\" + std::wstring(kLocalized));

    test::SetRegString(Entry(L"class"), L"IconGuid", kClass);
    test::SetRegString(Entry(L"localized"), L"IconGuid", kLocalized);
    test::SetRegString(Entry(L"no guid"), L"ExecutablePath", temp / L"Tool.exe");
    test::SetRegString(Entry(L"empty guid"), L"IconGuid", L"");

    // A key without a name is no GUID's name.
    const IniFile language = IniFile::FromText(L"[GUID]\r\n=Text\r\n");
    const IconListLoad load = ReadNotifyIconEntries(language);
    struct Row {
        const wchar_t* keyName;
        const wchar_t* displayName;
    } rows[] = {
        {L"class", L"Registered class"},
        {L"localized", L"Localized"},
        {L"no guid", L"Tool.exe"},
        {L"empty guid", L"empty guid"},
    };
    ASSERT_EQ(load.entries.size(), std::size(rows));
    for (const Row& row : rows) {
        const auto entry = std::find_if(load.entries.begin(), load.entries.end(),
                                        [&](const IconEntry& e) { return e.keyName == row.keyName; });
        ASSERT_NE(entry, load.entries.end()) << ToUtf8(row.keyName);
        EXPECT_EQ(entry->displayName, row.displayName) << ToUtf8(row.keyName);
    }
}

TEST(ExpandKnownFolderPath, ReplacesTheFirstBracedGuidByItsFolder)
{
    const std::wstring windows = WindowsDirectory();
    const std::wstring id = kWindowsFolderId;
    struct Case {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {id + L"\\system32\\notepad.exe", windows + L"\\system32\\notepad.exe"},
        {id + L"notepad.exe", windows + L"\\notepad.exe"},
        {id, windows},
        {L"{f38bf404-1d43-42f2-9305-67de0b28fc23}\\a.exe", windows + L"\\a.exe"},
        {L"D:\\old\\" + id + L"\\a.exe", windows + L"\\a.exe"}, // text before the brace goes
        {id + L"\\a\\" + id, windows + L"\\a\\" + id},          // only the first one
        {L"{00000000-0000-0000-0000-000000000001}\\a.exe", L"{00000000-0000-0000-0000-000000000001}\\a.exe"},
        {L"{F38BF404-1D43-42F2-9305-67DE0B28FC2}\\a.exe", L"{F38BF404-1D43-42F2-9305-67DE0B28FC2}\\a.exe"},
        {L"{F38BF404 1D43-42F2-9305-67DE0B28FC23}\\a.exe", L"{F38BF404 1D43-42F2-9305-67DE0B28FC23}\\a.exe"},
        {L"{F38BF404-1D43-42F2-9305-67DE0B28FCG3}\\a.exe", L"{F38BF404-1D43-42F2-9305-67DE0B28FCG3}\\a.exe"},
        {L"}\\" + id, L"}\\" + id}, // the first "}" comes before the "{"
        {L"{F38BF404-1D43-42F2-9305-67DE0B28FC23\\a.exe", L"{F38BF404-1D43-42F2-9305-67DE0B28FC23\\a.exe"},
        {L"C:\\Tools\\a.exe", L"C:\\Tools\\a.exe"},
        {L"", L""},
    };
    ASSERT_FALSE(windows.empty());
    for (const Case& c : cases) {
        EXPECT_EQ(ExpandKnownFolderPath(c.path), c.expected) << ToUtf8(c.path);
    }
}

TEST(UnredirectedPath, A32BitProcessUnderWow64SeesSystem32ThroughSysnative)
{
    const std::wstring windows = WindowsDirectory();
    // The system folder's known-folder id, as Explorer may write it.
    const std::wstring system = ExpandKnownFolderPath(L"{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\Tool.exe");
    struct Case {
        std::wstring path;
        bool wow64;
        std::wstring windowsDirectory;
        std::wstring expected;
    } cases[] = {
        {L"C:\\Windows\\System32\\Tool.exe", true, L"C:\\Windows", L"C:\\Windows\\Sysnative\\Tool.exe"},
        {L"c:\\WINDOWS\\system32\\Tool.exe", true, L"C:\\Windows", L"C:\\Windows\\Sysnative\\Tool.exe"},
        {L"C:\\Windows\\System32\\drivers\\x.sys", true, L"C:\\Windows\\", L"C:\\Windows\\Sysnative\\drivers\\x.sys"},
        {system, true, windows, windows + L"\\Sysnative\\Tool.exe"},
        {L"C:\\Windows\\System32\\Tool.exe", false, L"C:\\Windows", L"C:\\Windows\\System32\\Tool.exe"},
        {L"C:\\Windows\\SysWOW64\\Tool.exe", true, L"C:\\Windows", L"C:\\Windows\\SysWOW64\\Tool.exe"},
        {L"C:\\Windows\\System32x\\Tool.exe", true, L"C:\\Windows", L"C:\\Windows\\System32x\\Tool.exe"},
        {L"C:\\Windows\\System32", true, L"C:\\Windows", L"C:\\Windows\\System32"},
        {L"D:\\Windows\\System32\\Tool.exe", true, L"C:\\Windows", L"D:\\Windows\\System32\\Tool.exe"},
        {L"C:\\Apps\\Windows\\System32\\Tool.exe", true, L"C:\\Windows", L"C:\\Apps\\Windows\\System32\\Tool.exe"},
        {L"C:\\Windows\\System32\\Tool.exe", true, L"", L"C:\\Windows\\System32\\Tool.exe"},
        {L"", true, L"C:\\Windows", L""},
    };
    ASSERT_EQ(AsciiUpper(system), AsciiUpper(windows + L"\\system32\\Tool.exe"));
    for (const Case& c : cases) {
        EXPECT_EQ(UnredirectedPath(c.path, c.wow64, c.windowsDirectory), c.expected)
            << ToUtf8(c.path) << " wow64=" << c.wow64 << " windows=" << ToUtf8(c.windowsDirectory);
    }
}

TEST(NormalizeExecutablePath, ExpandsProgramFilesAndDropsX86ForMissingFiles)
{
    test::TempDir temp;
    const std::wstring programFiles = ProgramFilesDirectory();
    EXPECT_EQ(programFiles, Environment(L"ProgramFiles"));

    std::filesystem::create_directories(temp.path() / L"Program Files (x86)\\Tool");
    const std::wstring present = temp / L"Program Files (x86)\\Tool\\tool.exe";
    test::WriteFileBytes(present, "MZ");
    std::filesystem::create_directories(temp.path() / L"Program Files (x86)\\Folder.exe");

    const std::wstring id = std::wstring(kProgramFilesFolderId);
    struct Case {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {id + L"\\Vendor\\app.exe", programFiles + L"\\Vendor\\app.exe"},
        // The first braces hold no GUID, so only the replacement sees the id.
        {L"{junk}\\" + id + L"\\app.exe", L"{junk}\\" + programFiles + L"\\app.exe"},
        {present, present},
        {temp / L"program files (X86)\\Tool\\gone.exe", temp / L"Program Files\\Tool\\gone.exe"},
        {temp / L"Program Files (x86)\\Program Files (x86)\\gone.exe", temp / L"Program Files\\Program Files\\gone.exe"},
        {temp / L"Program Files (x86)\\Folder.exe", temp / L"Program Files\\Folder.exe"}, // a folder is no file
        {L"C:\\Tools\\app.exe", L"C:\\Tools\\app.exe"},
    };
    ASSERT_FALSE(programFiles.empty());
    for (const Case& c : cases) {
        EXPECT_EQ(NormalizeExecutablePath(c.path), c.expected) << ToUtf8(c.path);
    }
}

TEST(VendorDisplayName, FileNamesIgnoreAsciiCaseThePathPartDoesNot)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\Drivers\\NVContainer.exe", L"NVIDIA"},
        {L"C:\\Drivers\\nvcontainer.exe", L"NVIDIA"},
        {L"C:\\Drivers\\NVIDIA WEB HELPER.EXE", L"NVIDIA"},
        {L"C:nvdisplay.container.exe", L"NVIDIA"},
        {L"C:\\Program Files\\NVIDIA Corporation\\helper.exe", L"NVIDIA"},
        {L"C:\\Program Files\\nvidia corporation\\helper.exe", L""},
        {L"C:\\Drivers\\my nvcontainer.exe", L""},
        {L"C:\\Drivers\\amdrsserv.exe", L"AMD"},
        {L"C:\\AMD\\tool.exe", L"AMD"},
        {L"C:\\Drivers\\IGFXTRAY.EXE", L"Intel Graphics"},
        {L"C:\\Intel\\tool.exe", L"Intel Graphics"},
        {L"C:\\AMD\\Intel\\nvcontainer.exe", L"NVIDIA"}, // the first row wins
        {L"C:\\Drivers\\\u0130gfxTray.exe", L""},         // "İ" is no ASCII letter
        {L"C:\\Tools\\app.exe", L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VendorDisplayName(c.path), c.expected) << ToUtf8(c.path);
    }
}

IconEntry Entry(const wchar_t* name, bool promoted)
{
    IconEntry entry;
    entry.keyName = L"key";
    entry.displayName = name;
    entry.promoted = promoted;
    return entry;
}

TEST(CompareIconEntries, PromotedEntriesFirstThenNamesInAsciiFoldedOrder)
{
    std::vector<IconEntry> entries = {Entry(L"beta", true), Entry(L"Alpha", false), Entry(L"alpha2", true)};
    std::sort(entries.begin(), entries.end(),
              [](const IconEntry& a, const IconEntry& b) { return CompareIconEntries(a, b) < 0; });
    std::vector<std::wstring> names;
    for (const IconEntry& entry : entries) {
        names.push_back(entry.displayName);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha2", L"beta", L"Alpha"}));

    struct Case {
        IconEntry a;
        IconEntry b;
        int sign;
    } cases[] = {
        {Entry(L"a", false), Entry(L"B", false), -1},
        {Entry(L"ABC", false), Entry(L"abc", false), 0},
        {Entry(L"ab", false), Entry(L"abc", false), -1},
        {Entry(L"abc", false), Entry(L"ab", false), 1},
        {Entry(L"", false), Entry(L"a", false), -1},
        {Entry(L"_", false), Entry(L"a", false), 1},             // "a" compares as "A", below "_"
        {Entry(L"\u044F", false), Entry(L"\u042F", false), 1}, // я, Я: not folded
        {Entry(L"\u00E9", false), Entry(L"\u00C9", false), 1}, // é, É: not folded
        {Entry(L"z", true), Entry(L"a", false), -1},
        {Entry(L"z", true), Entry(L"a", true), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.a.displayName) + " / " + ToUtf8(c.b.displayName));
        const int result = CompareIconEntries(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
    }
}

} // namespace
} // namespace merovane
