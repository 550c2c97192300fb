#pragma once

// Installing a portable update: the swap of an unpacked package over the
// program folder once the running program has ended.
//
// How the program uses these pieces (portable copy, Quick ticked):
//  1. The package and its .sig are verified (update/signature.h) and the ZIP
//     unpacked with ExtractZipPackage (update/package_zip.h) into a staging
//     folder inside the program folder, "<program folder>\Update.staging",
//     removed first if an earlier attempt left it.
//  2. The program copies the staged executable into a fresh private folder
//     (never the shared temporary folder) and starts that copy with
//        <copy> --apply-update <process id> "<staging>" "<program folder>" <exe name>
//     then ends. The copy is the new program, so the helper always knows
//     the layout of the version it installs, and nothing here depends on a
//     script language, an image name or the ANSI code page.
//  3. The helper: WaitForProcessExit(process id) (by id, never by image
//     name; on a time-out it gives up and changes nothing), then
//     ApplyStagedUpdate(staging, program folder, "<program folder>\Update.backup"),
//     then starts "<program folder>\<exe name>" again (also after a failed
//     swap, which left the old program whole) and ends.
//  4. The restarted program removes its leftovers: the staging folder and the
//     helper's private folder.
//
// Files the package does not contain (Config\, a user's own language file)
// are never touched.

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace merovane::update {

// Waits until the process ends. True when it has ended (or no longer
// exists), false when it still runs after `timeout`. Throws merovane::Error
// when the process can't be waited on (access denied).
bool WaitForProcessExit(DWORD processId, std::chrono::milliseconds timeout);

// Moves every file below `staging` to the same relative path below `target`,
// making the folders it needs. A file it replaces is first moved to the same
// relative path below `backup` (created; it must not exist yet and must be on
// the volume of `target`). Either every staged file ends up in `target`, or
// none does: when a move fails, every file moved so far is moved back (the
// staged ones to `staging`, the old ones to `target`), the folders made in
// `target` are removed, and the failure is thrown as merovane::Error. On
// success `backup` and the emptied `staging` are removed (as far as they can
// be: a leftover there harms nothing). Returns the relative paths of the
// files that were put in place.
std::vector<std::wstring> ApplyStagedUpdate(const std::wstring& staging, const std::wstring& target,
                                            const std::wstring& backup);

} // namespace merovane::update
