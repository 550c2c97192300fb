#pragma once

// The update dialog: its options, the check at start and on every showing,
// and the download come with the update client. Its options live in the
// program's; it saves its own when it closes.

#include "base/options.h"
#include "ui/form.h"

#include <functional>

namespace merovane {

class UpdateDialog : public ui::Form {
public:
    // `saveCheckOption` writes checkForUpdatesAtStart; it throws
    // merovane::Error naming the file.
    UpdateDialog(Options& options, std::function<void()> saveCheckOption);

    // Sets the controls from the options and wires them.
    void Initialize();

private:
    Options& options_;
    std::function<void()> saveCheckOption_;
};

} // namespace merovane
