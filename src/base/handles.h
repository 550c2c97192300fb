#pragma once

// One non-copyable, movable owner for every kind of system handle. Each alias
// names the handle type it owns; get() is explicit and there is no implicit
// conversion to the raw handle.

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <winhttp.h>

#include <cstdint>
#include <utility>

namespace merovane {

// Owns one handle and hands it to Close at the end. Invalid is the value that
// holds nothing: 0 for most handles, -1 for INVALID_HANDLE_VALUE.
template <typename Pointer, auto Close, std::intptr_t Invalid = 0>
class unique_any {
public:
    using pointer = Pointer;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    ~unique_any() { reset(); }

    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;

    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    [[nodiscard]] pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != invalid(); }

    pointer release() noexcept { return std::exchange(value_, invalid()); }

    void reset(pointer value = invalid()) noexcept
    {
        pointer old = std::exchange(value_, value);
        if (old != invalid()) {
            static_cast<void>(Close(old));
        }
    }

    // For out-parameters of system calls: releases what is held first.
    pointer* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    static pointer invalid() noexcept
    {
        if constexpr (Invalid == 0) {
            return nullptr;
        } else {
            return reinterpret_cast<pointer>(Invalid);
        }
    }

    pointer value_ = invalid();
};

namespace handle_close {
inline void BcryptAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept
{
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
}
} // namespace handle_close

inline constexpr std::intptr_t kInvalidHandleValue = -1; // INVALID_HANDLE_VALUE

using unique_hkey = unique_any<HKEY, &::RegCloseKey>;
using unique_handle = unique_any<HANDLE, &::CloseHandle>;
using unique_file = unique_any<HANDLE, &::CloseHandle, kInvalidHandleValue>;
using unique_find = unique_any<HANDLE, &::FindClose, kInvalidHandleValue>;
using unique_hicon = unique_any<HICON, &::DestroyIcon>;
using unique_hmenu = unique_any<HMENU, &::DestroyMenu>;
using unique_hwnd = unique_any<HWND, &::DestroyWindow>;
using unique_hbrush = unique_any<HBRUSH, &::DeleteObject>;
using unique_hfont = unique_any<HFONT, &::DeleteObject>;
using unique_hpen = unique_any<HPEN, &::DeleteObject>;
using unique_hbitmap = unique_any<HBITMAP, &::DeleteObject>;
// A device context made with CreateCompatibleDC or CreateDC; one from GetDC
// is released to its window instead (ui/gdi.h).
using unique_hdc = unique_any<HDC, &::DeleteDC>;
// Sessions, connections and requests alike; closing a request from another
// thread ends a call waiting on it.
using unique_hinternet = unique_any<HINTERNET, &::WinHttpCloseHandle>;
using unique_cotaskmem = unique_any<void*, &::CoTaskMemFree>;
using unique_hlocal = unique_any<HLOCAL, &::LocalFree>;
// Strings WinHTTP hands over for GlobalFree.
using unique_hglobal = unique_any<void*, &::GlobalFree>;
using unique_bcrypt_alg = unique_any<BCRYPT_ALG_HANDLE, &handle_close::BcryptAlgorithm>;
using unique_bcrypt_key = unique_any<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>;
using unique_bcrypt_hash = unique_any<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>;

} // namespace merovane
