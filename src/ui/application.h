#pragma once

// The program's windows as one application: their list in creation order, the
// message loop, and the processing of pending messages that long operations
// call between their steps.

#include "base/error.h"
#include "ui/style.h"

#include <windows.h>

#include <exception>
#include <string_view>
#include <vector>

namespace merovane::ui {

class Form;

namespace application {

// Windows in creation order.
const std::vector<Form*>& Forms();
void Register(Form& form);
void Unregister(Form& form);

// Handles every message waiting for this thread, then returns. A WM_QUIT met
// on the way is posted again so the main loop still sees it.
void ProcessMessages();
// The main message loop; returns the exit code.
int Run();
void Terminate(int exitCode = 0);

// Applies a visual style to every window of the program, menus included.
void SetStyle(Style style);
[[nodiscard]] Style CurrentStyle();

// The program's standard error message box: error icon, the error's text.
// While one is open another error is not shown.
void ShowError(std::wstring_view text);

// Runs `call`; a merovane::Error it throws is shown in the error box instead
// of passed on. For work whose failure must not stop what comes next (a save
// on the way out, an option applied during the start-up).
template <typename Call>
void ReportingErrors(Call&& call)
{
    try {
        call();
    } catch (const Error& error) {
        ShowError(error.message());
    }
}

// Runs work that a window procedure calls, where no error may pass: any
// error it lets escape is shown instead.
template <typename Call>
void ShowingErrors(Call&& call) noexcept
{
    try {
        call();
    } catch (const Error& error) {
        ShowError(error.message());
    } catch (const std::exception& error) {
        ShowError(FromUtf8(error.what()));
    } catch (...) {
        ShowError(L"Unknown error");
    }
}

// A message box centred on the screen rather than on its owner.
int MessageBoxOnScreenCentre(HWND owner, std::wstring_view text, std::wstring_view title, UINT flags);

} // namespace application
} // namespace merovane::ui
