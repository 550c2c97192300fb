#include "cli/commands.h"

#include "base/error.h"
#include "base/shell_restart.h"
#include "base/text_file.h"
#include "core/icon_list.h"
#include "core/icon_order.h"

#include <windows.h>

#include <algorithm>

namespace merovane::cli {

namespace {

std::wstring OrderBackupFile(const Files& files)
{
    const size_t separator = files.settingsFile.find_last_of(L"\\/");
    const std::wstring folder =
        separator == std::wstring::npos ? std::wstring() : files.settingsFile.substr(0, separator + 1);
    return folder + std::wstring(kIconOrderBackupName);
}

// The stored order's ids, or an error that says why there are none.
std::vector<IconId> StoredOrderIds()
{
    const StoredIconOrder stored = ReadIconOrder();
    if (!stored.present) {
        throw Error(ERROR_FILE_NOT_FOUND, L"Explorer keeps no icon order (UIOrderList) yet.");
    }
    if (!stored.ids) {
        throw Error(ERROR_INVALID_DATA,
                    L"The icon order (UIOrderList) is not a list of icon ids; it was left as it is.");
    }
    return *stored.ids;
}

void PrintOrder(const Files& files, const std::vector<IconId>& ids, TextSink& out)
{
    std::vector<IconEntry> entries = ReadEntries(files);
    for (const IconId id : ids) {
        const std::wstring key = KeyNameFromIconId(id);
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [&](const IconEntry& candidate) { return candidate.keyName == key; });
        out.Write(Line({key, entry == entries.end() ? std::wstring_view() : entry->displayName}));
    }
}

// The keys a file lists, one a line: the first tab-separated field, so the
// output of --order reads back; blank lines are skipped.
std::vector<IconId> ReadOrderFile(const std::wstring& path)
{
    const std::optional<std::vector<std::wstring>> lines = ReadTextLines(path);
    if (!lines) {
        throw Error(ERROR_FILE_NOT_FOUND, path + L": " + SystemMessage(ERROR_FILE_NOT_FOUND));
    }
    std::vector<IconId> ids;
    for (size_t number = 0; number < lines->size(); ++number) {
        std::wstring_view key((*lines)[number]);
        key = key.substr(0, key.find(L'\t'));
        while (!key.empty() && (key.front() == L' ' || key.front() == L'\uFEFF')) {
            key.remove_prefix(1);
        }
        while (!key.empty() && key.back() == L' ') {
            key.remove_suffix(1);
        }
        if (key.empty()) {
            continue;
        }
        const std::optional<IconId> id = IconIdFromKeyName(key);
        if (!id) {
            throw Error(ERROR_INVALID_DATA, path + L", line " + std::to_wstring(number + 1) + L": \"" +
                                                std::wstring(key) + L"\" is not an entry's key.");
        }
        ids.push_back(*id);
    }
    return ids;
}

} // namespace

void Order(const Files& files, const std::wstring* source, bool undo, TextSink& out, TextSink& err)
{
    const std::wstring backup = OrderBackupFile(files);
    if (undo) {
        StoredOrderIds(); // says why an order that is not there cannot be put back
        if (!UndoIconOrder(backup)) {
            throw Error(ERROR_FILE_NOT_FOUND, L"No earlier icon order is kept; nothing was changed.");
        }
    } else if (source != nullptr) {
        const std::vector<IconId> wanted = ReadOrderFile(*source);
        const Reordering reordering = ReorderIcons(StoredOrderIds(), wanted);
        switch (reordering.problem) {
        case OrderProblem::UnknownId:
            throw Error(ERROR_NOT_FOUND, *source + L": the icon order holds no key " +
                                             KeyNameFromIconId(reordering.offending) + L"; nothing was changed.");
        case OrderProblem::Repeated:
            throw Error(ERROR_INVALID_DATA, *source + L": the key " + KeyNameFromIconId(reordering.offending) +
                                                L" is listed twice; nothing was changed.");
        case OrderProblem::None:
            break;
        }
        ChangeIconOrder(reordering.ids, backup);
    }
    PrintOrder(files, StoredOrderIds(), out);
    if (undo || source != nullptr) {
        err.Write(L"Explorer shows the new order once it has restarted (Merovane.exe --restart-explorer).\r\n");
    }
}

void RestartExplorer(TextSink& out)
{
    const std::optional<ShellProcess> shell = FindShellProcess();
    if (!shell) {
        throw Error(ERROR_NOT_FOUND, L"Explorer is not running as the shell; nothing was restarted.");
    }
    const ShellRestart restart = RestartShell(*shell);
    if (restart.outcome == ShellRestartOutcome::Failed) {
        throw Error(restart.error, L"Explorer could not be restarted: " + SystemMessage(restart.error));
    }
    out.Write(Line({L"restarted", shell->image}));
}

} // namespace merovane::cli
