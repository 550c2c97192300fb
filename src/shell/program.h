#pragma once

// The program's four windows, created in their order, with the language and
// the settings applied; then the message loop.

#include "about/about_window.h"
#include "i18n/locale_paths.h"
#include "settings/settings_dialog.h"
#include "shell/main_window.h"
#include "update/update_dialog.h"

#include <functional>

namespace merovane {

class Program {
public:
    explicit Program(std::function<LocalePaths()> paths);

    // Everything between the single-instance check and the message loop.
    void Start();
    // The Windows 11 test, then the loop until the program ends. Returns the
    // exit code.
    int Run();

    [[nodiscard]] TForm1& Main() noexcept { return main_; }
    [[nodiscard]] TForm8& About() noexcept { return about_; }
    [[nodiscard]] TForm2& Settings() noexcept { return settings_; }
    [[nodiscard]] TForm10& Update() noexcept { return update_; }

private:
    TForm1 main_;
    TForm8 about_;
    TForm2 settings_;
    TForm10 update_;
};

} // namespace merovane
