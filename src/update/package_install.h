#pragma once

// Putting a verified package to use: starting the installer of an installed
// copy, or handing a portable copy's ZIP to the helper that swaps it in (see
// update/portable_apply.h for the steps), and the helper's own side.

#include "base/handles.h"
#include "update/signature.h"

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
// The swap's record of what it is doing, beside them (update/portable_apply.h).
inline constexpr std::wstring_view kJournalFileName = L"Update.journal";

// The helper's command line switch, and the switches it restarts the program
// with: after the new files are in place (followed by the helper's process
// id), or after the swap failed or the helper gave up waiting for the old
// program (followed by the system's error code, WAIT_TIMEOUT for the wait)
// and the old program was left whole.
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
// folder. `inherited`, an inheritable handle, is the one handle it inherits.
// Returns its process; throws merovane::Error when it does not start.
unique_handle StartProgram(const std::wstring& program, const std::wstring& arguments, HANDLE inherited = nullptr);

// `path` opened for reading with only reading shared, so that it can be
// neither changed, replaced nor removed while the handle is held, when its
// bytes have the SHA-256 `expected`; else an empty handle. Throws
// merovane::Error when it can't be read.
unique_file OpenUnchanged(const std::wstring& path, const Sha256Digest& expected);

// What a portable update starts from.
struct PortableUpdate {
    std::wstring zip;           // the verified package
    std::wstring programFolder; // the running program's folder, no trailing backslash
    std::wstring exeName;       // the running program's file name
    HANDLE process = nullptr;   // the process the helper waits for; nullptr: this one
    std::wstring tempRoot;      // where the helper's private folder goes; "" the user's temporary folder
    // The package held open since it was verified, unpacked from this handle
    // rather than opened again by its path; nullptr: opened by `zip`.
    HANDLE zipFile = nullptr;
};

enum class PortableProblem {
    None,
    PackageRefused, // an unsafe, damaged or unsupported ZIP
    NoProgram,      // the package does not hold a program of the running one's name
};

struct PortableStart {
    PortableProblem problem = PortableProblem::None;
    // The helper, when problem is None: it waits for the process to end.
    unique_handle helper{};

    [[nodiscard]] bool ok() const noexcept { return problem == PortableProblem::None; }
};

// Settles a swap an earlier update left unfinished, unpacks the package into
// "<program folder>\Update.staging" (made afresh), copies the staged program
// into a new private folder, checks that both copies still hold the bytes the
// package holds, and starts the copy as the helper with an inherited handle
// to the process it waits for:
//   <copy> --apply-update <handle> "<staging>" "<program folder>" "<exe name>"
// The caller then ends. A refused package (or a staged program that changed)
// leaves nothing staged; a failure to copy or start throws merovane::Error,
// also leaving nothing staged.
PortableStart StartPortableUpdate(const PortableUpdate& update);

// The helper's arguments, taken from the arguments after the switch.
struct ApplyUpdateArguments {
    HANDLE process = nullptr; // inherited from the program that started the helper
    std::wstring staging;
    std::wstring programFolder;
    std::wstring exeName;
};

// The helper's arguments when `arguments` (the whole command line split, the
// program's own path first) asks for the helper, else nothing. Only a staging
// folder named as above inside the program folder, and a plain file name, are
// taken.
std::optional<ApplyUpdateArguments> ParseApplyUpdateArguments(std::span<const std::wstring> arguments);

// The helper: waits on the old program's handle, swaps the staged files in
// (ApplyStagedUpdate) and starts the program again with --updated <its own
// process id>, or, when the swap failed, with --update-failed <code> after the
// old files were put back. When the old program does not end in time, or the
// handle can't be waited on, nothing is changed and the program is started
// with --update-failed <code> so that the user learns of it. Returns the
// process exit code: 0 when the new files are in place.
int RunApplyUpdate(const ApplyUpdateArguments& arguments,
                   std::chrono::milliseconds exitTimeout = kProgramExitTimeout);

// What a start of the program removes of earlier updates: the staging and
// backup folders in the program folder unless a journal still needs them
// (RecoverInterruptedUpdate runs first), and the private folders of earlier
// downloads under the user's temporary folder (`tempRoot`, "" for the
// user's): folders named exactly as MakePrivateFolder names them. Found at
// once, at the start, so that the removal, which may wait, never reaches a
// download this run makes. Never throws.
std::vector<std::wstring> FindUpdateLeftovers(const std::wstring& programFolder, const std::wstring& tempRoot = {});

// Removes the folders with everything in them, never following a link out of
// them; files in use stay until a later start.
void RemoveFolders(const std::vector<std::wstring>& folders) noexcept;

} // namespace merovane::update
