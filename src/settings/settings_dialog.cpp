#include "settings/settings_dialog.h"

#include "core/error.h"
#include "core/file_info.h"
#include "forms/forms.h"
#include "settings/autostart.h"
#include "settings/chevron.h"
#include "shell/startup.h"
#include "shell/theme_reader.h"
#include "ui/application.h"
#include "i18n/ini_file.h"
#include "shell/main_window.h"
#include "shell/settings_file.h"

namespace merovane {

namespace {

// Read in this order: a radio button set later wins over an earlier one.
constexpr std::wstring_view kStoredControls[] = {
    option_key::CheckBoxAutoUpdateList, option_key::RadioButtonSystem, option_key::RadioButtonViewNew,
    option_key::RadioButtonHideNew,     option_key::CheckBoxToTray,    option_key::CheckBoxAutostartToTray,
    option_key::CheckBoxColorTrayIcon,
};

} // namespace

template <typename Call>
void TForm2::ReportingErrors(Call&& call)
{
    try {
        call();
    } catch (const Error& error) {
        ui::application::ShowError(error.message());
    }
}

TForm2::TForm2(TForm1& main) : ui::Form(forms::Form2Definition()), main_(main) {}

void TForm2::FormCreate()
{
    main_.Languages().Globload();
    Get<ui::CheckBox>(L"CheckBoxColorTrayIcon").onClick = [this] { CheckBoxColorTrayIconClick(); };
    Get<ui::CheckBox>(L"CheckBoxHiddenIcons").onClick = [this] { CheckBoxHiddenIconsClick(); };
    Get<ui::CheckBox>(L"CheckBoxAutoUpdateList").onClick = [this] { CheckBoxAutoUpdateListClick(); };
    Get<ui::CheckBox>(L"CheckBoxAutostart").onClick = [this] { CheckBoxAutostartClick(); };
    Get<ui::Button>(L"ButtonSave").onClick = [this] { ButtonSaveClick(); };
    onClose = [this](bool&) { main_.SaveNastrOnClose(); };

    // 1 ticks the box (and so writes 1 where nothing was stored), 0 clears
    // it; anything else leaves it as it is until the user clicks.
    const std::int32_t chevron = GetChevronVisibility();
    if (chevron == 1 || chevron == 0) {
        ReportingErrors([&] { Get<ui::CheckBox>(L"CheckBoxHiddenIcons").SetChecked(chevron == 1); });
    }
}

void TForm2::CheckBoxColorTrayIconClick()
{
    try {
        if (Checked(L"CheckBoxColorTrayIcon")) {
            main_.SetTrayImage(2);
        } else {
            main_.SetTrayImage(IsSystemLightTheme() ? 0 : 1);
        }
        ui::application::ProcessMessages();
    } catch (...) {
        // The icon keeps its image.
    }
}

void TForm2::CheckBoxHiddenIconsClick()
{
    try {
        SetChevronVisibility(Checked(L"CheckBoxHiddenIcons"));
    } catch (const Error& error) {
        throw InContext(Message(L"LangChevronNotChanged"), error);
    }
}

void TForm2::CheckBoxAutoUpdateListClick()
{
    main_.Get<ui::Timer>(L"Timer2").SetEnabled(Checked(L"CheckBoxAutoUpdateList"));
}

void TForm2::CheckBoxAutostartClick()
{
    const std::wstring executable = OwnExecutablePath();
    try {
        ApplyAutoStart(Checked(L"CheckBoxAutostart"), executable, GetFileDescription(executable));
    } catch (const Error& error) {
        throw InContext(Message(L"LangAutostartNotChanged"), error);
    }
}

void TForm2::ButtonSaveClick()
{
    main_.SaveNastrOnClose();
    ui::application::ProcessMessages();
    Close();
}

void TForm2::LoadNastr()
{
    ReportingErrors([&] { Get<ui::CheckBox>(L"CheckBoxAutostart").SetChecked(CheckAutoStart(OwnExecutablePath())); });
    const IniFile settings = ReadSettings(main_.Paths().settingsFile);
    for (const std::wstring_view key : kStoredControls) {
        const bool value = ReadOption(settings, key);
        if (auto* check = dynamic_cast<ui::CheckBox*>(FindComponent(key))) {
            check->SetChecked(value);
        } else if (auto* radio = dynamic_cast<ui::RadioButton*>(FindComponent(key))) {
            if (value) {
                radio->SetChecked(true);
            }
        }
        if (key == option_key::CheckBoxAutoUpdateList) {
            CheckBoxAutoUpdateListClick(); // whether or not the box changed
        }
    }
    CheckBoxColorTrayIconClick();
    optionsLoaded_ = true;
}

std::wstring TForm2::Message(std::wstring_view item) const
{
    const ui::Component* text = FindComponent(item);
    return text != nullptr ? text->Caption() : std::wstring();
}

bool TForm2::Checked(std::wstring_view control) const
{
    if (const auto* check = dynamic_cast<const ui::CheckBox*>(FindComponent(control))) {
        return check->Checked();
    }
    if (const auto* radio = dynamic_cast<const ui::RadioButton*>(FindComponent(control))) {
        return radio->Checked();
    }
    return false;
}

} // namespace merovane
