#pragma once

// Installing a portable update: the swap of an unpacked package over the
// program folder once the running program has ended.
//
// How the program uses these pieces (portable copy, Quick ticked):
//  1. The package and its .sig are verified (update/signature.h) and the ZIP,
//     still open from the check, unpacked with ExtractZipPackage
//     (update/package_zip.h) into a staging folder inside the program folder,
//     "<program folder>\Update.staging", made afresh.
//  2. The program copies the staged executable into a fresh private folder
//     (never the shared temporary folder), checks both against the package
//     and starts that copy with
//        <copy> --apply-update <handle> "<staging>" "<program folder>" <exe name>
//     where <handle> is an inherited handle to the program's own process,
//     then ends. The copy is the new program, so the helper always knows the
//     layout of the version it installs, and nothing here depends on a script
//     language, an image name or the ANSI code page.
//  3. The helper waits on that handle (never on a process id, which the
//     system may give to another process), then ApplyStagedUpdate, then
//     starts "<program folder>\<exe name>" again, also after a failed swap or
//     when it gave up waiting, with the switch that says so.
//  4. The restarted program, and every later start, first settles a swap the
//     journal says was cut off (RecoverInterruptedUpdate), then removes the
//     leftovers: staging, backup and the helper's private folder.
//
// Files the package does not contain (Config\, a user's own language file)
// are never touched.

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::update {

// Waits until the process ends. True when it has ended, false when it still
// runs after `timeout`. Throws merovane::Error when `process` is no process
// handle or can't be waited on.
bool WaitForProcess(HANDLE process, std::chrono::milliseconds timeout);

inline constexpr std::size_t kNoStepLimit = std::numeric_limits<std::size_t>::max();

// Moves every file below "<program folder>\Update.staging" to the same
// relative path in the program folder, making the folders it needs, the
// program `programName` last. Before the first change it writes
// "<program folder>\Update.journal", which names every file and folder of the
// swap, so that a swap cut off at any point (a crash, a power loss, a killed
// helper) is settled by RecoverInterruptedUpdate. A file it replaces is first
// copied to "<program folder>\Update.backup" and then replaced in one step, so
// the program file is never missing.
//
// Either every staged file ends up in place, or none does: when a step fails
// every file moved so far goes back to staging, the old ones are restored and
// the folders made are removed; then the failure is thrown as merovane::Error
// (a restore that failed too leaves the journal for the next start). On
// success the backup, the emptied staging folder and the journal are removed
// (a backup that can't be removed yet stays with the journal, which marks it
// done). Returns the relative paths of the files put in place.
//
// `stepLimit` stops it after that many changes, as a crash would: for tests.
std::vector<std::wstring> ApplyStagedUpdate(const std::wstring& programFolder, std::wstring_view programName,
                                            std::size_t stepLimit = kNoStepLimit);

enum class Recovery {
    Nothing,  // no journal
    Finished, // every file was in place: the backup, staging and journal are removed
    Undone,   // the old files are back, the new ones back in staging
    Busy,     // a swap is under way in another process; nothing touched
    Failed,   // the journal can't be read or a file can't be put back; kept for the next start
};

// Settles a swap its journal says was not finished: one that got every file
// in place is finished, any other is undone. Never throws.
Recovery RecoverInterruptedUpdate(const std::wstring& programFolder) noexcept;

// True when the program folder holds a journal: its staging and backup
// folders are then still needed.
bool HasUpdateJournal(const std::wstring& programFolder) noexcept;

} // namespace merovane::update
