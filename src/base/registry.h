#pragma once

// A small accessor over the registry functions. Each operation of the program
// creates its own accessor, works on one open key at a time and lets it go;
// nothing is cached between operations.
//
// Opens, existence tests and enumerations report failure by their result.
// Reading a value of an unexpected type, reading a missing integer and failed
// writes throw merovane::Error with the system's message text.

#include "base/handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

class RegistryAccessor {
public:
    explicit RegistryAccessor(HKEY root = HKEY_CURRENT_USER, REGSAM access = KEY_ALL_ACCESS) noexcept
        : root_(root), access_(access)
    {
    }

    RegistryAccessor(const RegistryAccessor&) = delete;
    RegistryAccessor& operator=(const RegistryAccessor&) = delete;

    [[nodiscard]] HKEY Root() const noexcept { return root_; }
    // The open key, or nullptr when none is open.
    [[nodiscard]] HKEY CurrentKey() const noexcept { return current_.get(); }
    // Path of the open key below the root, without leading or trailing "\".
    [[nodiscard]] const std::wstring& CurrentPath() const noexcept { return currentPath_; }

    // A path beginning with "\" is taken from the root; any other path from the
    // open key when there is one, else from the root. On success the previous
    // key is closed; on failure it stays open.
    bool OpenKey(std::wstring_view path, bool canCreate);
    void CloseKey() noexcept;

    // True when the key can be opened for reading.
    [[nodiscard]] bool KeyExists(std::wstring_view path) const;
    // Subkey names of the open key, in enumeration order; empty when none is open.
    [[nodiscard]] std::vector<std::wstring> GetKeyNames() const;
    // True when the value exists, whatever its type.
    [[nodiscard]] bool ValueExists(std::wstring_view name) const;

    // REG_SZ or REG_EXPAND_SZ (not expanded), cut at the first NUL. A missing
    // value gives ""; an empty name reads the key's default value.
    [[nodiscard]] std::wstring ReadString(std::wstring_view name) const;
    // The same, but nothing when the value is missing or is not a string; other
    // failures still throw.
    [[nodiscard]] std::optional<std::wstring> TryReadString(std::wstring_view name) const;
    // REG_DWORD; a missing value or another type throws.
    [[nodiscard]] std::int32_t ReadInteger(std::wstring_view name) const;
    // The DWORD when the value exists as a REG_DWORD, nothing otherwise.
    [[nodiscard]] std::optional<std::uint32_t> TryReadInteger(std::wstring_view name) const;

    void WriteInteger(std::wstring_view name, std::int32_t value);
    void WriteString(std::wstring_view name, std::wstring_view value);
    // True when the value was there and is now gone.
    bool DeleteValue(std::wstring_view name);
    // Deletes the key and, depth first, every key below it. The path is resolved
    // as in OpenKey; an empty path (the root or the open key itself) is refused.
    bool DeleteKey(std::wstring_view path);
    // The same, with the system's status of the failure.
    bool DeleteKey(std::wstring_view path, LSTATUS& status);

private:
    struct Resolved {
        HKEY base;             // root or the open key
        std::wstring relative; // path below base
        std::wstring full;     // path below the root
    };
    [[nodiscard]] Resolved Resolve(std::wstring_view path) const;

    HKEY root_;
    REGSAM access_;
    unique_hkey current_;
    std::wstring currentPath_;
};

} // namespace merovane
