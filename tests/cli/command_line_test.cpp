#include "cli/command_line.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/ini_file.h"
#include "base/options.h"
#include "base/settings_file.h"
#include "core/app_rules.h"
#include "core/icon_order.h"
#include "core/icon_store.h"
#include "support/entries.h"
#include "support/machine_policies.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

namespace merovane {
namespace {

using test::kBase;

using test::Entry;

struct StringSink : cli::TextSink {
    std::wstring text;
    void Write(std::wstring_view more) override { text += more; }
};

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wistringstream in(text);
    for (std::wstring line; std::getline(in, line);) {
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end()); // the registry's order is its own
    return lines;
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Paths on a drive nobody has: no folder placeholder applies, no file exists.
const std::wstring kSlackOld = L"Q:\\Apps\\slack\\app-4.29.149\\slack.exe";
const std::wstring kSlackNew = L"Q:\\Apps\\slack\\app-4.33.90\\slack.exe";

class CommandLineTest : public ::testing::Test {
protected:
    CommandLineTest()
    {
        files.settingsFile = temp / L"Option.ini";
        files.rulesFile = temp / L"Rules.ini";
        files.languageDirectory = temp / L"Language\\";

        test::SetRegString(Entry(L"slack1"), L"ExecutablePath", kSlackOld);
        test::SetRegString(Entry(L"slack1"), L"Publisher", L"Slack Technologies");
        test::SetRegDword(Entry(L"slack1"), L"IsPromoted", 0);
        test::SetRegString(Entry(L"slack2"), L"ExecutablePath", kSlackNew);
        test::SetRegString(Entry(L"slack2"), L"Publisher", L"Slack Technologies");
        test::SetRegString(Entry(L"tool"), L"ExecutablePath", test::FixturePath(L"bare.exe"));
        test::SetRegDword(Entry(L"tool"), L"IsPromoted", 1);
    }

    int Run(std::vector<std::wstring> arguments)
    {
        out.text.clear();
        err.text.clear();
        return cli::Run(arguments, files, out, err);
    }

    // IsPromoted of every entry, -1 for none.
    std::map<std::wstring, std::int64_t> Promoted() const
    {
        std::map<std::wstring, std::int64_t> state;
        for (const std::wstring& name : test::RegSubkeys(kBase)) {
            state[name] = test::GetRegDword(Entry(name), L"IsPromoted");
        }
        return state;
    }

    test::RegistrySandbox sandbox;
    test::TempDir temp;
    cli::Files files;
    StringSink out;
    StringSink err;
};

TEST_F(CommandLineTest, BadUsageIsExitCodeTwoAndChangesNothing)
{
    const auto before = Promoted();
    const std::vector<std::vector<std::wstring>> cases = {
        {},
        {L"--bogus"},
        {L"--show"},
        {L"--show", L""},
        {L"--hide", L"a\tb"},
        {L"--show", L"a", L"b"},
        {L"--show-all", L"now"},
        {L"--rule", L"maybe", L"slack.exe"},
        {L"--rule", L"show"},
        {L"--cleanup", L"everything"},
        {L"--json"},
        {L"--json", L"--show-all"},
        {L"--export"},
        {L"--import", L""},
        {L"--order", L""},
        {L"--order", L"a", L"b"},
        {L"--order-undo", L"now"},
        {L"--restart-explorer", L"now"},
    };
    for (const auto& arguments : cases) {
        std::wstring joined;
        for (const std::wstring& argument : arguments) {
            joined += L"[" + argument + L"]";
        }
        SCOPED_TRACE(ToUtf8(joined));
        EXPECT_EQ(Run(arguments), cli::kExitUsage);
        EXPECT_EQ(out.text, L"");
        EXPECT_NE(err.text.find(L"--help"), std::wstring::npos) << ToUtf8(err.text);
    }
    EXPECT_EQ(Promoted(), before);
    EXPECT_FALSE(std::filesystem::exists(files.rulesFile));

    EXPECT_EQ(Run({L"--help"}), cli::kExitDone);
    EXPECT_NE(out.text.find(L"--rule show|hide|none PATTERN"), std::wstring::npos);
    EXPECT_EQ(err.text, L"");
}

TEST_F(CommandLineTest, ListPrintsEveryEntryAsTabbedLinesOrJson)
{
    EXPECT_EQ(Run({L"--list"}), cli::kExitDone);
    const std::wstring bare = test::FixturePath(L"bare.exe");
    EXPECT_EQ(Lines(out.text), (std::vector<std::wstring>{
                                   L"hidden\tSlack Technologies\tSlack Technologies\t" + kSlackOld + L"\tslack1",
                                   L"hidden\tSlack Technologies\tSlack Technologies\t" + kSlackNew + L"\tslack2",
                                   L"shown\tbare.exe\t\t" + bare + L"\ttool",
                               }));

    // Texts that would break a line or a JSON string.
    test::RegistrySandbox fresh;
    test::SetRegString(Entry(L"\u041A\u043B\u044E\u0447"), L"ExecutablePath", L"Q:\\a \"b\"\\c\\d.exe");
    test::SetRegString(Entry(L"\u041A\u043B\u044E\u0447"), L"Publisher", L"Tab\there");
    EXPECT_EQ(Run({L"--list"}), cli::kExitDone);
    EXPECT_EQ(out.text, L"hidden\tTab here\tTab here\tQ:\\a \"b\"\\c\\d.exe\t\u041A\u043B\u044E\u0447\r\n");
    EXPECT_EQ(Run({L"--json", L"--list"}), cli::kExitDone);
    EXPECT_EQ(out.text, L"[\r\n  {\"state\": \"hidden\", \"name\": \"Tab\\there\", \"company\": \"Tab\\there\", "
                        L"\"path\": \"Q:\\\\a \\\"b\\\"\\\\c\\\\d.exe\", \"key\": \"\u041A\u043B\u044E\u0447\"}\r\n]\r\n");

    test::RegistrySandbox empty;
    EXPECT_EQ(Run({L"--list", L"--json"}), cli::kExitDone);
    EXPECT_EQ(out.text, L"[]\r\n");
}

TEST_F(CommandLineTest, ShowAndHideMatchFileNameNameOrKeyAndPrintWhatChanged)
{
    struct Step {
        std::vector<std::wstring> arguments;
        int exitCode;
        std::vector<std::wstring> printed; // first fields and keys of the lines
        std::map<std::wstring, std::int64_t> after;
    } steps[] = {
        {{L"--show", L"SLACK.EXE"}, 0, {L"shown slack1", L"shown slack2"}, {{L"slack1", 1}, {L"slack2", 1}, {L"tool", 1}}},
        {{L"--show", L"slack.exe"}, 0, {}, {{L"slack1", 1}, {L"slack2", 1}, {L"tool", 1}}}, // nothing to change
        {{L"--hide", L"b?re.*"}, 0, {L"hidden tool"}, {{L"slack1", 1}, {L"slack2", 1}, {L"tool", 0}}},
        {{L"--hide", L"slack technologies"}, 0, {L"hidden slack1", L"hidden slack2"},
         {{L"slack1", 0}, {L"slack2", 0}, {L"tool", 0}}},
        {{L"--show", L"*2"}, 0, {L"shown slack2"}, {{L"slack1", 0}, {L"slack2", 1}, {L"tool", 0}}},
        {{L"--show", L"nothing*"}, 1, {}, {{L"slack1", 0}, {L"slack2", 1}, {L"tool", 0}}},
        {{L"--show-all"}, 0, {L"shown slack1", L"shown tool"}, {{L"slack1", 1}, {L"slack2", 1}, {L"tool", 1}}},
        {{L"--hide-all"}, 0, {L"hidden slack1", L"hidden slack2", L"hidden tool"},
         {{L"slack1", 0}, {L"slack2", 0}, {L"tool", 0}}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(ToUtf8(step.arguments[0] + L" " + (step.arguments.size() > 1 ? step.arguments[1] : L"")));
        EXPECT_EQ(Run(step.arguments), step.exitCode) << ToUtf8(err.text);
        std::vector<std::wstring> printed;
        for (const std::wstring& line : Lines(out.text)) {
            printed.push_back(line.substr(0, line.find(L'\t')) + L" " + line.substr(line.rfind(L'\t') + 1));
        }
        EXPECT_EQ(printed, step.printed);
        EXPECT_EQ(Promoted(), step.after);
        EXPECT_EQ(err.text.empty(), step.exitCode == 0) << ToUtf8(err.text);
    }
}

TEST_F(CommandLineTest, ARuleCoversTheAppsOtherVersionsAndIsAppliedAtOnce)
{
    EXPECT_EQ(Run({L"--rule", L"show", L"slack.exe"}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(Lines(out.text), (std::vector<std::wstring>{
                                   L"rule\tshow\tslack.exe\tSlack Technologies\tQ:\\Apps\\slack\\app-4.29.149",
                                   L"shown\tSlack Technologies\tSlack Technologies\t" + kSlackOld + L"\tslack1",
                                   L"shown\tSlack Technologies\tSlack Technologies\t" + kSlackNew + L"\tslack2",
                               }));
    EXPECT_EQ(test::GetRegDword(Entry(L"tool"), L"IsPromoted"), 1);

    // The next update's entry is the same app.
    const AppRules rules = LoadRules(files.rulesFile);
    ASSERT_EQ(rules.Rules().size(), 1u);
    const AppIdentity next = *IdentifyApp(L"Q:\\Apps\\slack\\app-4.40.1\\slack.exe", L"Slack Technologies", L"");
    EXPECT_EQ(rules.ActionFor(next), RuleAction::Show);

    EXPECT_EQ(Run({L"--rule", L"show", L"slack*"}), cli::kExitDone);
    EXPECT_EQ(out.text, L""); // already so

    EXPECT_EQ(Run({L"--rule", L"hide", L"slack2"}), cli::kExitDone);
    EXPECT_EQ(LoadRules(files.rulesFile).ActionFor(next), RuleAction::Hide);
    EXPECT_EQ(test::GetRegDword(Entry(L"slack1"), L"IsPromoted"), 0);

    // A rule outlives its entries; "none" finds it by file name.
    test::RegistrySandbox empty;
    test::CreateRegKey(kBase);
    EXPECT_EQ(Run({L"--rule", L"none", L"SLACK.exe"}), cli::kExitDone) << ToUtf8(err.text);
    // The rule names the version it was last set from.
    EXPECT_EQ(out.text, L"rule\tnone\tslack.exe\tSlack Technologies\tQ:\\Apps\\slack\\app-4.33.90\r\n");
    EXPECT_TRUE(LoadRules(files.rulesFile).Empty());
    EXPECT_EQ(Run({L"--rule", L"none", L"slack.exe"}), cli::kExitError);
    EXPECT_NE(err.text.find(L"No notification-area entry matches \"slack.exe\""), std::wstring::npos);

    // An entry with neither a path nor a GUID names no app.
    test::SetRegDword(Entry(L"nameless"), L"IsPromoted", 0);
    EXPECT_EQ(Run({L"--rule", L"show", L"nameless"}), cli::kExitError);
    EXPECT_NE(err.text.find(L"no app"), std::wstring::npos);
    EXPECT_EQ(test::GetRegDword(Entry(L"nameless"), L"IsPromoted"), 0);
}

// A rules file that can't be read is never replaced, one that can't be
// written changes no entry either, and the message names the file.
TEST_F(CommandLineTest, RuleErrorsNameTheFileAndChangeNothing)
{
    enum class Fault { Undecodable, Locked, Folder, ReadOnly };
    struct Case {
        const char* name;
        Fault fault;
        std::wstring_view message;
    } cases[] = {
        {"bytes that do not decode", Fault::Undecodable, L"Could not read \""},
        {"locked by another program", Fault::Locked, L"Could not read \""},
        {"a folder of that name", Fault::Folder, L"Could not read \""},
        {"read-only", Fault::ReadOnly, L"Could not write \""},
    };
    const auto before = Promoted();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        files.rulesFile = folder / L"Rules.ini";
        const std::string bytes = c.fault == Fault::Undecodable ? "\xEF\xBB\xBF[Rule1]\r\nFile=\xFF.exe\r\nAction=Show\r\n"
                                                                : "[Rule1]\r\nFile=other.exe\r\nAction=Show\r\n";
        unique_file lock;
        if (c.fault == Fault::Folder) {
            ASSERT_TRUE(::CreateDirectoryW(files.rulesFile.c_str(), nullptr));
        } else {
            test::WriteFileBytes(files.rulesFile, bytes);
        }
        if (c.fault == Fault::Locked) {
            lock.reset(::CreateFileW(files.rulesFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(lock);
        } else if (c.fault == Fault::ReadOnly) {
            ASSERT_TRUE(::SetFileAttributesW(files.rulesFile.c_str(), FILE_ATTRIBUTE_READONLY));
        }

        EXPECT_EQ(Run({L"--rule", L"hide", L"slack.exe"}), cli::kExitError);
        lock.reset();
        EXPECT_EQ(err.text.rfind(std::wstring(c.message) + files.rulesFile + L"\"", 0), 0u) << ToUtf8(err.text);
        EXPECT_LT(err.text.find(L"\r\n"), err.text.size() - 2) << "the system's reason on a line of its own";
        EXPECT_EQ(out.text, L"");
        if (c.fault != Fault::Folder) {
            EXPECT_EQ(ReadBytes(files.rulesFile), bytes);
        }
        EXPECT_EQ(Promoted(), before);
        ::SetFileAttributesW(files.rulesFile.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(CommandLineTest, CleanupsDeleteWithoutQuestionsAndPrintWhatWent)
{
    ::Sleep(50); // slack3 is written last: it survives
    test::SetRegString(Entry(L"slack3"), L"ExecutablePath", kSlackOld);
    EXPECT_EQ(Run({L"--cleanup", L"duplicates"}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(out.text, L"deleted\tSlack Technologies\tSlack Technologies\t" + kSlackOld + L"\tslack1\r\n");
    EXPECT_EQ(test::RegSubkeys(kBase), (std::vector<std::wstring>{L"slack2", L"slack3", L"tool"}));
    // Windows' settings keep listing them until Explorer restarts.
    EXPECT_NE(err.text.find(L"--restart-explorer"), std::wstring::npos) << ToUtf8(err.text);

    EXPECT_EQ(Run({L"--cleanup", L"Missing"}), cli::kExitDone);
    EXPECT_EQ(Lines(out.text).size(), 2u);
    EXPECT_EQ(test::RegSubkeys(kBase), std::vector<std::wstring>{L"tool"});
    EXPECT_EQ(Run({L"--cleanup", L"missing"}), cli::kExitDone);
    EXPECT_EQ(out.text, L"");
    EXPECT_EQ(err.text, L"");
}

TEST_F(CommandLineTest, OrderPrintsReordersAndUndoesOnlyTheIdsExplorerKeeps)
{
    const std::wstring backup = temp / L"IconOrder.bak";
    auto storeOrder = [](const std::vector<IconId>& ids) {
        const std::string bytes = SerializeIconOrder(ids);
        test::SetRegRaw(kBase, kIconOrderValue, REG_BINARY, std::vector<BYTE>(bytes.begin(), bytes.end()));
    };
    auto storedOrder = [] {
        const test::RawValue raw = test::GetRegRaw(kBase, kIconOrderValue);
        return ParseIconOrder(std::string(raw.data.begin(), raw.data.end())).value_or(std::vector<IconId>{99});
    };
    test::SetRegString(Entry(L"101"), L"ExecutablePath", L"Q:\\Apps\\first.exe");
    test::SetRegString(Entry(L"202"), L"ExecutablePath", L"Q:\\Apps\\second.exe");
    // 303 has no entry any more: it keeps its place all the same.
    storeOrder({101, 303, 202});

    EXPECT_EQ(Run({L"--order"}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(out.text, L"101\tfirst.exe\r\n303\t\r\n202\tsecond.exe\r\n");

    // The output of --order reads back; a file naming some keys puts them first.
    const std::wstring file = temp / L"order.txt";
    test::WriteFileBytes(file, "202\tsecond.exe\r\n\r\n 101 \r\n");
    EXPECT_EQ(Run({L"--order", file}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(storedOrder(), (std::vector<IconId>{202, 101, 303}));
    EXPECT_EQ(out.text, L"202\tsecond.exe\r\n101\tfirst.exe\r\n303\t\r\n");
    EXPECT_NE(err.text.find(L"--restart-explorer"), std::wstring::npos);

    struct Refused {
        const char* what;
        std::string file;
        int exit;
    } refused[] = {
        {"a key the value does not hold", "101\r\n404\r\n", cli::kExitError},
        {"a key twice", "101\r\n101\r\n", cli::kExitError},
        {"not a key", "101\r\nslack1\r\n", cli::kExitError},
    };
    for (const Refused& c : refused) {
        test::WriteFileBytes(file, c.file);
        EXPECT_EQ(Run({L"--order", file}), c.exit) << c.what;
        EXPECT_NE(err.text.find(file), std::wstring::npos) << c.what << ": " << ToUtf8(err.text);
        EXPECT_EQ(storedOrder(), (std::vector<IconId>{202, 101, 303})) << c.what;
    }
    EXPECT_EQ(Run({L"--order", temp / L"missing.txt"}), cli::kExitError);

    EXPECT_EQ(Run({L"--order-undo"}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(storedOrder(), (std::vector<IconId>{101, 303, 202}));

    // A value that is not whole ids is left alone and said so.
    test::SetRegRaw(kBase, kIconOrderValue, REG_BINARY, {1, 2, 3});
    test::WriteFileBytes(file, "101\r\n");
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"--order"}, {L"--order", file}, {L"--order-undo"}}) {
        EXPECT_EQ(Run(arguments), cli::kExitError);
        EXPECT_NE(err.text.find(L"UIOrderList"), std::wstring::npos) << ToUtf8(err.text);
        EXPECT_EQ(test::GetRegRaw(kBase, kIconOrderValue).data, (std::vector<BYTE>{1, 2, 3}));
    }
    EXPECT_TRUE(std::filesystem::exists(backup));
}

TEST_F(CommandLineTest, ExportThenImportRestoresTheOptionsAndTheRules)
{
    test::WriteFileBytes(files.settingsFile, "[Option]\r\nThemeDark=1\r\nRadioButtonViewNewOnly=1\r\n"
                                             "CheckBoxToTray=1\r\n[Language]\r\nLanguage=English\r\n");
    ASSERT_EQ(Run({L"--rule", L"hide", L"slack.exe"}), cli::kExitDone);
    // A second [Rule1] (a merged file) is a rule of its own, exported and imported as one.
    test::WriteFileBytes(files.rulesFile, ReadBytes(files.rulesFile) +
                                              "[Later]\r\nBare\r\n[Rule1]\r\nFile=other.exe\r\nAction=Show\r\n");
    const Options options = ReadOptions(IniFile::Load(files.settingsFile));
    const AppRules rules = LoadRules(files.rulesFile);

    const std::wstring exported = temp / L"setup.ini";
    EXPECT_EQ(Run({L"--export", exported}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_NE(out.text.find(L"2 rules"), std::wstring::npos) << ToUtf8(out.text);
    ASSERT_EQ(rules.Rules().size(), 2u);

    // Another machine: other options, no rules, a section of its own.
    test::WriteFileBytes(files.settingsFile, "[Option]\r\nThemeLight=1\r\nIconBigMenu=1\r\n[Local]\r\nkept=1\r\n");
    ASSERT_TRUE(::DeleteFileW(files.rulesFile.c_str()));
    EXPECT_EQ(Run({L"--import", exported}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(ReadOptions(IniFile::Load(files.settingsFile)), options);
    EXPECT_EQ(IniFile::Load(files.settingsFile).ReadString(L"Local", L"kept"), L"1");
    EXPECT_EQ(ReadOptions(IniFile::Load(files.settingsFile)).language, L"English");
    EXPECT_EQ(LoadRules(files.rulesFile), rules);

    // Files that are no export, or are not there: a message, nothing changed.
    const std::string settingsBefore = ReadBytes(files.settingsFile);
    const std::string rulesBefore = ReadBytes(files.rulesFile);
    test::WriteFileBytes(temp / L"other.ini", "[Option]\r\nThemeLight=1\r\n");
    struct Case {
        std::vector<std::wstring> arguments;
        const wchar_t* message;
    } cases[] = {
        {{L"--import", temp / L"other.ini"}, L"no Merovane export"},
        {{L"--import", temp / L"missing.ini"}, L"missing.ini"},
        {{L"--export", temp / L"no folder\\setup.ini"}, L"setup.ini"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.arguments), cli::kExitError);
        EXPECT_NE(err.text.find(c.message), std::wstring::npos) << ToUtf8(err.text);
        EXPECT_EQ(ReadBytes(files.settingsFile), settingsBefore);
        EXPECT_EQ(ReadBytes(files.rulesFile), rulesBefore);
    }
}

// An import writes both files or neither: the options of one export never
// meet the rules of another, and the message says what did not happen.
TEST_F(CommandLineTest, AnImportThatCannotWriteBothFilesChangesNeither)
{
    const std::string settingsBefore = "[Option]\r\nThemeLight=1\r\n[Local]\r\nkept=1\r\n";
    const std::string rulesBefore = "[Rule1]\r\nFile=other.exe\r\nAction=Show\r\n";
    const std::wstring exported = temp / L"setup.ini";
    test::WriteFileBytes(exported, "[Merovane export]\r\nFormat=1\r\n[Option.ini/Option]\r\nThemeDark=1\r\n"
                                   "[Rules.ini/Rule1]\r\nFile=slack.exe\r\nAction=Hide\r\n");
    enum class Fault { ReadOnly, HeldOpen, Locked, Folder };
    struct Case {
        const char* name;
        bool rules; // the rules file, else the settings file
        Fault fault;
        std::wstring_view message;
    } cases[] = {
        {"read-only Rules.ini", true, Fault::ReadOnly, L"Could not write \""},
        {"Rules.ini held open by a reader", true, Fault::HeldOpen, L"Could not write \""},
        {"Rules.ini locked", true, Fault::Locked, L"Could not read \""},
        {"a folder named Rules.ini", true, Fault::Folder, L"Could not read \""},
        {"read-only Option.ini", false, Fault::ReadOnly, L"Could not write \""},
        {"Option.ini held open by a reader", false, Fault::HeldOpen, L"Could not write \""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        files.settingsFile = folder / L"Option.ini";
        files.rulesFile = folder / L"Rules.ini";
        const std::wstring& faulty = c.rules ? files.rulesFile : files.settingsFile;
        test::WriteFileBytes(files.settingsFile, settingsBefore);
        if (c.fault == Fault::Folder) {
            ASSERT_TRUE(::CreateDirectoryW(files.rulesFile.c_str(), nullptr));
        } else {
            test::WriteFileBytes(files.rulesFile, rulesBefore);
        }
        unique_file holder;
        if (c.fault == Fault::ReadOnly) {
            ASSERT_TRUE(::SetFileAttributesW(faulty.c_str(), FILE_ATTRIBUTE_READONLY));
        } else if (c.fault == Fault::HeldOpen || c.fault == Fault::Locked) {
            holder.reset(::CreateFileW(faulty.c_str(), GENERIC_READ, c.fault == Fault::HeldOpen ? FILE_SHARE_READ : 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder);
        }

        EXPECT_EQ(Run({L"--import", exported}), cli::kExitError);
        holder.reset();
        ::SetFileAttributesW(faulty.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(out.text, L"");
        EXPECT_EQ(err.text.rfind(std::wstring(c.message) + faulty + L"\"", 0), 0u) << ToUtf8(err.text);
        if (c.message == L"Could not write \"") {
            EXPECT_NE(err.text.find(L"nothing was imported"), std::wstring::npos) << ToUtf8(err.text);
        }
        EXPECT_EQ(ReadBytes(files.settingsFile), settingsBefore);
        if (c.fault != Fault::Folder) {
            EXPECT_EQ(ReadBytes(files.rulesFile), rulesBefore);
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << "no temporary file left";
    }
}

// --check decides as the running program's passes do: the organisation's
// rule, the user's rule, the organisation's policy, the user's policy (only
// while the user's refresh option is on).
TEST_F(CommandLineTest, CheckListsTheEntriesOffTheRulesAndPoliciesInForce)
{
    struct Case {
        const char* what;
        NewIconPolicy userPolicy = NewIconPolicy::None;
        bool userRefresh = false;
        const char* userRule = nullptr; // Rules.ini's Action for slack.exe
        std::optional<DWORD> userKeyPolicy{};
        std::optional<DWORD> machinePolicy{};
        std::vector<std::wstring> machineRules{};
        std::vector<std::wstring> off{}; // keys, sorted
    };
    const std::vector<Case> cases = {
        {.what = "nothing to follow"},
        {.what = "user policy", .userPolicy = NewIconPolicy::ShowAll, .userRefresh = true, .off = {L"slack1", L"slack2"}},
        {.what = "user policy while refresh is off", .userPolicy = NewIconPolicy::ShowAll},
        {.what = "organisation policy whatever the refresh option", .userKeyPolicy = 1, .off = {L"slack1", L"slack2"}},
        {.what = "organisation policy over the user's", .userPolicy = NewIconPolicy::ShowAll, .userRefresh = true,
         .machinePolicy = 2, .off = {L"tool"}},
        {.what = "machine value over the user key's", .userKeyPolicy = 1, .machinePolicy = 2, .off = {L"tool"}},
        {.what = "user rule over organisation policy", .userRule = "Hide", .machinePolicy = 1, .off = {}},
        {.what = "organisation rule over user rule", .userRule = "Hide",
         .machineRules = {L"Show|SLACK.EXE|Slack Technologies|"}, .off = {L"slack1", L"slack2"}},
        {.what = "organisation rule over user policy", .userPolicy = NewIconPolicy::ShowAll, .userRefresh = true,
         .machineRules = {L"Hide|slack.exe||Q:\\Apps\\slack\\app-1.0"}, .off = {}},
        {.what = "organisation rule for another folder", .userPolicy = NewIconPolicy::ShowAll, .userRefresh = true,
         .machineRules = {L"Hide|slack.exe||Q:\\Other\\slack\\app-1.0"}, .off = {L"slack1", L"slack2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::MachineKeySandbox machine;
        test::RemovePolicies(HKEY_CURRENT_USER);
        IniFile settings;
        Options options;
        options.newIconPolicy = c.userPolicy;
        options.refreshList = c.userRefresh;
        WriteOptions(settings, options);
        settings.Save(files.settingsFile);
        std::filesystem::remove(std::filesystem::path(files.rulesFile));
        if (c.userRule != nullptr) {
            test::WriteFileBytes(files.rulesFile, std::string("[Rule1]\r\nFile=slack.exe\r\nFolder=Q:\\Apps\\slack\\app-1\r\nAction=") +
                                                      c.userRule + "\r\n");
        }
        if (c.userKeyPolicy) {
            test::SetPolicyDword(HKEY_CURRENT_USER, L"NewIconPolicy", *c.userKeyPolicy);
        }
        if (c.machinePolicy) {
            test::SetPolicyDword(HKEY_LOCAL_MACHINE, L"NewIconPolicy", *c.machinePolicy);
        }
        if (!c.machineRules.empty()) {
            test::SetPolicyLines(HKEY_LOCAL_MACHINE, L"Rules", c.machineRules);
        }
        const auto before = Promoted();
        const int code = Run({L"--check"});
        std::vector<std::wstring> keys;
        for (const std::wstring& line : Lines(out.text)) {
            keys.push_back(line.substr(line.rfind(L'\t') + 1));
        }
        EXPECT_EQ(keys, c.off) << ToUtf8(out.text);
        EXPECT_EQ(code, c.off.empty() ? cli::kExitDone : cli::kExitError) << ToUtf8(err.text);
        EXPECT_EQ(Promoted(), before); // detection only
    }
    test::RemovePolicies(HKEY_CURRENT_USER);

    // What it lists reads as --list does.
    test::SetPolicyDword(HKEY_CURRENT_USER, L"NewIconPolicy", 2);
    EXPECT_EQ(Run({L"--check"}), cli::kExitError);
    const std::wstring checked = out.text;
    Run({L"--list"});
    const std::vector<std::wstring> listed = Lines(out.text);
    EXPECT_EQ(Lines(checked), std::vector<std::wstring>(listed.end() - 1, listed.end())); // "shown ... tool"
}

// What the organisation sets is reported and not the user's to change: the
// command fails with code 1 and says why; what it may change, it changes.
TEST_F(CommandLineTest, CommandsReportAndRefuseWhatTheOrganisationSets)
{
    test::SetPolicyLines(HKEY_CURRENT_USER, L"Rules",
                         {L"Hide|slack.exe|Slack Technologies|", L"not a rule", L"Keep|x.exe||", L""});
    test::SetPolicyString(HKEY_CURRENT_USER, L"NewIconPolicy", L"1"); // a string: ignored
    test::SetPolicyDword(HKEY_CURRENT_USER, L"StartWithWindows", 1);

    EXPECT_EQ(Run({L"--policies"}), cli::kExitDone);
    EXPECT_EQ(Lines(out.text), (std::vector<std::wstring>{L"Rules\tHide|slack.exe|Slack Technologies|",
                                                          L"StartWithWindows\ton"}));
    const std::vector<std::wstring> problems = Lines(err.text);
    ASSERT_EQ(problems.size(), 3u) << ToUtf8(err.text);
    EXPECT_NE(problems[0].find(L"NewIconPolicy is REG_SZ, not REG_DWORD"), std::wstring::npos);
    EXPECT_NE(err.text.find(L"\"not a rule\""), std::wstring::npos);
    EXPECT_NE(err.text.find(L"\"Keep|x.exe||\""), std::wstring::npos);

    const auto before = Promoted();
    EXPECT_EQ(Run({L"--rule", L"show", L"slack*"}), cli::kExitError);
    EXPECT_NE(err.text.find(L"set by your organisation (Hide|slack.exe|Slack Technologies|)"), std::wstring::npos)
        << ToUtf8(err.text);
    EXPECT_FALSE(std::filesystem::exists(files.rulesFile));
    EXPECT_EQ(Run({L"--show", L"slack1"}), cli::kExitError);
    EXPECT_NE(err.text.find(L"by your organisation's policy"), std::wstring::npos) << ToUtf8(err.text);
    EXPECT_EQ(Promoted(), before);

    // The others still do as asked.
    EXPECT_EQ(Run({L"--hide-all"}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(test::GetRegDword(Entry(L"tool"), L"IsPromoted"), 0);
    EXPECT_EQ(Run({L"--show-all"}), cli::kExitError);
    EXPECT_EQ(test::GetRegDword(Entry(L"tool"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"slack1"), L"IsPromoted"), 0);

    // An organisation's "hide all" holds every app the user has no rule for.
    test::RemovePolicies(HKEY_CURRENT_USER);
    test::SetPolicyDword(HKEY_CURRENT_USER, L"NewIconPolicy", 2);
    EXPECT_EQ(Run({L"--rule", L"show", L"slack1"}), cli::kExitDone) << ToUtf8(err.text);
    EXPECT_EQ(test::GetRegDword(Entry(L"slack2"), L"IsPromoted"), 1);
    EXPECT_EQ(Run({L"--show", L"tool"}), cli::kExitDone); // shown already
    EXPECT_EQ(Run({L"--hide", L"slack2"}), cli::kExitDone);
    EXPECT_EQ(test::GetRegDword(Entry(L"slack2"), L"IsPromoted"), 0);
    test::SetRegDword(Entry(L"tool"), L"IsPromoted", 0);
    EXPECT_EQ(Run({L"--show", L"tool"}), cli::kExitError);
    EXPECT_EQ(test::GetRegDword(Entry(L"tool"), L"IsPromoted"), 0);
    test::RemovePolicies(HKEY_CURRENT_USER);
}

TEST(CommandLine, WildcardsMatchTheWholeTextWithoutRegardToCase)
{
    struct Case {
        const wchar_t* pattern;
        const wchar_t* text;
        bool match;
    } cases[] = {
        {L"slack.exe", L"Slack.EXE", true}, {L"*", L"", true},          {L"s*k.exe", L"slack.exe", true},
        {L"s?ack*", L"slack.exe", true},    {L"slack", L"slack.exe", false}, {L"?", L"", false},
        {L"*.exe", L"a.exe.bak", false},    {L"*a*a*", L"banana", true},  {L"\u00C4*", L"\u00E4rger.exe", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::WildcardMatch(c.pattern, c.text), c.match) << ToUtf8(c.pattern) << " " << ToUtf8(c.text);
    }
}

// The real program, started as scripts start it: output redirected, the exit
// code waited for. It runs outside this process's registry sandbox, so it
// only touches an entry this test makes and removes.
struct ProcessResult {
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

ProcessResult RunProgram(const std::wstring& arguments)
{
    const std::wstring program = (test::TestBinaryDir().parent_path() / L"bin" / L"Merovane.exe").wstring();
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outRead = nullptr;
    HANDLE outWrite = nullptr;
    EXPECT_TRUE(::CreatePipe(&outRead, &outWrite, &inherit, 0));
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    test::TempDir temp;
    const std::wstring errFile = temp / L"err.txt";
    HANDLE errWrite = ::CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(errWrite, INVALID_HANDLE_VALUE);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    ProcessResult result;
    if (!started) {
        ADD_FAILURE() << "could not start " << ToUtf8(program);
        ::CloseHandle(outRead);
        return result;
    }
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(outRead, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        result.out.append(buffer, read);
    }
    ::CloseHandle(outRead);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 60'000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(process.hProcess, &result.exitCode);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    result.err = ReadBytes(errFile);
    return result;
}

TEST(CommandLineProcess, WritesToRedirectedOutputAndReturnsTheExitCode)
{
    const ProcessResult help = RunProgram(L"--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.out.rfind("Usage: Merovane.exe", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");

    const ProcessResult bad = RunProgram(L"--frobnicate");
    EXPECT_EQ(bad.exitCode, 2u);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("Unknown command \"--frobnicate\""), std::string::npos) << bad.err;

    // A scratch entry in the real HKEY_CURRENT_USER, named so that nothing
    // else matches, removed again whatever happens.
    const std::wstring name = L"MerovaneTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-\u0416";
    struct Remove {
        std::wstring key;
        ~Remove() { ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }
    } remove{Entry(name)};
    test::SetRegString(Entry(name), L"ExecutablePath", L"Q:\\Nowhere\\\u041F\u0440\u043E\u0431\u0430.exe");
    test::SetRegDword(Entry(name), L"IsPromoted", 0);

    const ProcessResult show = RunProgram(L"--show \"MerovaneTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-*\"");
    EXPECT_EQ(show.exitCode, 0u) << show.err;
    EXPECT_EQ(show.out, ToUtf8(L"shown\t\u041F\u0440\u043E\u0431\u0430.exe\t\tQ:\\Nowhere\\\u041F\u0440\u043E\u0431\u0430.exe\t" +
                               name + L"\r\n"));
    EXPECT_EQ(test::GetRegDword(Entry(name), L"IsPromoted"), 1);
}

} // namespace
} // namespace merovane
