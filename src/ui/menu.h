#pragma once

// Menu items and popup menus. The items are components of the form (so their
// captions are translated like any other); the system menu is built from them
// each time the menu opens, so visibility, check marks and captions are always
// current.

#include "ui/component.h"

#include "base/handles.h"

#include <memory>
#include <vector>

namespace merovane::ui {

class MenuItem : public Component {
public:
    MenuItem(Form& owner, const ComponentDef& def, UINT id);
    ~MenuItem() override;

    [[nodiscard]] bool HasCaption() const override { return true; }
    [[nodiscard]] bool HasHint() const override { return true; }
    [[nodiscard]] UINT Id() const noexcept { return id_; }
    [[nodiscard]] bool IsSeparator() const noexcept { return caption_ == L"-"; }

    [[nodiscard]] bool Checked() const noexcept { return checked_; }
    void SetChecked(bool checked);
    [[nodiscard]] bool RadioItem() const noexcept { return radio_; }
    [[nodiscard]] bool Visible() const noexcept { return visible_; }
    void SetVisible(bool visible) noexcept { visible_ = visible; }
    [[nodiscard]] bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled) noexcept { enabled_ = enabled; }
    [[nodiscard]] const std::wstring& Shortcut() const noexcept { return shortcut_; }
    // Shows the caption as it is: an "&" is not an access-key marker.
    void SetLiteralCaption(bool literal) noexcept { literal_ = literal; }
    [[nodiscard]] bool LiteralCaption() const noexcept { return literal_; }

    [[nodiscard]] const std::vector<MenuItem*>& Items() const noexcept { return items_; }

    // Entries made at run time (the language list): owned by this item, not
    // components of the form, so neither translated nor judged by the
    // language-file cleanup.
    MenuItem& AddItem(std::wstring_view caption, bool radio, bool autoCheck, int group = 0);
    void ClearItems();

    // What a choice of the item does: check marks as its kind says, then onClick.
    void Click();

    std::function<void(MenuItem&)> onClick;

private:
    friend class PopupMenu;
    friend class Form;
    void Attach(MenuItem* child) { items_.push_back(child); child->parentItem_ = this; }

    UINT id_;
    bool checked_;
    bool radio_;
    bool autoCheck_;
    int group_;
    bool visible_;
    bool enabled_;
    bool literal_ = false;
    std::wstring shortcut_;
    MenuItem* parentItem_ = nullptr;
    std::vector<MenuItem*> items_;
    std::vector<std::unique_ptr<MenuItem>> runtimeItems_;
};

class PopupMenu : public Component {
public:
    PopupMenu(Form& owner, const ComponentDef& def);

    [[nodiscard]] const std::vector<MenuItem*>& Items() const noexcept { return items_; }

    // The system menu for the items as they are now: hidden items left out,
    // separators that would stand first, last or doubled dropped.
    [[nodiscard]] unique_hmenu Build() const;

    // Shows the menu at a screen point and runs the chosen item. Blocks until
    // the menu closes. Returns whether an item was chosen (which its handler
    // may already have destroyed, as the language entries do).
    bool Popup(HWND owner, POINT screenPoint, UINT alignment = TPM_LEFTALIGN | TPM_TOPALIGN);

    std::function<void()> onPopup;

private:
    friend class Form;
    void Attach(MenuItem* item) { items_.push_back(item); }
    [[nodiscard]] MenuItem* FindById(UINT id) const;

    std::vector<MenuItem*> items_;
};

} // namespace merovane::ui
