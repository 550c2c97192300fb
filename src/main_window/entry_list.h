#pragma once

// The main window's list of notification-area entries: a row with a check
// box per entry, the per-app rules as the rows show them, delete and reveal,
// the taskbar order, the icons' images and the status texts about the list.
// It knows the window only through the controls and the Host it is given.

#include "base/locale_paths.h"
#include "core/app_rules.h"
#include "core/icon_images.h"
#include "core/icon_list.h"
#include "core/organisation_rules.h"
#include "core/promotion_watcher.h"
#include "ui/form_definition.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace merovane::ui {
class ListView;
class MenuItem;
class StatusBar;
} // namespace merovane::ui

namespace merovane {

// A file in the settings file's folder (Rules.ini's neighbours).
[[nodiscard]] std::wstring FileBesideSettings(const LocalePaths& paths, std::wstring_view name);

class EntryList {
public:
    // What the list needs of the window around it.
    struct Host {
        // A message text of the window's language (a Lang* item).
        std::function<std::wstring(ui::Named<ui::MenuItem>)> message;
        std::function<LocalePaths()> paths;
        // A rule was saved, or rules turned up while nothing kept to them:
        // the refresh worker follows.
        std::function<void()> rulesChanged;
        // For the icon and text workers' threads: posts to the window while
        // it exists.
        std::function<void(UINT)> postFromWorker;
    };
    // The rule items of a menu: the list's own or the general menu.
    struct RuleItems {
        ui::MenuItem& show;
        ui::MenuItem& hide;
        ui::MenuItem& none;
    };
    struct Controls {
        ui::ListView& list;
        ui::StatusBar& status;
        ui::MenuItem& deleteItem;
        ui::MenuItem& moveUpItem;
        ui::MenuItem& moveDownItem;
        RuleItems entryRules;
        RuleItems generalRules;
    };

    // Outside the range of the form's own command and timer ids: the window
    // passes it back to FollowRulesFile's caller.
    static constexpr UINT_PTR kRulesRetryTimer = 0x7E01;
    // 96-DPI units.
    static constexpr int kMinimumColumnWidth = 200;
    // From this many rows that need their files, the files are read on a
    // worker after the rows are on screen; fewer are read sooner than a
    // worker starts, and their rows never change names under the pointer.
    static constexpr size_t kFilesInBackground = 100;

    // `window` carries the timers and owns the boxes; `organisation` is the
    // keeper's copy of the organisation's rules, replaced when they change;
    // `refresh` is held while rows are read or every icon is shown.
    EntryList(HWND window, Controls controls, Host host, PromotionWatcher& refresh,
              const std::shared_ptr<const OrganisationPolicy>& organisation);
    ~EntryList();
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    void SetStatusText(const std::wstring& text);
    void SetStatusCount(int count);
    [[nodiscard]] int RowCount() const;
    void AttachIconImages(bool large);
    // The icon worker has images for rows that waited for them.
    void ImagesReady();

    // The rows as the registry names them, at once; what their files say
    // (descriptions, companies, paths) follows from a worker.
    void LoadEntries();
    // The file texts' worker has finished.
    void FileTextsReady();
    void SortList();
    // Load, then sort when there are rows: after every showing, cleanup and
    // language choice.
    void ReloadList();
    // Reloads once the current notification is over.
    void PostReload();
    // The reload posted is due.
    void ReloadPosted();
    // Show all / Hide all: rows under a rule keep it.
    void CheckAll(bool checked);

    [[nodiscard]] std::wstring RulesPath() const;
    // Reads Rules.ini again when it changed since the last look; true when
    // the rules differ.
    bool RefreshRules();
    // The rules as read last (the user-interface thread's copy).
    [[nodiscard]] const RulesFileFollower& Rules() const noexcept { return rules_; }
    // Checks the rule items (the list's or the general menu's) for the
    // selected row; without a row or an app they are disabled.
    void PrepareRuleItems(bool generalMenu);
    // Gives the selected row's app the rule (nullopt: none), saves Rules.ini
    // and shows the app's rows as the rule says.
    void SetRuleOfSelected(std::optional<RuleAction> action);
    // The rows' names with their rule's mark; rows of an app with a rule get
    // its state.
    void ShowRules();

    void PrepareEntryMenu();
    void DeleteSelectedEntry();
    void RevealSelectedEntry();
    void DeleteDuplicateEntries();
    void DeleteEntriesOfMissingPrograms();
    // Moves the selected row's icon one place towards the front (-1) or the
    // back (+1) of the taskbar's order and says where it is now.
    void MoveSelectedInOrder(int delta);

private:
    void OnEntryChecked(int row);
    // A tick against the row's rule changes the rule to match.
    void FollowTickWithRule(int row, bool checked);
    // The entry key a row carries ("" for none), and the row carrying a key (-1).
    [[nodiscard]] std::wstring RowKey(int row) const;
    [[nodiscard]] int FindRowByKey(std::wstring_view key) const;
    // The rule of a row's app: the organisation's, else Rules.ini's at the
    // last look.
    [[nodiscard]] std::optional<RuleAction> RuleOfRow(int row) const;
    // The organisation's rule of a row's app.
    [[nodiscard]] std::optional<RuleAction> OrganisationRuleOfRow(int row) const;
    // Saves the rule for the app and applies it at once: rows, their entries
    // and the refresh worker.
    void SetAppRule(const AppIdentity& app, std::optional<RuleAction> action);
    // After entries were deleted: Windows' own settings list them until
    // Explorer restarts, which the status line says.
    void SayDeletedUntilExplorerRestarts();
    [[nodiscard]] std::wstring Message(ui::Named<ui::MenuItem> item) const { return host_.message(item); }
    void WireHandlers();
    // Ends the file texts' worker; what it still reports is ignored.
    void StopFileTexts();
    void StartFileTexts(std::vector<EntryNameSources> pending);
    // The finished rows' texts, and the rows the worker did not finish
    // finished here; then names with marks, one sort and the columns sized.
    void ApplyFileTexts(std::vector<IconEntry> finished);
    void TakeFileTextsIntoRow(int row, IconEntry&& finished);
    // A row the user acts on while the rest are read gets its texts now.
    void FinishRow(int row);
    // Every row gets its texts now.
    void FinishFileTexts();
    // The row's name with its rule's mark.
    [[nodiscard]] std::wstring CaptionOfRow(int row, std::optional<RuleAction> rule) const;

    HWND window_;
    ui::ListView& list_;
    ui::StatusBar& status_;
    Controls controls_;
    Host host_;
    PromotionWatcher& refresh_;
    const std::shared_ptr<const OrganisationPolicy>& organisation_;
    bool loading_ = false;
    bool applyingRules_ = false; // ticks made by a rule change no rule
    bool reloadPosted_ = false;
    RulesFileFollower rules_{L""}; // the user-interface thread's
    UINT rulesRetryMs_ = 0;        // while Rules.ini can't be read
    // What the rows with textsPending are finished from; null when none are.
    std::shared_ptr<const std::vector<EntryNameSources>> pending_;
    std::thread fileTexts_;
    std::atomic<unsigned> fileTextsGeneration_{0}; // one per load
    std::mutex fileTextsMutex_;
    std::vector<IconEntry> finished_; // under the mutex, as is:
    unsigned finishedGeneration_ = 0;
    // Last, so the worker ends before anything it reports to goes.
    std::atomic<bool> iconsPosted_{false};
    IconImageCache icons_;
};

} // namespace merovane
