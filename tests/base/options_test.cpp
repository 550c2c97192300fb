#include "base/error.h"
#include "base/ini_file.h"
#include "base/option_fields.h"
#include "base/options.h"

#include <gtest/gtest.h>

namespace merovane {
namespace {

// What a settings file says, read into options: of one group the last key
// that is on wins, and a group may have nothing on.
TEST(Options, ReadTakesTheLastKeyOnOfEachGroup)
{
    struct Case {
        const wchar_t* text;
        ThemeChoice theme;
        IconSize size;
        NewIconPolicy policy;
    } cases[] = {
        {L"", ThemeChoice::None, IconSize::None, NewIconPolicy::None},
        {L"ThemeAuto=1\r\nIconSmallMenu=1\r\nRadioButtonSystem=1", ThemeChoice::System, IconSize::Small,
         NewIconPolicy::LeaveToSystem},
        {L"ThemeLight=1\r\nThemeDark=1\r\nIconSmallMenu=1\r\nIconBigMenu=1\r\nRadioButtonViewNew=1\r\n"
         L"RadioButtonHideNew=1",
         ThemeChoice::Dark, IconSize::Large, NewIconPolicy::HideAll},
        // The file's order does not matter, the groups' order does.
        {L"ThemeDark=1\r\nThemeAuto=1\r\nRadioButtonHideNew=1\r\nRadioButtonSystem=1", ThemeChoice::Dark,
         IconSize::None, NewIconPolicy::HideAll},
        {L"ThemeDark=0\r\nThemeLight=yes\r\nRadioButtonViewNew=0x1", ThemeChoice::None, IconSize::None,
         NewIconPolicy::ShowAll},
        // "Show new icons" came later: it is the last of its group, and a
        // file from before it reads as it always did.
        {L"RadioButtonViewNewOnly=1\r\nRadioButtonHideNew=1", ThemeChoice::None, IconSize::None,
         NewIconPolicy::ShowNew},
        {L"RadioButtonViewNewOnly=0\r\nRadioButtonViewNew=1", ThemeChoice::None, IconSize::None,
         NewIconPolicy::ShowAll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        const Options options = ReadOptions(IniFile::FromText(std::wstring(L"[Option]\r\n") + c.text));
        EXPECT_EQ(options.theme, c.theme);
        EXPECT_EQ(options.iconSize, c.size);
        EXPECT_EQ(options.newIconPolicy, c.policy);
    }

    const Options defaults = ReadOptions(IniFile());
    EXPECT_EQ(defaults, Options{});
    EXPECT_TRUE(defaults.checkForUpdatesAtStart);
    // Quick and Forced are written but never read back.
    const Options flags = ReadOptions(IniFile::FromText(L"[Option]\r\nCheckBoxQuickUpdate=0\r\nCheckBoxForceUpdate=1"));
    EXPECT_TRUE(flags.quickUpdate);
    EXPECT_FALSE(flags.forceUpdate);
}

// A save writes the keys in the order they have always had, each group only
// when asked for, and a maximised window leaves the size to restore to.
TEST(Options, WriteKeepsTheKeyOrderAndTheGroupsAskedFor)
{
    Options options;
    options.theme = ThemeChoice::Light;
    options.iconSize = IconSize::Large;
    options.newIconPolicy = NewIconPolicy::ShowAll;
    options.closeToTray = true;
    options.colourTrayIcon = true;
    options.window = {.maximized = false, .width = 900, .height = 700};
    options.checkForUpdatesAtStart = false;
    options.showEveryIconHotKey = 0x0648; // Alt+H

    struct Case {
        const char* name;
        OptionGroup groups;
        bool maximized;
        std::wstring expected;
    } cases[] = {
        {"everything", OptionGroup::All, false,
         L"[Option]\r\nHeight=1\r\nCheckBoxQuickUpdate=1\r\nCheckBoxForceUpdate=0\r\nThemeAuto=0\r\nThemeLight=1\r\n"
         L"ThemeDark=0\r\nIconSmallMenu=0\r\nIconBigMenu=1\r\nCheckBoxColorTrayIcon=1\r\n"
         L"CheckBoxAutoUpdateList=0\r\nRadioButtonSystem=0\r\nRadioButtonViewNew=1\r\nRadioButtonHideNew=0\r\n"
         L"RadioButtonViewNewOnly=0\r\nCheckBoxToTray=1\r\nCheckBoxAutostartToTray=0\r\nWindow=wsNormal\r\nWidth=900\r\n"
         L"CheckBoxAutoCheck=0\r\nHotKeyShowEveryIcon=1608\r\n\r\n"},
        {"maximised", OptionGroup::MainWindow, true,
         L"[Option]\r\nHeight=1\r\nThemeAuto=0\r\nThemeLight=1\r\nThemeDark=0\r\nIconSmallMenu=0\r\n"
         L"IconBigMenu=1\r\nWindow=wsMaximized\r\n\r\n"},
        {"the update dialog's", OptionGroup::UpdateCheck, false, L"[Option]\r\nHeight=1\r\nCheckBoxAutoCheck=0\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A key already there keeps its place; Height is replaced in place.
        IniFile settings = IniFile::FromText(L"[Option]\r\nHeight=1\r\n");
        Options written = options;
        written.window.maximized = c.maximized;
        WriteOptions(settings, written, c.groups);
        std::wstring expected = c.expected;
        if (!c.maximized && (c.groups == OptionGroup::All || c.groups == OptionGroup::MainWindow)) {
            expected.replace(expected.find(L"Height=1"), 8, L"Height=700");
        }
        EXPECT_EQ(settings.ToText(), expected);
        const Options back = ReadOptions(settings);
        if (c.groups == OptionGroup::All) {
            EXPECT_EQ(back, options);
        }
    }
}

// Every option away from its default, as an import might set them.
Options Changed()
{
    Options options;
    options.theme = ThemeChoice::Dark;
    options.iconSize = IconSize::Large;
    options.newIconPolicy = NewIconPolicy::ShowNew;
    options.closeToTray = true;
    options.startToTray = true;
    options.colourTrayIcon = true;
    options.refreshList = true;
    options.showEveryIconHotKey = 0x0648;
    options.quickUpdate = false;
    options.forceUpdate = true;
    options.checkForUpdatesAtStart = false;
    options.window = {.maximized = true, .width = 900, .height = 700};
    options.language = L"English";
    options.primaryUpdateServer = L"https://a.example/";
    options.fallbackUpdateServer = L"https://b.example/";
    return options;
}

// Row by row: a change on disk made while the program holds its options (an
// import) survives the program's save of its own changes, and a change made
// in the program survives a disk that changed everything else. An option
// that a save or merge left out would be lost in one direction or the other.
TEST(Options, ASaveKeepsEachOptionChangedOnDiskAndEachChangedInTheProgram)
{
    const Options held;
    const Options changed = Changed();
    int row = 0;
    option_fields::ForEach([&](const auto& field) {
        SCOPED_TRACE(testing::Message() << "row " << row++);
        ASSERT_NE(field.member(changed), field.member(held)) << "Changed() leaves this option at its default";

        // The disk changed this option, the program every other one.
        Options ours = changed;
        field.member(ours) = field.member(held);
        Options disk = held;
        field.member(disk) = field.member(changed);
        EXPECT_EQ(MergeChangedOptions(ours, held, disk), changed);
        if (field.readBack) {
            IniFile settings;
            WriteOptions(settings, disk);
            WriteOptions(settings, MergeChangedOptions(ours, held, ReadOptions(settings)), field.group);
            const Options back = ReadOptions(settings);
            EXPECT_EQ(field.member(back), field.member(changed));
        }

        // The program changed this option, the disk every other one.
        ours = held;
        field.member(ours) = field.member(changed);
        disk = changed;
        field.member(disk) = field.member(held);
        EXPECT_EQ(MergeChangedOptions(ours, held, disk), changed);

        Options copy;
        CopyOptionGroups(copy, changed, field.group);
        EXPECT_EQ(field.member(copy), field.member(changed));
    });
    Options copy;
    CopyOptionGroups(copy, changed, OptionGroup::All);
    EXPECT_EQ(copy, changed);
}

// The language and the mirrors: a name that is no plain file name reads as
// none, and what is not set is not written.
TEST(Options, LanguageAndMirrorsAreReadAndWrittenWithTheOthers)
{
    const Options read = ReadOptions(IniFile::FromText(L"[Language]\r\nLanguage=English\r\n"
                                                       L"[Update]\r\nFallbackServer=https://m.example/\r\n"));
    EXPECT_EQ(read.language, L"English");
    EXPECT_EQ(read.primaryUpdateServer, L"");
    EXPECT_EQ(read.fallbackUpdateServer, L"https://m.example/");
    EXPECT_EQ(ReadOptions(IniFile::FromText(L"[Language]\r\nLanguage=..\\Evil\r\n")).language, L"");

    IniFile settings;
    WriteOptions(settings, read, OptionGroup::Language | OptionGroup::UpdateServers);
    EXPECT_EQ(settings.ToText(), L"[Language]\r\nLanguage=English\r\n\r\n[Update]\r\nFallbackServer=https://m.example/\r\n\r\n");
}

} // namespace
} // namespace merovane
