// The rows' texts from their files (descriptions, companies, paths), read
// on a worker after the rows are on screen.

#include "main_window/entry_list.h"

#include "core/icon_list.h"
#include "ui/list_view.h"
#include "ui/messages.h"

#include <unordered_map>

namespace merovane {

namespace {

const IconEntry* EntryOf(const ui::ListRow& row)
{
    return std::any_cast<IconEntry>(&row.data);
}

} // namespace

void EntryList::StopFileTexts()
{
    ++fileTextsGeneration_;
    if (fileTexts_.joinable()) {
        fileTexts_.join();
    }
}

void EntryList::StartFileTexts(std::vector<EntryNameSources> pending)
{
    if (pending.empty()) {
        return;
    }
    pending_ = std::make_shared<const std::vector<EntryNameSources>>(std::move(pending));
    const unsigned generation = fileTextsGeneration_.load();
    fileTexts_ = std::thread([this, generation, sources = pending_] {
        const auto stale = [this, generation] { return fileTextsGeneration_.load() != generation; };
        std::vector<IconEntry> finished;
        try {
            finished = FinishPendingEntries(*sources, stale);
        } catch (...) {
            // The rows it did not finish are finished when the rest arrive.
        }
        if (stale()) {
            return;
        }
        {
            const std::lock_guard lock(fileTextsMutex_);
            finished_ = std::move(finished);
            finishedGeneration_ = generation;
        }
        host_.postFromWorker(ui::WM_APP_ENTRYTEXTS);
    });
}

void EntryList::FileTextsReady()
{
    std::vector<IconEntry> finished;
    {
        const std::lock_guard lock(fileTextsMutex_);
        if (finishedGeneration_ != fileTextsGeneration_.load()) {
            return; // from a load replaced since
        }
        finished.swap(finished_);
        finishedGeneration_ = 0;
    }
    if (fileTexts_.joinable()) {
        fileTexts_.join(); // it has posted: it is ending
    }
    ApplyFileTexts(std::move(finished));
}

void EntryList::FinishFileTexts()
{
    if (pending_) {
        StopFileTexts();
        ApplyFileTexts({});
    }
}

void EntryList::TakeFileTextsIntoRow(int row, IconEntry&& finished)
{
    auto* entry = std::any_cast<IconEntry>(&list_.Data(row));
    if (entry == nullptr) {
        return;
    }
    TakeFileTexts(*entry, std::move(finished));
    list_.SetSubItem(row, 0, entry->company);
    list_.SetSubItem(row, 1, entry->executablePath);
}

void EntryList::ApplyFileTexts(std::vector<IconEntry> finished)
{
    if (!pending_) {
        return;
    }
    const std::shared_ptr<const std::vector<EntryNameSources>> pending = std::move(pending_);
    std::unordered_map<std::wstring, int> waiting;
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (const IconEntry* entry = EntryOf(list_.Row(row)); entry != nullptr && entry->textsPending) {
            waiting.emplace(entry->keyName, row);
        }
    }
    list_.BeginUpdate();
    try {
        for (IconEntry& entry : finished) {
            if (const auto found = waiting.find(entry.keyName); found != waiting.end()) {
                TakeFileTextsIntoRow(found->second, std::move(entry));
                waiting.erase(found);
            }
        }
        if (!waiting.empty()) {
            std::vector<EntryNameSources> rest;
            for (const EntryNameSources& sources : *pending) {
                if (waiting.count(sources.keyName) != 0) {
                    rest.push_back(sources);
                }
            }
            for (IconEntry& entry : FinishPendingEntries(rest)) {
                TakeFileTextsIntoRow(waiting.at(entry.keyName), std::move(entry));
            }
        }
        // The names are final: marks and ticks by rule, then one sort that
        // keeps the view where it is.
        ShowRules();
        SortList();
        list_.AutoSizeColumns(kMinimumColumnWidth);
    } catch (...) {
        list_.EndUpdate();
        throw;
    }
    list_.EndUpdate();
}

void EntryList::FinishRow(int row)
{
    const IconEntry* entry = row >= 0 && row < list_.RowCount() ? EntryOf(list_.Row(row)) : nullptr;
    if (entry == nullptr || !entry->textsPending || !pending_) {
        return;
    }
    for (const EntryNameSources& sources : *pending_) {
        if (sources.keyName == entry->keyName) {
            std::vector<IconEntry> finished = FinishPendingEntries({sources});
            if (!finished.empty()) {
                TakeFileTextsIntoRow(row, std::move(finished.front()));
                list_.SetCaption(row, CaptionOfRow(row, RuleOfRow(row)));
            }
            return;
        }
    }
}

} // namespace merovane
