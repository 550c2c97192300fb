#pragma once

// Applies a language file to a window: its caption, the text properties of its
// components, list-view column headers, tab captions and the message texts kept
// as captions of hidden menu items.

#include "base/locale_paths.h"

#include <string>
#include <string_view>
#include <vector>

namespace merovane::ui {
class Component;
class Form;
} // namespace merovane::ui

namespace merovane {

// Texts that are never looked up: empty, a menu separator, or a number.
bool SkipTranslation(std::wstring_view text);

// Components whose texts the program sets itself.
bool ExcludedFromTranslation(const ui::Form& form, const ui::Component& component);

class Translator {
public:
    // Translates one window with the language that `paths` names,
    // taking the entries of `section`. Returns false when nothing was applied:
    // no language, no file, or a pass of this engine already running (a window
    // is never translated by two interleaved passes).
    bool TranslateForm(ui::Form& form, std::wstring_view section, const LocalePaths& paths);

    // The pieces of a pass, usable while one runs.
    std::wstring LookupTranslation(std::wstring_view key, std::wstring_view builtIn);
    [[nodiscard]] int FindTranslationKey(std::wstring_view key) const;
    void TranslateProperty(ui::Component& component, std::wstring_view property);
    void TranslateValue(std::wstring& text, std::wstring_view key);
    void TranslateStrings(std::vector<std::wstring>& lines, std::wstring_view prefix);

    [[nodiscard]] bool Running() const noexcept { return running_; }

private:
    void Translate(ui::Form& form);

    ui::Form* current_ = nullptr;
    std::vector<std::wstring> remaining_; // "key=value" lines of the section, used ones removed
    std::vector<std::wstring> missing_;   // "key=built-in text" lines for the log
    std::wstring section_;
    bool running_ = false;
};

} // namespace merovane
