#include "settings_dialog/settings_dialog.h"

#include "base/error.h"
#include "base/option_names.h"
#include "base/file_info.h"
#include "settings_dialog/settings_dialog_definition.h"
#include "base/autostart.h"
#include "base/chevron.h"
#include "ui/application.h"
#include "ui/component.h"

namespace merovane {

using namespace settings_dialog;

namespace {

// The radio buttons are named by the policies' settings keys.
constexpr auto& kPolicyButtons = option_names::kNewIconPolicies;

} // namespace

SettingsDialog::SettingsDialog(Options& options, Services services)
    : ui::Form(SettingsDialogDefinition()), options_(options), services_(std::move(services))
{
}

void SettingsDialog::Initialize()
{
    if (services_.applyLanguage) {
        services_.applyLanguage();
    }
    Get(kCheckBoxColorTrayIcon).onClick = [this] { ColourTrayIconChanged(); };
    Get(kCheckBoxHiddenIcons).onClick = [this] { HiddenIconsChanged(); };
    Get(kCheckBoxAutoUpdateList).onClick = [this] { RefreshListChanged(); };
    Get(kCheckBoxAutostart).onClick = [this] { AutostartChanged(); };
    Get(kCheckBoxToTray).onClick = [this] {
        options_.closeToTray = Get(kCheckBoxToTray).Checked();
    };
    Get(kCheckBoxAutostartToTray).onClick = [this] {
        options_.startToTray = Get(kCheckBoxAutostartToTray).Checked();
    };
    for (const auto& [name, buttonPolicy] : kPolicyButtons) {
        Get<ui::RadioButton>(name).onClick = [this, policy = buttonPolicy] {
            if (showingPolicy_ || forcedNewIconPolicy_) {
                return;
            }
            options_.newIconPolicy = policy;
            if (services_.applyRefreshPolicy) {
                services_.applyRefreshPolicy();
            }
        };
    }
    Get(kHotKeyShowEveryIcon).onChange = [this] { HotKeyChanged(); };
    Get(kButtonSave).onClick = [this] { SaveAndClose(); };
    onClose = [this](bool&) { SaveOptionsReporting(); };

    // 1 ticks the box (and so writes 1 where nothing was stored), 0 clears
    // it; anything else leaves it as it is until the user clicks.
    const std::int32_t chevron = GetChevronVisibility();
    if (chevron == 1 || chevron == 0) {
        ui::application::ReportingErrors(
            [&] { Get(kCheckBoxHiddenIcons).SetChecked(chevron == 1); });
    }
}

void SettingsDialog::ApplyOptions()
{
    // A Run value an administrator locked is reported; the start-up goes on.
    ui::application::ReportingErrors(
        [&] { Get(kCheckBoxAutostart).SetChecked(CheckAutoStart(OwnExecutablePath())); });
    // The boxes' handlers write back what they are set to; the options stay
    // as they are.
    const Options options = options_;
    Get(kCheckBoxAutoUpdateList).SetChecked(options.refreshList);
    RefreshListChanged(); // whether or not the box changed
    for (const auto& [name, buttonPolicy] : kPolicyButtons) {
        if (options.newIconPolicy == buttonPolicy) {
            Get<ui::RadioButton>(name).SetChecked(true);
        }
    }
    Get(kCheckBoxToTray).SetChecked(options.closeToTray);
    Get(kCheckBoxAutostartToTray).SetChecked(options.startToTray);
    Get(kCheckBoxColorTrayIcon).SetChecked(options.colourTrayIcon);
    ColourTrayIconChanged();
    Get(kHotKeyShowEveryIcon).SetValue(options.showEveryIconHotKey);
}

void SettingsDialog::ShowPolicies(const Policies& policies)
{
    const bool hadPolicy = forcedNewIconPolicy_.has_value();
    const bool hadAutostart = forcedAutostart_.has_value();
    forcedNewIconPolicy_ = policies.newIconPolicy;
    forcedAutostart_ = policies.startWithWindows;
    showingPolicy_ = true;
    try {
        // A forced policy applies whether or not the box is ticked, so it
        // shows ticked.
        auto& refresh = Get(kCheckBoxAutoUpdateList);
        if (forcedNewIconPolicy_) {
            refresh.SetChecked(true);
        } else if (hadPolicy) {
            refresh.SetChecked(options_.refreshList);
        }
        const bool showChoice = forcedNewIconPolicy_.has_value() || hadPolicy;
        const NewIconPolicy shown = forcedNewIconPolicy_.value_or(options_.newIconPolicy);
        for (const auto& [name, buttonPolicy] : kPolicyButtons) {
            auto& radio = Get<ui::RadioButton>(name);
            if (showChoice) {
                radio.SetChecked(shown == buttonPolicy);
            }
            ::EnableWindow(radio.Handle(), !forcedNewIconPolicy_);
        }
        ::EnableWindow(refresh.Handle(), !forcedNewIconPolicy_);

        auto& autostart = Get(kCheckBoxAutostart);
        if (forcedAutostart_) {
            autostart.SetChecked(*forcedAutostart_);
        } else if (hadAutostart) {
            ui::application::ReportingErrors([&] { autostart.SetChecked(CheckAutoStart(OwnExecutablePath())); });
        }
        ::EnableWindow(autostart.Handle(), !forcedAutostart_);
        ::ShowWindow(Get(kLabelSetByOrganisation).Handle(),
                     forcedNewIconPolicy_ || forcedAutostart_ ? SW_SHOWNA : SW_HIDE);
    } catch (...) {
        showingPolicy_ = false;
        throw;
    }
    showingPolicy_ = false;
}

void SettingsDialog::ShowOptions()
{
    const Services services = services_;
    services_.applyRefreshPolicy = nullptr;
    services_.updateTrayImage = nullptr;
    try {
        ApplyOptions();
    } catch (...) {
        services_ = services;
        throw;
    }
    services_ = services;
}

void SettingsDialog::ColourTrayIconChanged()
{
    options_.colourTrayIcon = Get(kCheckBoxColorTrayIcon).Checked();
    if (services_.updateTrayImage) {
        services_.updateTrayImage();
    }
}

void SettingsDialog::HiddenIconsChanged()
{
    try {
        SetChevronVisibility(Get(kCheckBoxHiddenIcons).Checked());
    } catch (const Error& error) {
        throw InContext(Message(L"LangChevronNotChanged"), error);
    }
}

void SettingsDialog::RefreshListChanged()
{
    if (showingPolicy_ || forcedNewIconPolicy_) {
        return;
    }
    options_.refreshList = Get(kCheckBoxAutoUpdateList).Checked();
    if (services_.applyRefreshPolicy) {
        services_.applyRefreshPolicy();
    }
}

void SettingsDialog::AutostartChanged()
{
    if (showingPolicy_ || forcedAutostart_) {
        return;
    }
    const std::wstring executable = OwnExecutablePath();
    try {
        ApplyAutoStart(Get(kCheckBoxAutostart).Checked(), executable, GetFileDescription(executable));
    } catch (const Error& error) {
        throw InContext(Message(L"LangAutostartNotChanged"), error);
    }
}

void SettingsDialog::HotKeyChanged()
{
    ui::HotKey& control = Get(kHotKeyShowEveryIcon);
    const WORD value = control.Value();
    // Modifiers alone are no combination yet.
    if (value != 0 && LOBYTE(value) == 0) {
        return;
    }
    options_.showEveryIconHotKey = value;
    if (services_.applyHotKey && !services_.applyHotKey()) {
        const std::wstring text = FormatText(Message(L"LangHotKeyTaken"), ui::HotKeyText(value));
        // Off again, so the options never keep a key that does nothing.
        options_.showEveryIconHotKey = 0;
        control.SetValue(0);
        services_.applyHotKey();
        ui::application::ShowError(text);
    }
}

void SettingsDialog::SaveOptionsReporting()
{
    if (services_.saveOptions) {
        ui::application::ReportingErrors(services_.saveOptions);
    }
}

void SettingsDialog::SaveAndClose()
{
    SaveOptionsReporting();
    ui::application::ProcessMessages();
    Close();
}

} // namespace merovane
