#include "settings/settings_dialog.h"

#include "forms/forms.h"
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

TForm2::TForm2(TForm1& main) : ui::Form(forms::Form2Definition()), main_(main) {}

void TForm2::FormCreate()
{
    main_.Languages().Globload();
    Get<ui::Button>(L"ButtonSave").onClick = [this] {
        main_.SaveNastr();
        Close();
    };
    onClose = [this](bool&) { main_.SaveNastr(); };
}

void TForm2::LoadNastr()
{
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
    }
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
