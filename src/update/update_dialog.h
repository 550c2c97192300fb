#pragma once

// The update dialog. For now it keeps its options; checking and downloading
// arrive with the update client.

#include "ui/form.h"

namespace merovane {

class TForm1;

class TForm10 : public ui::Form {
public:
    explicit TForm10(TForm1& main);

    // Reads its option from the settings file.
    void FormCreate();
    void LoadNastr();
    // Writes CheckBoxAutoCheck alone; nothing before LoadNastr, nor over a
    // settings file that could not be read at start.
    void SaveNastr();

    [[nodiscard]] bool Checked(std::wstring_view control) const;
    [[nodiscard]] bool OptionsLoaded() const noexcept { return optionsLoaded_; }

private:
    TForm1& main_;
    bool optionsLoaded_ = false;
};

} // namespace merovane
