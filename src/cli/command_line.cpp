#include "cli/command_line.h"

#include "cli/commands.h"

#include "base/application_title.h"
#include "base/error.h"
#include "base/handles.h"
#include "base/locale_paths.h"
#include "base/text_case.h"
#include "core/app_rules.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>

namespace merovane::cli {

namespace {

// One field of a tab-separated line.
std::wstring Field(std::wstring_view text)
{
    std::wstring result(text);
    std::replace_if(result.begin(), result.end(), [](wchar_t c) { return c == L'\t' || c == L'\r' || c == L'\n'; },
                    L' ');
    return result;
}

constexpr std::wstring_view kUsage =
    L"Usage: Merovane.exe [command]\r\n"
    L"Without a command the window starts. Commands:\r\n"
    L"  --list [--json]               list every entry: shown|hidden, name, company, path, key\r\n"
    L"                                (tab-separated UTF-8 lines, or a JSON array)\r\n"
    L"  --show PATTERN                show the entries whose file name, name or key matches\r\n"
    L"  --hide PATTERN                hide them\r\n"
    L"  --show-all                    show every entry\r\n"
    L"  --hide-all                    hide every entry\r\n"
    L"  --rule show|hide|none PATTERN always show / always hide the apps of the matching\r\n"
    L"                                entries, or remove their rule\r\n"
    L"  --cleanup duplicates|missing  delete older duplicate entries, or entries whose\r\n"
    L"                                program no longer exists\r\n"
    L"  --order                       print the icons' order: key, name, first icon first\r\n"
    L"  --order FILE                  put the icons whose keys FILE lists first, in its order\r\n"
    L"  --order-undo                  put the order back as it was before the last change\r\n"
    L"  --restart-explorer            restart Explorer, which shows deletions and a new\r\n"
    L"                                order only once it has restarted\r\n"
    L"  --check                       list the entries that do not follow the rules and the\r\n"
    L"                                new-icon policy in force; exit code 1 when there are any\r\n"
    L"  --policies                    print what your organisation sets (Group Policy)\r\n"
    L"  --export FILE                 write the options and the rules to FILE\r\n"
    L"  --import FILE                 read the options and the rules from FILE\r\n"
    L"  --help                        this text\r\n"
    L"PATTERN: * any characters, ? one character, letter case ignored.\r\n"
    L"Exit codes: 0 done, 1 error (for --check: entries to change), 2 bad usage.\r\n";

int Dispatch(const std::vector<std::wstring>& arguments, const Files& files, TextSink& out, TextSink& err)
{
    std::vector<std::wstring> rest;
    bool json = false;
    for (const std::wstring& argument : arguments) {
        if (EqualIgnoringCase(argument, L"--json") && !json) {
            json = true;
        } else {
            rest.push_back(argument);
        }
    }
    if (rest.empty()) {
        throw UsageError{json ? L"--json goes with --list." : L"No command given."};
    }
    const std::wstring command = UpperInvariant(rest[0]);
    const size_t operands = rest.size() - 1;
    auto expect = [&](size_t count) {
        if (operands < count) {
            throw UsageError{rest[0] + L" needs " + (count == 1 ? L"an argument." : L"two arguments.")};
        }
        if (operands > count) {
            throw UsageError{L"Unexpected argument \"" + rest[count + 1] + L"\"."};
        }
    };
    if (json && command != L"--LIST") {
        throw UsageError{L"--json goes with --list."};
    }
    if (command == L"--HELP" || command == L"-H" || command == L"/?") {
        expect(0);
        out.Write(kUsage);
    } else if (command == L"--LIST") {
        expect(0);
        List(files, json, out);
    } else if (command == L"--SHOW" || command == L"--HIDE") {
        expect(1);
        CheckPattern(rest[1]);
        ShowOrHide(files, rest[1], command == L"--SHOW", out, err);
    } else if (command == L"--SHOW-ALL" || command == L"--HIDE-ALL") {
        expect(0);
        ShowOrHideAll(files, command == L"--SHOW-ALL", out, err);
    } else if (command == L"--RULE") {
        expect(2);
        SetRule(files, rest[1], rest[2], out, err);
    } else if (command == L"--CHECK") {
        expect(0);
        return Check(files, out, err) ? kExitDone : kExitError;
    } else if (command == L"--POLICIES") {
        expect(0);
        PrintPolicies(out, err);
    } else if (command == L"--CLEANUP") {
        expect(1);
        Cleanup(files, rest[1], out, err);
    } else if (command == L"--ORDER") {
        if (operands > 1) {
            throw UsageError{L"Unexpected argument \"" + rest[2] + L"\"."};
        }
        if (operands == 1 && rest[1].empty()) {
            throw UsageError{L"--order needs a file name."};
        }
        Order(files, operands == 1 ? &rest[1] : nullptr, false, out, err);
    } else if (command == L"--ORDER-UNDO") {
        expect(0);
        Order(files, nullptr, true, out, err);
    } else if (command == L"--RESTART-EXPLORER") {
        expect(0);
        RestartExplorer(out);
    } else if (command == L"--EXPORT" || command == L"--IMPORT") {
        expect(1);
        if (rest[1].empty()) {
            throw UsageError{rest[0] + L" needs a file name."};
        }
        if (command == L"--EXPORT") {
            Export(files, rest[1], out);
        } else {
            Import(files, rest[1], out, err);
        }
    } else {
        throw UsageError{L"Unknown command \"" + rest[0] + L"\"."};
    }
    return kExitDone;
}

// Output for a process without a window: the handle it inherited when that
// is a file or a pipe (UTF-8), else the console it has or the one of the
// process that started it.
class ProcessSink : public TextSink {
public:
    explicit ProcessSink(DWORD standard)
    {
        HANDLE inherited = ::GetStdHandle(standard);
        if (inherited != nullptr && inherited != INVALID_HANDLE_VALUE) {
            handle_ = inherited;
            if (::GetFileType(inherited) == FILE_TYPE_CHAR) {
                // A console handle works once attached to its console; NUL
                // is a character device too and stays a file.
                DWORD mode = 0;
                console_ = ::GetConsoleMode(inherited, &mode) ||
                           (ParentConsoleAttached() && ::GetConsoleMode(inherited, &mode));
            }
            return;
        }
        if (ParentConsoleAttached()) {
            own_.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
            if (own_) {
                handle_ = own_.get();
                console_ = true;
            }
        }
    }

    void Write(std::wstring_view text) override
    {
        if (handle_ == nullptr || text.empty()) {
            return;
        }
        if (console_) {
            DWORD written = 0;
            ::WriteConsoleW(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            return;
        }
        const std::string bytes = ToUtf8(text);
        DWORD written = 0;
        ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

private:
    static bool ParentConsoleAttached()
    {
        static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
        return attached;
    }

    HANDLE handle_ = nullptr;
    unique_file own_;
    bool console_ = false;
};

bool WindowRunning()
{
    // Opened, never created: a command must not keep a window from starting.
    unique_handle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, std::wstring(kApplicationTitle).c_str()));
    return static_cast<bool>(mutex) || ::GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

std::wstring Line(std::initializer_list<std::wstring_view> fields)
{
    std::wstring line;
    bool first = true;
    for (const std::wstring_view field : fields) {
        if (!first) {
            line += L'\t';
        }
        first = false;
        line += Field(field);
    }
    return line + L"\r\n";
}

std::wstring_view FileNameOf(std::wstring_view path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text)
{
    const std::wstring p = UpperInvariant(pattern);
    const std::wstring t = UpperInvariant(text);
    size_t pi = 0;
    size_t ti = 0;
    size_t star = std::wstring::npos;
    size_t resume = 0;
    while (ti < t.size()) {
        if (pi < p.size() && (p[pi] == L'?' || p[pi] == t[ti])) {
            ++pi;
            ++ti;
        } else if (pi < p.size() && p[pi] == L'*') {
            star = pi++;
            resume = ti;
        } else if (star != std::wstring::npos) {
            pi = star + 1;
            ti = ++resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == L'*') {
        ++pi;
    }
    return pi == p.size();
}

int Run(const std::vector<std::wstring>& arguments, const Files& files, TextSink& out, TextSink& err)
{
    try {
        return Dispatch(arguments, files, out, err);
    } catch (const UsageError& usage) {
        err.Write(usage.message + L"\r\nRun Merovane.exe --help for the commands.\r\n");
        return kExitUsage;
    } catch (const Error& error) {
        err.Write(error.message() + L"\r\n");
        return kExitError;
    } catch (const std::exception& error) {
        err.Write(FromUtf8(error.what()) + L"\r\n");
        return kExitError;
    }
}

std::optional<int> RunProcessCommandLine()
{
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const unique_hlocal owner(static_cast<HLOCAL>(argv));
    if (argv == nullptr || count <= 1) {
        return std::nullopt;
    }
    const std::vector<std::wstring> arguments(argv + 1, argv + count);

    // The shell functions that name entries and find their icons want COM.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ProcessSink out(STD_OUTPUT_HANDLE);
    ProcessSink err(STD_ERROR_HANDLE);
    int exitCode = kExitError;
    try {
        const LocalePaths paths = LocalePaths::ForProgram();
        const Files files{.settingsFile = paths.settingsFile,
                          .rulesFile = RulesPathBeside(paths.settingsFile),
                          .languageDirectory = paths.languageDirectory,
                          .windowRunning = WindowRunning()};
        exitCode = Run(arguments, files, out, err);
    } catch (const std::exception& error) {
        err.Write(FromUtf8(error.what()) + L"\r\n");
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return exitCode;
}

} // namespace merovane::cli
