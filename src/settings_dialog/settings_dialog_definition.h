#pragma once

// The definition of the settings dialog (Form2): its components, their built-in texts and
// positions. Component names are part of the language files and the settings
// file, so they never change.

#include "ui/form_definition.h"

namespace merovane {

const ui::FormDef& SettingsDialogDefinition();

} // namespace merovane
