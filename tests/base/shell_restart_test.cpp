#include "base/shell_restart.h"

#include "support/running_program.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace merovane {
namespace {

using namespace std::chrono_literals;

// A copy of the stand-in in a folder of its own, so no other test's process
// shares its image.
struct StandIn {
    test::TempDir dir;
    std::wstring image = dir / L"explorer.exe";

    StandIn()
    {
        std::filesystem::copy_file(test::FixturePath(L"stand_in_shell.exe"), image);
    }

    ~StandIn()
    {
        // Whatever the restart left running.
        while (const DWORD id = FindProcessByImage(image)) {
            test::RunningProgram left(id);
        }
    }
};

TEST(ShellRestart, EndsTheShellAndBringsOneBack)
{
    StandIn standIn;
    test::RunningProgram shell(standIn.image);
    ASSERT_TRUE(shell.Started());
    ASSERT_NE(FindProcessByImage(standIn.image), 0u);

    const ShellRestart restart = RestartShell({shell.Id(), standIn.image}, 2s);

    EXPECT_NE(restart.outcome, ShellRestartOutcome::Failed) << restart.error;
    EXPECT_NE(shell.WaitForExit(5'000), STILL_ACTIVE);
    const DWORD again = FindProcessByImage(standIn.image, shell.Id());
    EXPECT_NE(again, 0u);
    // Exactly one: the one it started, not two.
    EXPECT_EQ(FindProcessByImage(standIn.image, again), 0u);
}

TEST(ShellRestart, LeavesAProcessAloneThatIsNotTheOneFound)
{
    StandIn standIn;
    test::RunningProgram other(standIn.image);
    ASSERT_TRUE(other.Started());
    test::RunningProgram ended(test::FixturePath(L"bare.exe"));
    ASSERT_NE(ended.WaitForExit(10'000), STILL_ACTIVE);

    struct Case {
        const char* what;
        ShellProcess shell;
    } cases[] = {
        // The id was reused by another program since the shell was found.
        {"another image", {other.Id(), standIn.image + L".old"}},
        {"an ended process", {ended.Id(), standIn.image}},
        {"no process", {0, standIn.image}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RestartShell(c.shell, 1s).outcome, ShellRestartOutcome::Failed) << c.what;
        EXPECT_EQ(other.WaitForExit(0), STILL_ACTIVE) << c.what;
        EXPECT_EQ(FindProcessByImage(standIn.image, other.Id()), 0u) << c.what;
    }
}

TEST(ShellRestart, OnlyWindowsOwnExplorerCountsAsTheShell)
{
    // Whatever runs the desktop here, it is taken only as the Windows
    // folder's explorer.exe.
    if (const std::optional<ShellProcess> shell = FindShellProcess()) {
        wchar_t folder[MAX_PATH]{};
        ::GetWindowsDirectoryW(folder, MAX_PATH);
        EXPECT_EQ(_wcsicmp(shell->image.c_str(), (std::wstring(folder) + L"\\explorer.exe").c_str()), 0);
    }
}

} // namespace
} // namespace merovane
