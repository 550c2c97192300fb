#include "base/registry.h"

#include "base/error.h"

namespace merovane {

namespace {

// Registry keys nest at most 512 levels deep.
constexpr int kMaxKeyDepth = 512;
// Key names are at most 255 characters.
constexpr DWORD kMaxKeyNameChars = 256;

std::wstring_view TrimSeparators(std::wstring_view path, bool leading)
{
    while (!path.empty() && path.back() == L'\\') {
        path.remove_suffix(1);
    }
    while (leading && !path.empty() && path.front() == L'\\') {
        path.remove_prefix(1);
    }
    return path;
}

std::vector<std::wstring> EnumerateSubkeys(HKEY key)
{
    std::vector<std::wstring> names;
    DWORD count = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    names.reserve(count);
    wchar_t name[kMaxKeyNameChars];
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = kMaxKeyNameChars;
        const LSTATUS status =
            ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break; // keys were removed while we enumerated
        }
        if (status == ERROR_SUCCESS) {
            names.emplace_back(name, length);
        }
    }
    return names;
}

LSTATUS DeleteTree(HKEY parent, const std::wstring& relative, int depth)
{
    if (depth > kMaxKeyDepth) {
        return ERROR_CANTOPEN;
    }
    {
        unique_hkey key;
        if (const LSTATUS status = ::RegOpenKeyExW(parent, relative.c_str(), 0, KEY_READ, key.put());
            status != ERROR_SUCCESS) {
            return status;
        }
        for (const std::wstring& child : EnumerateSubkeys(key.get())) {
            DeleteTree(key.get(), child, depth + 1);
        }
    }
    return ::RegDeleteKeyExW(parent, relative.c_str(), 0, 0);
}

// Type and size of a value, or the status of the failed query.
struct ValueInfo {
    LSTATUS status;
    DWORD type = REG_NONE;
    DWORD size = 0;
};

ValueInfo QueryValueInfo(HKEY key, const std::wstring& name)
{
    ValueInfo info{};
    info.status = ::RegQueryValueExW(key, name.c_str(), nullptr, &info.type, nullptr, &info.size);
    return info;
}

enum class TextRead { ok, missing, wrongType };

// A REG_SZ or REG_EXPAND_SZ value (not expanded), cut at the first NUL. Other
// failures than a missing value throw.
TextRead ReadText(HKEY key, const std::wstring& name, std::wstring& text)
{
    text.clear();
    // The value may change between the size query and the read; try again then.
    for (;;) {
        const ValueInfo info = QueryValueInfo(key, name);
        if (info.status == ERROR_FILE_NOT_FOUND) {
            return TextRead::missing;
        }
        CheckWin32(info.status);
        if (info.type != REG_SZ && info.type != REG_EXPAND_SZ) {
            return TextRead::wrongType;
        }
        // One spare character so an odd byte count or a missing terminator is harmless.
        text.assign(info.size / sizeof(wchar_t) + 1, L'\0');
        DWORD type = REG_NONE;
        DWORD size = info.size;
        const LSTATUS status =
            ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            text.clear();
            return TextRead::missing;
        }
        CheckWin32(status);
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            text.clear();
            return TextRead::wrongType;
        }
        text.resize(size / sizeof(wchar_t));
        if (const size_t nul = text.find(L'\0'); nul != std::wstring::npos) {
            text.resize(nul);
        }
        return TextRead::ok;
    }
}

} // namespace

RegistryAccessor::Resolved RegistryAccessor::Resolve(std::wstring_view path) const
{
    const bool absolute = !path.empty() && path.front() == L'\\';
    path = TrimSeparators(path, true);
    if (absolute || !current_) {
        return {root_, std::wstring(path), std::wstring(path)};
    }
    std::wstring full = currentPath_;
    if (!full.empty() && !path.empty()) {
        full += L'\\';
    }
    full += path;
    return {current_.get(), std::wstring(path), std::move(full)};
}

bool RegistryAccessor::OpenKey(std::wstring_view path, bool canCreate)
{
    Resolved target = Resolve(path);
    unique_hkey key;
    LSTATUS status;
    if (canCreate) {
        status = ::RegCreateKeyExW(target.base, target.relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   access_, nullptr, key.put(), nullptr);
    } else {
        status = ::RegOpenKeyExW(target.base, target.relative.c_str(), 0, access_, key.put());
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    current_ = std::move(key);
    currentPath_ = std::move(target.full);
    return true;
}

void RegistryAccessor::CloseKey() noexcept
{
    current_.reset();
    currentPath_.clear();
}

bool RegistryAccessor::KeyExists(std::wstring_view path) const
{
    const Resolved target = Resolve(path);
    unique_hkey key;
    return ::RegOpenKeyExW(target.base, target.relative.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> RegistryAccessor::GetKeyNames() const
{
    if (!current_) {
        return {};
    }
    return EnumerateSubkeys(current_.get());
}

bool RegistryAccessor::ValueExists(std::wstring_view name) const
{
    if (!current_) {
        return false;
    }
    return QueryValueInfo(current_.get(), std::wstring(name)).status == ERROR_SUCCESS;
}

std::wstring RegistryAccessor::ReadString(std::wstring_view name) const
{
    std::wstring text;
    if (ReadText(current_.get(), std::wstring(name), text) == TextRead::wrongType) {
        ThrowWin32(ERROR_DATATYPE_MISMATCH);
    }
    return text;
}

std::optional<std::wstring> RegistryAccessor::TryReadString(std::wstring_view name) const
{
    std::wstring text;
    if (ReadText(current_.get(), std::wstring(name), text) != TextRead::ok) {
        return std::nullopt;
    }
    return text;
}

std::int32_t RegistryAccessor::ReadInteger(std::wstring_view name) const
{
    const std::wstring valueName(name);
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status = ::RegQueryValueExW(current_.get(), valueName.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_MORE_DATA) {
        ThrowWin32(ERROR_DATATYPE_MISMATCH);
    }
    CheckWin32(status);
    if (type != REG_DWORD || size != sizeof(data)) {
        ThrowWin32(ERROR_DATATYPE_MISMATCH);
    }
    return static_cast<std::int32_t>(data);
}

std::optional<std::uint32_t> RegistryAccessor::TryReadInteger(std::wstring_view name) const
{
    const std::wstring valueName(name);
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(current_.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data)) {
        return std::nullopt;
    }
    return data;
}

void RegistryAccessor::WriteInteger(std::wstring_view name, std::int32_t value)
{
    const std::wstring valueName(name);
    const DWORD data = static_cast<DWORD>(value);
    CheckWin32(::RegSetValueExW(current_.get(), valueName.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&data), sizeof(data)));
}

void RegistryAccessor::WriteString(std::wstring_view name, std::wstring_view value)
{
    const std::wstring valueName(name);
    const std::wstring data(value);
    CheckWin32(::RegSetValueExW(current_.get(), valueName.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

bool RegistryAccessor::DeleteValue(std::wstring_view name)
{
    const std::wstring valueName(name);
    return ::RegDeleteValueW(current_.get(), valueName.c_str()) == ERROR_SUCCESS;
}

bool RegistryAccessor::DeleteKey(std::wstring_view path)
{
    LSTATUS status = ERROR_SUCCESS;
    return DeleteKey(path, status);
}

bool RegistryAccessor::DeleteKey(std::wstring_view path, LSTATUS& status)
{
    const Resolved target = Resolve(path);
    if (target.relative.empty()) {
        status = ERROR_INVALID_PARAMETER;
        return false;
    }
    status = DeleteTree(target.base, target.relative, 0);
    return status == ERROR_SUCCESS;
}

} // namespace merovane
