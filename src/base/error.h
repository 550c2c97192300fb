#pragma once

// The program's error: a Win32 code with the system's own message text.

#include <windows.h>

#include <exception>
#include <optional>
#include <string>

namespace merovane {

class Error : public std::exception {
public:
    explicit Error(DWORD code);
    Error(DWORD code, std::wstring message);

    [[nodiscard]] DWORD code() const noexcept { return code_; }
    // The text shown to the user.
    [[nodiscard]] const std::wstring& message() const noexcept { return message_; }
    // UTF-8 form of message(), for std::exception users such as test output.
    [[nodiscard]] const char* what() const noexcept override { return utf8_.c_str(); }

private:
    DWORD code_;
    std::wstring message_;
    std::string utf8_;
};

// The system's message text for a Win32 error code, without the trailing line
// break. Codes the system has no text for read "Error <code>".
std::wstring SystemMessage(DWORD code);

// The same error with a first line that names what failed and what it means
// for the user; the system's text stays below it as the second line.
Error InContext(std::wstring_view context, const Error& cause);

// A message text with "%s" replaced by `argument` (the first one only); a text
// without "%s", such as an older translation, gets the argument appended.
std::wstring FormatText(std::wstring_view text, std::wstring_view argument);

[[noreturn]] void ThrowWin32(DWORD code);
[[noreturn]] void ThrowLastError();

// Throws when a registry or other LSTATUS-style call did not succeed.
inline void CheckWin32(LSTATUS status)
{
    if (status != ERROR_SUCCESS) {
        ThrowWin32(static_cast<DWORD>(status));
    }
}

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
// The text, or nothing when the bytes are not valid UTF-8 (nothing replaced).
std::optional<std::wstring> FromUtf8Strictly(std::string_view text);

} // namespace merovane
