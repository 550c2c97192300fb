#include "ui/menu.h"

#include "ui/form.h"

namespace merovane::ui {

MenuItem::MenuItem(Form& owner, const ComponentDef& def, UINT id)
    : Component(owner, def), id_(id), checked_((def.flags & Flag::Checked) != 0), radio_((def.flags & Flag::RadioItem) != 0),
      autoCheck_((def.flags & AutoCheck) != 0), group_(def.value), visible_((def.flags & Hidden) == 0),
      enabled_((def.flags & Disabled) == 0), shortcut_(def.shortcut)
{
}

MenuItem::~MenuItem() = default;

void MenuItem::SetChecked(bool checked)
{
    checked_ = checked;
    if (checked && radio_) {
        const std::vector<MenuItem*>* siblings = nullptr;
        if (parentItem_ != nullptr) {
            siblings = &parentItem_->items_;
        } else if (auto* menu = dynamic_cast<PopupMenu*>(Parent())) {
            siblings = &menu->Items();
        }
        if (siblings != nullptr) {
            for (MenuItem* sibling : *siblings) {
                if (sibling != this && sibling->radio_ && sibling->group_ == group_) {
                    sibling->checked_ = false;
                }
            }
        }
    }
}

MenuItem& MenuItem::AddItem(std::wstring_view caption, bool radio, bool autoCheck, int group)
{
    ComponentDef def{.kind = Kind::MenuItem, .name = L""};
    def.flags = (radio ? Flag::RadioItem : NoFlags) | (autoCheck ? AutoCheck : NoFlags);
    def.value = group;
    auto item = std::make_unique<MenuItem>(Owner(), def, Owner().NextCommandId());
    item->caption_ = caption;
    MenuItem& added = *item;
    runtimeItems_.push_back(std::move(item));
    Attach(&added);
    return added;
}

void MenuItem::ClearItems()
{
    std::erase_if(items_, [this](MenuItem* item) {
        for (const auto& owned : runtimeItems_) {
            if (owned.get() == item) {
                return true;
            }
        }
        return false;
    });
    runtimeItems_.clear();
}

void MenuItem::Click()
{
    if (!enabled_) {
        return;
    }
    if (autoCheck_) {
        SetChecked(radio_ ? true : !checked_);
    }
    // A handler may destroy this item (the language menu rebuilds itself), so
    // it runs from a copy and nothing here is touched afterwards.
    if (auto handler = onClick) {
        handler(*this);
    }
}

namespace {

void AppendItems(HMENU menu, const std::vector<MenuItem*>& items)
{
    std::vector<const MenuItem*> shown;
    for (const MenuItem* item : items) {
        if (!item->Visible()) {
            continue;
        }
        // No separator first, doubled or last.
        if (item->IsSeparator() && (shown.empty() || shown.back()->IsSeparator())) {
            continue;
        }
        shown.push_back(item);
    }
    while (!shown.empty() && shown.back()->IsSeparator()) {
        shown.pop_back();
    }
    for (const MenuItem* item : shown) {
        if (item->IsSeparator()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::wstring text;
        for (const wchar_t c : item->Caption()) {
            if (c == L'&' && item->LiteralCaption()) {
                text += L'&';
            }
            text += c;
        }
        if (!item->Shortcut().empty()) {
            text += L'\t';
            text += item->Shortcut();
        }
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
        info.fType = MFT_STRING | (item->RadioItem() ? MFT_RADIOCHECK : 0);
        info.fState = (item->Checked() ? MFS_CHECKED : 0) | (item->Enabled() ? 0 : MFS_DISABLED);
        info.wID = item->Id();
        info.dwTypeData = text.data();
        if (!item->Items().empty()) {
            HMENU submenu = ::CreatePopupMenu();
            AppendItems(submenu, item->Items());
            info.fMask |= MIIM_SUBMENU;
            info.hSubMenu = submenu;
        }
        ::InsertMenuItemW(menu, ::GetMenuItemCount(menu), TRUE, &info);
    }
}

MenuItem* FindIn(const std::vector<MenuItem*>& items, UINT id)
{
    for (MenuItem* item : items) {
        if (item->Id() == id) {
            return item;
        }
        if (MenuItem* found = FindIn(item->Items(), id)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

PopupMenu::PopupMenu(Form& owner, const ComponentDef& def) : Component(owner, def) {}

unique_hmenu PopupMenu::Build() const
{
    unique_hmenu menu(::CreatePopupMenu());
    AppendItems(menu.get(), items_);
    return menu;
}

MenuItem* PopupMenu::FindById(UINT id) const
{
    return FindIn(items_, id);
}

bool PopupMenu::Popup(HWND owner, POINT screenPoint, UINT alignment)
{
    if (onPopup) {
        onPopup();
    }
    unique_hmenu menu = Build();
    // Without this the menu does not close when the user clicks elsewhere.
    ::SetForegroundWindow(owner);
    const UINT id = static_cast<UINT>(::TrackPopupMenuEx(menu.get(), alignment | TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                                         screenPoint.x, screenPoint.y, owner, nullptr));
    ::PostMessageW(owner, WM_NULL, 0, 0);
    MenuItem* chosen = id != 0 ? FindById(id) : nullptr;
    if (chosen == nullptr) {
        return false;
    }
    chosen->Click();
    return true;
}

} // namespace merovane::ui
