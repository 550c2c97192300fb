#include "scratch_registry.h"

#include "core/icon_list.h"
#include "core/icon_store.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace bench {


double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "merovane_bench: %s\n", what.c_str());
    std::exit(1);
}

static void Check(LSTATUS status, const char* what)
{
    if (status != ERROR_SUCCESS) {
        Fail(std::string(what) + " failed with " + std::to_string(status));
    }
}

// The scratch key below the real HKEY_CURRENT_USER, and the mapping of the
// two predefined keys onto it.
static constexpr wchar_t kScratchRoot[] = L"Software\\Merovane benchmark";

std::wstring ScratchPath()
{
    return std::wstring(kScratchRoot) + L"\\" + std::to_wstring(::GetCurrentProcessId());
}

ScratchRegistry::ScratchRegistry(std::wstring path, bool owner) : path_(std::move(path)), owner_(owner)
{
    Check(::RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + L"\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &user_, nullptr),
          "creating the scratch key");
    Check(::RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + L"\\classes").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &classes_, nullptr),
          "creating the scratch key");
    Check(::RegOverridePredefKey(HKEY_CURRENT_USER, user_), "mapping HKEY_CURRENT_USER");
    Check(::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_), "mapping HKEY_CLASSES_ROOT");
}

ScratchRegistry::~ScratchRegistry()
{
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    ::RegCloseKey(user_);
    ::RegCloseKey(classes_);
    if (owner_) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchRoot); // only when no other run uses it
    }
}

const std::wstring kBase(merovane::kNotifyIconSettingsKey);

static std::wstring EntryName(int index)
{
    return std::to_wstring(1'000'000'000'000'000'000LL + 7919LL * index);
}

HKEY CreateKey(const std::wstring& path)
{
    HKEY key = nullptr;
    Check(::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
          "creating an entry");
    return key;
}

static void SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    Check(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
          "writing a value");
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    Check(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
          "writing a value");
}

// One entry as Explorer writes them: most name an executable (a quarter
// through the program files id, of a program that is not installed), some
// carry a publisher or an icon GUID, and each has the values the list never
// reads (UID, the icon snapshot, the tooltip).
static void WriteEntry(int index, const std::filesystem::path& files)
{
    HKEY key = CreateKey(kBase + L"\\" + EntryName(index));
    const std::wstring app = L"app" + std::to_wstring(index) + L".exe";
    if (index % 4 == 0) {
        SetString(key, L"ExecutablePath", std::wstring(merovane::kProgramFilesFolderId) + L"\\Bench Vendor " +
                                              std::to_wstring(index % 50) + L"\\" + app);
    } else {
        SetString(key, L"ExecutablePath", (files / app).wstring());
    }
    if (index % 5 == 0) {
        SetString(key, L"Publisher", L"Bench Publisher " + std::to_wstring(index % 30));
    }
    if (index % 10 == 1) {
        wchar_t guid[64];
        std::swprintf(guid, 64, L"{%08X-0000-4000-8000-%012X}", 0x5EED0000u + index, index);
        SetString(key, L"IconGuid", guid);
    }
    if (index % 17 != 0) {
        SetDword(key, L"IsPromoted", index % 3 == 0 ? 1 : 0);
    }
    SetDword(key, L"UID", static_cast<DWORD>(index));
    SetString(key, L"InitialTooltip", L"Bench tooltip " + std::to_wstring(index));
    std::vector<BYTE> snapshot(600, static_cast<BYTE>(index));
    Check(::RegSetValueExW(key, L"IconSnapshot", 0, REG_BINARY, snapshot.data(), static_cast<DWORD>(snapshot.size())),
          "writing a value");
    ::RegCloseKey(key);
}

void FillEntries(int count, const std::filesystem::path& files)
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
    std::filesystem::create_directories(files);
    for (int i = 0; i < count; ++i) {
        if (i % 4 != 0) {
            const std::filesystem::path file = files / (L"app" + std::to_wstring(i) + L".exe");
            if (!std::filesystem::exists(file)) {
                std::ofstream(file, std::ios::binary) << "not a program, no version resource";
            }
        }
        WriteEntry(i, files);
    }
}

// The floor: what any reader of the entries pays, in the same process.
double FloorLoad()
{
    const Clock::time_point start = Clock::now();
    HKEY base = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kBase.c_str(), 0, KEY_READ, &base) != ERROR_SUCCESS) {
        return MillisecondsSince(start);
    }
    wchar_t name[256];
    BYTE data[2048];
    size_t seen = 0;
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(base, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY entry = nullptr;
        if (::RegOpenKeyExW(base, name, 0, KEY_QUERY_VALUE, &entry) != ERROR_SUCCESS) {
            continue;
        }
        for (const wchar_t* value : {L"IconGuid", L"ExecutablePath", L"Publisher", L"IsPromoted"}) {
            DWORD size = sizeof(data);
            DWORD type = 0;
            if (::RegQueryValueExW(entry, value, nullptr, &type, data, &size) == ERROR_SUCCESS) {
                seen += size;
            }
        }
        ::RegCloseKey(entry);
    }
    ::RegCloseKey(base);
    const double elapsed = MillisecondsSince(start);
    return seen > 0 ? elapsed : elapsed; // the bytes are read, whatever they hold
}

} // namespace bench
