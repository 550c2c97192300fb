#include "locale_fixture.h"

#include "base/error.h"
#include "i18n/translation.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"

#include <gtest/gtest.h>

namespace merovane {
namespace {

using test::LocaleFixture;

std::wstring Text(const ui::Form& form, std::wstring_view component, std::wstring_view property = L"Caption")
{
    return form.FindComponent(component)->GetText(property).value_or(L"<none>");
}

class TranslationTest : public ::testing::Test {
protected:
    // Creates a window from a definition and translates it with `file`.
    std::unique_ptr<ui::Form> Translated(const ui::FormDef& def, std::string_view file)
    {
        locale.WriteLanguage(L"Test.ini", file);
        locale.SetActive(L"Test");
        auto form = std::make_unique<ui::Form>(def);
        form->Create();
        EXPECT_TRUE(engine.TranslateForm(*form, L"Merovane", locale.Paths()));
        return form;
    }

    LocaleFixture locale;
    Translator engine;
};

TEST(SkipTranslation, LeavesEmptySeparatorsAndNumbersAlone)
{
    for (const wchar_t* text : {L"", L"-", L"42", L"-7", L"0x1F", L"$FF", L"2147483647"}) {
        EXPECT_TRUE(SkipTranslation(text)) << ToUtf8(text);
    }
    for (const wchar_t* text : {L"--", L"Ok", L"4 2", L"2147483648", L"≡", L" "}) {
        EXPECT_FALSE(SkipTranslation(text)) << ToUtf8(text);
    }
}

TEST_F(TranslationTest, KeysAndSectionMatchWithoutRegardToCase)
{
    auto form = Translated(test::kSmallForm2, "[merovane]\r\n"
                                              "form2.checkboxtotray.caption=Minimise on close\r\n"
                                              "FORM2.LANGERROR.CAPTION=Error\r\n"
                                              "Form2.GroupBoxGeneral.Caption=General\r\n");
    EXPECT_EQ(Text(*form, L"CheckBoxToTray"), L"Minimise on close");
    EXPECT_EQ(Text(*form, L"LangError"), L"Error");
    EXPECT_EQ(Text(*form, L"GroupBoxGeneral"), L"General");
    wchar_t shown[64]{};
    ::GetWindowTextW(form->Get<ui::CheckBox>(L"CheckBoxToTray").Handle(), shown, 64);
    EXPECT_STREQ(shown, L"Minimise on close");
}

TEST_F(TranslationTest, EmptyValuesEmptyOnlyTheWindowCaption)
{
    auto form = Translated(test::kSmallForm2, "[Merovane]\r\nForm2.Caption=\r\nForm2.CheckBoxToTray.Caption=\r\n");
    EXPECT_EQ(form->Caption(), L"");
    EXPECT_EQ(Text(*form, L"CheckBoxToTray"), L"Свернуть программу при закрытии");
}

TEST_F(TranslationTest, MainWindowCaptionIsNeverLookedUp)
{
    auto form = Translated(test::kSmallForm1, "[Merovane]\r\nForm1.Caption=Other\r\nForm1.LangError.Caption=Error\r\n");
    EXPECT_EQ(form->Caption(), L"Merovane 1.0");
    EXPECT_EQ(Text(*form, L"LangError"), L"Error");
}

TEST_F(TranslationTest, UpdateDialogCaptionGetsTheTitleOnce)
{
    auto form = Translated(test::kSmallForm10, "[Merovane]\r\nForm10.Caption=Update\r\n");
    EXPECT_EQ(form->Caption(), L"Update Merovane");

    // A later pass with a file that lacks the caption keeps it as it is.
    locale.WriteLanguage(L"Other.ini", "[Merovane]\r\nForm10.LangError.Caption=Erreur\r\n");
    locale.SetActive(L"Other");
    ASSERT_TRUE(engine.TranslateForm(*form, L"Merovane", locale.Paths()));
    EXPECT_EQ(form->Caption(), L"Update Merovane");
    EXPECT_EQ(Text(*form, L"LangError"), L"Erreur");
}

TEST_F(TranslationTest, ColumnsTabsAndDuplicateKeys)
{
    auto form = Translated(test::kSmallForm2, "[Merovane]\r\n"
                                              "Form2.ListView1.Columns[0].Caption=Name\r\n"
                                              "Form2.ListView1.Columns[2].Caption=Path\r\n"
                                              "Form2.TabControlBody.Tabs [0]=One\r\n"
                                              "Form2.TabControlBody.Tabs [2]=Three\r\n"
                                              "Form2.TabControlBody.Tabs[1]=no blank, no match\r\n"
                                              "Form2.LangError.Caption=First\r\n"
                                              "Form2.LangError.Caption=Second\r\n");
    const auto& list = form->Get<ui::ListView>(L"ListView1");
    EXPECT_EQ(list.ColumnCaption(0), L"Name");
    EXPECT_EQ(list.ColumnCaption(1), L"Компания");
    EXPECT_EQ(list.ColumnCaption(2), L"Path");
    EXPECT_EQ(form->Get<ui::TabControl>(L"TabControlBody").Tabs(),
              (std::vector<std::wstring>{L"One", L"Два", L"Three"}));
    EXPECT_EQ(Text(*form, L"LangError"), L"First");
}

TEST_F(TranslationTest, ExcludedKindsKeepTheirTexts)
{
    auto form = Translated(test::kSmallForm2, "[Merovane]\r\n"
                                              "Form2.StatusBar1.Caption=Status\r\n"
                                              "Form2.TrayIcon1.Hint=Tip\r\n");
    EXPECT_EQ(Text(*form, L"TrayIcon1", L"Hint"), L"Подсказка");
}

TEST_F(TranslationTest, MissingKeysGoToAnExistingLogInVisitingOrder)
{
    locale.CreateLog();
    auto form = Translated(test::kSmallForm2, "[Merovane]\r\nForm9.Unrelated.Caption=x\r\n");
    const std::vector<std::wstring> expected = {
        L"Form2.Caption=Настройки",
        L"Form2.GroupBoxGeneral.Caption=Основные",
        L"Form2.CheckBoxToTray.Caption=Свернуть программу при закрытии",
        L"Form2.TabControlBody.Tabs [0]=Один",
        L"Form2.TabControlBody.Tabs [1]=Два",
        L"Form2.TabControlBody.Tabs [2]=Три",
        L"Form2.ListView1.Columns[0].Caption=Имя",
        L"Form2.ListView1.Columns[1].Caption=Компания",
        L"Form2.ListView1.Columns[2].Caption=Путь",
        L"Form2.LangError.Caption=Ошибка",
        L"Form2.LangNoUpdate.Caption=Нет обновления",
    };
    EXPECT_EQ(locale.LogLines(), expected);

    // Lines already there stay; a second pass appends its misses again.
    ASSERT_TRUE(engine.TranslateForm(*form, L"Merovane", locale.Paths()));
    EXPECT_EQ(locale.LogLines().size(), 2 * expected.size());
}

TEST_F(TranslationTest, NoLogFileIsEverCreated)
{
    auto form = Translated(test::kSmallForm2, "[Merovane]\r\n");
    EXPECT_EQ(::GetFileAttributesW(locale.Paths().missingKeysLog.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TranslationTest, NothingHappensWithoutALanguageFile)
{
    ui::Form form(test::kSmallForm2);
    form.Create();
    EXPECT_FALSE(engine.TranslateForm(form, L"Merovane", locale.Paths())); // no settings file
    locale.SetActive(L"Missing");
    EXPECT_FALSE(engine.TranslateForm(form, L"Merovane", locale.Paths()));
    locale.SetActive(L"Test.ini"); // names Test.ini.ini
    locale.WriteLanguage(L"Test.ini", "[Merovane]\r\nForm2.Caption=Settings\r\n");
    EXPECT_FALSE(engine.TranslateForm(form, L"Merovane", locale.Paths()));
    EXPECT_EQ(form.Caption(), L"Настройки");
}

TEST_F(TranslationTest, APassStartedBetweenTheStepsOfAnotherIsRefused)
{
    locale.WriteLanguage(L"Test.ini", "[Merovane]\r\nForm2.CheckBoxToTray.Caption=Outer\r\n");
    locale.SetActive(L"Test");
    ui::Form form(test::kSmallForm2);
    form.Create();
    // A timer message is handled while the pass processes pending messages.
    int nested = 0;
    auto& timerHost = form.Get<ui::CheckBox>(L"CheckBoxToTray");
    timerHost.onClick = [&] {
        ++nested;
        EXPECT_FALSE(engine.TranslateForm(form, L"Merovane", locale.Paths()));
    };
    ::PostMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                   reinterpret_cast<LPARAM>(timerHost.Handle()));
    ASSERT_TRUE(engine.TranslateForm(form, L"Merovane", locale.Paths()));
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(Text(form, L"CheckBoxToTray"), L"Outer");
    EXPECT_FALSE(engine.Running());
}

} // namespace
} // namespace merovane
