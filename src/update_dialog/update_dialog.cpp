#include "update_dialog/update_dialog.h"

#include "base/error.h"
#include "update_dialog/update_dialog_definition.h"
#include "ui/application.h"
#include "ui/component.h"

namespace merovane {

UpdateDialog::UpdateDialog(Options& options, std::function<void()> saveCheckOption)
    : ui::Form(UpdateDialogDefinition()), options_(options), saveCheckOption_(std::move(saveCheckOption))
{
}

void UpdateDialog::Initialize()
{
    auto& quick = Get<ui::CheckBox>(L"CheckBoxQuickUpdate");
    auto& force = Get<ui::CheckBox>(L"CheckBoxForceUpdate");
    auto& check = Get<ui::CheckBox>(L"CheckBoxAutoCheck");
    // Quick and Forced start as designed in every run; the check at start is
    // what the settings say.
    options_.quickUpdate = quick.Checked();
    options_.forceUpdate = force.Checked();
    check.SetChecked(options_.checkForUpdatesAtStart);
    quick.onClick = [this, &quick] { options_.quickUpdate = quick.Checked(); };
    force.onClick = [this, &force] { options_.forceUpdate = force.Checked(); };
    check.onClick = [this, &check] { options_.checkForUpdatesAtStart = check.Checked(); };
    Get<ui::Button>(L"ButtonClose").onClick = [this] { Close(); };
    onClose = [this](bool&) {
        // An unwritable settings file is reported; the dialog closes anyway.
        if (saveCheckOption_) {
            ui::application::ReportingErrors(saveCheckOption_);
        }
    };
}

} // namespace merovane
