#pragma once

// The definitions of the program's four windows. Component names are part of
// the language files and the settings file, so they never change.

#include "ui/form_definition.h"

namespace merovane::forms {

const ui::FormDef& Form1Definition();  // TForm1, main window
const ui::FormDef& Form8Definition();  // TForm8, About
const ui::FormDef& Form2Definition();  // TForm2, settings dialog
const ui::FormDef& Form10Definition(); // TForm10, update dialog

} // namespace merovane::forms
