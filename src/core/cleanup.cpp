#include "core/cleanup.h"

#include "core/icon_list.h"

namespace merovane {

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

} // namespace merovane
