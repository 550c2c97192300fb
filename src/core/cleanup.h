#pragma once

// What makes two notification-area entries duplicates, and which of them the
// duplicate cleanup (CleanUpDuplicates) deletes.

#include "core/icon_list.h"
#include "core/icon_store.h"

#include <string>
#include <string_view>
#include <vector>

namespace merovane {

// What two entries must share to be duplicates: the path with known folders
// and the program files id expanded (no "Program Files (x86)" step), ASCII
// letters in capitals.
std::wstring DuplicateKey(std::wstring_view executablePath);

struct DuplicateCandidate {
    std::wstring key;     // DuplicateKey of the entry's path
    std::wstring keyName; // subkey name
    KeyWriteTime time = 0;
};

// Subkey names to delete, in the order they are marked, from the candidates in
// enumeration order: of each group with the same key the one written last
// survives, the first enumerated among equal times.
std::vector<std::wstring> PlanDuplicateDeletions(const std::vector<DuplicateCandidate>& candidates);

} // namespace merovane
