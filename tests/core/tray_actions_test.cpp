#include "core/tray_actions.h"

#include "base/ini_file.h"
#include "core/icon_store.h"
#include "support/entries.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace merovane {
namespace {

using test::kBase;

using test::Entry;

std::vector<std::wstring> KeysOf(const std::vector<IconEntry>& entries)
{
    std::vector<std::wstring> keys;
    for (const IconEntry& entry : entries) {
        keys.push_back(entry.keyName);
    }
    return keys;
}

// What "shown" / "hidden" report and write for entries as loaded: already
// shown, hidden, without a value, with a value of the wrong type (loaded as
// hidden), and deleted after the load.
TEST(SetShownWhereDifferent, WritesAndReportsOnlyWhatDiffersFromTheLoadedState)
{
    const std::vector<BYTE> textOne{'1', 0, 0, 0};
    const test::RawValue dwordOne{true, REG_DWORD, {1, 0, 0, 0}};
    const test::RawValue dwordZero{true, REG_DWORD, {0, 0, 0, 0}};
    const test::RawValue text{true, REG_SZ, textOne};
    const test::RawValue none{};
    struct Case {
        bool shown;
        std::vector<std::wstring> changed;
        std::vector<std::wstring> gone;
        std::map<std::wstring, test::RawValue> after;
    } cases[] = {
        {true,
         {L"hidden", L"missing", L"text"},
         {L"vanished"},
         {{L"shown", dwordOne}, {L"hidden", dwordOne}, {L"missing", dwordOne}, {L"text", dwordOne}}},
        {false,
         {L"shown"},
         {},
         {{L"shown", dwordZero}, {L"hidden", dwordZero}, {L"missing", none}, {L"text", text}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown ? "show" : "hide");
        test::RegistrySandbox sandbox;
        test::SetRegDword(Entry(L"shown"), L"IsPromoted", 1);
        test::SetRegDword(Entry(L"hidden"), L"IsPromoted", 0);
        test::SetRegString(Entry(L"missing"), L"ExecutablePath", L"C:\\Apps\\missing.exe");
        test::SetRegRaw(Entry(L"text"), L"IsPromoted", REG_SZ, textOne);
        test::SetRegDword(Entry(L"vanished"), L"IsPromoted", 0);
        const IconListLoad load = ReadNotifyIconEntries(IniFile());
        ASSERT_EQ(load.entries.size(), 5u);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, Entry(L"vanished").c_str());

        const ShownChange change = SetShownWhereDifferent(load.entries, c.shown);
        std::vector<std::wstring> changed = KeysOf(change.changed);
        std::sort(changed.begin(), changed.end());
        EXPECT_EQ(changed, c.changed);
        EXPECT_EQ(KeysOf(change.gone), c.gone);
        EXPECT_TRUE(change.refused.empty());
        EXPECT_FALSE(change.failure.has_value());
        for (const IconEntry& entry : change.changed) {
            EXPECT_EQ(entry.promoted, c.shown);
        }
        for (const auto& [key, value] : c.after) {
            const test::RawValue stored = test::GetRegRaw(Entry(key), L"IsPromoted");
            EXPECT_EQ(stored.exists, value.exists) << ToUtf8(key);
            EXPECT_EQ(stored.type, value.type) << ToUtf8(key);
            EXPECT_EQ(stored.data, value.data) << ToUtf8(key);
        }
        EXPECT_FALSE(test::RegKeyExists(Entry(L"vanished")));
    }
}

// The organisation's rule holds an entry at its value; its show-all /
// hide-all policy does too, except for an app the user has a rule for.
TEST(SetShownWhereDifferent, LeavesWhatTheOrganisationHolds)
{
    const std::wstring path = L"C:\\Apps\\tool.exe";
    const AppIdentity app = *IdentifyApp(path, L"", L"");
    const auto organisationRule = [&](RuleAction action) {
        OrganisationPolicy organisation;
        organisation.rules.push_back({action, app});
        return organisation;
    };
    const auto organisationPolicy = [](NewIconPolicy policy) {
        OrganisationPolicy organisation;
        organisation.newIconPolicy = policy;
        return organisation;
    };
    AppRules userRule;
    userRule.Set(app, RuleAction::Hide);
    struct Case {
        const char* name;
        OrganisationPolicy organisation;
        AppRules userRules;
        bool shown;
        bool refused;
    } cases[] = {
        {"its rule, the other way", organisationRule(RuleAction::Hide), {}, true, true},
        {"its rule, the same way", organisationRule(RuleAction::Show), {}, true, false},
        {"its rule over the user's", organisationRule(RuleAction::Hide), userRule, true, true},
        {"its policy, the other way", organisationPolicy(NewIconPolicy::HideAll), {}, true, true},
        {"its policy under the user's rule", organisationPolicy(NewIconPolicy::HideAll), userRule, true, false},
        {"a policy that holds nothing", organisationPolicy(NewIconPolicy::ShowNew), {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RegistrySandbox sandbox;
        test::SetRegDword(Entry(L"e"), L"IsPromoted", c.shown ? 0 : 1);
        IconEntry entry;
        entry.keyName = L"e";
        entry.executablePath = path;
        entry.promoted = !c.shown;
        entry.hasIsPromoted = true;

        const ShownChange change = SetShownWhereDifferent({&entry, 1}, c.shown, c.organisation, c.userRules);
        EXPECT_EQ(change.refused.size(), c.refused ? 1u : 0u);
        EXPECT_EQ(change.changed.size(), c.refused ? 0u : 1u);
        EXPECT_EQ(test::GetRegDword(Entry(L"e"), L"IsPromoted"), (c.shown != c.refused) ? 1 : 0);
    }
}

} // namespace
} // namespace merovane
