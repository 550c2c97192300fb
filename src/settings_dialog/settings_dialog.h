#pragma once

// The settings dialog. Every option takes effect when clicked and goes into
// the program's options; the options are saved when the dialog closes. It
// knows no other window: what an option changes elsewhere comes in as Services.

#include "base/options.h"
#include "base/policies.h"
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
        // Registers the key for showing every icon as the options now hold
        // it; false when another program holds the combination.
        std::function<bool()> applyHotKey{};
    };

    SettingsDialog(Options& options, Services services);

    // Applies the language, wires the controls and reads the chevron value.
    void Initialize();
    // Sets the controls from the options and applies them. A registry value
    // that can't be written then (a Run value an administrator locked) is
    // reported and the start-up goes on.
    void ApplyOptions();
    // Shows what the organisation sets in place of the user's choice, the
    // controls disabled, and gives the user's choice back where a policy
    // went. The options keep the user's choice throughout, so a save never
    // writes the organisation's values.
    void ShowPolicies(const Policies& policies);
    // Sets the controls from the options, which are in effect already: for
    // a dialog made after the start.
    void ShowOptions();

private:
    void ColourTrayIconChanged();
    void HiddenIconsChanged();
    void RefreshListChanged();
    void AutostartChanged();
    void HotKeyChanged();
    void SaveAndClose();
    void SaveOptionsReporting();

    Options& options_;
    Services services_;
    // While the dialog shows a policy, the controls' handlers change nothing.
    bool showingPolicy_ = false;
    std::optional<NewIconPolicy> forcedNewIconPolicy_;
    std::optional<bool> forcedAutostart_;
};

} // namespace merovane
