#pragma once

// A language folder, settings file and missing-keys log of a test's own, and
// small windows to translate.

#include "base/locale_paths.h"
#include "support/sandbox.h"
#include "ui/form.h"

#include <string>
#include <string_view>

namespace merovane::test {

class LocaleFixture {
public:
    LocaleFixture();

    [[nodiscard]] const LocalePaths& Paths() const noexcept { return paths_; }
    [[nodiscard]] const TempDir& Dir() const noexcept { return temp_; }

    // Writes Language\<name> as UTF-8 with a byte-order mark.
    std::wstring WriteLanguage(std::wstring_view fileName, std::string_view utf8Text) const;
    // Names the active language in the settings file and in Paths().
    void SetActive(std::wstring_view baseName);
    // Creates the missing-keys log, empty.
    void CreateLog() const;
    // The log's lines, decoded from UTF-16 LE; also checks its byte-order mark.
    [[nodiscard]] std::vector<std::wstring> LogLines() const;

private:
    TempDir temp_;
    LocalePaths paths_;
};

std::string ReadFileBytes(const std::wstring& path);

// A window in the shape of the program's settings dialog, small: a caption, a
// group box with a check box, a numeric label, a tab control with three tabs,
// a list view with three columns, a status bar and hidden message items.
extern const ui::FormDef kSmallForm2;
// The same components under the names of the main window and the update dialog.
extern const ui::FormDef kSmallForm1;
extern const ui::FormDef kSmallForm10;

} // namespace merovane::test
