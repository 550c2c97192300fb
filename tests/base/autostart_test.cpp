#include "base/error.h"
#include "base/autostart.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

namespace merovane {
namespace {

constexpr std::wstring_view kRunValue = L"Merovane";
constexpr std::wstring_view kExe = L"C:\\Program Files\\Merovane\\Merovane.exe";

std::vector<BYTE> TextBytes(std::wstring_view text)
{
    const std::wstring terminated = std::wstring(text) + L'\0';
    const auto* bytes = reinterpret_cast<const BYTE*>(terminated.data());
    return {bytes, bytes + terminated.size() * sizeof(wchar_t)};
}

std::wstring Quoted(std::wstring_view text)
{
    return L"\"" + std::wstring(text) + L"\"";
}

std::uint64_t Ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Sets an environment variable for the processes started during one test.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::wstring name, const std::wstring& value) : name_(std::move(name))
    {
        ::SetEnvironmentVariableW(name_.c_str(), value.c_str());
    }
    ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_.c_str(), nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
};

// One start of the record_args fixture, as it saw it.
struct RecordedRun {
    std::wstring commandLine;
    bool hidden = false;
    std::uint64_t time = 0;
};

// Runs the record_args fixture through the code under test and reads back
// what every start of it recorded.
class RecordedProcesses {
public:
    RecordedProcesses() : file_(folder_ / L"record.txt"), recordTo_(L"MEROVANE_RECORD_FILE", file_) {}

    [[nodiscard]] static std::wstring Program() { return test::FixturePath(L"record_args.exe"); }

    [[nodiscard]] std::vector<RecordedRun> Runs() const
    {
        std::ifstream in(std::filesystem::path(file_), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::wstring text(bytes.size(), L'\0');
        text.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                              text.data(), static_cast<int>(text.size()))));
        std::vector<RecordedRun> runs;
        std::wistringstream lines(text);
        for (std::wstring line; std::getline(lines, line);) {
            if (line.starts_with(L"cmd=")) {
                runs.push_back({line.substr(4)});
            } else if (runs.empty()) {
                ADD_FAILURE() << "record starts without a command line";
            } else if (line.starts_with(L"hidden=")) {
                runs.back().hidden = line == L"hidden=1";
            } else if (line.starts_with(L"time=")) {
                runs.back().time = std::stoull(line.substr(5));
            }
        }
        return runs;
    }

private:
    test::TempDir folder_;
    std::wstring file_;
    ScopedEnvironment recordTo_;
};

TEST(AutoStart, CheckRecognisesOnlyTheExactPathPlainOrQuoted)
{
    struct Stored {
        DWORD type;
        std::vector<BYTE> data;
    };
    const auto text = [](std::wstring_view value, DWORD type = REG_SZ) { return Stored{type, TextBytes(value)}; };
    const std::wstring exe(kExe);
    const struct {
        const char* what;
        std::optional<Stored> value;
        bool expected;
        std::wstring_view executable = kExe;
    } cases[] = {
        {"no value", {}, false},
        {"exact path", text(exe), true},
        {"quoted exact path", text(Quoted(exe)), true},
        {"unexpanded string", text(exe, REG_EXPAND_SZ), true},
        {"other letter case", text(L"C:\\Program Files\\Merovane\\merovane.exe"), false},
        {"quoted, other letter case", text(L"\"c:\\Program Files\\Merovane\\Merovane.exe\""), false},
        {"opening quote only", text(L"\"" + exe), false},
        {"with an argument", text(Quoted(exe) + L" /min"), false},
        {"trailing blank", text(exe + L" "), false},
        {"another program", text(L"C:\\Program Files\\Merovane\\Other.exe"), false},
        {"empty string", text(L""), false},
        {"empty quotes for an unknown path", text(L"\"\""), false, L""},
        {"DWORD", Stored{REG_DWORD, {1, 0, 0, 0}}, false},
        {"path as binary", text(exe, REG_BINARY), false},
        {"path as multi-string", Stored{REG_MULTI_SZ, TextBytes(exe + L'\0')}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::RegistrySandbox sandbox;
        test::SetRegString(kRunKey, L"Other", L"C:\\Other.exe");
        if (c.value) {
            test::SetRegRaw(kRunKey, kRunValue, c.value->type, c.value->data);
        }

        bool result = !c.expected;
        EXPECT_NO_THROW(result = CheckAutoStart(c.executable));
        EXPECT_EQ(result, c.expected);

        const test::RawValue after = test::GetRegRaw(kRunKey, kRunValue);
        ASSERT_EQ(after.exists, c.value.has_value());
        if (c.value) {
            EXPECT_EQ(after.type, c.value->type);
            EXPECT_EQ(after.data, c.value->data);
        }
    }
}

TEST(AutoStart, WritesTheQuotedPathAndDeletesOnlyItsOwnValue)
{
    test::RegistrySandbox sandbox;
    test::SetRegString(kRunKey, L"Other", L"C:\\Other.exe");
    // A value of another type is replaced when the user asks for autostart.
    test::SetRegDword(kRunKey, kRunValue, 7);

    CreateAutoStart(true, kExe);
    const test::RawValue written = test::GetRegRaw(kRunKey, kRunValue);
    EXPECT_EQ(written.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(written.data, TextBytes(Quoted(kExe)));
    EXPECT_TRUE(CheckAutoStart(kExe));

    CreateAutoStart(false, kExe);
    EXPECT_FALSE(test::GetRegRaw(kRunKey, kRunValue).exists);
    EXPECT_FALSE(CheckAutoStart(kExe));
    EXPECT_NO_THROW(CreateAutoStart(false, kExe));
    EXPECT_TRUE(test::GetRegRaw(kRunKey, L"Other").exists);
}

TEST(AutoStart, ARunKeyThatCannotBeCreatedFailsOnlyTheWrite)
{
    test::RegistrySandbox sandbox;
    // A volatile parent refuses lasting children.
    HKEY parent = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &parent, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(parent);

    EXPECT_FALSE(CheckAutoStart(kExe));
    EXPECT_NO_THROW(CreateAutoStart(false, kExe));
    EXPECT_THROW(CreateAutoStart(true, kExe), Error);
    EXPECT_FALSE(test::RegKeyExists(kRunKey));
}

TEST(RunHiddenAndWait, StartsTheCommandLineHiddenAndReturnsItsExitCode)
{
    const struct {
        std::wstring_view parameters;
        int exitCode;
    } cases[] = {
        {L"/delete /tn \"Merovane\" /f", 0},
        {L"", 1},
        {L"a  b\t\"c d\" \u00e9\u4e2d", 42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.parameters));
        RecordedProcesses processes;
        ScopedEnvironment exitCode(L"MEROVANE_RECORD_EXIT", std::to_wstring(c.exitCode));

        EXPECT_EQ(RunHiddenAndWait(processes.Program(), c.parameters), c.exitCode);

        // Waited for: the record is complete when the call returns.
        const auto runs = processes.Runs();
        ASSERT_EQ(runs.size(), 1u);
        // Quoted, since the build folder may hold blanks.
        EXPECT_EQ(runs[0].commandLine, Quoted(processes.Program()) + L" " + std::wstring(c.parameters));
        EXPECT_TRUE(runs[0].hidden);
    }
}

// Makes a folder the current one for one test.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& folder) : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~ScopedCurrentDirectory() { std::filesystem::current_path(previous_); }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

TEST(RunHiddenAndWait, OnlyAFullPathStartsAProgram)
{
    // The fixture sits in the current folder, so a search would find it.
    RecordedProcesses processes;
    const test::TempDir folder;
    ASSERT_TRUE(::CopyFileW(processes.Program().c_str(), (folder / L"record_args.exe").c_str(), FALSE));
    const ScopedCurrentDirectory current(folder.path());

    for (const std::wstring& program :
         {folder / L"missing.exe", std::wstring(L"merovane-no-such-program"), std::wstring(L"record_args.exe"),
          std::wstring(L"record_args"), std::wstring(L".\\record_args.exe")}) {
        EXPECT_EQ(RunHiddenAndWait(program, L"/delete /tn \"Merovane\" /f"), -1) << ToUtf8(program);
    }
    EXPECT_TRUE(processes.Runs().empty());
}

TEST(AutoStart, TheTaskToolIsTheSystemOneNotOneInTheCurrentFolder)
{
    test::RegistrySandbox sandbox;
    RecordedProcesses processes;
    const test::TempDir folder;
    ASSERT_TRUE(::CopyFileW(processes.Program().c_str(), (folder / L"schtasks.exe").c_str(), FALSE));
    const ScopedCurrentDirectory current(folder.path());

    ApplyAutoStart(true, kExe, L"Merovane");
    CreateScheduledTask(false, L"Merovane");

    EXPECT_TRUE(processes.Runs().empty());
    EXPECT_EQ(test::GetRegRaw(kRunKey, kRunValue).data, TextBytes(Quoted(kExe)));
}

TEST(AutoStart, ApplyRemovesTheTaskOnceBeforeTouchingTheRunValue)
{
    const struct {
        const char* what;
        bool checked;
        bool valueBefore;
        int taskExitCode;
    } cases[] = {
        {"check", true, false, 0},
        {"check while the task is missing", true, false, 1},
        {"check again", true, true, 0},
        {"uncheck", false, true, 0},
        {"uncheck without a value", false, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::RegistrySandbox sandbox;
        RecordedProcesses processes;
        ScopedEnvironment exitCode(L"MEROVANE_RECORD_EXIT", std::to_wstring(c.taskExitCode));
        if (c.valueBefore) {
            test::SetRegString(kRunKey, kRunValue, L"C:\\Old\\Merovane.exe");
        }

        ApplyAutoStart(c.checked, kExe, L"Merovane", processes.Program());

        const auto runs = processes.Runs();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].commandLine, Quoted(processes.Program()) + L" /delete /tn \"Merovane\" /f");
        EXPECT_TRUE(runs[0].hidden);

        const test::RawValue value = test::GetRegRaw(kRunKey, kRunValue);
        EXPECT_EQ(value.exists, c.checked);
        if (c.checked) {
            EXPECT_EQ(value.data, TextBytes(Quoted(kExe)));
        }
        if (c.checked || c.valueBefore) {
            // The Run key changed after the removal had run and ended.
            EXPECT_LT(runs[0].time, Ticks(test::RegLastWrite(kRunKey)));
        }
    }
}

TEST(AutoStart, ApplyWritesTheValueWhenTheTaskToolIsMissing)
{
    test::RegistrySandbox sandbox;
    const test::TempDir folder;

    ApplyAutoStart(true, kExe, L"Merovane", folder / L"schtasks.exe");

    EXPECT_EQ(test::GetRegRaw(kRunKey, kRunValue).data, TextBytes(Quoted(kExe)));
}

} // namespace
} // namespace merovane
