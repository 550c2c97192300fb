#include "about_window/about_window.h"

#include "base/file_info.h"
#include "about_window/about_window_definition.h"
#include "base/startup.h"
#include "ui/application.h"
#include "ui/component.h"

#include <shellapi.h>

namespace merovane {

using namespace about_window;

namespace {

struct Link {
    ui::Named<ui::Label> label;
    std::wstring_view target;
};

// Contact points of the project; none leads to a person.
constexpr Link kLinks[] = {
    {kLabelTelegram, L"https://example.com/merovane/chat"},
    {kLabelGMail, L"mailto:merovane@example.com"},
    {kLabelYaMail, L"mailto:merovane.support@example.org"},
    {kLabelMainWebSite, L"http://example.com/merovane"},
};

} // namespace

AboutWindow::AboutWindow(std::function<std::wstring()> versionLine)
    : ui::Form(AboutWindowDefinition()), versionLine_(std::move(versionLine))
{
}

void AboutWindow::Initialize()
{
    HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, Scale(32),
                                                 Scale(32), LR_DEFAULTCOLOR));
    if (icon != nullptr) {
        Get(kImage1).SetIcon(icon);
    }
    Get(kLabelCopyright).SetCaption(GetLegalCopyright(OwnExecutablePath()));
    for (const Link& link : kLinks) {
        Get(link.label).onClick = [this, target = std::wstring(link.target)] {
            ::ShellExecuteW(Handle(), L"open", target.c_str(), nullptr, nullptr, SW_SHOW);
            ui::application::ProcessMessages();
        };
    }
    Get(kButton1).onClick = [this] { Close(); };
    onShow = [this] {
        if (versionLine_) {
            Get(kLabelVersion).SetCaption(versionLine_());
        }
    };
}

} // namespace merovane
