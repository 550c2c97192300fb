#pragma once

// The benchmark's scratch registry: HKEY_CURRENT_USER and HKEY_CLASSES_ROOT
// mapped onto a key of their own, filled with generated entries, and the
// floor any reader of those entries pays.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start);

// Prints what failed and ends the benchmark.
[[noreturn]] void Fail(const std::string& what);

// The scratch key of this process below the real HKEY_CURRENT_USER.
std::wstring ScratchPath();

class ScratchRegistry {
public:
    // Creates the scratch keys, or opens the ones a parent made, and maps
    // the two predefined keys onto them.
    explicit ScratchRegistry(std::wstring path, bool owner);
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    [[nodiscard]] const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    bool owner_;
    HKEY user_ = nullptr;
    HKEY classes_ = nullptr;
};

// NotifyIconSettings below the mapped HKEY_CURRENT_USER.
extern const std::wstring kBase;

HKEY CreateKey(const std::wstring& path);
void SetDword(HKEY key, const wchar_t* name, DWORD value);

// `count` entries as Explorer writes them, replacing any there were, with
// their files in `files`.
void FillEntries(int count, const std::filesystem::path& files);

// What any reader of the entries pays, in the same process, in ms.
double FloorLoad();

} // namespace bench
