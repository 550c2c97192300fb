#pragma once

// A top-level window built from its definition: it creates and owns its
// components in definition order, lays them out in 96-DPI units scaled for its
// monitor, and reflects control notifications back to the controls.

#include "ui/component.h"
#include "ui/fonts.h"
#include "ui/form_definition.h"
#include "ui/style.h"

#include "base/handles.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace merovane::ui {

class MenuItem;
class PopupMenu;

class Form {
public:
    explicit Form(const FormDef& def);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // Creates the window, hidden, and every component. `owner` owns the window.
    void Create(HWND owner = nullptr);

    [[nodiscard]] const std::wstring& Name() const noexcept { return name_; }
    [[nodiscard]] HWND Handle() const noexcept { return hwnd_; }
    [[nodiscard]] const FormDef& Definition() const noexcept { return def_; }

    [[nodiscard]] std::wstring Caption() const { return caption_; }
    void SetCaption(std::wstring_view caption);

    // Components in definition order, then those added at run time.
    [[nodiscard]] const std::vector<std::unique_ptr<Component>>& Components() const noexcept { return components_; }
    // By name, without regard to case; nullptr when there is none.
    [[nodiscard]] Component* FindComponent(std::wstring_view name) const;
    // A message text: the caption of the hidden Lang* item of that name, as
    // the language made it; "" when there is none.
    [[nodiscard]] std::wstring Message(std::wstring_view item) const;
    [[nodiscard]] std::wstring Message(Named<MenuItem> item) const { return Message(item.name); }
    // By name and kind; throws std::logic_error when missing, since a window
    // definition and its code must agree.
    template <typename T>
    [[nodiscard]] T& Get(std::wstring_view name) const
    {
        if (auto* found = dynamic_cast<T*>(FindComponent(name))) {
            return *found;
        }
        throw std::logic_error("component missing from the window definition");
    }
    template <typename T>
    [[nodiscard]] T& Get(Named<T> component) const
    {
        return Get<T>(component.name);
    }

    void Show();
    void Hide();
    [[nodiscard]] bool Visible() const;
    // Shows the window modally: its owner is disabled and a message loop runs
    // until Close(). Returns the modal result.
    int ShowModal();
    // Asks the window to close, as the caption's close button does.
    void Close();

    // 96-DPI units to pixels for this window's monitor.
    [[nodiscard]] int Scale(int units) const;
    [[nodiscard]] UINT Dpi() const noexcept { return dpi_; }
    [[nodiscard]] HFONT FontFor(const ComponentDef& def);

    // The visual style of this window and everything in it.
    void ApplyStyle(Style style);
    [[nodiscard]] Style CurrentStyle() const noexcept { return style_; }
    [[nodiscard]] const Palette& CurrentPalette() const noexcept { return PaletteFor(style_); }
    // Background brush of the window and its panels.
    [[nodiscard]] HBRUSH BackgroundBrush() const;

    // Places the controls for the client area's size and the DPI (ui/layout.h).
    void Layout();
    UINT NextCommandId() noexcept { return nextCommandId_++; }
    // Runs the enabled menu item whose shortcut is this key (F1 to F12, no
    // modifier). Returns whether one ran.
    bool HandleShortcut(UINT virtualKey);

    std::function<void()> onShow;
    // Runs before the window closes; set `allow` to false to keep it.
    std::function<void(bool& allow)> onClose;

protected:
    // Messages the window handles itself, after its components had them;
    // return true when handled.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateComponents();
    void ApplyDpi(UINT dpi);
    [[nodiscard]] Control* ControlFromHandle(HWND hwnd) const;

    const FormDef& def_;
    std::wstring name_;
    std::wstring caption_;
    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;
    bool modal_ = false;
    int modalResult_ = 0;
    UINT nextCommandId_ = 100;
    std::vector<std::unique_ptr<Component>> components_;
    Style style_ = Style::System;
    unique_hbrush brush_; // the background in a style's colours; none for the system look
    FontCache fonts_;
};

} // namespace merovane::ui
