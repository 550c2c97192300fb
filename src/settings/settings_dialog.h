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
    // Sets the dialog's controls from the settings file.
    void LoadNastr();

    // The state of one of the dialog's check boxes or radio buttons.
    [[nodiscard]] bool Checked(std::wstring_view control) const;

    // Picks the notification-area image from the colour option and the
    // taskbar's light or dark setting; errors leave the image as it is.
    void CheckBoxColorTrayIconClick();
    void CheckBoxHiddenIconsClick();
    void CheckBoxAutoUpdateListClick();
    void CheckBoxAutostartClick();
    void ButtonSaveClick();

private:
    TForm1& main_;
};

} // namespace merovane
