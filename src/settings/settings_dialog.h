#pragma once

// The settings dialog. Every option takes effect when clicked; the settings
// file is written when the dialog closes.

#include "ui/form.h"

namespace merovane {

class TForm1;

class TForm2 : public ui::Form {
public:
    explicit TForm2(TForm1& main);

    // Applies the language to the windows that exist so far.
    void FormCreate();
    // Sets the dialog's controls from the settings file. A registry value that
    // can't be written then (a Run value an administrator locked) is reported
    // and the start-up goes on.
    void LoadNastr();
    // Whether LoadNastr ran: until then the controls hold defaults, not options.
    [[nodiscard]] bool OptionsLoaded() const noexcept { return optionsLoaded_; }

    // The state of one of the dialog's check boxes or radio buttons.
    [[nodiscard]] bool Checked(std::wstring_view control) const;
    // A message text: the caption of a hidden Lang* item.
    [[nodiscard]] std::wstring Message(std::wstring_view item) const;

    // Picks the notification-area image from the colour option and the
    // taskbar's light or dark setting; errors leave the image as it is.
    void CheckBoxColorTrayIconClick();
    void CheckBoxHiddenIconsClick();
    void CheckBoxAutoUpdateListClick();
    void CheckBoxAutostartClick();
    void ButtonSaveClick();

private:
    // Runs a click handler on behalf of the start-up: an error is shown, not
    // passed on, so the program still starts.
    template <typename Call>
    void ReportingErrors(Call&& call);

    TForm1& main_;
    bool optionsLoaded_ = false;
};

} // namespace merovane
