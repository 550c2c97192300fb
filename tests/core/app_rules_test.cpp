#include "core/app_rules.h"

#include "base/error.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace merovane {
namespace {

// Two machines' folders: rules made on one must match on the other.
const std::vector<FolderPlaceholder> kAnn = {
    {L"%LOCALAPPDATA%", L"C:\\Users\\ann\\AppData\\Local"},
    {L"%APPDATA%", L"C:\\Users\\ann\\AppData\\Roaming"},
    {L"%USERPROFILE%", L"C:\\Users\\ann"},
    {L"%ProgramFiles%", L"C:\\Program Files"},
    {L"%ProgramFiles%", L"C:\\Program Files (x86)"},
    {L"%SystemRoot%", L"C:\\Windows"},
};
const std::vector<FolderPlaceholder> kBob = {
    {L"%LOCALAPPDATA%", L"D:\\Profiles\\bob\\AppData\\Local"},
    {L"%USERPROFILE%", L"D:\\Profiles\\bob"},
    {L"%ProgramFiles%", L"D:\\Program Files"},
};

AppIdentity Ann(std::wstring_view path, std::wstring_view company = L"", std::wstring_view guid = L"")
{
    return *IdentifyApp(path, company, guid, kAnn);
}

// Paths as versioned installers leave them, before and after an update.
TEST(AppRules, UpdatesKeepTheAppAndOtherAppsStayApart)
{
    struct Case {
        const char* what;
        AppIdentity a;
        AppIdentity b;
        bool same;
    } cases[] = {
        {"Squirrel", Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.29.149\\slack.exe", L"Slack Technologies Inc."),
         Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.33.90\\slack.exe", L"Slack Technologies Inc."), true},
        {"Squirrel, pre-release", Ann(L"C:\\Users\\ann\\AppData\\Local\\GitHubDesktop\\app-3.3.6-beta.1\\GitHubDesktop.exe"),
         Ann(L"C:\\Users\\ann\\AppData\\Local\\GitHubDesktop\\app-3.3.5\\GitHubDesktop.exe"), true},
        {"Chromium", Ann(L"C:\\Program Files\\Google\\Chrome\\Application\\120.0.6099.130\\notification_helper.exe"),
         Ann(L"C:\\Program Files\\Google\\Chrome\\Application\\121.0.6167.85\\notification_helper.exe"), true},
        {"Chromium, moved to 64 bits",
         Ann(L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\120.0.2210.91\\msedge.exe", L"Microsoft Corporation"),
         Ann(L"C:\\Program Files\\Microsoft\\Edge\\Application\\121.0.2277.83\\msedge.exe", L"Microsoft Corporation"),
         true},
        {"Program Files on another drive", Ann(L"D:\\Program Files (x86)\\Steam\\steam.exe"),
         Ann(L"D:\\PROGRAM FILES\\steam\\STEAM.EXE"), true},
        {"v-numbered", Ann(L"C:\\Tools\\Foo\\v12\\foo.exe"), Ann(L"C:\\Tools\\Foo\\v13\\foo.exe"), true},
        {"package", Ann(L"C:\\Program Files\\WindowsApps\\MSTeams_23320.3021.2567.4799_x64__8wekyb3d8bbwe\\ms-teams.exe"),
         Ann(L"C:\\Program Files\\WindowsApps\\MSTeams_24004.1403.2634.2418_x64__8wekyb3d8bbwe\\ms-teams.exe"), true},
        {"a bare number at the end", Ann(L"C:\\Program Files\\Java\\jdk-17\\bin\\javaw.exe"),
         Ann(L"C:\\Program Files\\Java\\jdk-21\\bin\\javaw.exe"), true},
        {"company known on one side only", Ann(L"C:\\Apps\\x.exe", L"Maker"), Ann(L"C:\\Apps\\x.exe"), true},
        {"the same GUID anywhere", Ann(L"C:\\A\\x.exe", L"", L"{11111111-2222-3333-4444-555555555555}"),
         Ann(L"C:\\B\\y.exe", L"", L"{11111111-2222-3333-4444-555555555555}"), true},

        {"another app's versioned folder", Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-1.2.3\\slack.exe"),
         Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\other-1.2.3\\slack.exe"), false},
        {"another file", Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.29.149\\slack.exe"),
         Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.29.149\\Update.exe"), false},
        {"another company", Ann(L"C:\\Apps\\x.exe", L"Maker"), Ann(L"C:\\Apps\\x.exe", L"Someone else"), false},
        {"a name with a number in it", Ann(L"C:\\Program Files\\7-Zip\\7zFM.exe"),
         Ann(L"C:\\Program Files\\8-Zip\\7zFM.exe"), false},
        {"a number glued to a name", Ann(L"C:\\Program Files\\Microsoft Office\\Office15\\lync.exe"),
         Ann(L"C:\\Program Files\\Microsoft Office\\Office16\\lync.exe"), false},
        {"another vendor", Ann(L"C:\\Program Files\\Vendor A\\app\\x.exe"),
         Ann(L"C:\\Program Files\\Vendor B\\app\\x.exe"), false},
        {"a version folder more", Ann(L"C:\\Program Files\\Google\\Chrome\\Application\\120.0.6099.130\\chrome.exe"),
         Ann(L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe"), false},
        {"another drive", Ann(L"C:\\Apps\\x.exe"), Ann(L"D:\\Apps\\x.exe"), false},
        {"Program Files2 is no program-files folder", Ann(L"C:\\Program Files2\\x.exe"),
         Ann(L"C:\\Program Files\\x.exe"), false},
        {"a GUID entry and a path entry", Ann(L"C:\\A\\x.exe", L"", L"{11111111-2222-3333-4444-555555555555}"),
         Ann(L"C:\\A\\x.exe"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SameApp(c.a, c.b), c.same) << ToUtf8(LooseFolder(c.a.folder)) << " / " << ToUtf8(LooseFolder(c.b.folder));
        EXPECT_EQ(SameApp(c.b, c.a), c.same);
    }
}

TEST(AppRules, FoldersAreKeptWithPlaceholdersSoOtherMachinesMatch)
{
    const AppIdentity ann = Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.29.149\\slack.exe", L"Slack");
    EXPECT_EQ(ann, (AppIdentity{.fileName = L"slack.exe",
                                .company = L"Slack",
                                .folder = L"%LOCALAPPDATA%\\slack\\app-4.29.149",
                                .iconGuid = L""}));
    const AppIdentity bob = *IdentifyApp(L"D:\\Profiles\\bob\\AppData\\Local\\slack\\app-4.33.90\\slack.exe", L"", L"", kBob);
    EXPECT_TRUE(SameApp(ann, bob));
    EXPECT_EQ(LooseFolder(ann.folder), L"%LOCALAPPDATA%\\SLACK\\APP-<VERSION>");

    EXPECT_EQ(WithFolderPlaceholder(L"C:\\Users\\ann\\AppDataX\\a.exe", kAnn), L"%USERPROFILE%\\AppDataX\\a.exe");
    EXPECT_EQ(WithFolderPlaceholder(L"c:\\program files (x86)\\a.exe", kAnn), L"%ProgramFiles%\\a.exe");
    EXPECT_EQ(WithFolderPlaceholder(L"C:\\Users\\annie\\a.exe", kAnn), L"C:\\Users\\annie\\a.exe");
    EXPECT_EQ(IdentifyApp(L"", L"Maker", L"", kAnn), std::nullopt);
    EXPECT_EQ(Ann(L"x.exe").folder, L"");
}

TEST(AppRules, SettingARuleReplacesTheAppsRule)
{
    AppRules rules;
    const AppIdentity old = Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.29.149\\slack.exe");
    const AppIdentity updated = Ann(L"C:\\Users\\ann\\AppData\\Local\\slack\\app-4.33.90\\slack.exe");
    EXPECT_FALSE(rules.Set(old, std::nullopt));
    EXPECT_TRUE(rules.Set(old, RuleAction::Hide));
    EXPECT_FALSE(rules.Set(updated, RuleAction::Hide)); // says so already
    EXPECT_EQ(rules.ActionFor(updated), RuleAction::Hide);
    EXPECT_TRUE(rules.Set(updated, RuleAction::Show));
    ASSERT_EQ(rules.Rules().size(), 1u);
    EXPECT_EQ(rules.Rules()[0].app, updated);
    EXPECT_TRUE(rules.Set(old, std::nullopt));
    EXPECT_TRUE(rules.Empty());
}

TEST(AppRules, TheFileRoundTripsAndKeepsWhatANewerVersionWrote)
{
    test::TempDir dir;
    const std::wstring path = RulesPathBeside(dir / L"Option.ini");
    EXPECT_EQ(path, dir / L"Rules.ini");
    EXPECT_TRUE(LoadRules(path).Empty()); // no file yet

    test::WriteFileBytes(path, "; by a newer version\r\n"
                               "[Rule1]\r\nFile=a.exe\r\nCompany=Maker\r\nFolder=%ProgramFiles%\\A\r\n"
                               "Action=hide\r\nSince=2031\r\n"
                               "[Rule2]\r\nFile=b.exe\r\nAction=Pin\r\n"
                               "[Defaults]\r\nMode=strict\r\nBare\r\n"
                               "[Empty]\r\n");
    AppRules rules = LoadRules(path);
    ASSERT_EQ(rules.Rules().size(), 1u); // Pin is no action this version knows
    EXPECT_EQ(rules.Rules()[0].action, RuleAction::Hide);
    // Names from the registry may hold line breaks; the file keeps them on one line.
    rules.Set(Ann(L"C:\\Users\\ann\\Ä\\ü.exe", L"Line\r\nbreak"), RuleAction::Show);
    SaveRules(rules, path);

    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "\xEF\xBB\xBF"
                     "[Rule1]\r\nFile=a.exe\r\nCompany=Maker\r\nFolder=%ProgramFiles%\\A\r\nAction=Hide\r\n"
                     "Since=2031\r\n\r\n"
                     "[Rule3]\r\nFile=\xC3\xBC.exe\r\nCompany=Line  break\r\nFolder=%USERPROFILE%\\\xC3\x84\r\n"
                     "Action=Show\r\n\r\n"
                     "[Rule2]\r\nFile=b.exe\r\nAction=Pin\r\n\r\n"
                     "[Defaults]\r\nMode=strict\r\nBare\r\n\r\n"
                     "[Empty]\r\n\r\n");
    EXPECT_EQ(LoadRules(path), rules);
}

// A merged or hand-edited file may name two sections alike: each is a rule
// (or a section kept) of its own, and a save keeps every one of them.
TEST(AppRules, ARepeatedSectionIsAnotherRuleAndASaveKeepsIt)
{
    struct Case {
        const char* what;
        const char* file;
        // Action of a.exe and b.exe afterwards ("" for none), then the file
        // after a rule for c.exe was added.
        const wchar_t* a;
        const wchar_t* b;
        const char* saved;
    } cases[] = {
        {"two rules",
         "[Rule1]\r\nFile=a.exe\r\nAction=Hide\r\n[Rule1]\r\nFile=b.exe\r\nAction=Show\r\n",
         L"Hide", L"Show",
         "[Rule1]\r\nFile=a.exe\r\nCompany=\r\nFolder=\r\nAction=Hide\r\n\r\n"
         "[Rule2]\r\nFile=b.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"
         "[Rule3]\r\nFile=c.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"},
        {"names differing in case, and the same app twice: the first counts",
         "[rule2]\r\nFile=a.exe\r\nAction=Show\r\n[RULE2]\r\nFile=a.exe\r\nAction=Hide\r\n",
         L"Show", L"",
         "[Rule1]\r\nFile=a.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"
         "[Rule2]\r\nFile=a.exe\r\nCompany=\r\nFolder=\r\nAction=Hide\r\n\r\n"
         "[Rule3]\r\nFile=c.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"},
        {"a repeat this version does not understand",
         "[Rule1]\r\nFile=a.exe\r\nAction=Hide\r\n[Rule1]\r\nFile=b.exe\r\nAction=Pin\r\n",
         L"Hide", L"",
         "[Rule2]\r\nFile=a.exe\r\nCompany=\r\nFolder=\r\nAction=Hide\r\n\r\n"
         "[Rule3]\r\nFile=c.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"
         "[Rule1]\r\nFile=b.exe\r\nAction=Pin\r\n\r\n"},
        {"other sections twice, kept apart",
         "[Notes]\r\nA=1\r\n[Rule1]\r\nFile=a.exe\r\nAction=Show\r\n[Notes]\r\nA=2\r\n",
         L"Show", L"",
         "[Rule1]\r\nFile=a.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"
         "[Rule2]\r\nFile=c.exe\r\nCompany=\r\nFolder=\r\nAction=Show\r\n\r\n"
         "[Notes]\r\nA=1\r\n\r\n[Notes]\r\nA=2\r\n\r\n"},
    };
    auto actionName = [](const AppRules& rules, std::wstring_view file) -> std::wstring {
        const std::optional<RuleAction> action = rules.ActionFor(Ann(file));
        return action ? std::wstring(RuleActionName(*action)) : L"";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::wstring path = dir / L"Rules.ini";
        test::WriteFileBytes(path, c.file);
        AppRules rules = LoadRules(path);
        EXPECT_EQ(actionName(rules, L"a.exe"), c.a);
        EXPECT_EQ(actionName(rules, L"b.exe"), c.b);
        EXPECT_EQ(actionName(ReadRules(path).rules, L"b.exe"), c.b);

        // What the window and --rule do: read, change, write back.
        ASSERT_TRUE(rules.Set(Ann(L"c.exe"), RuleAction::Show));
        SaveRules(rules, path);
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, std::string("\xEF\xBB\xBF") + c.saved);
        EXPECT_EQ(LoadRules(path), rules);
    }
}

TEST(AppRules, AFileThatDoesNotDecodeIsNeverWrittenOver)
{
    test::TempDir dir;
    const std::wstring path = dir / L"Rules.ini";
    test::WriteFileBytes(path, "\xEF\xBB\xBF[Rule1]\r\nFile=\xFF.exe\r\nAction=Show\r\n");
    EXPECT_THROW(LoadRules(path), Error);
    const RulesRead read = ReadRules(path);
    EXPECT_TRUE(read.failure.has_value());

    const std::wstring folder = dir / L"folder";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_THROW(LoadRules(folder), Error);
    EXPECT_TRUE(ReadRules(folder).failure.has_value());
}

// What the pass writes: a rule first, then the policy; nothing where the
// value is already right.
TEST(AppRules, TargetIsPromotedLetsARuleWinAndShowNewTouchOnlyUndecidedEntries)
{
    const std::optional<bool> none;
    struct Case {
        NewIconPolicy policy;
        std::optional<RuleAction> rule;
        std::optional<bool> current;
        std::optional<bool> target;
    } cases[] = {
        {NewIconPolicy::ShowNew, std::nullopt, none, true},
        {NewIconPolicy::ShowNew, std::nullopt, false, none}, // an explicit 0 stays
        {NewIconPolicy::ShowNew, std::nullopt, true, none},
        {NewIconPolicy::ShowAll, std::nullopt, false, true},
        {NewIconPolicy::ShowAll, std::nullopt, true, none},
        {NewIconPolicy::HideAll, std::nullopt, true, false},
        {NewIconPolicy::HideAll, std::nullopt, none, none}, // missing already reads as hidden
        {NewIconPolicy::LeaveToSystem, std::nullopt, true, none},
        {NewIconPolicy::None, std::nullopt, none, none},
        {NewIconPolicy::ShowAll, RuleAction::Hide, true, false},
        {NewIconPolicy::ShowNew, RuleAction::Hide, none, none},
        {NewIconPolicy::HideAll, RuleAction::Show, false, true},
        {NewIconPolicy::LeaveToSystem, RuleAction::Show, none, true},
        {NewIconPolicy::None, RuleAction::Show, true, none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TargetIsPromoted(c.policy, c.rule, c.current), c.target)
            << static_cast<int>(c.policy) << " " << (c.rule ? static_cast<int>(*c.rule) : -1) << " "
            << (c.current ? static_cast<int>(*c.current) : -1);
    }
}

} // namespace
} // namespace merovane
