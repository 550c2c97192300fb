#include "base/error.h"

namespace merovane {

std::string ToUtf8(std::wstring_view text)
{
    if (text.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                              size, nullptr, nullptr);
    }
    return result;
}

std::wstring FromUtf8(std::string_view text)
{
    if (text.empty()) {
        return {};
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    }
    return result;
}

std::optional<std::wstring> FromUtf8Strictly(std::string_view text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    if (size <= 0) {
        return std::nullopt;
    }
    std::wstring result(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), result.data(),
                          size);
    return result;
}

Error InContext(std::wstring_view context, const Error& cause)
{
    std::wstring message(context);
    message += L"\r\n";
    message += cause.message();
    return Error(cause.code(), std::move(message));
}

std::wstring FormatText(std::wstring_view text, std::wstring_view argument)
{
    std::wstring result(text);
    const size_t at = result.find(L"%s");
    if (at == std::wstring::npos) {
        result += L' ';
        result += argument;
    } else {
        result.replace(at, 2, argument);
    }
    return result;
}

std::wstring SystemMessage(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr) {
        text.assign(buffer, length);
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = L"Error " + std::to_wstring(code);
    }
    return text;
}

Error::Error(DWORD code) : Error(code, SystemMessage(code)) {}

Error::Error(DWORD code, std::wstring message)
    : code_(code), message_(std::move(message)), utf8_(ToUtf8(message_))
{
}

void ThrowWin32(DWORD code)
{
    throw Error(code);
}

void ThrowLastError()
{
    ThrowWin32(::GetLastError());
}

} // namespace merovane
