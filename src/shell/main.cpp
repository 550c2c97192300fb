#include "base/error.h"
#include "base/settings_file.h"
#include "base/startup.h"
#include "base/text_file.h"
#include "cli/command_line.h"
#include "shell/program.h"
#include "ui/application.h"
#include "update/package_install.h"
#include "update/portable_apply.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::wstring> CommandLineArguments()
{
    std::vector<std::wstring> arguments;
    int count = 0;
    if (LPWSTR* split = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        arguments.assign(split, split + count);
        ::LocalFree(split);
    }
    return arguments;
}

// The number after `name` on the command line, when it is there.
std::optional<DWORD> NumberAfter(const std::vector<std::wstring>& arguments, std::wstring_view name)
{
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        const std::wstring& value = arguments[i + 1];
        if (arguments[i] == name && !value.empty() && value.size() <= 10 &&
            value.find_first_not_of(L"0123456789") == std::wstring::npos) {
            return static_cast<DWORD>(std::stoull(value));
        }
    }
    return std::nullopt;
}

std::wstring ProgramFolder()
{
    std::wstring folder = merovane::ExecutableDirectory();
    if (!folder.empty() && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder;
}

// What earlier updates left, found now, before this run can download
// anything: removed at once, or, right after an update, once the helper that
// started this copy has ended and let go of its files. A swap that was cut
// off is finished or undone first, so its files are never among them.
std::jthread RemoveUpdateLeftovers(std::optional<DWORD> helper)
{
    merovane::update::RecoverInterruptedUpdate(ProgramFolder());
    // A journal whose writing was cut off leaves only its temporary file.
    merovane::RemoveStaleTemporaryFiles(ProgramFolder() + L"\\" + std::wstring(merovane::update::kJournalFileName));
    return std::jthread([helper, folders = merovane::update::FindUpdateLeftovers(ProgramFolder())] {
        if (helper) {
            if (HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, *helper)) {
                ::WaitForSingleObject(process, 10'000);
                ::CloseHandle(process);
            }
        }
        merovane::update::RemoveFolders(folders);
    });
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::vector<std::wstring> arguments = CommandLineArguments();
    // A copy of a new version started to swap itself in for this one: it
    // works without a window, whether or not the old program still runs.
    if (const auto apply = merovane::update::ParseApplyUpdateArguments(arguments)) {
        return merovane::update::RunApplyUpdate(*apply);
    }
    // The update's helper starts the window with a switch of its own; any
    // other arguments are a command, run without a window, beside a running
    // one too.
    const std::optional<DWORD> updatedBy = NumberAfter(arguments, merovane::update::kUpdatedSwitch);
    const std::optional<DWORD> updateFailure = NumberAfter(arguments, merovane::update::kUpdateFailedSwitch);
    if (arguments.size() != 3 || (!updatedBy && !updateFailure)) {
        if (const std::optional<int> exitCode = merovane::cli::RunProcessCommandLine()) {
            return *exitCode;
        }
    }
    if (merovane::IsAnotherInstanceRunning()) {
        // An update's helper that gave up on the old program while it still
        // runs: the old program tells the user.
        if (updateFailure) {
            merovane::ActivateRunningInstance(merovane::kActivationUpdateFailed, static_cast<LPARAM>(*updateFailure));
        } else {
            merovane::ActivateRunningInstance();
        }
        return 0;
    }
    std::jthread leftovers = RemoveUpdateLeftovers(updatedBy);
    // The shell functions used here (known folders, ShellExecute) want COM.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    int exitCode = 0;
    try {
        merovane::Program program(&merovane::LocalePaths::ForProgram);
        program.Start();
        if (updateFailure) {
            program.Update().ReportFailedUpdate(*updateFailure);
        }
        exitCode = program.Run();
    } catch (const merovane::Error& error) {
        // Only the start-up can get here: every event handler catches its own.
        merovane::ui::application::ShowError(error.message());
        exitCode = 1;
    } catch (const std::exception& error) {
        merovane::ui::application::ShowError(merovane::FromUtf8(error.what()));
        exitCode = 1;
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return exitCode;
}
