#include "update/portable_apply.h"

#include "base/error.h"
#include "base/handles.h"
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
};

TEST(ApplyStagedUpdate, PutsTheNewFilesInAndLeavesTheUsersFilesAlone)
{
    PortableCopy copy;

    const std::vector<std::wstring> applied = ApplyStagedUpdate(copy.staging, copy.program, copy.backup);

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

        EXPECT_THROW(ApplyStagedUpdate(copy.staging, copy.program, copy.backup), Error) << c.what;
        lock.reset();

        EXPECT_EQ(copy.Program(), before) << c.what;
        EXPECT_EQ(ReadTree(copy.staging), staged) << c.what;
    }
}

TEST(ApplyStagedUpdate, RefusesToReplaceAFolderByAFile)
{
    PortableCopy copy;
    WriteTree(copy.staging, {{L"Config", "a file named like the user's folder"}});
    const Files before = copy.Program();

    EXPECT_THROW(ApplyStagedUpdate(copy.staging, copy.program, copy.backup), Error);

    EXPECT_EQ(copy.Program(), before);
}

TEST(WaitForProcessExit, WaitsForTheProcessById)
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

    EXPECT_FALSE(WaitForProcessExit(info.dwProcessId, 200ms));
    ::ResumeThread(thread.get());
    EXPECT_TRUE(WaitForProcessExit(info.dwProcessId, 10s));
}

} // namespace
} // namespace merovane::update
