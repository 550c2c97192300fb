#pragma once

// What an organisation sets through Group Policy or Intune: values below
// HKLM\Software\Policies\Merovane and HKCU\Software\Policies\Merovane. The
// machine's value wins over the user's, value by value. A value of the wrong
// type, or one outside its range, counts as not set and is named in
// Policies::problems; nothing here keeps the program from starting.
//
// The options and rules a policy sets are the organisation's: the program
// follows them and shows them, and never writes them into the user's files,
// so removing a policy brings back what the user chose.

#include "base/options.h"

#include <windows.h>

#include "base/handles.h"
#include "base/shared_wait.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

inline constexpr std::wstring_view kPolicyKey = L"Software\\Policies\\Merovane";

// Every value the program reads, with the type it expects. The templates for
// Group Policy are checked against this table.
struct PolicyValue {
    std::wstring_view name;
    DWORD type;
};
inline constexpr PolicyValue kPolicyValues[] = {
    {L"NewIconPolicy", REG_DWORD},         // 0 leave, 1 show all, 2 hide all, 3 show new
    {L"Rules", REG_MULTI_SZ},              // Action|File|Company|Folder, one a line
    {L"DisableSelfUpdate", REG_DWORD},     // 1: no check, no download
    {L"PrimaryUpdateServer", REG_SZ},      // base URL, as the built-in one
    {L"FallbackUpdateServer", REG_SZ},
    {L"StartWithWindows", REG_DWORD},      // 0 or 1, forced
};

struct Policies {
    std::optional<NewIconPolicy> newIconPolicy;
    // The lines of Rules as they stand; core/organisation_rules reads them.
    std::vector<std::wstring> ruleLines;
    bool disableSelfUpdate = false;
    std::optional<std::wstring> primaryUpdateServer;
    std::optional<std::wstring> fallbackUpdateServer;
    std::optional<bool> startWithWindows;
    // One line for each value that was set but could not be used.
    std::vector<std::wstring> problems;

    [[nodiscard]] bool Any() const noexcept
    {
        return newIconPolicy || !ruleLines.empty() || disableSelfUpdate || primaryUpdateServer ||
               fallbackUpdateServer || startWithWindows;
    }
    // Without the problems: what the program does differs.
    [[nodiscard]] bool SameEffect(const Policies& other) const
    {
        return newIconPolicy == other.newIconPolicy && ruleLines == other.ruleLines &&
               disableSelfUpdate == other.disableSelfUpdate && primaryUpdateServer == other.primaryUpdateServer &&
               fallbackUpdateServer == other.fallbackUpdateServer && startWithWindows == other.startWithWindows;
    }
};

// NewIconPolicy's DWORD as the option it forces; nothing outside 0 to 3.
std::optional<NewIconPolicy> NewIconPolicyFromPolicyValue(DWORD value) noexcept;

// Reads both keys now. `machine` and `user` are the roots to read them from.
Policies ReadPolicies(HKEY machine = HKEY_LOCAL_MACHINE, HKEY user = HKEY_CURRENT_USER);

// Tells when a policy may have changed, without polling: the program's
// waiting thread (base/shared_wait.h) sleeps on the registry's change
// notification for both policy keys (or, while one is missing, for the
// folder it would be made in) and calls back after a change.
class PolicyWatch : private SharedWait::Client {
public:
    PolicyWatch();
    ~PolicyWatch() override; // stops watching
    PolicyWatch(const PolicyWatch&) = delete;
    PolicyWatch& operator=(const PolicyWatch&) = delete;

    // `onChange` runs on the waiting thread; it must be quick and must not
    // throw. Does nothing while the watch runs.
    void Start(std::function<void()> onChange);
    void Stop();
    [[nodiscard]] bool Running() const noexcept { return running_; }

private:
    SharedWait::Wanted Arm() noexcept override;
    void Signalled(int index) noexcept override;

    std::function<void()> onChange_;
    bool running_ = false;
    unique_handle changed_[2];
    // The waiting thread's own from Start to Stop:
    unique_hkey keys_[2];
    bool armed_ = false;    // keys_ opened and their notifications asked for
    bool settling_ = false; // a change came: the rest of the burst joins it
};

} // namespace merovane
