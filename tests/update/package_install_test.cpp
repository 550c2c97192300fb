#include "update/package_install.h"

#include "base/error.h"
#include "base/handles.h"
#include "package_fixtures.h"
#include "support/file_links.h"
#include "support/http_server.h"
#include "support/running_program.h"
#include "support/sandbox.h"
#include "support/zip_writer.h"
#include "update/package_download.h"
#include "update/portable_apply.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>

namespace merovane::update {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Files;
using test::ReadTree;
using test::WriteTree;

TEST(QuietInstallerArguments, AreTheInstallersSwitchesWithTheLanguage)
{
    EXPECT_EQ(QuietInstallerArguments(L"English"),
              L"/SILENT /CLOSEAPPLICATIONS /SUPPRESSMSGBOXES /LANG=English /MERGETASKS=\"runcmd1\"");
    EXPECT_EQ(QuietInstallerArguments(L""), L"/SILENT /CLOSEAPPLICATIONS /SUPPRESSMSGBOXES /LANG= /MERGETASKS=\"runcmd1\"");
}

TEST(QuoteArgument, ReadsBackAsTheSameArgument)
{
    for (const std::wstring argument : {L"C:\\Program Files\\Merovane", L"C:\\", L"D:\\Tools\\", L"", L"a\"b",
                                        L"a\\\"b", L"Програмы\\Меровэйн ☃", L"two  blanks\t"}) {
        const std::wstring line = L"program.exe " + QuoteArgument(argument) + L" next";
        int count = 0;
        LPWSTR* split = ::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(split, nullptr);
        ASSERT_EQ(count, 3) << ToUtf8(line);
        EXPECT_EQ(std::wstring(split[1]), argument) << ToUtf8(line);
        EXPECT_EQ(std::wstring(split[2]), L"next");
        ::LocalFree(split);
    }
}

TEST(ParseApplyUpdateArguments, TakesOnlyTheStagingFolderOfTheProgramFolder)
{
    const std::wstring folder = L"C:\\Tools\\Merovane";
    const std::wstring staging = folder + L"\\Update.staging";
    struct Case {
        const char* what;
        std::vector<std::wstring> arguments;
        bool taken;
    } cases[] = {
        {"the helper's arguments", {L"h.exe", L"--apply-update", L"42", staging, folder, L"Merovane.exe"}, true},
        {"staging in another letter case",
         {L"h.exe", L"--apply-update", L"42", L"c:\\tools\\MEROVANE\\update.STAGING", folder, L"Merovane.exe"}, true},
        {"no switch", {L"h.exe"}, false},
        {"another switch", {L"h.exe", L"--list", L"42", staging, folder, L"Merovane.exe"}, false},
        {"one argument short", {L"h.exe", L"--apply-update", L"42", staging, folder}, false},
        {"one too many", {L"h.exe", L"--apply-update", L"42", staging, folder, L"Merovane.exe", L"x"}, false},
        {"handle 0", {L"h.exe", L"--apply-update", L"0", staging, folder, L"Merovane.exe"}, false},
        {"handle no number", {L"h.exe", L"--apply-update", L"4x", staging, folder, L"Merovane.exe"}, false},
        {"handle with a sign", {L"h.exe", L"--apply-update", L"+42", staging, folder, L"Merovane.exe"}, false},
        {"handle in hex", {L"h.exe", L"--apply-update", L"0x2a", staging, folder, L"Merovane.exe"}, false},
        {"handle beyond 32 bits", {L"h.exe", L"--apply-update", L"4294967296", staging, folder, L"Merovane.exe"},
         false},
        {"a staging folder elsewhere", {L"h.exe", L"--apply-update", L"42", L"C:\\Windows", folder, L"Merovane.exe"},
         false},
        {"a program name with a folder", {L"h.exe", L"--apply-update", L"42", staging, folder, L"..\\x.exe"}, false},
        {"no program folder", {L"h.exe", L"--apply-update", L"42", L"\\Update.staging", L"", L"Merovane.exe"}, false},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseApplyUpdateArguments(c.arguments);
        EXPECT_EQ(parsed.has_value(), c.taken) << c.what;
        if (parsed) {
            EXPECT_EQ(parsed->process, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(42)));
            EXPECT_EQ(parsed->programFolder, folder);
            EXPECT_EQ(parsed->exeName, L"Merovane.exe");
        }
    }
}

// A process that stays until the test ends it: the old program the helper
// waits for.
class StandInProcess {
public:
    StandInProcess()
    {
        std::wstring command = L"\"" + test::FixturePath(L"bare.exe") + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                              &startup, &info)) {
            ThrowLastError();
        }
        ::CloseHandle(info.hThread);
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
    }
    ~StandInProcess() { End(); }

    [[nodiscard]] DWORD Id() const noexcept { return id_; }
    [[nodiscard]] HANDLE Handle() const noexcept { return process_.get(); }
    void End() noexcept
    {
        if (process_) {
            ::TerminateProcess(process_.get(), 0);
            ::WaitForSingleObject(process_.get(), 5000);
            process_.reset();
        }
    }

private:
    unique_handle process_;
    DWORD id_ = 0;
};

DWORD ExitCodeAfter(HANDLE process, DWORD timeoutMs)
{
    ::WaitForSingleObject(process, timeoutMs);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process, &code);
    return code;
}

// A portable copy in a folder of its own: an old program, the marker, and
// the user's options and language file, which an update never touches.
struct PortableFolder {
    test::TempDir temp;
    std::wstring folder = temp / L"Portable Меровэйн";
    std::wstring zip = temp / L"Merovane.zip";
    const Files usersFiles{
        {L"Config\\Option.ini", "[Option]\r\nCheckBoxAutoCheck=0\r\nCheckBoxToTray=0\r\n"},
        {L"Language\\Mine.ini", "[Language information]\r\nLANGNAME=Mine\r\n"},
    };

    PortableFolder()
    {
        WriteTree(folder, usersFiles);
        WriteTree(folder, {{L"portable.ini", ""}, {L"Merovane.exe", "the old program"}});
    }

    [[nodiscard]] PortableUpdate Update(HANDLE process) const
    {
        return {.zip = zip,
                .programFolder = folder,
                .exeName = L"Merovane.exe",
                .process = process,
                .tempRoot = temp.path().wstring()};
    }

    [[nodiscard]] Files UsersFiles() const
    {
        Files files = ReadTree(folder);
        std::erase_if(files, [this](const auto& item) { return !usersFiles.contains(item.first); });
        return files;
    }
};

TEST(PortableUpdate, TheHelperWaitsForTheProgramSwapsTheFilesInAndStartsItAgain)
{
    PortableFolder copy;
    const std::string program = test::ReadAll(test::RunningProgram::Path());
    ASSERT_FALSE(program.empty());
    // Two files in a folder that has no entry of its own, and one at the top.
    test::WriteFileBytes(copy.zip, test::MakeZip({{.name = "Merovane.exe", .data = program, .deflate = true},
                                                  {.name = "Docs/a.txt", .data = "first"},
                                                  {.name = "Docs/b.txt", .data = "second", .deflate = true},
                                                  {.name = "Readme.txt", .data = "top"}}));
    StandInProcess old;
    PortableStart start = StartPortableUpdate(copy.Update(old.Handle()));
    ASSERT_TRUE(start.ok());
    // The helper waits while the old program runs, changing nothing.
    EXPECT_EQ(ExitCodeAfter(start.helper.get(), 1000), STILL_ACTIVE);
    EXPECT_EQ(test::ReadAll(fs::path(copy.folder) / L"Merovane.exe"), "the old program");
    EXPECT_TRUE(fs::exists(fs::path(copy.folder) / L"Update.staging" / L"Docs" / L"b.txt"));

    old.End();
    ASSERT_EQ(ExitCodeAfter(start.helper.get(), 60'000), 0u);
    EXPECT_EQ(test::ReadAll(fs::path(copy.folder) / L"Merovane.exe"), program);
    EXPECT_EQ(test::ReadAll(fs::path(copy.folder) / L"Docs" / L"a.txt"), "first");
    EXPECT_EQ(test::ReadAll(fs::path(copy.folder) / L"Docs" / L"b.txt"), "second");
    EXPECT_EQ(test::ReadAll(fs::path(copy.folder) / L"Readme.txt"), "top");
    EXPECT_EQ(copy.UsersFiles(), copy.usersFiles);
    EXPECT_FALSE(fs::exists(fs::path(copy.folder) / L"Update.staging"));
    EXPECT_FALSE(fs::exists(fs::path(copy.folder) / L"Update.backup"));

    // The new program runs from the folder; it is closed as Windows closes
    // programs at log-off.
    HWND window = nullptr;
    for (int wait = 0; wait < 600 && window == nullptr; ++wait) {
        window = test::MainWindowOfProgramAt(copy.folder + L"\\Merovane.exe");
        ::Sleep(100);
    }
    ASSERT_NE(window, nullptr) << "the new program did not start";
    DWORD id = 0;
    ::GetWindowThreadProcessId(window, &id);
    const test::RunningProgram restarted(id);
    test::CloseAsAnInstallerDoes(window);
    EXPECT_NE(restarted.WaitForExit(20'000), STILL_ACTIVE);
}

// The real helper killed at points through its swap (measured from the
// moment its journal appears), then what a start of the program does first:
// the folder holds the old version or the new one, never a mix, and the
// user's files are untouched.
TEST(PortableUpdate, AHelperKilledDuringTheSwapLeavesTheFolderWhollyOldOrWhollyNew)
{
    const std::string program = test::ReadAll(test::RunningProgram::Path());
    ASSERT_FALSE(program.empty());
    std::vector<test::ZipSpec> entries{{.name = "Merovane.exe", .data = program, .deflate = true},
                                       {.name = "Language/English.ini", .data = "new English"}};
    constexpr int kPages = 600;
    for (int page = 0; page < kPages; ++page) {
        entries.push_back({.name = "Help/page" + std::to_string(page) + ".txt", .data = "new help"});
    }
    const std::string zip = test::MakeZip(entries);
    int wholeOld = 0;
    int wholeNew = 0;
    for (const int delayMs : {0, 5, 20, 50, 100, 200, 400}) {
        PortableFolder copy;
        WriteTree(copy.folder, {{L"Language\\English.ini", "old English"}});
        test::WriteFileBytes(copy.zip, zip);
        const fs::path folder(copy.folder);
        StandInProcess old;
        const PortableStart start = StartPortableUpdate(copy.Update(old.Handle()));
        ASSERT_TRUE(start.ok());
        old.End();
        const auto journalAppeared = [&] { return fs::exists(folder / L"Update.journal"); };
        for (int wait = 0; wait < 30'000 && !journalAppeared() &&
                           ::WaitForSingleObject(start.helper.get(), 0) == WAIT_TIMEOUT;
             ++wait) {
            ::Sleep(1);
        }
        ::Sleep(static_cast<DWORD>(delayMs));
        ::TerminateProcess(start.helper.get(), 9);
        ::WaitForSingleObject(start.helper.get(), 10'000);

        // What every start does before anything else.
        RecoverInterruptedUpdate(copy.folder);
        RemoveFolders(FindUpdateLeftovers(copy.folder, copy.temp.path().wstring()));

        const std::string exe = test::ReadAll(folder / L"Merovane.exe");
        const std::string english = test::ReadAll(folder / L"Language" / L"English.ini");
        std::size_t pages = 0;
        if (fs::exists(folder / L"Help")) {
            pages = static_cast<std::size_t>(
                std::distance(fs::directory_iterator(folder / L"Help"), fs::directory_iterator()));
        }
        const bool isNew = exe == program && english == "new English" && pages == kPages;
        const bool isOld = exe == "the old program" && english == "old English" && !fs::exists(folder / L"Help");
        EXPECT_TRUE(isNew || isOld) << "killed " << delayMs << " ms after the journal appeared: program "
                                    << (exe == program ? "new" : "old") << ", " << english << ", " << pages
                                    << " pages";
        wholeOld += isOld ? 1 : 0;
        wholeNew += isNew ? 1 : 0;
        EXPECT_EQ(copy.UsersFiles(), copy.usersFiles) << delayMs;
        EXPECT_FALSE(fs::exists(folder / L"Update.journal")) << delayMs;
        EXPECT_FALSE(fs::exists(folder / L"Update.staging")) << delayMs;
        EXPECT_FALSE(fs::exists(folder / L"Update.backup")) << delayMs;

        // A helper that got through started the new program: closed again.
        if (isNew) {
            for (int wait = 0; wait < 30; ++wait) {
                if (HWND window = test::MainWindowOfProgramAt(copy.folder + L"\\Merovane.exe")) {
                    DWORD id = 0;
                    ::GetWindowThreadProcessId(window, &id);
                    const test::RunningProgram restarted(id);
                    test::CloseAsAnInstallerDoes(window);
                    restarted.WaitForExit(20'000);
                    break;
                }
                ::Sleep(100);
            }
        }
    }
    std::cout << "[          ] " << wholeOld << " ended old, " << wholeNew << " new\n";
}

TEST(PortableUpdate, ARefusedPackageStagesNothingAndStartsNothing)
{
    struct Case {
        const char* what;
        std::vector<test::ZipSpec> entries;
        PortableProblem problem;
    } cases[] = {
        {"an entry that climbs out", {{.name = "Merovane.exe", .data = "new"}, {.name = "..\\..\\evil.txt", .data = "x"}},
         PortableProblem::PackageRefused},
        {"an absolute entry", {{.name = "Merovane.exe", .data = "new"}, {.name = "C:/evil.txt", .data = "x"}},
         PortableProblem::PackageRefused},
        {"a damaged entry", {{.name = "Merovane.exe", .data = "new", .crc = 1u}}, PortableProblem::PackageRefused},
        {"no program of this name", {{.name = "Other.exe", .data = "new"}}, PortableProblem::NoProgram},
        {"the program name as a folder", {{.name = "Merovane.exe/inside.txt", .data = "new"}},
         PortableProblem::NoProgram},
    };
    for (const Case& c : cases) {
        PortableFolder copy;
        test::WriteFileBytes(copy.zip, test::MakeZip(c.entries));
        const Files before = ReadTree(copy.folder);
        const PortableStart start = StartPortableUpdate(copy.Update(nullptr));
        EXPECT_EQ(start.problem, c.problem) << c.what;
        EXPECT_FALSE(start.helper) << c.what;
        EXPECT_EQ(ReadTree(copy.folder), before) << c.what;
        EXPECT_FALSE(fs::exists(copy.temp.path() / L"evil.txt")) << c.what;
        // No helper folder beside the package.
        EXPECT_EQ(std::distance(fs::directory_iterator(copy.temp.path()), fs::directory_iterator()), 2) << c.what;
    }
}

// The helper that gives up on the old program starts it with the failure
// switch, so the user hears of it, and changes nothing.
TEST(RunApplyUpdate, GivingUpStartsTheProgramToSaySo)
{
    StandInProcess old;
    const unique_handle notAProcess(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    struct Case {
        const char* what;
        HANDLE process;
        DWORD code;
    } cases[] = {
        {"the old program does not end", old.Handle(), WAIT_TIMEOUT},
        {"the handle is no process", notAProcess.get(), ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        PortableFolder copy;
        const std::wstring program = copy.folder + L"\\Merovane.exe";
        ASSERT_TRUE(::CopyFileW(test::FixturePath(L"record_args.exe").c_str(), program.c_str(), FALSE));
        const std::string before = test::ReadAll(program);
        WriteTree(copy.folder + L"\\Update.staging", {{L"Merovane.exe", "new"}});
        const std::wstring record = copy.temp / L"record.txt";
        ::SetEnvironmentVariableW(L"MEROVANE_RECORD_FILE", record.c_str());

        EXPECT_EQ(RunApplyUpdate({.process = c.process,
                                  .staging = copy.folder + L"\\Update.staging",
                                  .programFolder = copy.folder,
                                  .exeName = L"Merovane.exe"},
                                 300ms),
                  2)
            << c.what;

        std::string started;
        for (int wait = 0; wait < 100 && started.find("time=") == std::string::npos; ++wait) {
            ::Sleep(100);
            started = test::ReadAll(record);
        }
        ::SetEnvironmentVariableW(L"MEROVANE_RECORD_FILE", nullptr);
        EXPECT_NE(started.find("--update-failed " + std::to_string(c.code) + "\n"), std::string::npos)
            << c.what << ": " << started;
        EXPECT_EQ(test::ReadAll(program), before) << c.what;
        EXPECT_FALSE(fs::exists(fs::path(copy.folder) / L"Update.staging")) << c.what;
        // The program ran and ended before the folder goes.
        ::Sleep(300);
    }
}

TEST(UpdateLeftovers, AreTheStagingAndBackupFoldersAndEarlierDownloadsOnly)
{
    test::TempDir temp;
    const std::wstring folder = temp / L"Program";
    const std::wstring downloads = temp / L"Temp";
    WriteTree(folder, {{L"Update.staging\\Merovane.exe", "half an update"},
                       {L"Update.backup\\Merovane.exe", "a backup no journal needs"},
                       {L"Merovane.exe", "program"}});
    WriteTree(downloads, {{L"Merovane-update-0123456789abcdef\\Merovane-setup.exe", "installer"},
                          {L"Merovane-update-fedcba9876543210\\Merovane.exe", "helper"},
                          {L"Merovane-update-file", "a file, not a folder of ours"},
                          {L"Merovane-update-0123456789abcde\\keep.txt", "15 digits: not our name"},
                          {L"Merovane-update-0123456789abcdef0\\keep.txt", "17 digits: not our name"},
                          {L"Merovane-update-0123456789abcdeg\\keep.txt", "not hex: not our name"},
                          {L"Merovane-update-mine\\keep.txt", "someone else's"},
                          {L"Other\\keep.txt", "someone else's"}});
    const std::vector<std::wstring> found = FindUpdateLeftovers(folder, downloads);
    // A download this run makes after the search is not among them.
    WriteTree(downloads, {{L"Merovane-update-1111222233334444\\Merovane-setup.exe", "this run's"}});
    RemoveFolders(found);
    EXPECT_EQ(ReadTree(folder), (Files{{L"Merovane.exe", "program"}}));
    EXPECT_EQ(ReadTree(downloads), (Files{{L"Merovane-update-0123456789abcde\\", ""},
                                          {L"Merovane-update-0123456789abcde\\keep.txt", "15 digits: not our name"},
                                          {L"Merovane-update-0123456789abcdef0\\", ""},
                                          {L"Merovane-update-0123456789abcdef0\\keep.txt", "17 digits: not our name"},
                                          {L"Merovane-update-0123456789abcdeg\\", ""},
                                          {L"Merovane-update-0123456789abcdeg\\keep.txt", "not hex: not our name"},
                                          {L"Merovane-update-1111222233334444\\", ""},
                                          {L"Merovane-update-1111222233334444\\Merovane-setup.exe", "this run's"},
                                          {L"Merovane-update-file", "a file, not a folder of ours"},
                                          {L"Merovane-update-mine\\", ""},
                                          {L"Merovane-update-mine\\keep.txt", "someone else's"},
                                          {L"Other\\", ""},
                                          {L"Other\\keep.txt", "someone else's"}}));
}

TEST(UpdateLeftovers, AJournalKeepsStagingAndBackup)
{
    test::TempDir temp;
    const std::wstring folder = temp / L"Program";
    const Files files{{L"Update.staging\\Merovane.exe", "new"},
                      {L"Update.backup\\Merovane.exe", "old"},
                      {L"Update.journal", "a swap another process is still making"},
                      {L"Merovane.exe", "program"}};
    WriteTree(folder, files);
    RemoveFolders(FindUpdateLeftovers(folder, temp / L"Temp"));
    EXPECT_EQ(ReadTree(folder), (Files{{L"Update.staging\\", ""},
                                       {L"Update.staging\\Merovane.exe", "new"},
                                       {L"Update.backup\\", ""},
                                       {L"Update.backup\\Merovane.exe", "old"},
                                       {L"Update.journal", "a swap another process is still making"},
                                       {L"Merovane.exe", "program"}}));
}

// Leftovers that are links (Wine's own: see support/file_links.h): the link
// goes where the system can unlink it, what it points at stays.
TEST(UpdateLeftovers, AreRemovedWithoutFollowingLinks)
{
    test::TempDir temp;
    const std::wstring folder = temp / L"Program";
    const std::wstring downloads = temp / L"Temp";
    const std::wstring target = temp / L"Documents";
    const Files documents{{L"letter.txt", "the user's letter"}, {L"Photos\\one.jpg", "a photo"}};
    WriteTree(target, documents);
    WriteTree(folder, {{L"Merovane.exe", "program"}});
    WriteTree(downloads, {{L"Merovane-update-0123456789abcdef\\Merovane-setup.exe", "installer"}});
    const std::vector<std::wstring> links{folder + L"\\Update.staging", folder + L"\\Update.backup",
                                          downloads + L"\\Merovane-update-0123456789abcdef\\inside",
                                          downloads + L"\\Merovane-update-fedcba9876543210"};
    for (const std::wstring& link : links) {
        ASSERT_TRUE(test::MakeLink(link, target, true)) << ToUtf8(link);
    }

    RemoveFolders(FindUpdateLeftovers(folder, downloads));

    Files expected = documents;
    expected[L"Photos\\"] = "";
    EXPECT_EQ(ReadTree(target), expected);
    EXPECT_FALSE(fs::exists(fs::path(downloads) / L"Merovane-update-0123456789abcdef" / L"Merovane-setup.exe"));
    for (const std::wstring& link : links) {
        test::RemoveLink(link);
    }
}

// The private folder's access is its own: this user and the system, nothing
// taken over from a temporary folder others may share.
TEST(PrivateFolder, GrantsThisUserAndTheSystemOnly)
{
    test::TempDir temp;
    const std::wstring folder = MakePrivateFolder(temp.path().wstring());

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &dacl,
                                      nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const unique_hlocal descriptorOwner(descriptor);
    ASSERT_NE(dacl, nullptr);

    unique_handle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    std::uint8_t user[256]{};
    DWORD size = 0;
    ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &size));
    const PSID me = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    std::uint8_t system[SECURITY_MAX_SID_SIZE]{};
    size = sizeof(system);
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));

    EXPECT_TRUE(::EqualSid(owner, me));
    std::vector<std::string> granted;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        granted.push_back(::EqualSid(sid, me) ? "me" : ::EqualSid(sid, system) ? "system" : "someone else");
    }
    std::sort(granted.begin(), granted.end());
    EXPECT_EQ(granted, (std::vector<std::string>{"me", "system"}));
}

// From its check until it is used, the package can be read but neither
// changed, replaced nor removed; once let go it can.
TEST(VerifiedPackage, StaysOpenAgainstChangesUntilItIsUsed)
{
    test::HttpServer server;
    test::TempDir temp;
    const std::string path = "/download/Merovane/Merovane-setup.exe";
    server.ServeText(path + ".sig", test::PackageFixture(L"setup.sig"));
    server.ServeText(path, test::PackageBytes());
    const DownloadResult result = DownloadPackage({.packageUrl = server.Url(path),
                                                   .fileName = L"Merovane-setup.exe",
                                                   .offeredVersion = L"1.0.1.0",
                                                   .runningVersion = L"1.0.0.0",
                                                   .publicKey = test::TestPackageKey(),
                                                   .readTimeoutMs = 1000,
                                                   .tempRoot = temp.path().wstring()});
    ASSERT_TRUE(result.ok());
    ASSERT_TRUE(result.package && *result.package);

    const auto opens = [&](DWORD access) {
        const unique_file file(::CreateFileW(result.file.c_str(), access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    };
    const std::wstring moved = temp / L"moved.exe";
    EXPECT_TRUE(opens(GENERIC_READ));
    EXPECT_FALSE(opens(GENERIC_WRITE));
    EXPECT_FALSE(opens(DELETE));
    EXPECT_FALSE(::MoveFileExW(result.file.c_str(), moved.c_str(), 0));
    EXPECT_FALSE(::DeleteFileW(result.file.c_str()));

    result.package->reset();
    EXPECT_TRUE(opens(GENERIC_WRITE));
    RemoveFolders({result.folder});
}

TEST(OpenUnchanged, HoldsAFileOnlyWhenItStillHasItsBytes)
{
    test::TempDir temp;
    const std::wstring file = temp / L"Merovane.exe";
    test::WriteFileBytes(file, "the staged program");
    struct Case {
        const char* what;
        std::string expected;
        bool held;
    } cases[] = {
        {"the bytes the package holds", "the staged program", true},
        {"changed since it was unpacked", "the program as packaged", false},
    };
    for (const Case& c : cases) {
        const unique_file held = OpenUnchanged(file, Sha256Of(c.expected));
        EXPECT_EQ(static_cast<bool>(held), c.held) << c.what;
        const unique_file writer(::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_EQ(static_cast<bool>(writer), !c.held) << c.what << ": a held file refuses writers";
    }
}

// The package is unpacked from the handle held since its check, not opened
// again by a path that may by now name something else.
TEST(PortableUpdate, UnpacksFromTheHeldPackage)
{
    PortableFolder copy;
    test::WriteFileBytes(copy.zip, test::MakeZip({{.name = "Readme.txt", .data = "the checked package"}}));
    const unique_file held(::CreateFileW(copy.zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    PortableUpdate update = copy.Update(nullptr);
    update.zip = copy.temp / L"nothing here.zip";
    update.zipFile = held.get();

    // The package was read (it holds no program), where the path alone
    // would have failed to open.
    EXPECT_EQ(StartPortableUpdate(update).problem, PortableProblem::NoProgram);
}

} // namespace
} // namespace merovane::update
