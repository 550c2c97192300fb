#pragma once

// One non-copyable, movable owner for every kind of system handle. Each alias
// names the handle type it owns; get() is explicit and there is no implicit
// conversion to the raw handle.

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <winhttp.h>

#include <utility>

namespace merovane {

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

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
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }

    // For out-parameters of system calls: releases what is held first.
    pointer* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

namespace handle_traits {

struct hkey {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::RegCloseKey(value); }
};

struct kernel {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct file {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct find_file {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { ::FindClose(value); }
};

struct hicon {
    using pointer = HICON;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DestroyIcon(value); }
};

struct hmenu {
    using pointer = HMENU;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DestroyMenu(value); }
};

struct hwnd {
    using pointer = HWND;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DestroyWindow(value); }
};

struct gdi_brush {
    using pointer = HBRUSH;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DeleteObject(value); }
};

struct gdi_font {
    using pointer = HFONT;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DeleteObject(value); }
};

struct gdi_pen {
    using pointer = HPEN;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DeleteObject(value); }
};

struct gdi_bitmap {
    using pointer = HBITMAP;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DeleteObject(value); }
};

// A device context made with CreateCompatibleDC or CreateDC; one from GetDC
// is released to its window instead (ui/gdi.h).
struct gdi_dc {
    using pointer = HDC;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::DeleteDC(value); }
};

// Sessions, connections and requests alike; closing a request from another
// thread ends a call waiting on it.
struct hinternet {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::WinHttpCloseHandle(value); }
};

struct cotaskmem {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CoTaskMemFree(value); }
};

struct localmem {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::LocalFree(value); }
};

// Strings WinHTTP hands over for GlobalFree.
struct globalmem {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::GlobalFree(value); }
};

struct bcrypt_alg {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::BCryptCloseAlgorithmProvider(value, 0); }
};

struct bcrypt_key {
    using pointer = BCRYPT_KEY_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::BCryptDestroyKey(value); }
};

struct bcrypt_hash {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::BCryptDestroyHash(value); }
};

} // namespace handle_traits

using unique_hkey = unique_any<handle_traits::hkey>;
using unique_handle = unique_any<handle_traits::kernel>;
using unique_file = unique_any<handle_traits::file>;
using unique_find = unique_any<handle_traits::find_file>;
using unique_hicon = unique_any<handle_traits::hicon>;
using unique_hmenu = unique_any<handle_traits::hmenu>;
using unique_hwnd = unique_any<handle_traits::hwnd>;
using unique_hbrush = unique_any<handle_traits::gdi_brush>;
using unique_hfont = unique_any<handle_traits::gdi_font>;
using unique_hpen = unique_any<handle_traits::gdi_pen>;
using unique_hbitmap = unique_any<handle_traits::gdi_bitmap>;
using unique_hdc = unique_any<handle_traits::gdi_dc>;
using unique_hinternet = unique_any<handle_traits::hinternet>;
using unique_cotaskmem = unique_any<handle_traits::cotaskmem>;
using unique_hlocal = unique_any<handle_traits::localmem>;
using unique_hglobal = unique_any<handle_traits::globalmem>;
using unique_bcrypt_alg = unique_any<handle_traits::bcrypt_alg>;
using unique_bcrypt_key = unique_any<handle_traits::bcrypt_key>;
using unique_bcrypt_hash = unique_any<handle_traits::bcrypt_hash>;

} // namespace merovane
