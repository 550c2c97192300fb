#pragma once

// What every test needs around it: a registry of its own, a folder of its own,
// and the paths of the built fixtures.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::test {

// Maps HKEY_CURRENT_USER and HKEY_CLASSES_ROOT of this process onto two fresh
// scratch keys, so the code under test sees an empty registry. Everything is
// undone and deleted when the sandbox goes.
class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

private:
    std::wstring scratchPath_;
};

// A fresh, empty folder, removed with its contents afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    // Full path of a name inside the folder, as a Windows path string.
    [[nodiscard]] std::wstring operator/(std::wstring_view name) const;

private:
    std::filesystem::path path_;
};

// Folder of the running test executable.
std::filesystem::path TestBinaryDir();
// A fixture executable built beside the tests.
std::wstring FixturePath(std::wstring_view name);
// The id of a process that has run and ended (a fixture's).
DWORD EndedProcessId();

// Direct registry writes and reads for arranging and checking, independent of
// the code under test. Paths are below HKEY_CURRENT_USER; they throw
// std::runtime_error on failure.
void SetRegDword(std::wstring_view keyPath, std::wstring_view name, std::uint32_t value);
void SetRegString(std::wstring_view keyPath, std::wstring_view name, std::wstring_view value);
void SetRegRaw(std::wstring_view keyPath, std::wstring_view name, DWORD type, const std::vector<BYTE>& data);
void CreateRegKey(std::wstring_view keyPath);
bool RegKeyExists(std::wstring_view keyPath);
// The raw type and bytes of a value; type REG_NONE with no data when missing.
struct RawValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
RawValue GetRegRaw(std::wstring_view keyPath, std::wstring_view name);
// A REG_DWORD value, or -1 when missing or of another type.
std::int64_t GetRegDword(std::wstring_view keyPath, std::wstring_view name);
std::vector<std::wstring> RegSubkeys(std::wstring_view keyPath);
FILETIME RegLastWrite(std::wstring_view keyPath);

void WriteFileBytes(const std::wstring& path, std::string_view bytes);

// Replaces the access list of a key below `root` with the one an SDDL string
// gives (for example "D:(A;;KR;;;WD)": everyone may read, nothing more). Wine
// enforces key security as Windows does. Throws std::runtime_error on failure.
void SetKeyAccess(HKEY root, std::wstring_view keyPath, std::wstring_view sddl);

// Limits a key of the sandboxed HKEY_CURRENT_USER for the holder's lifetime,
// then gives everyone full access again so the sandbox can remove it. The
// limit keeps WRITE_DAC for that.
class KeyAccessLimit {
public:
    KeyAccessLimit(std::wstring keyPath, std::wstring_view sddl);
    ~KeyAccessLimit();
    KeyAccessLimit(const KeyAccessLimit&) = delete;
    KeyAccessLimit& operator=(const KeyAccessLimit&) = delete;

private:
    std::wstring keyPath_;
};

} // namespace merovane::test
