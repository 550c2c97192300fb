#include "main_window/entry_list.h"

#include "base/application_title.h"
#include "base/error.h"
#include "base/file_info.h"
#include "base/ini_file.h"
#include "core/icon_list.h"
#include "core/icon_order.h"
#include "core/icon_store.h"
#include "core/show_every_icon.h"
#include "core/tray_actions.h"
#include "main_window/main_window_definition.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"

#include <commctrl.h>

#include <algorithm>

namespace merovane {

using namespace main_window;

namespace {


// The entry a row of the list stands for.
const IconEntry* EntryOf(const ui::ListRow& row)
{
    return std::any_cast<IconEntry>(&row.data);
}

std::optional<AppIdentity> AppOf(const IconEntry& entry)
{
    return IdentifyApp(entry.executablePath, entry.company, entry.iconGuid);
}

} // namespace

std::wstring FileBesideSettings(const LocalePaths& paths, std::wstring_view name)
{
    const std::wstring& settings = paths.settingsFile;
    const size_t separator = settings.find_last_of(L"\\/");
    return (separator == std::wstring::npos ? std::wstring() : settings.substr(0, separator + 1)) + std::wstring(name);
}

EntryList::EntryList(HWND window, Controls controls, Host host, PromotionWatcher& refresh,
                     const std::shared_ptr<const OrganisationPolicy>& organisation)
    : window_(window), list_(controls.list), status_(controls.status), controls_(controls), host_(std::move(host)),
      refresh_(refresh), organisation_(organisation), icons_([this] {
          if (!iconsPosted_.exchange(true)) {
              host_.postFromWorker(ui::WM_APP_ICONSREADY);
          }
      })
{
    list_.SetMinimumColumnWidth(kMinimumColumnWidth); // also before the first load finds rows
    WireHandlers();
}

EntryList::~EntryList()
{
    StopFileTexts();
    // The image lists go with the icon cache, before the list view.
    if (list_.Handle() != nullptr) {
        ListView_SetImageList(list_.Handle(), nullptr, LVSIL_NORMAL);
        ListView_SetImageList(list_.Handle(), nullptr, LVSIL_SMALL);
    }
}

void EntryList::WireHandlers()
{
    list_.onItemChecked = [this](int row) { OnEntryChecked(row); };
    list_.onImageNeeded = [this](const ui::ListRow& row) {
        const IconEntry* entry = EntryOf(row);
        if (entry == nullptr || entry->textsPending) {
            return -1; // the path may still change
        }
        try {
            return icons_.Find(*entry).value_or(-1);
        } catch (...) {
            return -1; // the row goes without its icon
        }
    };
    list_.onKeyDown = [this](WORD key, bool& handled) {
        if (key == VK_DELETE && list_.Selected() >= 0) {
            DeleteSelectedEntry();
            handled = true;
        }
    };
    list_.describeRowState = [this](int row) {
        return Message(list_.Row(row).checked ? kLangRowShown : kLangRowHidden);
    };
    list_.onAltKeyDown = [this](WORD key, bool& handled) {
        if ((key == VK_UP || key == VK_DOWN) && list_.Selected() >= 0) {
            ui::application::ReportingErrors([this, key] { MoveSelectedInOrder(key == VK_UP ? -1 : +1); });
            handled = true;
        }
    };
}

void EntryList::SetStatusText(const std::wstring& text)
{
    status_.SetStatusText(text);
}

int EntryList::RowCount() const
{
    return list_.RowCount();
}

void EntryList::ImagesReady()
{
    iconsPosted_ = false;
    list_.RedrawVisibleRows();
}

void EntryList::ReloadPosted()
{
    reloadPosted_ = false;
    ReloadList();
}

void EntryList::AttachIconImages(bool large)
{
    HWND view = list_.Handle();
    HIMAGELIST images = icons_.Images(large);
    if (view == nullptr || images == nullptr) {
        return;
    }
    // The cache owns the lists; the view only shows them.
    const LONG_PTR style = ::GetWindowLongPtrW(view, GWL_STYLE);
    if ((style & LVS_SHAREIMAGELISTS) == 0) {
        ::SetWindowLongPtrW(view, GWL_STYLE, style | LVS_SHAREIMAGELISTS);
    }
    ListView_SetImageList(view, images, LVSIL_NORMAL);
    ListView_SetImageList(view, images, LVSIL_SMALL);
}

void EntryList::SetStatusCount(int count)
{
    status_.SetStatusText(Message(kLangElements) + L" " + std::to_wstring(count));
}

void EntryList::LoadEntries()
{
    status_.SetStatusText(L"");
    // The language file is read once for the whole load.
    const IniFile language = ReadActiveLanguageFile(host_.paths());

    StopFileTexts();
    pending_.reset();
    const PromotionWatcher::Hold hold(refresh_); // a pass waits until the rows are read
    list_.BeginUpdate();
    loading_ = true;
    IconListLoad load;
    try {
        list_.Clear();
        load = ReadNotifyIconEntriesFromRegistry(language);
        // A few files are read sooner than a worker starts, and the rows
        // then never change their names under the pointer.
        if (load.pending.size() < kFilesInBackground) {
            FinishPendingEntries(load);
        }
        for (IconEntry& entry : load.entries) {
            ui::ListRow row{entry.displayName, ui::ListRow::kImageOnDemand, {entry.company, entry.executablePath},
                            entry.promoted};
            row.data = std::move(entry);
            list_.AddRow(std::move(row));
        }
    } catch (...) {
        list_.EndUpdate();
        loading_ = false;
        throw;
    }
    list_.EndUpdate();
    loading_ = false;
    ::InvalidateRect(list_.Handle(), nullptr, TRUE);

    if (!load.listed) {
        SetStatusCount(0);
        return;
    }
    if (list_.RowCount() > 0) {
        list_.AutoSizeColumns(kMinimumColumnWidth);
    }
    SetStatusCount(list_.RowCount());
    StartFileTexts(std::move(load.pending));
}

void EntryList::ReloadList()
{
    LoadEntries();
    ShowRules();
    if (list_.RowCount() > 0) {
        SortList();
    }
    // Rules made by the command line while nothing was watched start the
    // worker now.
    if (!refresh_.Running() && (!rules_.Rules().Empty() || !organisation_->rules.empty())) {
        host_.rulesChanged();
    }
}

void EntryList::PostReload()
{
    if (!reloadPosted_) {
        reloadPosted_ = ::PostMessageW(window_, ui::WM_APP_RELOADLIST, 0, 0) != FALSE;
    }
}

void EntryList::SortList()
{
    try {
        list_.Sort([](const ui::ListRow& a, const ui::ListRow& b) {
            const IconEntry* entryA = EntryOf(a);
            const IconEntry* entryB = EntryOf(b);
            return entryA != nullptr && entryB != nullptr ? CompareIconEntries(*entryA, *entryB) : 0;
        });
    } catch (...) {
        // The rows stay in load order.
    }
}

std::wstring EntryList::RowKey(int row) const
{
    const IconEntry* entry = EntryOf(list_.Row(row));
    return entry != nullptr ? entry->keyName : std::wstring();
}

int EntryList::FindRowByKey(std::wstring_view key) const
{
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (RowKey(row) == key) {
            return row;
        }
    }
    return -1;
}

void EntryList::OnEntryChecked(int row)
{
    if (loading_) {
        return;
    }
    FinishRow(row); // the tick's rule is that of the app the file names
    const std::wstring key = RowKey(row);
    if (key.empty()) {
        return;
    }
    const std::wstring caption = list_.Row(row).caption;
    const bool checked = list_.Row(row).checked;
    // The organisation's rule is not the user's to change: the tick goes back.
    if (const std::optional<RuleAction> held = OrganisationRuleOfRow(row);
        !applyingRules_ && held && checked != (*held == RuleAction::Show)) {
        applyingRules_ = true;
        list_.SetChecked(row, !checked);
        applyingRules_ = false;
        return;
    }
    if (!applyingRules_) {
        FollowTickWithRule(row, checked);
    }
    const ShownChange change = SetShownWhereDifferent({EntryOf(list_.Row(row)), 1}, checked);
    if (change.failure) {
        throw InContext(FormatText(Message(kLangIconNotChanged), caption), *change.failure);
    }
    if (!change.gone.empty()) {
        // Explorer or the user removed the entry: nothing is written, and the
        // list is read again once this notification is over.
        PostReload();
        return;
    }
    if (auto* entry = std::any_cast<IconEntry>(&list_.Data(row))) {
        entry->promoted = checked;
        entry->hasIsPromoted = true;
    }
}

void EntryList::FollowTickWithRule(int row, bool checked)
{
    // A rule would undo the tick at the next pass: the tick says what the
    // user wants for this app from now on, so the rule follows it. It is
    // saved before the entry is written, so no pass sees the new value
    // under the old rule.
    const IconEntry* entry = EntryOf(list_.Row(row));
    if (entry == nullptr) {
        return;
    }
    RefreshRules();
    const std::optional<AppIdentity> app = AppOf(*entry);
    const std::optional<RuleAction> rule = app ? rules_.Rules().ActionFor(*app) : std::nullopt;
    const RuleAction wanted = checked ? RuleAction::Show : RuleAction::Hide;
    if (!rule || *rule == wanted) {
        return;
    }
    const std::wstring name = entry->displayName;
    try {
        SetAppRule(*app, wanted);
    } catch (...) {
        // The rule stays, and so does the row.
        applyingRules_ = true;
        list_.SetChecked(row, !checked);
        applyingRules_ = false;
        throw;
    }
    status_.SetStatusText(FormatText(Message(checked ? kLangRuleNowShow : kLangRuleNowHide), name));
}

void EntryList::CheckAll(bool checked)
{
    FinishFileTexts(); // a row's rule needs its file
    RefreshRules();
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (!RuleOfRow(row)) {
            list_.SetChecked(row, checked);
        }
    }
}

std::wstring EntryList::RulesPath() const
{
    return RulesPathBeside(host_.paths().settingsFile);
}

bool EntryList::RefreshRules()
{
    if (std::wstring path = RulesPath(); path != rules_.Path()) {
        rules_ = RulesFileFollower(std::move(path));
    }
    const bool changed = rules_.Refresh();
    // Held open by another program for a while: tried again, less often the
    // longer it lasts; a change in the folder tries at once.
    if (rules_.ReadFailed() && window_ != nullptr) {
        rulesRetryMs_ = rulesRetryMs_ == 0 ? 250 : std::min<UINT>(rulesRetryMs_ * 2, 30'000);
        ::SetTimer(window_, kRulesRetryTimer, rulesRetryMs_, nullptr);
    } else if (!rules_.ReadFailed() && rulesRetryMs_ != 0) {
        rulesRetryMs_ = 0;
        ::KillTimer(window_, kRulesRetryTimer);
    }
    return changed;
}

std::optional<RuleAction> EntryList::OrganisationRuleOfRow(int row) const
{
    const IconEntry* entry = EntryOf(list_.Row(row));
    if (entry == nullptr || organisation_->rules.empty()) {
        return std::nullopt;
    }
    const std::optional<AppIdentity> app = AppOf(*entry);
    return app ? organisation_->ActionFor(*app) : std::nullopt;
}

std::optional<RuleAction> EntryList::RuleOfRow(int row) const
{
    if (const std::optional<RuleAction> organisations = OrganisationRuleOfRow(row)) {
        return organisations;
    }
    const IconEntry* entry = EntryOf(list_.Row(row));
    if (entry == nullptr || rules_.Rules().Empty()) {
        return std::nullopt;
    }
    const std::optional<AppIdentity> app = AppOf(*entry);
    return app ? rules_.Rules().ActionFor(*app) : std::nullopt;
}

void EntryList::PrepareRuleItems(bool generalMenu)
{
    const RuleItems& items = generalMenu ? controls_.generalRules : controls_.entryRules;
    ui::MenuItem& show = items.show;
    ui::MenuItem& hide = items.hide;
    ui::MenuItem& none = items.none;
    RefreshRules();
    const int row = list_.Selected();
    FinishRow(row);
    const IconEntry* entry = row >= 0 ? EntryOf(list_.Row(row)) : nullptr;
    const bool hasApp = entry != nullptr && AppOf(*entry).has_value();
    const std::optional<RuleAction> rule = hasApp ? RuleOfRow(row) : std::nullopt;
    const bool organisations = hasApp && OrganisationRuleOfRow(row).has_value();
    for (ui::MenuItem* item : {&show, &hide, &none}) {
        item->SetEnabled(hasApp && !organisations);
    }
    show.SetChecked(hasApp && rule == RuleAction::Show);
    hide.SetChecked(hasApp && rule == RuleAction::Hide);
    none.SetChecked(hasApp && !rule);
}

void EntryList::SetRuleOfSelected(std::optional<RuleAction> action)
{
    const int row = list_.Selected();
    FinishRow(row);
    const IconEntry* entry = row >= 0 ? EntryOf(list_.Row(row)) : nullptr;
    if (entry == nullptr) {
        return;
    }
    if (const std::optional<AppIdentity> app = AppOf(*entry)) {
        SetAppRule(*app, action);
    }
}

void EntryList::SetAppRule(const AppIdentity& app, std::optional<RuleAction> action)
{
    FinishFileTexts(); // every row of the app is known by its file
    // Read, changed and written at once, so rules the command line set
    // meanwhile stay.
    const std::wstring path = RulesPath();
    try {
        AppRules rules = LoadRules(path);
        SetRuleForApps(rules, {&app, 1}, action, path);
    } catch (const Error& error) {
        throw InContext(FormatText(Message(kLangRulesNotSaved), path), error);
    }
    RefreshRules();
    ShowRules();
    host_.rulesChanged();
}

std::wstring EntryList::CaptionOfRow(int row, std::optional<RuleAction> rule) const
{
    const IconEntry* entry = EntryOf(list_.Row(row));
    if (entry == nullptr) {
        return list_.Row(row).caption;
    }
    if (OrganisationRuleOfRow(row)) {
        return FormatText(Message(*rule == RuleAction::Show ? kLangPolicyShowMark : kLangPolicyHideMark),
                          entry->displayName);
    }
    if (rule) {
        return FormatText(Message(*rule == RuleAction::Show ? kLangRuleShowMark : kLangRuleHideMark),
                          entry->displayName);
    }
    return entry->displayName;
}

void EntryList::ShowRules()
{
    RefreshRules();
    const bool wasApplying = applyingRules_;
    applyingRules_ = true;
    try {
        for (int row = 0; row < list_.RowCount(); ++row) {
            const IconEntry* entry = EntryOf(list_.Row(row));
            if (entry == nullptr) {
                continue;
            }
            if (entry->textsPending) {
                continue; // its rule is known once its file is
            }
            const std::optional<RuleAction> rule = RuleOfRow(row);
            const std::wstring caption = CaptionOfRow(row, rule);
            if (caption != list_.Row(row).caption) {
                list_.SetCaption(row, caption);
            }
            // The entry follows its rule now, not at the worker's next pass
            // (which may not run at all while nothing changes).
            // Not while every icon is shown for now: that wins until it ends.
            if (rule && !ShowEveryIconActive() && list_.Row(row).checked != (*rule == RuleAction::Show)) {
                list_.SetChecked(row, *rule == RuleAction::Show);
            }
        }
    } catch (...) {
        applyingRules_ = wasApplying;
        throw;
    }
    applyingRules_ = wasApplying;
}

void EntryList::PrepareEntryMenu()
{
    controls_.deleteItem.SetEnabled(list_.Selected() >= 0);
    // Movable when the taskbar's order holds the row's icon.
    bool movable = false;
    if (const int row = list_.Selected(); row >= 0) {
        try {
            const std::optional<IconId> id = IconIdFromKeyName(RowKey(row));
            const StoredIconOrder stored = ReadIconOrder();
            movable = id && stored.binary && stored.ids &&
                      std::find(stored.ids->begin(), stored.ids->end(), *id) != stored.ids->end();
        } catch (const Error&) {
            movable = false;
        }
    }
    controls_.moveUpItem.SetEnabled(movable);
    controls_.moveDownItem.SetEnabled(movable);
    PrepareRuleItems(false);
}

void EntryList::DeleteSelectedEntry()
{
    const int row = list_.Selected();
    if (row < 0) {
        return;
    }
    FinishRow(row);
    // The question runs a message loop in which the list may be reloaded: keep
    // what names the entry, not the row.
    const std::wstring caption = list_.Row(row).caption;
    const std::wstring key = RowKey(row);
    const std::wstring question = Message(kLangDeleteRegistryKey) + L"\r\n\"" + caption + L"\"?";
    if (ui::application::MessageBoxOnScreenCentre(window_, question, kApplicationTitle, MB_YESNO | MB_ICONWARNING) !=
        IDYES) {
        return;
    }
    if (key.empty()) {
        return;
    }
    try {
        DeleteRegistryKey(key);
    } catch (const Error& error) {
        throw InContext(FormatText(Message(kLangEntryNotDeleted), caption), error);
    }
    if (const int current = FindRowByKey(key); current >= 0) {
        list_.DeleteRow(current);
    }
    SayDeletedUntilExplorerRestarts();
}

void EntryList::RevealSelectedEntry()
{
    const int row = list_.Selected();
    if (row < 0) {
        return;
    }
    FinishRow(row); // the path may lose its (x86)
    if (const IconEntry* entry = EntryOf(list_.Row(row))) {
        RevealInExplorer(entry->executablePath);
    }
    ui::application::ProcessMessages();
}

void EntryList::DeleteDuplicateEntries()
{
    if (!CleanUpDuplicates().empty()) {
        ReloadList();
        SayDeletedUntilExplorerRestarts();
    }
}

void EntryList::DeleteEntriesOfMissingPrograms()
{
    FinishFileTexts(); // which programs are missing is known then
    std::vector<IconEntry> entries;
    entries.reserve(static_cast<size_t>(list_.RowCount()));
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (const IconEntry* entry = EntryOf(list_.Row(row))) {
            entries.push_back(*entry);
        }
    }
    if (!CleanUpMissingPrograms(entries).empty()) {
        ReloadList();
        SayDeletedUntilExplorerRestarts();
    }
}

void EntryList::SayDeletedUntilExplorerRestarts()
{
    status_.SetStatusText(Message(kLangElements) + L" " + std::to_wstring(list_.RowCount()) + L". " +
                           Message(kLangAfterExplorerRestart));
}

void EntryList::MoveSelectedInOrder(int delta)
{
    const int row = list_.Selected();
    if (row < 0) {
        return;
    }
    const std::optional<IconId> id = IconIdFromKeyName(RowKey(row));
    try {
        const StoredIconOrder stored = ReadIconOrder();
        const std::vector<IconId>* ids = stored.binary && stored.ids ? &*stored.ids : nullptr;
        if (!id || ids == nullptr || std::find(ids->begin(), ids->end(), *id) == ids->end()) {
            status_.SetStatusText(Message(kLangOrderNotKept));
            return;
        }
        std::vector<IconId> order = *ids;
        // At either end it stays where it is.
        if (std::optional<std::vector<IconId>> moved = MoveIcon(order, *id, delta)) {
            ChangeIconOrder(*moved, FileBesideSettings(host_.paths(), kIconOrderBackupName));
            order = std::move(*moved);
        }
        const auto place = std::find(order.begin(), order.end(), *id) - order.begin() + 1;
        status_.SetStatusText(FormatText(Message(kLangOrderPosition),
                                          std::to_wstring(place) + L"/" + std::to_wstring(order.size())));
    } catch (const Error& error) {
        throw InContext(Message(kLangOrderNotChanged), error);
    }
}

} // namespace merovane
