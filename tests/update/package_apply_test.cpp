#include "update/portable_apply.h"

#include "base/error.h"
#include "base/handles.h"
#include "update/package_install.h"
#include "package_fixtures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace merovane::update {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Files;
using test::ReadTree;
using test::WriteTree;

// A portable copy with the user's own files, and an unpacked update for it.
struct PortableCopy {
    test::TempDir temp;
    std::wstring program = temp / L"Program";
    std::wstring staging = program + L"\\Update.staging";
    std::wstring backup = program + L"\\Update.backup";
    std::wstring journal = program + L"\\Update.journal";

    const Files oldFiles{
        {L"Merovane.exe", "old program"},
        {L"Config\\Option.ini", "the user's options"},
        {L"Language\\English.ini", "old English"},
        {L"Language\\Mine.ini", "the user's own language"},
    };
    const Files newFiles{
        {L"Merovane.exe", "new program"},
        {L"Language\\English.ini", "new English"},
        {L"Language\\Deutsch.ini", "new Deutsch"},
        {L"Help\\Guide\\Start.txt", "new help"},
    };

    PortableCopy()
    {
        WriteTree(program, oldFiles);
        WriteTree(staging, newFiles);
    }

    // The program folder without the staging folder.
    Files Program() const
    {
        Files files = ReadTree(program);
        std::erase_if(files, [](const auto& item) { return item.first.starts_with(L"Update.staging"); });
        return files;
    }

    // The folder as it is before the update, and as it is after it.
    Files OldFolder() const { return WithFolders(oldFiles); }
    Files NewFolder() const
    {
        Files files = oldFiles;
        for (const auto& [name, bytes] : newFiles) {
            files[name] = bytes;
        }
        return WithFolders(files);
    }

    // What a start of the program does first.
    Recovery StartProgram() const
    {
        const Recovery recovery = RecoverInterruptedUpdate(program);
        RemoveFolders(FindUpdateLeftovers(program, (temp / L"no downloads")));
        return recovery;
    }

private:
    static Files WithFolders(Files files)
    {
        Files folders;
        for (const auto& item : files) {
            for (std::size_t slash = item.first.find(L'\\'); slash != std::wstring::npos;
                 slash = item.first.find(L'\\', slash + 1)) {
                folders[item.first.substr(0, slash + 1)] = "";
            }
        }
        files.merge(folders);
        return files;
    }
};

TEST(ApplyStagedUpdate, PutsTheNewFilesInAndLeavesTheUsersFilesAlone)
{
    PortableCopy copy;

    const std::vector<std::wstring> applied = ApplyStagedUpdate(copy.program, L"Merovane.exe");

    EXPECT_EQ(applied, (std::vector<std::wstring>{L"Help\\Guide\\Start.txt", L"Language\\Deutsch.ini",
                                                  L"Language\\English.ini", L"Merovane.exe"}));
    EXPECT_EQ(ReadTree(copy.program), (Files{
                                          {L"Config\\", ""},
                                          {L"Config\\Option.ini", "the user's options"},
                                          {L"Help\\", ""},
                                          {L"Help\\Guide\\", ""},
                                          {L"Help\\Guide\\Start.txt", "new help"},
                                          {L"Language\\", ""},
                                          {L"Language\\Deutsch.ini", "new Deutsch"},
                                          {L"Language\\English.ini", "new English"},
                                          {L"Language\\Mine.ini", "the user's own language"},
                                          {L"Merovane.exe", "new program"},
                                      }));
}

TEST(ApplyStagedUpdate, PutsTheOldFilesBackWhenAMoveFails)
{
    struct Case {
        const char* what;
        bool lockStaged;  // else the program's own file
        const wchar_t* file;
    } cases[] = {
        // The last file in order, so that every other one was swapped already.
        {"old program still open", false, L"Merovane.exe"},
        {"new program still open", true, L"Merovane.exe"},
        {"a language file in use", false, L"Language\\English.ini"},
    };
    for (const Case& c : cases) {
        PortableCopy copy;
        const Files before = copy.Program();
        const Files staged = ReadTree(copy.staging);
        const std::wstring locked = (c.lockStaged ? copy.staging : copy.program) + L"\\" + c.file;
        unique_file lock(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(lock) << c.what;

        EXPECT_THROW(ApplyStagedUpdate(copy.program, L"Merovane.exe"), Error) << c.what;
        lock.reset();

        EXPECT_EQ(copy.Program(), before) << c.what;
        EXPECT_EQ(ReadTree(copy.staging), staged) << c.what;
        EXPECT_FALSE(fs::exists(copy.journal)) << c.what;
    }
}

TEST(ApplyStagedUpdate, RefusesToReplaceAFolderByAFile)
{
    PortableCopy copy;
    WriteTree(copy.staging, {{L"Config", "a file named like the user's folder"}});
    const Files before = copy.Program();

    EXPECT_THROW(ApplyStagedUpdate(copy.program, L"Merovane.exe"), Error);

    EXPECT_EQ(copy.Program(), before);
}

TEST(ApplyStagedUpdate, ALeftoverBackupDoesNotStopTheNextUpdate)
{
    PortableCopy copy;
    WriteTree(copy.backup, {{L"Merovane.exe", "a backup an earlier update could not remove"}});

    ApplyStagedUpdate(copy.program, L"Merovane.exe");

    EXPECT_EQ(ReadTree(copy.program), copy.NewFolder());
}

// A swap cut off after each of its steps (a crash, a power loss, a killed
// helper), then the program started: the folder is wholly old or wholly new,
// and the program file is there at every point.
TEST(ApplyStagedUpdate, ASwapCutOffAnywhereEndsWhollyOldOrWhollyNew)
{
    // The journal, two folders, two new files, two replaced files (a copy
    // into the backup and a move each, the program last), "done" in the
    // journal, and the removal of what is left.
    constexpr std::size_t kProgramMovedIn = 9;
    constexpr std::size_t kSteps = 11;
    for (std::size_t steps = 0; steps <= kSteps; ++steps) {
        PortableCopy copy;
        const std::vector<std::wstring> applied = ApplyStagedUpdate(copy.program, L"Merovane.exe", steps);
        if (steps < kSteps) {
            EXPECT_TRUE(applied.empty()) << steps;
        }
        const std::string program = test::ReadAll(fs::path(copy.program) / L"Merovane.exe");
        EXPECT_EQ(program, steps < kProgramMovedIn ? "old program" : "new program") << steps;
        EXPECT_EQ(fs::exists(copy.journal), steps >= 1 && steps < kSteps) << steps;

        const Recovery recovery = copy.StartProgram();

        EXPECT_EQ(recovery, steps == 0 || steps == kSteps  ? Recovery::Nothing
                            : steps < kProgramMovedIn     ? Recovery::Undone
                                                          : Recovery::Finished)
            << steps;
        EXPECT_EQ(ReadTree(copy.program), steps < kProgramMovedIn ? copy.OldFolder() : copy.NewFolder()) << steps;
    }
}

// A journal that can't be settled yet (a file in use) keeps staging and the
// backup through any number of starts, until it can.
TEST(ApplyStagedUpdate, StagingAndBackupStayWhileTheJournalNeedsThem)
{
    PortableCopy copy;
    ApplyStagedUpdate(copy.program, L"Merovane.exe", 7); // English.ini copied and moved in
    {
        // Someone has the new English.ini open: it can't go back yet.
        const unique_file open(::CreateFileW((copy.program + L"\\Language\\English.ini").c_str(), GENERIC_READ, 0,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(open);
        EXPECT_EQ(copy.StartProgram(), Recovery::Failed);
        EXPECT_TRUE(fs::exists(copy.journal));
        EXPECT_TRUE(fs::exists(fs::path(copy.backup) / L"Language" / L"English.ini"));
        EXPECT_TRUE(fs::exists(fs::path(copy.staging) / L"Merovane.exe"));
        EXPECT_EQ(test::ReadAll(fs::path(copy.program) / L"Merovane.exe"), "old program");
    }
    EXPECT_EQ(copy.StartProgram(), Recovery::Undone);
    EXPECT_EQ(ReadTree(copy.program), copy.OldFolder());
}

TEST(ApplyStagedUpdate, AJournalMarkedDoneHasItsBackupRemovedAtTheNextStart)
{
    PortableCopy copy;
    // Everything in place and marked done; the backup not yet removed.
    ApplyStagedUpdate(copy.program, L"Merovane.exe", 10);
    ASSERT_TRUE(fs::exists(fs::path(copy.backup) / L"Merovane.exe"));

    EXPECT_EQ(copy.StartProgram(), Recovery::Finished);
    EXPECT_EQ(ReadTree(copy.program), copy.NewFolder());
}

TEST(WaitForProcess, WaitsOnTheHandle)
{
    const std::wstring fixture = test::FixturePath(L"record_args.exe");
    std::wstring commandLine = L"\"" + fixture + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(fixture.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &startup, &info));
    const unique_handle process(info.hProcess);
    const unique_handle thread(info.hThread);

    EXPECT_FALSE(WaitForProcess(process.get(), 200ms));
    ::ResumeThread(thread.get());
    EXPECT_TRUE(WaitForProcess(process.get(), 10s));

    // A handle that is no process is refused, not taken as ended.
    const unique_handle event(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_THROW(WaitForProcess(event.get(), 10s), Error);
}

} // namespace
} // namespace merovane::update
