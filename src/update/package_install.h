#pragma once

// Putting a verified package to use: starting the installer of an installed
// copy, or handing a portable copy's ZIP to the helper that swaps it in (see
// update/portable_apply.h for the steps), and the helper's own side.

#include "base/handles.h"

#include <windows.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::update {

// The folders a portable update uses inside the program folder.
inline constexpr std::wstring_view kStagingFolderName = L"Update.staging";
inline constexpr std::wstring_view kBackupFolderName = L"Update.backup";

// The helper's command line switch, and the switches it restarts the program
// with: after the new files are in place (followed by the helper's process
// id), or after the swap failed (followed by the system's error code) and the
// old program was left whole.
inline constexpr std::wstring_view kApplyUpdateSwitch = L"--apply-update";
inline constexpr std::wstring_view kUpdatedSwitch = L"--updated";
inline constexpr std::wstring_view kUpdateFailedSwitch = L"--update-failed";

// How long the helper waits for the old program to end.
inline constexpr std::chrono::milliseconds kProgramExitTimeout{120'000};

// The installer's arguments for an update without questions, in the
// program's language, that starts the program again when done:
//   /SILENT /CLOSEAPPLICATIONS /SUPPRESSMSGBOXES /LANG=<name> /MERGETASKS="runcmd1"
// `languageBaseName` is the chosen language file's base name, "" when none.
std::wstring QuietInstallerArguments(std::wstring_view languageBaseName);

// One argument as the C runtime and CommandLineToArgvW read it back: quoted,
// with backslashes before a quote and at the end doubled.
std::wstring QuoteArgument(std::wstring_view argument);

// Starts an installer by its full path with `arguments`, in its own folder,
// through the shell so that an installer that asks for elevation gets it.
// Returns its process; throws merovane::Error when it does not start.
unique_handle StartInstaller(const std::wstring& installer, const std::wstring& arguments);

// Starts a program by its full path with `arguments` (the program's path
// itself comes first on the command line), its own folder as the working
// folder. Returns its process; throws merovane::Error when it does not start.
unique_handle StartProgram(const std::wstring& program, const std::wstring& arguments);

// What a portable update starts from.
struct PortableUpdate {
    std::wstring zip;           // the verified package
    std::wstring programFolder; // the running program's folder, no trailing backslash
    std::wstring exeName;       // the running program's file name
    DWORD processId = 0;        // the process the helper waits for
    std::wstring tempRoot;      // where the helper's private folder goes; "" the user's temporary folder
};

enum class PortableProblem {
    None,
    PackageRefused, // an unsafe, damaged or unsupported ZIP
    NoProgram,      // the package does not hold a program of the running one's name
};

struct PortableStart {
    PortableProblem problem = PortableProblem::None;
    // The helper, when problem is None: it waits for processId to end.
    unique_handle helper{};

    [[nodiscard]] bool ok() const noexcept { return problem == PortableProblem::None; }
};

// Unpacks the package into "<program folder>\Update.staging" (made afresh),
// copies the staged program into a new private folder and starts that copy as
// the helper:
//   <copy> --apply-update <process id> "<staging>" "<program folder>" "<exe name>"
// The caller then ends. A refused package leaves nothing staged; a failure to
// copy or start throws merovane::Error, also leaving nothing staged.
PortableStart StartPortableUpdate(const PortableUpdate& update);

// The helper's arguments, taken from the arguments after the switch.
struct ApplyUpdateArguments {
    DWORD processId = 0;
    std::wstring staging;
    std::wstring programFolder;
    std::wstring exeName;
};

// The helper's arguments when `arguments` (the whole command line split, the
// program's own path first) asks for the helper, else nothing. Only a staging
// folder named as above inside the program folder, and a plain file name, are
// taken.
std::optional<ApplyUpdateArguments> ParseApplyUpdateArguments(std::span<const std::wstring> arguments);

// The helper: waits for the old program to end, swaps the staged files in
// (ApplyStagedUpdate) and starts the program again with --updated <its own
// process id>, or, when
// the swap failed, with --update-failed <code> after the old files were put
// back. When the old program does not end in time nothing is changed and
// nothing started. Returns the process exit code: 0 when the new files are in
// place.
int RunApplyUpdate(const ApplyUpdateArguments& arguments,
                   std::chrono::milliseconds exitTimeout = kProgramExitTimeout);

// What a start of the program removes of earlier updates: a staging folder
// in the program folder, and the private folders of earlier downloads under
// the user's temporary folder (`tempRoot`, "" for the user's). Found at once,
// at the start, so that the removal, which may wait, never reaches a
// download this run makes. Never throws.
std::vector<std::wstring> FindUpdateLeftovers(const std::wstring& programFolder, const std::wstring& tempRoot = {});

// Removes the folders with everything in them; files in use stay until a
// later start.
void RemoveFolders(const std::vector<std::wstring>& folders) noexcept;

} // namespace merovane::update
