// The organisation's policies in the running program: what they set is
// followed, shown and held, the user's files never take their values, and
// removing them brings back the user's choice.

#include "support/program_fixture.h"

#include "base/autostart.h"
#include "base/file_info.h"
#include "base/settings_file.h"
#include "core/app_rules.h"
#include "support/dialogs.h"
#include "support/machine_policies.h"
#include "ui/menu.h"

#include <chrono>
#include <functional>

namespace merovane {
namespace {

using test::Entry;


std::int64_t IsPromoted(std::wstring_view key)
{
    return test::GetRegDword(Entry(key), L"IsPromoted");
}

class PoliciesTest : public test::ProgramFixture {
protected:
    ~PoliciesTest() override { test::RemovePolicies(HKEY_CURRENT_USER); }

    ui::CheckBox& Box(std::wstring_view name) { return program->Settings().Get<ui::CheckBox>(name); }
    ui::RadioButton& Radio(std::wstring_view name) { return program->Settings().Get<ui::RadioButton>(name); }
    bool Enabled(const ui::Control& control) { return ::IsWindowEnabled(control.Handle()) != FALSE; }
};

// A rule from policy wins over the user's rule for the app, marks the app's
// rows as the organisation's, and neither a tick nor the rule menu changes
// it. Gone, the user's rule counts again, untouched.
TEST_F(PoliciesTest, AnOrganisationsRuleIsFollowedMarkedAndHeldUntilItGoes)
{
    test::SetRegString(Entry(L"200"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"200"), L"IsPromoted", 1);
    test::SetRegString(Entry(L"210"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::CreateRegKey(Entry(L"400"));
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    AppRules userRules;
    userRules.Set(*IdentifyApp(test::FixturePath(L"full.exe"), L"Fixture Company", L""), RuleAction::Show);
    SaveRules(userRules, rulesFile);
    const std::string rulesBytes = [&] {
        std::ifstream in(std::filesystem::path(rulesFile), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    test::SetPolicyLines(HKEY_CURRENT_USER, L"Rules", {L"Hide|FULL.exe|Fixture Company|"});

    Program& p = Start();
    p.Main().Show();
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(IsPromoted(L"200"), 0);
    for (const wchar_t* key : {L"200", L"210"}) {
        EXPECT_EQ(list->Row(RowOf(key)).caption, L"Fixture Tool (организация: скрывать)");
        EXPECT_FALSE(list->Row(RowOf(key)).checked);
    }

    list->Select(RowOf(L"200"));
    p.Main().Get<ui::PopupMenu>(L"PopupMenuIcon").onPopup();
    for (const wchar_t* name : {L"AlwaysShowAppMenu", L"AlwaysHideAppMenu", L"NoRuleMenu"}) {
        EXPECT_FALSE(p.Main().Get<ui::MenuItem>(name).Enabled()) << ToUtf8(name);
    }
    list->SetChecked(RowOf(L"200"), true);
    EXPECT_FALSE(list->Row(RowOf(L"200")).checked);
    EXPECT_EQ(IsPromoted(L"200"), 0);

    // A changed policy reaches the running program; the user's rule is back
    // once the organisation's goes.
    test::SetPolicyLines(HKEY_CURRENT_USER, L"Rules", {L"Show|full.exe||"});
    EXPECT_TRUE(test::HandleMessagesUntil([&] {
        return IsPromoted(L"200") == 1 && list->Row(RowOf(L"210")).caption == L"Fixture Tool (организация: показывать)";
    }));
    test::SetPolicyLines(HKEY_CURRENT_USER, L"Rules", {L"Hide|full.exe||"});
    EXPECT_TRUE(test::HandleMessagesUntil([&] { return IsPromoted(L"200") == 0; }));
    test::RemovePolicies(HKEY_CURRENT_USER);
    EXPECT_TRUE(test::HandleMessagesUntil([&] {
        return IsPromoted(L"200") == 1 && IsPromoted(L"210") == 1 &&
               list->Row(RowOf(L"200")).caption == L"Fixture Tool (правило: показывать)";
    })) << IsPromoted(L"200") << IsPromoted(L"210") << ToUtf8(list->Row(RowOf(L"200")).caption);
    std::ifstream in(std::filesystem::path(rulesFile), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), rulesBytes);
}

// The machine's new-icon policy applies with the user's refresh option off,
// the dialog shows it ticked and disabled, and start with Windows is forced;
// the settings file keeps the user's choice through a save, and removing
// the policy gives it back.
TEST_F(PoliciesTest, MachinePoliciesOverrideTheDialogWithoutEnteringTheSettingsFile)
{
    test::MachineKeySandbox machine;
    test::SetRegDword(Entry(L"a"), L"IsPromoted", 0);
    test::CreateRegKey(Entry(L"b"));
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutoUpdateList=0\r\nRadioButtonHideNew=1\r\n");
    test::SetPolicyDword(HKEY_LOCAL_MACHINE, L"NewIconPolicy", 1);
    test::SetPolicyDword(HKEY_CURRENT_USER, L"NewIconPolicy", 2); // the machine's wins
    test::SetPolicyDword(HKEY_LOCAL_MACHINE, L"StartWithWindows", 1);
    test::SetPolicyDword(HKEY_LOCAL_MACHINE, L"DisableSelfUpdate", 1);
    test::SetPolicyDword(HKEY_CURRENT_USER, L"FallbackUpdateServer", 1); // wrong type: said, ignored

    test::MessageBoxAnswer told(IDOK);
    Program& p = Start();
    ASSERT_TRUE(told.Answered());
    EXPECT_NE(told.Text().find(L"HKCU\\Software\\Policies\\Merovane\\FallbackUpdateServer is REG_DWORD, not REG_SZ"), std::wstring::npos)
        << ToUtf8(told.Text());
    ASSERT_TRUE(p.Main().Refresh().Running());
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(IsPromoted(L"a"), 1);
    EXPECT_EQ(IsPromoted(L"b"), 1);

    EXPECT_TRUE(Box(L"CheckBoxAutoUpdateList").Checked());
    EXPECT_FALSE(Enabled(Box(L"CheckBoxAutoUpdateList")));
    EXPECT_TRUE(Radio(L"RadioButtonViewNew").Checked());
    EXPECT_FALSE(Radio(L"RadioButtonHideNew").Checked());
    for (const wchar_t* radio :
         {L"RadioButtonSystem", L"RadioButtonViewNew", L"RadioButtonHideNew", L"RadioButtonViewNewOnly"}) {
        EXPECT_FALSE(Enabled(Radio(radio))) << ToUtf8(radio);
    }
    EXPECT_TRUE(::IsWindowVisible(p.Settings().Get<ui::Label>(L"LabelSetByOrganisation").Handle()) ||
                ::GetWindowLongW(p.Settings().Get<ui::Label>(L"LabelSetByOrganisation").Handle(), GWL_STYLE) &
                    WS_VISIBLE);
    EXPECT_TRUE(CheckAutoStart(OwnExecutablePath()));
    EXPECT_TRUE(Box(L"CheckBoxAutostart").Checked());
    EXPECT_FALSE(Enabled(Box(L"CheckBoxAutostart")));

    auto& updateItem = p.Main().Get<ui::MenuItem>(L"CheckUpdateMenu");
    test::SendTrayEvent(p, WM_MOUSEMOVE); // the general menu is made ready as the tray's
    EXPECT_FALSE(updateItem.Enabled());

    p.SaveOptions(OptionGroup::All);
    Options saved = ReadOptions(LoadSettings(paths.settingsFile));
    EXPECT_FALSE(saved.refreshList);
    EXPECT_EQ(saved.newIconPolicy, NewIconPolicy::HideAll);

    test::RemovePolicies(HKEY_LOCAL_MACHINE);
    test::RemovePolicies(HKEY_CURRENT_USER);
    EXPECT_TRUE(test::HandleMessagesUntil([&] { return Enabled(Box(L"CheckBoxAutoUpdateList")); }));
    EXPECT_FALSE(Box(L"CheckBoxAutoUpdateList").Checked());
    EXPECT_TRUE(Radio(L"RadioButtonHideNew").Checked());
    EXPECT_TRUE(Enabled(Radio(L"RadioButtonHideNew")));
    EXPECT_TRUE(Enabled(Box(L"CheckBoxAutostart")));
    EXPECT_FALSE(::GetWindowLongW(p.Settings().Get<ui::Label>(L"LabelSetByOrganisation").Handle(), GWL_STYLE) &
                 WS_VISIBLE);
    EXPECT_FALSE(p.Main().Refresh().Running()); // the user's refresh option is off
    test::SendTrayEvent(p, WM_MOUSEMOVE);
    EXPECT_TRUE(updateItem.Enabled());
    p.SaveOptions(OptionGroup::All);
    saved = ReadOptions(LoadSettings(paths.settingsFile));
    EXPECT_FALSE(saved.refreshList);
    EXPECT_EQ(saved.newIconPolicy, NewIconPolicy::HideAll);
}

} // namespace
} // namespace merovane
