#include "update/update_dialog.h"

#include "core/error.h"
#include "forms/forms.h"
#include "i18n/ini_file.h"
#include "shell/main_window.h"
#include "shell/settings_file.h"
#include "ui/application.h"
#include "ui/component.h"

namespace merovane {

TForm10::TForm10(TForm1& main) : ui::Form(forms::Form10Definition()), main_(main) {}

void TForm10::FormCreate()
{
    LoadNastr();
    Get<ui::Button>(L"ButtonClose").onClick = [this] { Close(); };
    onClose = [this](bool&) {
        // An unwritable settings file is reported; the dialog closes anyway.
        try {
            SaveNastr();
        } catch (const Error& error) {
            ui::application::ShowError(error.message());
        }
    };
}

void TForm10::LoadNastr()
{
    const IniFile settings = ReadSettings(main_.Paths().settingsFile);
    Get<ui::CheckBox>(L"CheckBoxAutoCheck").SetChecked(ReadOption(settings, option_key::CheckBoxAutoCheck));
    optionsLoaded_ = true;
}

void TForm10::SaveNastr()
{
    if (!optionsLoaded_ || !main_.SettingsWritable()) {
        return;
    }
    const std::wstring path = main_.Paths().settingsFile;
    try {
        IniFile settings = LoadSettings(path);
        WriteOption(settings, option_key::CheckBoxAutoCheck, Checked(option_key::CheckBoxAutoCheck));
        SaveSettings(settings, path);
    } catch (const Error& error) {
        throw InContext(FormatText(main_.Message(L"LangSettingsNotSaved"), path), error);
    }
}

bool TForm10::Checked(std::wstring_view control) const
{
    const auto* check = dynamic_cast<const ui::CheckBox*>(FindComponent(control));
    return check != nullptr && check->Checked();
}

} // namespace merovane
