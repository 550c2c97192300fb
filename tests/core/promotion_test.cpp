#include "base/error.h"
#include "base/handles.h"
#include "core/app_rules.h"
#include "core/icon_store.h"
#include "core/promotion_pass.h"
#include "core/promotion_watcher.h"
#include "support/entries.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <functional>
#include <map>

namespace merovane {
namespace {

using test::kBase;

using test::Entry;

// Waits for something the worker does; fails the test after ten seconds
// rather than hanging it.
bool Eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        ::Sleep(5);
    }
    return true;
}

class PromotionTest : public ::testing::Test {
protected:
    test::RegistrySandbox sandbox;
};

TEST_F(PromotionTest, TheRuleDecidesEachEntryFromWhatThePassTellsIt)
{
    struct Case {
        const wchar_t* key;
        std::int64_t before; // -1: no IsPromoted; -2: a string
        const wchar_t* path;
        std::int64_t after;
    } cases[] = {
        {L"show", 0, L"C:\\show.exe", 1},
        {L"hide", 1, L"C:\\hide.exe", 0},
        {L"leave", 0, L"C:\\leave.exe", 0},
        {L"new", -1, L"{6D809377-6AF0-444B-8957-A3773F02200E}\\Vendor\\new.exe", 1},
        {L"odd", -2, L"", 0},
        {L"large", 7, L"C:\\show.exe", 1},
    };
    for (const Case& c : cases) {
        test::SetRegString(Entry(c.key), L"ExecutablePath", c.path);
        if (c.before == -2) {
            test::SetRegString(Entry(c.key), L"IsPromoted", L"1");
        } else if (c.before >= 0) {
            test::SetRegDword(Entry(c.key), L"IsPromoted", static_cast<std::uint32_t>(c.before));
        }
    }
    struct Seen {
        std::wstring path;
        bool hasValue;
        bool promoted;
    };
    std::map<std::wstring, Seen> seen;
    // Shows what its name says, hides "hide", keeps "leave", and hides
    // anything with no path; everything else is shown.
    const PromotionRule rule = [&](const PromotionCandidate& entry) -> std::optional<bool> {
        seen[std::wstring(entry.KeyName())] = {entry.ExecutablePath(), entry.HasIsPromoted(), entry.Promoted()};
        if (entry.KeyName() == L"leave") {
            return std::nullopt;
        }
        return entry.KeyName() != L"hide" && !entry.ExecutablePath().empty();
    };
    const PromotionPassResult result = ApplyPromotionPass(rule);
    EXPECT_EQ(result.entries, 6);
    EXPECT_EQ(result.written, 5); // show, hide, new, the string replaced by 0, large
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << ToUtf8(c.key));
        EXPECT_EQ(test::GetRegDword(Entry(c.key), L"IsPromoted"), c.after);
        ASSERT_TRUE(seen.contains(c.key));
        EXPECT_EQ(seen[c.key].path, c.path); // as stored: known folders are the rule's business
        EXPECT_EQ(seen[c.key].hasValue, c.before != -1); // a string is a value too
        EXPECT_EQ(seen[c.key].promoted, c.before > 0);
    }
}

TEST_F(PromotionTest, ShowingNewIconsLeavesEveryDecidedEntryAlone)
{
    test::SetRegDword(Entry(L"hidden by the user"), L"IsPromoted", 0);
    test::SetRegDword(Entry(L"shown"), L"IsPromoted", 1);
    test::CreateRegKey(Entry(L"new"));
    const FILETIME hiddenWritten = test::RegLastWrite(Entry(L"hidden by the user"));
    ::Sleep(20);
    const PromotionPassResult result = ApplyPromotionPass(RuleForNewIconPolicy(NewIconPolicy::ShowNew));
    EXPECT_EQ(result.written, 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"hidden by the user"), L"IsPromoted"), 0);
    EXPECT_EQ(test::GetRegDword(Entry(L"shown"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"new"), L"IsPromoted"), 1);
    const FILETIME after = test::RegLastWrite(Entry(L"hidden by the user"));
    EXPECT_EQ(::CompareFileTime(&hiddenWritten, &after), 0);
}

// Whatever its type, an IsPromoted value is someone's decision: "show new
// icons" leaves it as it is, bytes and type. reg.exe writes a string without
// /t, and other tools write what they like.
TEST_F(PromotionTest, ShowingNewIconsLeavesAValueOfAnyTypeAlone)
{
    struct Case {
        const wchar_t* key;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {L"string 0", REG_SZ, {'0', 0, 0, 0}},
        {L"string 1", REG_SZ, {'1', 0, 0, 0}},
        {L"empty string", REG_SZ, {}},
        {L"expandable", REG_EXPAND_SZ, {'0', 0, 0, 0}},
        {L"binary", REG_BINARY, {0}},
        {L"binary dword", REG_BINARY, {0, 0, 0, 0}},
        {L"qword 0", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}},
        {L"qword 1", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
        {L"dword too long", REG_DWORD, {0, 0, 0, 0, 0, 0, 0, 0}},
        {L"dword too short", REG_DWORD, {0, 0}},
        {L"big endian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0}},
        {L"none", REG_NONE, {}},
    };
    for (const Case& c : cases) {
        test::SetRegRaw(Entry(c.key), L"IsPromoted", c.type, c.data);
    }
    test::CreateRegKey(Entry(L"new"));
    // The policy on its own, and as the window runs it: with a rules file
    // that has no rule for these entries.
    test::TempDir temp;
    auto noRules = std::make_shared<RulesFileFollower>(temp / L"Rules.ini");
    noRules->Refresh();
    for (const PromotionRule& rule : {RuleForNewIconPolicy(NewIconPolicy::ShowNew),
                                      RuleForPolicyAndAppRules(NewIconPolicy::ShowNew, noRules)}) {
        ApplyPromotionPass(rule);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << ToUtf8(c.key));
            const test::RawValue value = test::GetRegRaw(Entry(c.key), L"IsPromoted");
            EXPECT_EQ(value.type, c.type);
            EXPECT_EQ(value.data, c.data);
        }
        EXPECT_EQ(test::GetRegDword(Entry(L"new"), L"IsPromoted"), 1);
    }
}

TEST_F(PromotionTest, AnEntryThatRefusesWritingIsSkippedAndTheOthersFollow)
{
    test::SetRegDword(Entry(L"1"), L"IsPromoted", 0);
    test::SetRegDword(Entry(L"2"), L"IsPromoted", 0);
    test::SetRegDword(Entry(L"3"), L"IsPromoted", 0);
    {
        test::KeyAccessLimit locked(Entry(L"2"), L"D:(A;;KRWD;;;WD)"); // read, and change the access back
        EXPECT_NO_THROW(ApplyPromotionPass(RuleForNewIconPolicy(NewIconPolicy::ShowAll)));
    }
    EXPECT_EQ(test::GetRegDword(Entry(L"1"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"2"), L"IsPromoted"), 0);
    EXPECT_EQ(test::GetRegDword(Entry(L"3"), L"IsPromoted"), 1);
}

TEST_F(PromotionTest, ARememberingPassLooksOnlyAtEntriesChangedSince)
{
    for (const wchar_t* key : {L"a", L"b", L"c"}) {
        test::SetRegDword(Entry(key), L"IsPromoted", 0);
    }
    const PromotionRule show = RuleForNewIconPolicy(NewIconPolicy::ShowAll);
    PromotionMemory memory;
    EXPECT_EQ(ApplyPromotionPass(show, &memory).written, 3);
    // The written entries are looked at once more, then not at all.
    EXPECT_EQ(ApplyPromotionPass(show, &memory).examined, 3);
    EXPECT_EQ(ApplyPromotionPass(show, &memory).examined, 0);

    ::Sleep(30); // the registry clock moves on
    test::SetRegDword(Entry(L"b"), L"IsPromoted", 0);
    test::CreateRegKey(Entry(L"d"));
    const PromotionPassResult result = ApplyPromotionPass(show, &memory);
    EXPECT_EQ(result.entries, 4);
    EXPECT_EQ(result.examined, 2);
    EXPECT_EQ(test::GetRegDword(Entry(L"b"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"d"), L"IsPromoted"), 1);
}

// The watcher's check between entries is made only before an entry that is
// read; a pass it ends keeps the memory of what it found unchanged.
TEST_F(PromotionTest, ARememberingPassAsksOnlyBeforeChangedEntriesAndKeepsItsMemoryWhenEnded)
{
    for (const wchar_t* key : {L"a", L"b", L"c", L"d"}) {
        test::SetRegDword(Entry(key), L"IsPromoted", 1);
    }
    const PromotionRule show = RuleForNewIconPolicy(NewIconPolicy::ShowAll);
    PromotionMemory memory;
    ApplyPromotionPass(show, &memory);
    ASSERT_EQ(memory.atTarget.size(), 4u);

    ::Sleep(30);
    test::SetRegDword(Entry(L"b"), L"IsPromoted", 0);
    test::SetRegDword(Entry(L"c"), L"IsPromoted", 0);
    int asked = 0;
    const PromotionPassResult ended = ApplyPromotionPass(show, &memory, [&] { return ++asked < 2; });
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ended.examined, 1);
    // b was written, c never reached: both are looked at again, a and d not.
    const PromotionPassResult next = ApplyPromotionPass(show, &memory);
    EXPECT_EQ(next.examined, 2);
    EXPECT_EQ(test::GetRegDword(Entry(L"c"), L"IsPromoted"), 1);
}

// Entries added since the last pass are found by bisecting the list that
// pass saw; whatever else changed in the same burst, one pass leaves every
// entry at its target and reads only what changed.
TEST_F(PromotionTest, ARememberingPassMissesNothingThatCameWithAnAddedEntry)
{
    const auto add = [](const wchar_t* key) { test::SetRegDword(Entry(key), L"IsPromoted", 0); };
    const auto remove = [](const wchar_t* key) {
        ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, Entry(key).c_str()), ERROR_SUCCESS);
    };
    const auto fill = [] {
        for (int i = 10; i < 50; ++i) {
            test::SetRegDword(Entry(L"e" + std::to_wstring(i)), L"IsPromoted", 0);
        }
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        int examined;
    } cases[] = {
        {"one added", [&] { add(L"e205"); }, 1},
        {"added first and last", [&] { add(L"a"); add(L"z"); }, 2},
        {"one added, another deleted", [&] { add(L"e305"); remove(L"e40"); }, 1},
        {"deleted and made again with its name", [&] { remove(L"e20"); add(L"e20"); }, 1},
        {"one added, another changed", [&] { add(L"e405"); add(L"e30"); }, 2},
        {"two added, one deleted between them", [&] { add(L"e115"); remove(L"e25"); add(L"e455"); }, 2},
        {"the whole key made again",
         [&] {
             ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
             fill();
             add(L"e125");
         },
         41},
    };
    const PromotionRule show = RuleForNewIconPolicy(NewIconPolicy::ShowAll);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
        fill();
        PromotionMemory memory;
        ApplyPromotionPass(show, &memory);
        ASSERT_EQ(ApplyPromotionPass(show, &memory).written, 0);
        ::Sleep(30); // the registry clock moves on
        c.change();
        EXPECT_EQ(ApplyPromotionPass(show, &memory).examined, c.examined);
        for (const std::wstring& key : test::RegSubkeys(kBase)) {
            EXPECT_EQ(test::GetRegDword(Entry(key), L"IsPromoted"), 1) << ToUtf8(key);
        }
    }
}

TEST_F(PromotionTest, NoPolicyIsNoRule)
{
    EXPECT_FALSE(RuleForNewIconPolicy(NewIconPolicy::None));
    EXPECT_FALSE(RuleForNewIconPolicy(NewIconPolicy::LeaveToSystem));
    test::SetRegDword(Entry(L"1"), L"IsPromoted", 0);
    EXPECT_EQ(ApplyPromotionPass(RuleForNewIconPolicy(NewIconPolicy::LeaveToSystem)).entries, 0);
    EXPECT_EQ(test::GetRegDword(Entry(L"1"), L"IsPromoted"), 0);
}

// Two apps with a rule: "chat" (shown) known by file, company and a folder of
// an older version, and a system icon known by its GUID (hidden).
constexpr wchar_t kNewerChatPath[] = L"C:\\Apps\\chat\\app-2.0.0\\chat.exe";
constexpr wchar_t kSystemIconGuid[] = L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}";

void SaveTwoRules(const std::wstring& path, RuleAction chat)
{
    AppRules rules;
    rules.Set(*IdentifyApp(L"C:\\Apps\\chat\\app-1.0.0\\chat.exe", L"Chat Inc", L""), chat);
    rules.Set(*IdentifyApp(L"", L"", kSystemIconGuid), RuleAction::Hide);
    SaveRules(rules, path);
}

TEST_F(PromotionTest, ARuleWinsOverEveryPolicyForEntriesOfItsApp)
{
    test::TempDir temp;
    const std::wstring rulesFile = temp / L"Rules.ini";
    SaveTwoRules(rulesFile, RuleAction::Show);
    auto rules = std::make_shared<RulesFileFollower>(rulesFile);
    ASSERT_TRUE(rules->Refresh());

    struct Case {
        NewIconPolicy policy;
        // IsPromoted afterwards, -1 for none: the newer chat, the system
        // icon, a chat.exe of another company, an app without a rule.
        std::int64_t chat, system, otherCompany, noRule;
    } cases[] = {
        {NewIconPolicy::None, 1, 0, -1, 1},
        {NewIconPolicy::ShowAll, 1, 0, 1, 1},
        {NewIconPolicy::HideAll, 1, 0, -1, 0},
        {NewIconPolicy::ShowNew, 1, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.policy));
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
        test::SetRegString(Entry(L"chat"), L"ExecutablePath", kNewerChatPath);
        test::SetRegString(Entry(L"chat"), L"Publisher", L"Chat Inc");
        test::SetRegDword(Entry(L"chat"), L"IsPromoted", 0);
        test::SetRegString(Entry(L"system"), L"IconGuid", kSystemIconGuid);
        test::SetRegDword(Entry(L"system"), L"IsPromoted", 1);
        test::SetRegString(Entry(L"otherCompany"), L"ExecutablePath", kNewerChatPath);
        test::SetRegString(Entry(L"otherCompany"), L"Publisher", L"Someone Else");
        test::SetRegString(Entry(L"noRule"), L"ExecutablePath", L"C:\\x\\plain.exe");
        test::SetRegDword(Entry(L"noRule"), L"IsPromoted", 1);

        ApplyPromotionPass(RuleForPolicyAndAppRules(c.policy, rules));
        EXPECT_EQ(test::GetRegDword(Entry(L"chat"), L"IsPromoted"), c.chat);
        EXPECT_EQ(test::GetRegDword(Entry(L"system"), L"IsPromoted"), c.system);
        EXPECT_EQ(test::GetRegDword(Entry(L"otherCompany"), L"IsPromoted"), c.otherCompany);
        EXPECT_EQ(test::GetRegDword(Entry(L"noRule"), L"IsPromoted"), c.noRule);
    }
}

class PromotionWatcherTest : public PromotionTest {
protected:
    static bool HasValue(std::wstring_view key, std::int64_t value)
    {
        return test::GetRegDword(Entry(key), L"IsPromoted") == value;
    }

    // After the sandbox, so it ends first.
    PromotionWatcher watcher;
};

TEST_F(PromotionWatcherTest, NewEntriesAndEntriesChangedBackFollowThePolicy)
{
    test::SetRegDword(Entry(L"old"), L"IsPromoted", 0);
    watcher.Start(RuleForNewIconPolicy(NewIconPolicy::ShowAll));
    ASSERT_TRUE(Eventually([] { return HasValue(L"old", 1); }));
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    const int passes = watcher.PassCount();

    // No timer: the new entry wakes the worker.
    test::SetRegDword(Entry(L"new"), L"IsPromoted", 0);
    EXPECT_TRUE(Eventually([] { return HasValue(L"new", 1); }));
    // Someone unticks an entry: it is shown again.
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    test::SetRegDword(Entry(L"old"), L"IsPromoted", 0);
    EXPECT_TRUE(Eventually([] { return HasValue(L"old", 1); }));
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    EXPECT_GT(watcher.PassCount(), passes);

    // A changed policy applies at once, to every entry.
    watcher.Start(RuleForNewIconPolicy(NewIconPolicy::HideAll));
    EXPECT_TRUE(Eventually([] { return HasValue(L"old", 0) && HasValue(L"new", 0); }));
}

TEST_F(PromotionWatcherTest, ABurstOfNewEntriesTakesAFewPasses)
{
    test::CreateRegKey(kBase);
    watcher.Start(RuleForNewIconPolicy(NewIconPolicy::ShowAll));
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    const int passes = watcher.PassCount();
    constexpr int kBurst = 200;
    for (int i = 0; i < kBurst; ++i) {
        test::SetRegDword(Entry(L"burst" + std::to_wstring(i)), L"IsPromoted", 0);
    }
    EXPECT_TRUE(Eventually([] {
        for (int i = 0; i < kBurst; ++i) {
            if (!HasValue(L"burst" + std::to_wstring(i), 1)) {
                return false;
            }
        }
        return true;
    }));
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    // 400 changes (a key and a value each), and the passes' own writes,
    // which wake the worker once more.
    EXPECT_LE(watcher.PassCount() - passes, 20);
}

TEST_F(PromotionWatcherTest, TheWatchFollowsTheKeyThroughDeletionAndCreation)
{
    // Nothing at all yet, not even "Control Panel".
    watcher.Start(RuleForNewIconPolicy(NewIconPolicy::ShowAll));
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    test::SetRegDword(Entry(L"first"), L"IsPromoted", 0);
    ASSERT_TRUE(Eventually([] { return HasValue(L"first", 1); }));
    ASSERT_TRUE(watcher.WaitUntilQuiet());

    // Explorer's key deleted and made anew, twice over.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str()), ERROR_SUCCESS);
        ASSERT_TRUE(watcher.WaitUntilQuiet());
        const std::wstring key = L"again" + std::to_wstring(round);
        test::SetRegDword(Entry(key), L"IsPromoted", 0);
        EXPECT_TRUE(Eventually([&] { return HasValue(key, 1); })) << round;
        ASSERT_TRUE(watcher.WaitUntilQuiet());
    }
}

// What the running window does: the rules file is looked at before each
// pass, and a changed one makes the pass a full one.
TEST_F(PromotionWatcherTest, ANewEntryGetsItsRuleAndAChangedRulesFileCountsAtTheNextPass)
{
    test::TempDir temp;
    const std::wstring rulesFile = temp / L"Rules.ini";
    SaveTwoRules(rulesFile, RuleAction::Hide);
    auto rules = std::make_shared<RulesFileFollower>(rulesFile);
    watcher.Start(RuleForPolicyAndAppRules(NewIconPolicy::ShowAll, rules), [rules] { return rules->Refresh(); });
    ASSERT_TRUE(watcher.WaitUntilQuiet());

    const auto appeared = std::chrono::steady_clock::now();
    test::SetRegString(Entry(L"chat"), L"ExecutablePath", kNewerChatPath);
    test::SetRegString(Entry(L"chat"), L"Publisher", L"Chat Inc");
    test::SetRegDword(Entry(L"chat"), L"IsPromoted", 1);
    ASSERT_TRUE(Eventually([] { return HasValue(L"chat", 0); }));
    std::printf("a new entry got its rule after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - appeared)
                                           .count()));
    ASSERT_TRUE(watcher.WaitUntilQuiet());

    // The file changes (the command line, a hand edit); the next change in
    // the registry, here one of another entry, runs a pass that reads it and
    // looks at every entry again.
    ::Sleep(20);
    SaveTwoRules(rulesFile, RuleAction::Show);
    test::SetRegDword(Entry(L"unrelated"), L"IsPromoted", 0);
    EXPECT_TRUE(Eventually([] { return HasValue(L"chat", 1) && HasValue(L"unrelated", 1); }));
}

// Backup, sync and virus scanners hold a just-written file open without
// sharing for a while. Meanwhile the rules read last still count; once the
// file can be read, the next pass reads it.
TEST_F(PromotionWatcherTest, ARulesFileHeldOpenByAnotherProgramKeepsTheRulesReadLast)
{
    test::TempDir temp;
    const std::wstring rulesFile = temp / L"Rules.ini";
    SaveTwoRules(rulesFile, RuleAction::Hide);
    auto rules = std::make_shared<RulesFileFollower>(rulesFile);
    watcher.Start(RuleForPolicyAndAppRules(NewIconPolicy::None, rules), [rules] { return rules->Refresh(); });
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    test::SetRegString(Entry(L"chat"), L"ExecutablePath", kNewerChatPath);
    test::SetRegString(Entry(L"chat"), L"Publisher", L"Chat Inc");
    test::SetRegDword(Entry(L"chat"), L"IsPromoted", 1);
    ASSERT_TRUE(Eventually([] { return HasValue(L"chat", 0); }));
    ASSERT_TRUE(watcher.WaitUntilQuiet());

    ::Sleep(20);
    SaveTwoRules(rulesFile, RuleAction::Show); // chat shown from now on
    {
        const unique_file held(::CreateFileW(rulesFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        ASSERT_THROW(LoadRules(rulesFile), Error);
        // The system icon is shown by someone: its rule hides it again.
        test::SetRegString(Entry(L"system"), L"IconGuid", kSystemIconGuid);
        test::SetRegDword(Entry(L"system"), L"IsPromoted", 1);
        EXPECT_TRUE(Eventually([] { return HasValue(L"system", 0); }));
        ASSERT_TRUE(watcher.WaitUntilQuiet());
        EXPECT_TRUE(rules->ReadFailed());
        EXPECT_TRUE(HasValue(L"chat", 0));
    }
    // Released: the next change reads the file.
    test::SetRegDword(Entry(L"unrelated"), L"IsPromoted", 0);
    EXPECT_TRUE(Eventually([] { return HasValue(L"chat", 1); }));
    ASSERT_TRUE(watcher.WaitUntilQuiet());
    EXPECT_FALSE(rules->ReadFailed());
    EXPECT_TRUE(HasValue(L"system", 0));
}

TEST_F(PromotionWatcherTest, StopEndsTheWorkerAndAnEmptyRuleDoesNotStartIt)
{
    watcher.Start(PromotionRule());
    EXPECT_FALSE(watcher.Running());

    bool reported = false;
    watcher.onPassFailed = [&](const Error&) { reported = true; };
    watcher.Start(RuleForNewIconPolicy(NewIconPolicy::HideAll));
    EXPECT_TRUE(watcher.Running());
    watcher.Stop();
    EXPECT_FALSE(watcher.Running());
    watcher.Stop(); // twice is harmless
    EXPECT_FALSE(reported);

    // A stopped watcher leaves new entries alone; a started one takes them.
    test::SetRegDword(Entry(L"later"), L"IsPromoted", 1);
    watcher.Start(RuleForNewIconPolicy(NewIconPolicy::HideAll));
    EXPECT_TRUE(Eventually([] { return HasValue(L"later", 0); }));
    // Going out of scope with the worker running stops it as well.
}

} // namespace
} // namespace merovane
