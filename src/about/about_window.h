#pragma once

// The About window: icon, title with version, copyright and contact links.

#include "ui/form.h"

namespace merovane {

class TForm1;

class TForm8 : public ui::Form {
public:
    explicit TForm8(TForm1& main);

    // Icon and copyright from the executable's own resources.
    void FormCreate();

    // Where each link label leads.
    static std::wstring_view LinkTarget(std::wstring_view label);

private:
    void FormShow();
    TForm1& main_;
};

} // namespace merovane
