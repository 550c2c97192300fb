#pragma once

// What a screen reader hears of the list's rows. The list is an owner-data
// list whose check boxes are drawn from the rows, so the system's own
// accessible object knows neither the rows' names nor whether they are
// ticked. The list answers WM_GETOBJECT with this object: the system's object
// for the list itself, and for each row its caption, a check box role and its
// ticked, selected and focused states, with the row's state in words as its
// value ("shown" / "hidden").

#include <windows.h>

#include <oleacc.h>

#include <functional>
#include <string>

namespace merovane::ui {

struct AccessibleRows {
    // The control's own name instead of its text ("" keeps the text): for a
    // button that shows a symbol.
    std::wstring selfName{};
    // Its role, 0 to keep the system's.
    long selfRole = 0;
    std::function<int()> count{};
    std::function<std::wstring(int row)> name{};
    std::function<bool(int row)> checked{};
    // The state in words, "" for none.
    std::function<std::wstring(int row)> stateText{};
    // Ticks or unticks, as the space bar does.
    std::function<void(int row)> toggle{};
};

// The answer to WM_GETOBJECT for OBJID_CLIENT (LresultFromObject), 0 when
// the system's object could not be made: the system then answers.
LRESULT AnswerListAccessible(HWND list, WPARAM wParam, const AccessibleRows& rows);

} // namespace merovane::ui
