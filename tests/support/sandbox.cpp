#include "support/sandbox.h"

#include <sddl.h>

#include "base/file_info.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace merovane::test {

namespace {

constexpr wchar_t kScratchRoot[] = L"Software\\Merovane test sandbox";

[[noreturn]] void Fail(const char* what, LSTATUS status)
{
    throw std::runtime_error(std::string(what) + " failed with " + std::to_string(status));
}

HKEY OpenOrCreate(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        Fail("RegCreateKeyExW", status);
    }
    return key;
}

class Key {
public:
    explicit Key(std::wstring_view path) : key_(OpenOrCreate(HKEY_CURRENT_USER, std::wstring(path))) {}
    ~Key() { ::RegCloseKey(key_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_;
};

} // namespace

namespace {

// Sandboxes nest: when an inner one ends, the outer one's keys come back.
struct Overrides {
    HKEY user;
    HKEY classes;
};
std::vector<Overrides>& OverrideStack()
{
    static std::vector<Overrides> stack;
    return stack;
}

void Apply(const Overrides* overrides)
{
    ::RegOverridePredefKey(HKEY_CURRENT_USER, overrides != nullptr ? overrides->user : nullptr);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, overrides != nullptr ? overrides->classes : nullptr);
}

} // namespace

RegistrySandbox::RegistrySandbox()
{
    static std::atomic<int> counter{0};
    scratchPath_ = std::wstring(kScratchRoot) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++counter);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchPath_.c_str());
    HKEY user = OpenOrCreate(HKEY_CURRENT_USER, scratchPath_ + L"\\HKCU");
    HKEY classes = OpenOrCreate(HKEY_CURRENT_USER, scratchPath_ + L"\\HKCR");
    const LSTATUS userStatus = ::RegOverridePredefKey(HKEY_CURRENT_USER, user);
    const LSTATUS classesStatus = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
    if (userStatus != ERROR_SUCCESS || classesStatus != ERROR_SUCCESS) {
        ::RegCloseKey(user);
        ::RegCloseKey(classes);
        Apply(OverrideStack().empty() ? nullptr : &OverrideStack().back());
        Fail("RegOverridePredefKey", userStatus != ERROR_SUCCESS ? userStatus : classesStatus);
    }
    OverrideStack().push_back({user, classes});
}

RegistrySandbox::~RegistrySandbox()
{
    const Overrides mine = OverrideStack().back();
    OverrideStack().pop_back();
    Apply(OverrideStack().empty() ? nullptr : &OverrideStack().back());
    ::RegCloseKey(mine.user);
    ::RegCloseKey(mine.classes);
    // The scratch key was made under what HKEY_CURRENT_USER was then.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchPath_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, scratchPath_.c_str());
}

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("GetTempPathW failed");
    }
    // Process ids come back soon under Wine, and a folder an earlier test
    // could not remove whole (a link Wine cannot unlink) must not be met
    // again: the start time makes the name new.
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    path_ = std::filesystem::path(std::wstring(temp, length)) /
            (L"merovane-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"-" +
             std::to_wstring(now.QuadPart));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Files left read-only by a test must not keep the folder alive.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::wstring TempDir::operator/(std::wstring_view name) const
{
    return (path_ / name).wstring();
}

std::filesystem::path TestBinaryDir()
{
    return std::filesystem::path(OwnExecutablePath()).parent_path();
}

std::wstring FixturePath(std::wstring_view name)
{
    return (TestBinaryDir() / L"fixtures" / name).wstring();
}

DWORD EndedProcessId()
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + FixturePath(L"bare.exe") + L"\"";
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        throw std::runtime_error("CreateProcessW");
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return process.dwProcessId;
}

void CreateRegKey(std::wstring_view keyPath)
{
    Key key(keyPath);
}

void SetRegRaw(std::wstring_view keyPath, std::wstring_view name, DWORD type, const std::vector<BYTE>& data)
{
    Key key(keyPath);
    const std::wstring valueName(name);
    const LSTATUS status = ::RegSetValueExW(key.get(), valueName.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                                            static_cast<DWORD>(data.size()));
    if (status != ERROR_SUCCESS) {
        Fail("RegSetValueExW", status);
    }
}

void SetRegDword(std::wstring_view keyPath, std::wstring_view name, std::uint32_t value)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    SetRegRaw(keyPath, name, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value)));
}

void SetRegString(std::wstring_view keyPath, std::wstring_view name, std::wstring_view value)
{
    const std::wstring text(value);
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    SetRegRaw(keyPath, name, REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

bool RegKeyExists(std::wstring_view keyPath)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(keyPath).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

RawValue GetRegRaw(std::wstring_view keyPath, std::wstring_view name)
{
    RawValue result;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(keyPath).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return result;
    }
    const std::wstring valueName(name);
    DWORD size = 0;
    if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &result.type, nullptr, &size) == ERROR_SUCCESS) {
        result.data.resize(size);
        ::RegQueryValueExW(key, valueName.c_str(), nullptr, &result.type, result.data.data(), &size);
        result.data.resize(size);
        result.exists = true;
    }
    ::RegCloseKey(key);
    return result;
}

std::int64_t GetRegDword(std::wstring_view keyPath, std::wstring_view name)
{
    const RawValue value = GetRegRaw(keyPath, name);
    if (!value.exists || value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) {
        return -1;
    }
    DWORD result = 0;
    std::memcpy(&result, value.data.data(), sizeof(result));
    return result;
}

std::vector<std::wstring> RegSubkeys(std::wstring_view keyPath)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(keyPath).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    ::RegCloseKey(key);
    return names;
}

FILETIME RegLastWrite(std::wstring_view keyPath)
{
    FILETIME time{};
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(keyPath).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &time);
        ::RegCloseKey(key);
    }
    return time;
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write test file");
    }
}

void SetKeyAccess(HKEY root, std::wstring_view keyPath, std::wstring_view sddl)
{
    const std::wstring path(keyPath);
    const std::wstring text(sddl);
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot open the key to change its access");
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LSTATUS status = ERROR_INVALID_ACL;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        status = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        ::LocalFree(descriptor);
    }
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot change the key's access");
    }
}

KeyAccessLimit::KeyAccessLimit(std::wstring keyPath, std::wstring_view sddl) : keyPath_(std::move(keyPath))
{
    SetKeyAccess(HKEY_CURRENT_USER, keyPath_, sddl);
}

KeyAccessLimit::~KeyAccessLimit()
{
    try {
        SetKeyAccess(HKEY_CURRENT_USER, keyPath_, L"D:(A;;KA;;;WD)");
    } catch (const std::exception&) {
        // The sandbox reports what it cannot remove.
    }
}

} // namespace merovane::test
