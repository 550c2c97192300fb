#pragma once

// Components of a form: named parts with a kind and text properties read and
// written by name. Windowed kinds wrap a Win32 control; menu items, popup
// menus, the tray icon and timers are components without a window of their own.

#include "ui/form_definition.h"

#include "base/handles.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::ui {

class Form;

// The text properties the translation engine and the language files know.
inline constexpr std::wstring_view kTextProperties[] = {L"Caption", L"Hint", L"Title", L"Text", L"TextHint"};

class Component {
public:
    Component(Form& owner, const ComponentDef& def);
    virtual ~Component() = default;
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    [[nodiscard]] const std::wstring& Name() const noexcept { return name_; }
    [[nodiscard]] Kind GetKind() const noexcept { return kind_; }
    [[nodiscard]] Form& Owner() const noexcept { return owner_; }
    [[nodiscard]] Component* Parent() const noexcept { return parent_; }
    [[nodiscard]] const ComponentDef& Definition() const noexcept { return def_; }

    // A text property by name; nothing when this kind has no such property.
    [[nodiscard]] virtual std::optional<std::wstring> GetText(std::wstring_view property) const;
    // False, changing nothing, when this kind has no such property.
    virtual bool SetText(std::wstring_view property, std::wstring_view value);

    [[nodiscard]] std::wstring Caption() const { return GetText(L"Caption").value_or(std::wstring()); }
    void SetCaption(std::wstring_view caption) { SetText(L"Caption", caption); }

    // Which text properties this kind has.
    [[nodiscard]] virtual bool HasCaption() const { return false; }
    [[nodiscard]] virtual bool HasHint() const { return false; }

protected:
    friend class Form;
    virtual void CaptionChanged() {}
    // Sees each message of the form's window before the window does; true
    // when it handled the message, with `result` its answer.
    virtual bool HandleFormMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& /*result*/)
    {
        return false;
    }

    std::wstring caption_;
    std::wstring hint_;

private:
    Form& owner_;
    ComponentDef def_;
    std::wstring name_;
    Kind kind_;
    Component* parent_ = nullptr;
};

// A component with a window: position, size, visibility and enabled state.
class Control : public Component {
public:
    Control(Form& owner, const ComponentDef& def);
    ~Control() override;

    [[nodiscard]] HWND Handle() const noexcept { return hwnd_; }
    [[nodiscard]] int ControlId() const noexcept { return id_; }
    [[nodiscard]] bool HasCaption() const override { return true; }
    [[nodiscard]] bool HasHint() const override { return true; }

    // As the definition says; the layout counts on shown controls staying shown.
    [[nodiscard]] bool Visible() const noexcept { return (Definition().flags & Hidden) == 0; }
    [[nodiscard]] bool Enabled() const noexcept { return (Definition().flags & Disabled) == 0; }

    // Position in 96-DPI units inside the parent's client area.
    [[nodiscard]] const Bounds& DesignBounds() const noexcept { return Definition().bounds; }

    // Notifications the form reflects back to the control that sent them.
    virtual void OnCommand(WORD /*code*/) {}
    // Owner-drawn controls paint here; false when this kind draws itself.
    virtual bool DrawItem(const DRAWITEMSTRUCT& /*item*/) { return false; }
    // Takes on the window's visual style.
    virtual void ApplyStyle() {}
    // Sizes the control keeps in pixels of its own follow a new monitor DPI.
    virtual void DpiChanged(UINT /*oldDpi*/, UINT /*newDpi*/) {}
    virtual LRESULT OnNotify(NMHDR& /*header*/, bool& handled)
    {
        handled = false;
        return 0;
    }

    std::function<void()> onClick;

protected:
    friend class Form;
    // Creates the window as a child of `parent`; called by the form in definition order.
    virtual void CreateWindowIn(HWND parent) = 0;
    HWND CreateChild(HWND parent, const wchar_t* windowClass, DWORD style, DWORD exStyle = 0,
                     std::wstring_view text = {});
    void CaptionChanged() override;
    void ApplyFont();

    HWND hwnd_ = nullptr;
    int id_ = 0;
};

class Label : public Control {
public:
    using Control::Control;
    void OnCommand(WORD code) override;

protected:
    void CreateWindowIn(HWND parent) override;
};

class Button : public Control {
public:
    using Control::Control;
    void OnCommand(WORD code) override;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;
    void Click();

protected:
    void CreateWindowIn(HWND parent) override;
};

// A flat button that never takes the focus; it can be drawn pressed.
class SpeedButton : public Control {
public:
    using Control::Control;
    ~SpeedButton() override;
    void OnCommand(WORD code) override;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;
    // Shown pressed, as a button that marks an open menu.
    [[nodiscard]] bool Down() const noexcept { return down_; }
    void SetDown(bool down);
    void Click();

protected:
    void CreateWindowIn(HWND parent) override;

private:
    static LRESULT CALLBACK PressWithoutFocus(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                              DWORD_PTR data) noexcept;
    bool down_ = false;
    bool pressed_ = false; // the mouse button went down on it and is held
};

// Check box: a change of state, by the user or by code, runs onClick.
class CheckBox : public Control {
public:
    CheckBox(Form& owner, const ComponentDef& def);
    [[nodiscard]] bool Checked() const noexcept { return checked_; }
    void SetChecked(bool checked);
    void OnCommand(WORD code) override;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;

protected:
    void CreateWindowIn(HWND parent) override;
    bool checked_;
};

// Radio button: becoming checked unchecks the radio buttons of the same parent
// and runs onClick; becoming unchecked runs nothing.
class RadioButton : public Control {
public:
    RadioButton(Form& owner, const ComponentDef& def);
    [[nodiscard]] bool Checked() const noexcept { return checked_; }
    void SetChecked(bool checked);
    void OnCommand(WORD code) override;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;

protected:
    void CreateWindowIn(HWND parent) override;

private:
    void ShowState();
    bool checked_;
};

// Group boxes and tab controls used as panels: containers for other controls.
class Container : public Control {
public:
    using Control::Control;
    // Offset of the children's coordinates inside the container, in 96-DPI units.
    [[nodiscard]] int Inset() const noexcept;

protected:
    void CreateWindowIn(HWND parent) override;
};

// A tab control; without tabs it is a framed panel.
class TabControl : public Container {
public:
    TabControl(Form& owner, const ComponentDef& def);
    [[nodiscard]] bool HasCaption() const override { return false; }
    [[nodiscard]] const std::vector<std::wstring>& Tabs() const noexcept { return tabs_; }
    void SetTabs(std::vector<std::wstring> tabs);

private:
    std::vector<std::wstring> tabs_;
};

class StatusBar : public Control {
public:
    using Control::Control;
    [[nodiscard]] bool HasCaption() const override { return false; }
    [[nodiscard]] std::wstring Text() const { return text_; }
    void SetStatusText(std::wstring_view text);
    void ApplyStyle() override;

protected:
    void CreateWindowIn(HWND parent) override;

private:
    static LRESULT CALLBACK StyledPaint(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR data) noexcept;
    std::wstring text_;
};

// The system's hot-key control: the value is HKM_GETHOTKEY's (virtual key in
// the low byte, HOTKEYF_* in the high byte), 0 for none.
class HotKey : public Control {
public:
    using Control::Control;
    [[nodiscard]] bool HasCaption() const override { return false; }
    [[nodiscard]] WORD Value() const noexcept;
    void SetValue(WORD value);
    void OnCommand(WORD code) override;

    // The user changed the combination (not run by SetValue).
    std::function<void()> onChange;

protected:
    void CreateWindowIn(HWND parent) override;
};

// A hot-key value as the keyboard names it, "Ctrl+Alt+H"; "" for none.
std::wstring HotKeyText(WORD value);

class ProgressBar : public Control {
public:
    using Control::Control;
    [[nodiscard]] bool HasCaption() const override { return false; }
    [[nodiscard]] int Position() const noexcept { return position_; }
    void SetPosition(int position);
    void SetMaximum(int maximum);
    void ApplyStyle() override;

protected:
    void CreateWindowIn(HWND parent) override;

private:
    int position_ = 0;
    int maximum_ = 100;
};

class Image : public Control {
public:
    using Control::Control;
    [[nodiscard]] bool HasCaption() const override { return false; }
    // Takes ownership of the icon.
    void SetIcon(HICON icon);

protected:
    void CreateWindowIn(HWND parent) override;

private:
    unique_hicon icon_;
};

} // namespace merovane::ui
