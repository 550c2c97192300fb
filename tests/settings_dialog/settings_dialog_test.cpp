#include "support/program_fixture.h"

#include "base/error.h"
#include "base/file_info.h"
#include "base/ini_file.h"
#include "base/autostart.h"
#include "base/chevron.h"
#include "base/settings_file.h"
#include "base/startup.h"
#include "support/dialogs.h"
#include "ui/menu.h"
#include "ui/tray_icon.h"


namespace merovane {
namespace {

using test::Entry;

const std::wstring kPersonalize = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

std::uint64_t Ticks(const FILETIME& time)
{
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

class SettingsDialogTest : public test::ProgramFixture {
protected:
    ui::CheckBox& Box(std::wstring_view name) { return program->Settings().Get<ui::CheckBox>(name); }
    ui::RadioButton& Radio(std::wstring_view name) { return program->Settings().Get<ui::RadioButton>(name); }
    PromotionWatcher& Refresh() { return program->Main().Refresh(); }
};

TEST_F(SettingsDialogTest, NoSettingsFileMeansEverythingOff)
{
    test::SetRegDword(kPersonalize, L"SystemUsesLightTheme", 1);
    Start();
    for (const wchar_t* box : {L"CheckBoxToTray", L"CheckBoxAutostartToTray", L"CheckBoxColorTrayIcon",
                               L"CheckBoxAutoUpdateList", L"CheckBoxAutostart"}) {
        EXPECT_FALSE(Box(box).Checked()) << ToUtf8(box);
    }
    for (const wchar_t* radio :
         {L"RadioButtonSystem", L"RadioButtonViewNew", L"RadioButtonHideNew", L"RadioButtonViewNewOnly"}) {
        EXPECT_FALSE(Radio(radio).Checked()) << ToUtf8(radio);
    }
    EXPECT_FALSE(Refresh().Running());
    EXPECT_EQ(program->Main().TrayImage(), 0);
    EXPECT_EQ(ui::application::CurrentStyle(), ui::Style::System);
}

TEST_F(SettingsDialogTest, TheRefreshAppliesThePolicyOnlyWhereItChangesSomething)
{
    test::SetRegDword(Entry(L"shown"), L"IsPromoted", 1);
    test::SetRegDword(Entry(L"hidden"), L"IsPromoted", 0);
    test::CreateRegKey(Entry(L"new"));
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutoUpdateList=1\r\n");
    Start();

    auto snapshot = [] {
        std::map<std::wstring, std::pair<std::int64_t, std::uint64_t>> state;
        for (const wchar_t* key : {L"shown", L"hidden", L"new"}) {
            state[key] = {test::GetRegDword(Entry(key), L"IsPromoted"), Ticks(test::RegLastWrite(Entry(key)))};
        }
        return state;
    };
    // No policy, then "leave as in the system": nothing watches, nothing is written.
    const auto before = snapshot();
    ::Sleep(30);
    EXPECT_FALSE(Refresh().Running());
    Radio(L"RadioButtonSystem").SetChecked(true);
    EXPECT_FALSE(Refresh().Running());
    EXPECT_EQ(snapshot(), before);

    Radio(L"RadioButtonViewNew").SetChecked(true);
    ASSERT_TRUE(Refresh().Running());
    ASSERT_TRUE(Refresh().WaitUntilQuiet());
    auto after = snapshot();
    EXPECT_EQ(after[L"shown"], before.at(L"shown")); // already 1: not rewritten
    EXPECT_EQ(after[L"hidden"].first, 1);
    EXPECT_EQ(after[L"new"].first, 1);

    Radio(L"RadioButtonHideNew").SetChecked(true);
    EXPECT_FALSE(Radio(L"RadioButtonViewNew").Checked());
    ASSERT_TRUE(Refresh().WaitUntilQuiet());
    for (const wchar_t* key : {L"shown", L"hidden", L"new"}) {
        EXPECT_EQ(test::GetRegDword(Entry(key), L"IsPromoted"), 0) << ToUtf8(key);
    }

    // Unticking the option stops the worker at once.
    Box(L"CheckBoxAutoUpdateList").SetChecked(false);
    EXPECT_FALSE(Refresh().Running());
}

TEST_F(SettingsDialogTest, TheTrayImageFollowsTheColourOptionAndTheTaskbar)
{
    struct Case {
        bool colour;
        int systemLight; // -1: value missing
        int image;
    } cases[] = {{false, 1, 0}, {false, 0, 1}, {false, -1, 1}, {false, 2, 1}, {true, 1, 2}, {true, 0, 2}};
    Start();
    for (const Case& c : cases) {
        if (c.systemLight < 0) {
            test::SetRegString(kPersonalize, L"SystemUsesLightTheme", L"1"); // not a DWORD: counts as missing
        } else {
            test::SetRegDword(kPersonalize, L"SystemUsesLightTheme", static_cast<std::uint32_t>(c.systemLight));
        }
        Box(L"CheckBoxColorTrayIcon").SetChecked(c.colour);
        // A change of the taskbar's setting reaches the program as WM_SETTINGCHANGE.
        ::SendMessageW(program->Main().Handle(), WM_SETTINGCHANGE, 0, 0);
        EXPECT_EQ(program->Main().TrayImage(), c.image) << c.colour << " " << c.systemLight;
    }
}

TEST_F(SettingsDialogTest, TheChevronBoxMirrorsTheValueAndWritesOnlyOnClick)
{
    const std::wstring key = std::wstring(kTrayNotifyKey);
    struct Case {
        const char* stored; // "" for no value
        bool checked;
        std::int64_t afterStart; // DWORD afterwards, -1 for none or another type
    } cases[] = {{"", true, 1}, {"0", false, 0}, {"1", true, 1}, {"2", false, 2}, {"text", false, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        test::RegistrySandbox fresh;
        if (std::string_view(c.stored) == "text") {
            test::SetRegString(key, kChevronValue, L"1");
        } else if (*c.stored != '\0') {
            test::SetRegDword(key, kChevronValue, static_cast<std::uint32_t>(std::atoi(c.stored)));
        }
        Start();
        EXPECT_EQ(Box(L"CheckBoxHiddenIcons").Checked(), c.checked);
        EXPECT_EQ(test::GetRegDword(key, kChevronValue), c.afterStart);
        ::SendMessageW(Box(L"CheckBoxHiddenIcons").Handle(), BM_CLICK, 0, 0);
        EXPECT_EQ(test::GetRegDword(key, kChevronValue), c.checked ? 0 : 1);
        program.reset();
    }
}

TEST_F(SettingsDialogTest, AutostartFollowsTheRunValue)
{
    const std::wstring exe = OwnExecutablePath();
    struct Case {
        std::wstring value;
        bool checked;
    } cases[] = {{exe, true}, {L"\"" + exe + L"\"", true}, {L"C:\\Other\\Merovane.exe", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.value));
        test::RegistrySandbox fresh;
        test::SetRegString(std::wstring(kRunKey), L"Merovane", c.value);
        Start();
        EXPECT_EQ(Box(L"CheckBoxAutostart").Checked(), c.checked);
        // A checked box wrote the value again, quoted; a stale one is left alone.
        const test::RawValue value = test::GetRegRaw(std::wstring(kRunKey), L"Merovane");
        const std::wstring expected = c.checked ? L"\"" + exe + L"\"" : c.value;
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(value.data.data())), expected);
        program.reset();
    }
}

TEST_F(SettingsDialogTest, ClosingTheDialogInAnyWaySavesTheOptions)
{
    Start();
    Radio(L"RadioButtonViewNew").SetChecked(true);
    Radio(L"RadioButtonHideNew").SetChecked(true);
    Box(L"CheckBoxToTray").SetChecked(true);
    ::SendMessageW(program->Settings().Handle(), WM_CLOSE, 0, 0);
    IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_TRUE(ReadOption(saved, option_key::RadioButtonHideNew));
    EXPECT_FALSE(ReadOption(saved, option_key::RadioButtonViewNew));
    EXPECT_TRUE(ReadOption(saved, option_key::CheckBoxToTray));

    Box(L"CheckBoxToTray").SetChecked(false);
    program->Settings().Show();
    ::SendMessageW(program->Settings().Get<ui::Button>(L"ButtonSave").Handle(), BM_CLICK, 0, 0);
    EXPECT_FALSE(ReadOption(IniFile::Load(paths.settingsFile), option_key::CheckBoxToTray));
    EXPECT_FALSE(program->Settings().Visible());
}

// The fourth policy is one more radio button of the same group, saved under
// its own key and read back at the next start.
TEST_F(SettingsDialogTest, ShowNewIconsIsAChoiceOfThePolicyGroup)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nRadioButtonHideNew=1\r\n");
    Start();
    EXPECT_TRUE(Radio(L"RadioButtonHideNew").Checked());
    Radio(L"RadioButtonViewNewOnly").SetChecked(true);
    EXPECT_FALSE(Radio(L"RadioButtonHideNew").Checked());
    EXPECT_EQ(program->CurrentOptions().newIconPolicy, NewIconPolicy::ShowNew);
    ::SendMessageW(program->Settings().Handle(), WM_CLOSE, 0, 0);
    const IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_TRUE(ReadOption(saved, option_key::RadioButtonViewNewOnly));
    EXPECT_FALSE(ReadOption(saved, option_key::RadioButtonHideNew));

    program.reset();
    Start();
    EXPECT_TRUE(Radio(L"RadioButtonViewNewOnly").Checked());
    EXPECT_FALSE(Radio(L"RadioButtonSystem").Checked());
}

TEST_F(SettingsDialogTest, AFailedRegistryWriteIsShownAndDamagesNothing)
{
    // A volatile parent takes no lasting subkeys: the Run key can't be made.
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxToTray=1\r\n");
    Start();
    const std::string before = [&] {
        std::ifstream in(std::filesystem::path(paths.settingsFile), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    {
        test::MessageBoxAnswer answer(IDOK);
        ::SendMessageW(Box(L"CheckBoxAutostart").Handle(), BM_CLICK, 0, 0);
        ASSERT_TRUE(answer.Answered());
        EXPECT_FALSE(answer.Text().empty());
    }
    std::ifstream in(std::filesystem::path(paths.settingsFile), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), before);
    EXPECT_TRUE(::IsWindow(program->Main().Handle()));
}

// The Run value an administrator set, in a key the user may only read: the
// start-up's attempt to rewrite it is reported, and the program still starts.
TEST_F(SettingsDialogTest, AnUnwritableRunKeyAtStartIsReportedAndTheProgramStarts)
{
    const std::wstring run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    test::SetRegString(run, L"Merovane", OwnExecutablePath()); // unquoted: the start-up quotes it
    test::KeyAccessLimit locked(run, L"D:(A;;KRWD;;;WD)"); // read, and change the access back
    {
        test::MessageBoxAnswer answer(IDOK);
        ASSERT_NO_THROW(Start());
        ASSERT_TRUE(answer.Answered());
        EXPECT_EQ(answer.Text().rfind(L"Не удалось изменить автозагрузку при старте Windows.\r\n", 0), 0u)
            << ToUtf8(answer.Text());
    }
    EXPECT_TRUE(Box(L"CheckBoxAutostart").Checked());
    EXPECT_EQ(test::GetRegRaw(run, L"Merovane").data.size(), (OwnExecutablePath().size() + 1) * sizeof(wchar_t));
}

TEST_F(SettingsDialogTest, ThemesFollowTheMenuAndTheSystem)
{
    test::SetRegDword(kPersonalize, L"AppsUseLightTheme", 0);
    Start();
    auto& main = program->Main();
    main.Get<ui::MenuItem>(L"ThemeAuto").Click();
    EXPECT_EQ(ui::application::CurrentStyle(), ui::Style::Dark);
    EXPECT_EQ(program->Settings().CurrentStyle(), ui::Style::Dark);
    EXPECT_EQ(ListView_GetBkColor(list->Handle()), ui::PaletteFor(ui::Style::Dark).listBack);
    EXPECT_TRUE(main.Get<ui::MenuItem>(L"ThemeAuto").Checked());

    // The system's apps turn light: "System" follows at the next setting change.
    test::SetRegDword(kPersonalize, L"AppsUseLightTheme", 1);
    ::SendMessageW(main.Handle(), WM_SETTINGCHANGE, 0, 0);
    EXPECT_EQ(ui::application::CurrentStyle(), ui::Style::Light);

    // A fixed choice ignores the system.
    main.Get<ui::MenuItem>(L"ThemeDark").Click();
    EXPECT_FALSE(main.Get<ui::MenuItem>(L"ThemeAuto").Checked());
    EXPECT_TRUE(main.Get<ui::MenuItem>(L"ThemeDark").Checked());
    test::SetRegDword(kPersonalize, L"AppsUseLightTheme", 1);
    ::SendMessageW(main.Handle(), WM_SETTINGCHANGE, 0, 0);
    EXPECT_EQ(ui::application::CurrentStyle(), ui::Style::Dark);

    // Missing or odd values read as light apps.
    main.Get<ui::MenuItem>(L"ThemeAuto").Click();
    for (const std::uint32_t odd : {2u}) {
        test::SetRegDword(kPersonalize, L"AppsUseLightTheme", odd);
        ::SendMessageW(main.Handle(), WM_SETTINGCHANGE, 0, 0);
        EXPECT_EQ(ui::application::CurrentStyle(), ui::Style::Light);
    }
    program->SaveOptions(Program::kSaveOnClose);
    const IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_TRUE(ReadOption(saved, option_key::ThemeAuto));
    EXPECT_FALSE(ReadOption(saved, option_key::ThemeDark));
}

} // namespace
} // namespace merovane
