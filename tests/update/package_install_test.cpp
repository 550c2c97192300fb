#include "update/package_install.h"

#include "base/error.h"
#include "base/handles.h"
#include "package_fixtures.h"
#include "support/running_program.h"
#include "support/sandbox.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <filesystem>

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
        {"process id 0", {L"h.exe", L"--apply-update", L"0", staging, folder, L"Merovane.exe"}, false},
        {"process id no number", {L"h.exe", L"--apply-update", L"4x", staging, folder, L"Merovane.exe"}, false},
        {"process id beyond 32 bits", {L"h.exe", L"--apply-update", L"4294967296", staging, folder, L"Merovane.exe"},
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
            EXPECT_EQ(parsed->processId, 42u);
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

    [[nodiscard]] PortableUpdate Update(DWORD processId) const
    {
        return {.zip = zip,
                .programFolder = folder,
                .exeName = L"Merovane.exe",
                .processId = processId,
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
    PortableStart start = StartPortableUpdate(copy.Update(old.Id()));
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
        const PortableStart start = StartPortableUpdate(copy.Update(::GetCurrentProcessId()));
        EXPECT_EQ(start.problem, c.problem) << c.what;
        EXPECT_FALSE(start.helper) << c.what;
        EXPECT_EQ(ReadTree(copy.folder), before) << c.what;
        EXPECT_FALSE(fs::exists(copy.temp.path() / L"evil.txt")) << c.what;
        // No helper folder beside the package.
        EXPECT_EQ(std::distance(fs::directory_iterator(copy.temp.path()), fs::directory_iterator()), 2) << c.what;
    }
}

TEST(RunApplyUpdate, AProgramThatDoesNotEndKeepsItsFiles)
{
    PortableFolder copy;
    WriteTree(copy.folder + L"\\Update.staging", {{L"Merovane.exe", "new"}});
    StandInProcess old;
    EXPECT_EQ(RunApplyUpdate({.processId = old.Id(),
                              .staging = copy.folder + L"\\Update.staging",
                              .programFolder = copy.folder,
                              .exeName = L"Merovane.exe"},
                             300ms),
              2);
    EXPECT_EQ(test::ReadAll(fs::path(copy.folder) / L"Merovane.exe"), "the old program");
    EXPECT_FALSE(fs::exists(fs::path(copy.folder) / L"Update.staging"));
}

TEST(UpdateLeftovers, AreTheStagingFolderAndEarlierDownloadsOnly)
{
    test::TempDir temp;
    const std::wstring folder = temp / L"Program";
    const std::wstring downloads = temp / L"Temp";
    WriteTree(folder, {{L"Update.staging\\Merovane.exe", "half an update"},
                       {L"Update.backup\\Merovane.exe", "an old file not put back"},
                       {L"Merovane.exe", "program"}});
    WriteTree(downloads, {{L"Merovane-update-0123456789abcdef\\Merovane-setup.exe", "installer"},
                          {L"Merovane-update-fedcba9876543210\\Merovane.exe", "helper"},
                          {L"Merovane-update-file", "a file, not a folder of ours"},
                          {L"Other\\keep.txt", "someone else's"}});
    const std::vector<std::wstring> found = FindUpdateLeftovers(folder, downloads);
    // A download this run makes after the search is not among them.
    WriteTree(downloads, {{L"Merovane-update-1111222233334444\\Merovane-setup.exe", "this run's"}});
    RemoveFolders(found);
    EXPECT_EQ(ReadTree(folder), (Files{{L"Update.backup\\", ""},
                                       {L"Update.backup\\Merovane.exe", "an old file not put back"},
                                       {L"Merovane.exe", "program"}}));
    EXPECT_EQ(ReadTree(downloads), (Files{{L"Merovane-update-1111222233334444\\", ""},
                                          {L"Merovane-update-1111222233334444\\Merovane-setup.exe", "this run's"},
                                          {L"Merovane-update-file", "a file, not a folder of ours"},
                                          {L"Other\\", ""},
                                          {L"Other\\keep.txt", "someone else's"}}));
}

} // namespace
} // namespace merovane::update
