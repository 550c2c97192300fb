#pragma once

// "Show every icon for now": every entry's IsPromoted is set to 1 for a
// while, and afterwards each entry gets back exactly the value it had
// (missing, a DWORD, or a value of another type, byte for byte). What the
// entries held is kept in a file beside the settings before anything is
// written, so a program that ended without putting them back (a crash, a
// power cut) can do it at its next start.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

inline constexpr std::wstring_view kShowEveryIconStateName = L"ShowEveryIcon.dat";

// One entry's IsPromoted as it was before the program showed it.
struct RememberedPromotion {
    std::wstring keyName;
    bool present = false; // the value existed
    DWORD type = REG_NONE;
    std::string bytes;    // its data as stored

    friend bool operator==(const RememberedPromotion&, const RememberedPromotion&) = default;
};

// The state file's text and back; nothing when the text is not one this
// program wrote.
std::string SerializeRememberedPromotions(const std::vector<RememberedPromotion>& entries);
std::optional<std::vector<RememberedPromotion>> ParseRememberedPromotions(std::string_view text);

struct ShowEveryIconResult {
    int entries = 0;  // entries remembered
    int written = 0;  // entries whose value was changed
};

// Remembers every entry's IsPromoted in `stateFile`, then writes 1 into the
// entries that do not hold it yet (existing keys only, never created). An
// existing state file (the program is already showing every icon, or a run
// ended before putting them back) is kept as it is: it holds the values from
// before the first showing. Throws merovane::Error when the file can't be
// written (nothing is changed then) or a write fails.
ShowEveryIconResult ShowEveryIcon(const std::wstring& stateFile);

struct PutBackResult {
    int restored = 0;    // entries given back their value
    int userChanged = 0; // entries left alone: no longer the 1 the program wrote
    int gone = 0;        // entries deleted meanwhile
};

// Gives every remembered entry its value back, unless the entry no longer
// holds the REG_DWORD 1 the program wrote (the user or Explorer changed it
// since: theirs wins) or is gone. Then removes the state file. Nothing to do
// without a state file. A file the program can't parse is left in place and
// reported (merovane::Error with ERROR_INVALID_DATA).
PutBackResult PutBackEveryIcon(const std::wstring& stateFile);

// True while a state file exists: every icon is shown for now.
bool ShowingEveryIcon(const std::wstring& stateFile);

// For the refresh policy's passes of this process: true between a showing
// and its putting back. Passes do nothing while it is true, so neither the
// rules nor the policy undo the showing.
bool ShowEveryIconActive() noexcept;
void SetShowEveryIconActive(bool active) noexcept;

} // namespace merovane
