#include "core/organisation_rules.h"

#include "base/error.h"
#include "base/policies.h"
#include "support/machine_policies.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace merovane {
namespace {

TEST(OrganisationRules, LinesParseIntoRulesOrAreRefused)
{
    struct Case {
        const wchar_t* line;
        bool rule;
        RuleAction action;
        AppIdentity app;
    };
    const Case cases[] = {
        {L"Show|slack.exe|Slack Technologies|%LOCALAPPDATA%\\slack\\app-4.29.149", true, RuleAction::Show,
         {.fileName = L"slack.exe", .company = L"Slack Technologies", .folder = L"%LOCALAPPDATA%\\slack\\app-4.29.149",
          .iconGuid = L""}},
        {L" hide | Tool.exe | | C:\\Tools\\ ", true, RuleAction::Hide,
         {.fileName = L"Tool.exe", .company = L"", .folder = L"C:\\Tools", .iconGuid = L""}},
        {L"Show|{7820AE73-23E3-4229-82C1-E41CB67D5B9C}||", true, RuleAction::Show,
         {.fileName = L"", .company = L"", .folder = L"", .iconGuid = L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}"}},
        {L"Show|slack.exe|Slack", false, {}, {}},             // three fields
        {L"Show|slack.exe|||", false, {}, {}},                // five
        {L"Keep|slack.exe||", false, {}, {}},                 // no such action
        {L"Show|||", false, {}, {}},                          // no file
        {L"Show|C:\\Apps\\slack.exe||", false, {}, {}},       // a path, not a file name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.line));
        const std::optional<OrganisationRule> rule = ParseOrganisationRule(c.line);
        ASSERT_EQ(rule.has_value(), c.rule);
        if (rule) {
            EXPECT_EQ(rule->action, c.action);
            EXPECT_EQ(rule->app, c.app);
        }
    }
}

TEST(OrganisationRules, AnEmptyCompanyOrFolderMatchesAnyAndVersionsMatchEachOther)
{
    Policies policies;
    policies.ruleLines = {L"Hide|slack.exe||", L"Show|code.exe|Microsoft Corporation|%LOCALAPPDATA%\\Programs\\app-1.80.0",
                          L"Show|{7820AE73-23E3-4229-82C1-E41CB67D5B9C}||", L"nonsense"};
    const OrganisationPolicy organisation = OrganisationPolicyFrom(policies);
    ASSERT_EQ(organisation.rules.size(), 3u);
    ASSERT_EQ(organisation.problems.size(), 1u);
    EXPECT_NE(organisation.problems[0].find(L"\"nonsense\""), std::wstring::npos);

    struct Case {
        AppIdentity app;
        std::optional<RuleAction> action;
    };
    const Case cases[] = {
        {{.fileName = L"SLACK.EXE", .company = L"Anyone", .folder = L"Q:\\Anywhere", .iconGuid = L""}, RuleAction::Hide},
        {{.fileName = L"code.exe", .company = L"", .folder = L"%LOCALAPPDATA%\\Programs\\app-1.85.2", .iconGuid = L""},
         RuleAction::Show},
        {{.fileName = L"code.exe", .company = L"Other", .folder = L"%LOCALAPPDATA%\\Programs\\app-1.85.2", .iconGuid = L""},
         std::nullopt},
        {{.fileName = L"code.exe", .company = L"", .folder = L"%LOCALAPPDATA%\\Other\\app-1.85.2", .iconGuid = L""},
         std::nullopt},
        {{.fileName = L"", .company = L"", .folder = L"", .iconGuid = L"{7820ae73-23e3-4229-82c1-e41cb67d5b9c}"},
         RuleAction::Show},
        {{.fileName = L"", .company = L"", .folder = L"", .iconGuid = L"{00000000-0000-0000-0000-000000000000}"},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.app.fileName + L" " + c.app.company + L" " + c.app.folder + c.app.iconGuid));
        EXPECT_EQ(organisation.ActionFor(c.app), c.action);
    }
}

// Value by value: the machine's when it can be used, else the user's; what
// can't be used is named once for each key it is in.
TEST(Policies, TheMachinesUsableValueWinsAndWrongOnesAreNamed)
{
    test::RegistrySandbox sandbox;
    test::MachineKeySandbox machine;
    EXPECT_FALSE(ReadPolicies().Any());

    test::SetPolicyDword(HKEY_LOCAL_MACHINE, L"NewIconPolicy", 7);    // out of range: the user's counts
    test::SetPolicyDword(HKEY_CURRENT_USER, L"NewIconPolicy", 3);
    test::SetPolicyDword(HKEY_LOCAL_MACHINE, L"StartWithWindows", 0); // the machine's 0 wins
    test::SetPolicyDword(HKEY_CURRENT_USER, L"StartWithWindows", 1);
    test::SetPolicyString(HKEY_LOCAL_MACHINE, L"DisableSelfUpdate", L"1");
    test::SetPolicyString(HKEY_CURRENT_USER, L"PrimaryUpdateServer", L"https://mirror.corp.test/");
    test::SetPolicyDword(HKEY_CURRENT_USER, L"Rules", 1);
    test::SetPolicyLines(HKEY_LOCAL_MACHINE, L"Rules", {L"Show|a.exe||", L"", L"Hide|b.exe||"});

    const Policies policies = ReadPolicies();
    EXPECT_EQ(policies.newIconPolicy, NewIconPolicy::ShowNew);
    EXPECT_EQ(policies.startWithWindows, false);
    EXPECT_FALSE(policies.disableSelfUpdate);
    EXPECT_EQ(policies.primaryUpdateServer, L"https://mirror.corp.test/");
    EXPECT_EQ(policies.fallbackUpdateServer, std::nullopt);
    EXPECT_EQ(policies.ruleLines, (std::vector<std::wstring>{L"Show|a.exe||", L"Hide|b.exe||"}));
    ASSERT_EQ(policies.problems.size(), 2u); // the user's Rules is never read: the machine's won
    EXPECT_NE(policies.problems[0].find(L"HKLM\\Software\\Policies\\Merovane\\NewIconPolicy is 7"), std::wstring::npos);
    EXPECT_NE(policies.problems[1].find(L"DisableSelfUpdate is REG_SZ, not REG_DWORD"), std::wstring::npos);
}

} // namespace
} // namespace merovane
