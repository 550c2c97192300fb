#pragma once

// The language files beside the executable: listing them in the language
// menu, applying the chosen one to every window, and tidying the files of
// entries that no longer address a window or component.

#include "base/locale_paths.h"
#include "i18n/translation.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::ui {
class Form;
class MenuItem;
} // namespace merovane::ui

namespace merovane {

// Names of the "*.ini" entries of a folder (files and folders alike, "." and
// ".." left out), sorted alphabetically without regard to case.
std::vector<std::wstring> ListLanguageFiles(const std::wstring& directory);
// A file name without its extension (from the last dot on).
std::wstring LanguageBaseName(std::wstring_view fileName);
// "LANGNAME" of section "Language information", else the base name; a file
// that can't be read gives the base name.
std::wstring LanguageDisplayName(const std::wstring& file, std::wstring_view baseName);
// Menu captions are the base name, two tabs and the display name; a click
// takes the base name back from the caption.
std::wstring LanguageMenuCaption(std::wstring_view baseName, std::wstring_view displayName);
std::wstring BaseNameFromMenuCaption(std::wstring_view caption);
// Whether a file's base name is the one the settings name.
bool IsActiveLanguage(std::wstring_view baseName, std::wstring_view active);
// Whether the file can be opened for writing with nobody else sharing it.
bool CanOpenForWrite(const std::wstring& file);
// Deletes keys that name no window or component of `forms` (of a window not
// made yet: of its definition), keys without a
// ".", and repeats of a key (the translation takes the first), in every
// section but "Language information", "DestDir" and "GUID"; erases sections
// left empty. Rewrites the file only when something changed, it decoded
// cleanly, it is writable, and some of those keys are left. Returns whether
// it rewrote it.
bool CleanLanguageFile(const std::wstring& file, const std::vector<ui::Form*>& forms);

// The main window's language operations over the program's windows.
class LanguageMenu {
public:
    // `menu` is the submenu the language entries go into.
    LanguageMenu(ui::MenuItem& menu, std::function<LocalePaths()> paths);

    // Rebuilds the submenu from the folder and checks the active language.
    void RebuildMenu();
    // A language entry was chosen: store it, rebuild the menu, translate every
    // window; then, in every case, onLanguageChosen.
    void ChooseLanguage(ui::MenuItem* sender);
    // Applies the active language to every window that exists. A call made
    // while a pass runs (from a handler run between its steps) is carried out
    // after that pass, not interleaved with it.
    void ApplyToAllWindows();
    // Applies the active language to one window, made after the others.
    void ApplyToWindow(ui::Form& form);
    // Tidies every language file against the program's windows, those not
    // made yet by their definitions.
    void CleanLanguageFiles();

    [[nodiscard]] const std::wstring& ActiveLanguage() const noexcept { return active_; }

    // Reload and sort the icon list: its names come from the language too.
    std::function<void()> onLanguageChosen;
    // Stores the chosen base name in the options; an error it throws ends
    // the choice.
    std::function<void(const std::wstring& baseName)> storeChoice;

private:
    void TranslateWindow(ui::Form& form);

    ui::MenuItem& menu_;
    std::function<LocalePaths()> paths_;
    std::wstring active_;
    Translator engine_;
    bool applyingLanguage_ = false;
    bool applyAgain_ = false;
};

} // namespace merovane
