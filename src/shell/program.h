#pragma once

// The program: its options, its four windows (the main one at start, the
// others when first needed) with the language and the options applied, and
// the message loop. The windows meet
// only here: each gets the options and the few services it needs.

#include "about_window/about_window.h"
#include "base/error.h"
#include "base/locale_paths.h"
#include "settings_dialog/settings_dialog.h"
#include "main_window/main_window.h"
#include "base/options.h"
#include "base/settings_store.h"
#include "update_dialog/update_dialog.h"

#include <functional>
#include <optional>

namespace merovane {

class Program {
public:
    explicit Program(std::function<LocalePaths()> paths);

    // Everything between the single-instance check and the message loop.
    void Start();
    // The Windows 11 test, then the loop until the program ends. Returns the
    // exit code.
    int Run();

    // What closing or exiting the main window and closing the settings dialog
    // save: everything but the update check, which the update dialog saves
    // when it closes.
    static constexpr OptionGroup kSaveOnClose =
        OptionGroup::UpdateFlags | OptionGroup::MainWindow | OptionGroup::SettingsDialog;

    // Writes the options of the groups given that the program changed since it
    // read or saved them; the others keep what the file says now. Nothing is written before the
    // options were read, nor over a settings file that could not be read at
    // start: it holds the user's options as far as anyone knows. Throws merovane::Error naming the file.
    void SaveOptions(OptionGroup groups);
    [[nodiscard]] const Options& CurrentOptions() noexcept { return settingsStore_.Current(); }

    [[nodiscard]] MainWindow& Main() noexcept { return main_; }
    // The other windows, made (translated, with the options set) the first
    // time they are asked for, so the main window shows without waiting for
    // them.
    [[nodiscard]] AboutWindow& About();
    [[nodiscard]] SettingsDialog& Settings();
    [[nodiscard]] UpdateDialog& Update();

private:
    // The program's paths with the language in force.
    [[nodiscard]] LocalePaths Paths();
    // Shows and applies what the organisation's policies set: the settings
    // dialog's controls (once it is made), starting with Windows.
    void ApplyPolicies();
    static void CALLBACK CheckAtStartTimer(HWND window, UINT message, UINT_PTR id, DWORD time) noexcept;
    // The update servers (built in, or a mirror from the settings file) and
    // the package kind of this copy.
    [[nodiscard]] VersionQuery UpdateQuery();

    std::function<LocalePaths()> paths_;
    SettingsStore settingsStore_;
    std::vector<std::wstring> policyProblemsTold_;
    MainWindow main_;
    AboutWindow about_;
    SettingsDialog settings_;
    UpdateDialog update_;
};

} // namespace merovane
