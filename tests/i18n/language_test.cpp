#include "locale_fixture.h"

#include "base/error.h"
#include "base/ini_file.h"
#include "i18n/language.h"
#include "i18n/translation.h"
#include "support/language_file.h"
#include "base/options.h"
#include "base/settings_file.h"
#include "base/settings_store.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/menu.h"

#include <gtest/gtest.h>

namespace merovane {
namespace {

using test::LocaleFixture;

// A window with a language submenu, like the main window's.
constexpr ui::ComponentDef kMenuComponents[] = {
    {.kind = ui::Kind::Label, .name = L"LabelTitle", .caption = L"Заголовок", .bounds = {8, 8, 200, 17}},
    {.kind = ui::Kind::PopupMenu, .name = L"PopupMenu_General"},
    {.kind = ui::Kind::MenuItem, .name = L"LanguageMenu", .parent = L"PopupMenu_General", .caption = L"Язык"},
};
constexpr ui::FormDef kMenuForm{.name = L"Form1",
                                .className = L"TTestMenuForm1",
                                .caption = L"Merovane",
                                .clientWidth = 300,
                                .clientHeight = 200,
                                .components = kMenuComponents};

class LanguageTest : public ::testing::Test {
protected:
    LanguageTest()
    {
        store.ReadAtStart();
        menu.onLanguageChosen = [this] { ++reloads; };
        menu.storeChoice = [this](const std::wstring& baseName) { Store(store, baseName); };
    }

    // What the program does with a choice.
    static void Store(SettingsStore& into, const std::wstring& baseName)
    {
        into.Current().language = baseName;
        into.Save(OptionGroup::Language);
    }

    std::vector<std::wstring> Captions() const
    {
        std::vector<std::wstring> captions;
        for (const ui::MenuItem* item : languageMenu.Items()) {
            captions.push_back(item->Caption() + (item->Checked() ? L" *" : L""));
        }
        return captions;
    }

    LocaleFixture locale;
    ui::Form main{kMenuForm};
    ui::Form settings{test::kSmallForm2};
    bool created = (main.Create(), settings.Create(), true); // components exist from here on
    ui::MenuItem& languageMenu = main.Get<ui::MenuItem>(L"LanguageMenu");
    SettingsStore store{[this] { return locale.Paths().settingsFile; }};
    LanguageMenu menu{languageMenu, [this] {
                          LocalePaths paths = locale.Paths();
                          paths.language = store.InForce().language;
                          return paths;
                      }};
    int reloads = 0;
};

TEST(LanguageNames, BaseNamesCaptionsAndMatching)
{
    EXPECT_EQ(LanguageBaseName(L"English.ini"), L"English");
    EXPECT_EQ(LanguageBaseName(L"pt.BR.ini"), L"pt.BR");
    EXPECT_EQ(BaseNameFromMenuCaption(LanguageMenuCaption(L"English", L"English (UK)")), L"English");
    EXPECT_EQ(LanguageMenuCaption(L"De", L"Deutsch"), L"De\t\tDeutsch");

    struct Case {
        const wchar_t* base;
        const wchar_t* active;
        bool matches;
    } cases[] = {
        {L"English", L"English", true},  {L"English", L"english", true}, {L"English", L"English.ini", true},
        {L"English", L"english.ini", false}, {L"English", L"", false},    {L"English", L"Engl", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsActiveLanguage(c.base, c.active), c.matches) << ToUtf8(c.base) << " / " << ToUtf8(c.active);
    }
}

TEST(LanguageNames, OnlyAPlainFileNameInTheLanguageFolderIsUsed)
{
    const struct {
        std::wstring_view name;
        bool plain;
    } cases[] = {
        {L"English", true},
        {L"pt.BR", true},
        {L"Русский язык", true},
        {L"Console", true},
        {L"", false},
        {L"..\\..\\evil", false},
        {L"../evil", false},
        {L"..", false},
        {L"...", false},
        {L"sub\\English", false},
        {L"sub/English", false},
        {L"\\evil", false},
        {L"C:\\evil", false},
        {L"C:evil", false},
        {L"\\\\server\\share\\evil", false},
        {L"\\\\?\\C:\\evil", false},
        {L"English:hidden", false},
        {L"Eng*", false},
        {L"Eng\tlish", false},
        {L"CON", false},
        {L"nul.x", false},
        {L"com1", false},
        {L"LPT9", false},
    };
    test::LocaleFixture locale;
    for (const auto& c : cases) {
        const std::wstring name(c.name);
        SCOPED_TRACE(ToUtf8(name));
        locale.SetActive(name);
        const LocalePaths& paths = locale.Paths();
        EXPECT_EQ(paths.ActiveLanguage(), c.plain ? name : L"");
        EXPECT_EQ(paths.LanguageFile(name), c.plain ? paths.languageDirectory + name + L".ini" : L"");
        EXPECT_EQ(ReadOptions(IniFile::Load(paths.settingsFile)).language, c.plain ? name : L"");
    }
}

TEST_F(LanguageTest, ALanguageNamedOutsideTheFolderTranslatesNothing)
{
    // Beside the language folder, where "..\\Evil" points.
    test::WriteFileBytes(locale.Dir() / L"Evil.ini", "[Merovane]\r\nForm1.LabelTitle.Caption=Evil\r\n"
                                                     "Form2.Caption=Evil\r\n");
    for (const std::wstring_view name : {L"..\\Evil", L"../Evil", L"..\\Language\\..\\Evil"}) {
        SCOPED_TRACE(ToUtf8(name));
        locale.SetActive(name);
        menu.RebuildMenu();
        EXPECT_EQ(menu.ActiveLanguage(), L"");
        menu.ApplyToAllWindows();
        Translator engine;
        EXPECT_FALSE(engine.TranslateForm(settings, L"Merovane", locale.Paths()));
        EXPECT_EQ(settings.Caption(), L"Настройки");
        EXPECT_EQ(main.FindComponent(L"LabelTitle")->Caption(), L"Заголовок");
    }
}

TEST_F(LanguageTest, MenuListsFilesInCaseInsensitiveOrderAndChecksTheActiveOne)
{
    locale.WriteLanguage(L"b.ini", "[Language information]\r\nLANGNAME=Bee\r\n");
    locale.WriteLanguage(L"A.ini", "[Language information]\r\nLANGNAME=Ay\r\n");
    locale.WriteLanguage(L"c.INI", "[Merovane]\r\n");
    locale.WriteLanguage(L"notes.txt", "");
    locale.SetActive(L"B");
    menu.RebuildMenu();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"A\t\tAy", L"b\t\tBee *", L"c\t\tc"}));

    // Rebuilding replaces the entries; an active name that matches no file checks none.
    locale.SetActive(L"Missing");
    menu.RebuildMenu();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"A\t\tAy", L"b\t\tBee", L"c\t\tc"}));
}

TEST_F(LanguageTest, NoFolderGivesAnEmptyMenu)
{
    locale.SetActive(L"English");
    ::RemoveDirectoryW(locale.Paths().languageDirectory.c_str());
    menu.RebuildMenu();
    EXPECT_TRUE(languageMenu.Items().empty());
}

TEST_F(LanguageTest, ChoosingALanguageStoresItAndTranslatesEveryWindow)
{
    locale.WriteLanguage(L"English.ini", "[Language information]\r\nLANGNAME=English\r\n[Merovane]\r\n"
                                         "Form1.LabelTitle.Caption=Title\r\nForm2.Caption=Settings\r\n");
    test::WriteFileBytes(locale.Paths().settingsFile, "[Option]\r\nThemeDark=1\r\n");
    menu.RebuildMenu();
    ASSERT_EQ(languageMenu.Items().size(), 1u);
    languageMenu.Items()[0]->Click();

    EXPECT_EQ(IniFile::Load(locale.Paths().settingsFile).ReadString(L"Language", L"Language", L""), L"English");
    EXPECT_TRUE(IniFile::Load(locale.Paths().settingsFile).ReadBool(L"Option", L"ThemeDark", false));
    EXPECT_EQ(main.FindComponent(L"LabelTitle")->Caption(), L"Title");
    EXPECT_EQ(settings.Caption(), L"Settings");
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"English\t\tEnglish *"}));
    EXPECT_EQ(reloads, 1);

    menu.ChooseLanguage(nullptr); // not from a menu entry: only the list reload
    EXPECT_EQ(reloads, 2);
}

TEST_F(LanguageTest, AFailedSettingsWriteEndsTheChoice)
{
    locale.WriteLanguage(L"English.ini", "[Merovane]\r\nForm2.Caption=Settings\r\n");
    // The settings file stands in a folder that does not exist.
    SettingsStore missing{[this] { return locale.Dir() / L"missing\\Option.ini"; }};
    missing.ReadAtStart();
    LanguageMenu failing(languageMenu, [this] {
        LocalePaths paths = locale.Paths();
        paths.settingsFile = locale.Dir() / L"missing\\Option.ini";
        return paths;
    });
    failing.onLanguageChosen = [this] { ++reloads; };
    failing.storeChoice = [&missing](const std::wstring& baseName) { Store(missing, baseName); };
    failing.RebuildMenu();
    EXPECT_THROW(languageMenu.Items()[0]->Click(), Error);
    EXPECT_EQ(settings.Caption(), L"Настройки");
    EXPECT_EQ(reloads, 0);
}

TEST_F(LanguageTest, ApplyingSkipsFilesWithoutTheTranslationSection)
{
    locale.WriteLanguage(L"Other.ini", "[Something]\r\nForm2.Caption=Settings\r\n");
    locale.SetActive(L"Other");
    locale.CreateLog();
    menu.ApplyToAllWindows();
    EXPECT_EQ(settings.Caption(), L"Настройки");
    EXPECT_EQ(test::ReadFileBytes(locale.Paths().missingKeysLog), ""); // the engine never ran
}

TEST_F(LanguageTest, ALanguageChosenDuringAPassIsAppliedAfterIt)
{
    locale.WriteLanguage(L"First.ini", "[Merovane]\r\nForm1.LabelTitle.Caption=First\r\nForm2.Caption=First\r\n");
    locale.WriteLanguage(L"Second.ini", "[Merovane]\r\nForm1.LabelTitle.Caption=Second\r\nForm2.Caption=Second\r\n");
    locale.SetActive(L"First");
    menu.RebuildMenu();
    // The second choice arrives as a message handled between two steps of the first pass.
    auto& label = main.Get<ui::Label>(L"LabelTitle");
    int choices = 0;
    label.onClick = [&] {
        if (choices++ == 0) {
            menu.ChooseLanguage(languageMenu.Items()[1]);
        }
    };
    ::PostMessageW(main.Handle(), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED), reinterpret_cast<LPARAM>(label.Handle()));
    menu.ApplyToAllWindows();
    EXPECT_EQ(choices, 1);
    EXPECT_EQ(label.Caption(), L"Second");
    EXPECT_EQ(settings.Caption(), L"Second");
}

class LanguageCleanupTest : public LanguageTest {};

TEST_F(LanguageCleanupTest, StaleMalformedAndDuplicateKeysGo)
{
    const std::wstring file = locale.WriteLanguage(L"English.ini", "; translated by hand\r\n"
                                                                   "[Language information]\r\n"
                                                                   "[Merovane]\r\n"
                                                                   "Form2.NoSuchControl.Caption=a\r\n"
                                                                   "Form9.Button1.Caption=b\r\n"
                                                                   "JustAWord\r\n"
                                                                   "Form2.Caption=Settings\r\n"
                                                                   "form2.checkboxtotray.caption=Old\r\n"
                                                                   "Form2.CheckBoxToTray.Caption=New\r\n"
                                                                   "[Extra]\r\n"
                                                                   "NoDot=1\r\n"
                                                                   "Form7.Caption=x\r\n"
                                                                   "[DestDir]\r\n"
                                                                   "[GUID]\r\n"
                                                                   "{ABC}=Name\r\n");
    EXPECT_TRUE(CleanLanguageFile(file, ui::application::Forms()));
    EXPECT_EQ(test::ReadFileBytes(file), "\xEF\xBB\xBF"
                                         "[Language information]\r\n\r\n"
                                         "[Merovane]\r\n"
                                         "Form2.Caption=Settings\r\n"
                                         "form2.checkboxtotray.caption=Old\r\n\r\n"
                                         "[DestDir]\r\n\r\n"
                                         "[GUID]\r\n"
                                         "{ABC}=Name\r\n\r\n");
}

TEST_F(LanguageCleanupTest, RepeatedKeysKeepTheTextTheWindowShows)
{
    const std::wstring file = locale.WriteLanguage(L"English.ini", "[Merovane]\r\n"
                                                                   "Form2.CheckBoxToTray.Caption=First\r\n"
                                                                   "Form2.Caption=Settings\r\n"
                                                                   "FORM2.CHECKBOXTOTRAY.CAPTION=Second\r\n"
                                                                   "form2.checkboxtotray.caption=Third\r\n");
    locale.SetActive(L"English");
    auto& checkBox = settings.Get<ui::CheckBox>(L"CheckBoxToTray");
    menu.ApplyToAllWindows();
    EXPECT_EQ(checkBox.Caption(), L"First");

    EXPECT_TRUE(CleanLanguageFile(file, ui::application::Forms()));
    EXPECT_EQ(test::ReadFileBytes(file), "\xEF\xBB\xBF[Merovane]\r\n"
                                         "Form2.CheckBoxToTray.Caption=First\r\n"
                                         "Form2.Caption=Settings\r\n\r\n");
    checkBox.SetCaption(L"Свернуть программу при закрытии");
    menu.ApplyToAllWindows();
    EXPECT_EQ(checkBox.Caption(), L"First");
}

TEST_F(LanguageCleanupTest, FilesReadAmissOrLeftWithoutKeysStayByteForByte)
{
    // Each has a stale key, so a cleanup that read it right would have work to do.
    const std::wstring_view translation = L"[Language information]\r\nLANGNAME=Test\r\n[Merovane]\r\n"
                                          L"Form2.Caption=Settings\r\nForm9.Caption=Old\r\n";
    const struct {
        const char* name;
        std::string bytes;
        std::wstring_view caption; // the settings window's, translated with the file
    } cases[] = {
        {"UTF-16 LE without mark", test::Utf16Bytes(translation, false), L"Settings"},
        {"UTF-16 BE without mark", test::Utf16Bytes(translation, true), L"Settings"},
        {"nothing the windows know", "\xEF\xBB\xBF[Language information]\r\nLANGNAME=Old\r\n[Merovane]\r\n"
                                     "Form9.Caption=Old\r\nForm2.Gone.Caption=Old\r\n[Extra]\r\nNoDot=1\r\n",
         L"Настройки"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring file = locale.WriteLanguage(L"Test.ini", "");
        test::WriteFileBytes(file, c.bytes);
        EXPECT_FALSE(CleanLanguageFile(file, ui::application::Forms()));
        menu.CleanLanguageFiles();
        EXPECT_EQ(test::ReadFileBytes(file), c.bytes);

        locale.SetActive(L"Test");
        settings.SetCaption(L"Настройки");
        menu.ApplyToAllWindows();
        EXPECT_EQ(settings.Caption(), c.caption);
    }
}

// Megabytes of repeats in one section and of stale sections: work that grew
// with the square of the size would outlast the test run's time limit.
TEST_F(LanguageCleanupTest, AFileOfManyMegabytesIsTidiedWhole)
{
    std::string text = "[Merovane]\r\n";
    for (int i = 0; text.size() < (2u << 20); ++i) {
        text += "Form2.Caption=Settings " + std::to_string(i) + "\r\nForm2.Old" + std::to_string(i) + ".Caption=x\r\n";
    }
    for (int i = 0; text.size() < (4u << 20); ++i) {
        text += "[Stale" + std::to_string(i) + "]\r\nForm9.Caption=x\r\n";
    }
    const std::wstring file = locale.WriteLanguage(L"Big.ini", text);
    EXPECT_TRUE(CleanLanguageFile(file, ui::application::Forms()));
    EXPECT_EQ(test::ReadFileBytes(file), "\xEF\xBB\xBF[Merovane]\r\nForm2.Caption=Settings 0\r\n\r\n");
}

TEST_F(LanguageCleanupTest, FilesThatNeedNothingOrMayNotBeWrittenStayByteForByte)
{
    const std::string tidy = "; comments survive\r\n[Merovane]\r\nForm2.Caption = Settings\r\n";
    const std::wstring tidyFile = locale.WriteLanguage(L"Tidy.ini", tidy);
    const std::string stale = "[Merovane]\r\nForm9.Caption=x\r\n";
    const std::wstring readOnly = locale.WriteLanguage(L"ReadOnly.ini", stale);
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring locked = locale.WriteLanguage(L"Locked.ini", stale);
    unique_file lock(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    const std::string broken = "\xEF\xBB\xBF[Merovane]\r\nForm9.Caption=\xFF\xFE broken\r\n";
    const std::wstring undecodable = locale.WriteLanguage(L"Broken.ini", "");
    test::WriteFileBytes(undecodable, broken);

    menu.CleanLanguageFiles();
    EXPECT_EQ(test::ReadFileBytes(tidyFile), "\xEF\xBB\xBF" + tidy);
    EXPECT_EQ(test::ReadFileBytes(readOnly), "\xEF\xBB\xBF" + stale);
    lock.reset();
    EXPECT_EQ(test::ReadFileBytes(locked), "\xEF\xBB\xBF" + stale);
    EXPECT_EQ(test::ReadFileBytes(undecodable), broken);
}

} // namespace
} // namespace merovane
