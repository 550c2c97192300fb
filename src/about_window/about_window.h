#pragma once

// The About window: icon, title with version, copyright and contact links.

#include "ui/form.h"

#include <functional>
#include <string>

namespace merovane {

class AboutWindow : public ui::Form {
public:
    // `versionLine` gives the title with version each time the window shows:
    // the main window's caption.
    explicit AboutWindow(std::function<std::wstring()> versionLine);

    // Icon and copyright from the executable's own resources.
    void Initialize();

private:
    std::function<std::wstring()> versionLine_;
};

} // namespace merovane
