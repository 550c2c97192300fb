#include "core/cleanup.h"

#include "core/icon_list.h"
#include "base/registry.h"

#include <exception>
#include <optional>

namespace merovane {

namespace {

std::wstring EntryPath(std::wstring_view keyName)
{
    std::wstring path(kNotifyIconSettingsKey);
    path += L'\\';
    path += keyName;
    return path;
}

} // namespace

std::wstring DuplicateKey(std::wstring_view executablePath)
{
    std::wstring path = ExpandKnownFolderPath(executablePath);
    path = ReplaceIgnoringCase(path, kProgramFilesFolderId, ProgramFilesDirectory());
    if (std::wstring expanded = ExpandKnownFolderPath(path); IsExistingFile(expanded)) {
        path = std::move(expanded);
    }
    return AsciiUpper(path);
}

std::vector<std::wstring> PlanDuplicateDeletions(const std::vector<DuplicateCandidate>& candidates)
{
    std::vector<DuplicateCandidate> survivors;
    std::vector<std::wstring> deletions;
    for (const DuplicateCandidate& candidate : candidates) {
        auto survivor = survivors.begin();
        while (survivor != survivors.end() && survivor->key != candidate.key) {
            ++survivor;
        }
        if (survivor == survivors.end()) {
            survivors.push_back(candidate);
        } else if (survivor->time < candidate.time) {
            deletions.push_back(survivor->keyName);
            survivor->keyName = candidate.keyName;
            survivor->time = candidate.time;
        } else {
            deletions.push_back(candidate.keyName);
        }
    }
    return deletions;
}

bool CleanupNotifyIconSettingsDuplicates()
{
    RegistryAccessor registry;
    std::vector<std::wstring> names;
    if (registry.OpenKey(kNotifyIconSettingsKey, false)) {
        names = registry.GetKeyNames();
        registry.CloseKey();
    }

    // Everything is read before anything is deleted, so a read error leaves
    // the registry as it was.
    std::vector<DuplicateCandidate> candidates;
    for (const std::wstring& name : names) {
        const std::wstring entryPath = EntryPath(name);
        if (!registry.OpenKey(entryPath, false)) {
            continue;
        }
        // A path of the wrong type is none. An IconGuid of the wrong type is
        // still some GUID: such an entry is not deleted as a duplicate.
        const std::wstring path = registry.TryReadString(L"ExecutablePath").value_or(std::wstring());
        const std::optional<std::wstring> guid = registry.TryReadString(L"IconGuid");
        const bool hasGuid = guid ? !guid->empty() : registry.ValueExists(L"IconGuid");
        if (!path.empty() && !hasGuid) {
            candidates.push_back({DuplicateKey(path), name, GetRegistryKeyLastWriteTime(entryPath)});
        }
        registry.CloseKey();
    }

    bool deleted = false;
    for (const std::wstring& name : PlanDuplicateDeletions(candidates)) {
        if (!registry.OpenKey(kNotifyIconSettingsKey, false)) {
            continue;
        }
        try {
            if (registry.KeyExists(name)) {
                registry.DeleteKey(name);
                deleted = true;
            }
        } catch (const std::exception&) {
            // One entry that won't go does not keep the others.
        }
        registry.CloseKey();
    }
    return deleted;
}

bool CleanupNotifyIconSettingsNonExistentFiles(const std::vector<IconEntry>& entries)
{
    RegistryAccessor registry;
    bool deleted = false;
    for (const IconEntry& entry : entries) {
        const std::wstring& path = entry.executablePath;
        const std::wstring& name = entry.keyName;
        if (name.empty() || path.empty() || IsExistingFile(path)) {
            continue;
        }
        try {
            const std::wstring entryPath = EntryPath(name);
            if (registry.KeyExists(entryPath)) {
                registry.DeleteKey(entryPath);
                deleted = true;
            }
        } catch (const std::exception&) {
            // Skip this row; the others still go.
        }
    }
    return deleted;
}

} // namespace merovane
