#pragma once

// The settings dialog. Every option takes effect when clicked and goes into
// the program's options; the options are saved when the dialog closes. It
// knows no other window: what an option changes elsewhere comes in as Services.

#include "base/options.h"
#include "ui/form.h"

#include <functional>

namespace merovane {

class SettingsDialog : public ui::Form {
public:
    struct Services {
        // Applies the chosen language to the windows made so far.
        std::function<void()> applyLanguage;
        // Applies the refresh option and the new-icon policy as the options
        // now hold them.
        std::function<void()> applyRefreshPolicy;
        // Picks the notification-area image for the colour option.
        std::function<void()> updateTrayImage;
        // Saves the options; throws merovane::Error naming the file.
        std::function<void()> saveOptions;
    };

    SettingsDialog(Options& options, Services services);

    // Applies the language, wires the controls and reads the chevron value.
    void Initialize();
    // Sets the controls from the options and applies them. A registry value
    // that can't be written then (a Run value an administrator locked) is
    // reported and the start-up goes on.
    void ApplyOptions();
    // Sets the controls from the options, which are in effect already: for
    // a dialog made after the start.
    void ShowOptions();

private:
    void ColourTrayIconChanged();
    void HiddenIconsChanged();
    void RefreshListChanged();
    void AutostartChanged();
    void SaveAndClose();
    void SaveOptionsReporting();

    Options& options_;
    Services services_;
};

} // namespace merovane
