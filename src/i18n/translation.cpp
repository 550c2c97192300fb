#include "i18n/translation.h"

#include "base/ini_file.h"
#include "base/text_file.h"
#include "base/settings_file.h"
#include "ui/application.h"
#include "ui/form.h"
#include "ui/list_view.h"

#include <windows.h>

namespace merovane {

namespace {

void ProcessMessages()
{
    ui::application::ProcessMessages();
}

// Name of the main window and of the update dialog: the first keeps the
// caption the program composes, the second carries the program's title.
constexpr std::wstring_view kMainWindow = L"Form1";
constexpr std::wstring_view kUpdateDialog = L"Form10";

struct Exclusion {
    std::wstring_view form;
    std::wstring_view component;
};
constexpr Exclusion kExcluded[] = {
    {L"Form1", L"Name"},
    {L"Form1", L"Version"},
    {L"Form8", L"LabelCopyright"},
    {L"Form10", L"LabelLocalVersion"},
    {L"Form10", L"LabelServerVersion"},
};

std::wstring_view KeyOf(std::wstring_view line)
{
    const size_t equals = line.find(L'=');
    return equals == std::wstring_view::npos ? std::wstring_view() : line.substr(0, equals);
}

} // namespace

bool SkipTranslation(std::wstring_view text)
{
    return text.empty() || text == L"-" || ParseIniInteger(text).has_value();
}

bool ExcludedFromTranslation(const ui::Form& form, const ui::Component& component)
{
    switch (component.GetKind()) {
    case ui::Kind::StatusBar:
    case ui::Kind::TrayIcon:
        return true;
    default:
        break;
    }
    for (const Exclusion& excluded : kExcluded) {
        if (IniNamesEqual(form.Name(), excluded.form) && IniNamesEqual(component.Name(), excluded.component)) {
            return true;
        }
    }
    return false;
}

int Translator::FindTranslationKey(std::wstring_view key) const
{
    for (size_t i = 0; i < remaining_.size(); ++i) {
        const size_t equals = remaining_[i].find(L'=');
        if (equals != std::wstring::npos && IniNamesEqual(std::wstring_view(remaining_[i]).substr(0, equals), key)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::wstring Translator::LookupTranslation(std::wstring_view key, std::wstring_view builtIn)
{
    const int index = FindTranslationKey(key);
    if (index < 0) {
        std::wstring line(key);
        line += L'=';
        line += builtIn;
        missing_.push_back(std::move(line));
        ProcessMessages();
        return std::wstring(builtIn);
    }
    const std::wstring& entry = remaining_[static_cast<size_t>(index)];
    std::wstring result = entry.substr(KeyOf(entry).size() + 1);
    remaining_.erase(remaining_.begin() + index);
    ProcessMessages();
    return result;
}

void Translator::TranslateProperty(ui::Component& component, std::wstring_view property)
{
    const std::optional<std::wstring> text = component.GetText(property);
    if (!text) {
        return;
    }
    ProcessMessages();
    if (!SkipTranslation(*text)) {
        std::wstring key = current_->Name();
        key += L'.';
        key += component.Name();
        key += L'.';
        key += property;
        const std::wstring result = LookupTranslation(key, *text);
        ProcessMessages();
        if (!result.empty()) {
            component.SetText(property, result);
        }
    }
    ProcessMessages();
}

void Translator::TranslateValue(std::wstring& text, std::wstring_view key)
{
    if (SkipTranslation(text)) {
        return;
    }
    std::wstring result = LookupTranslation(key, text);
    ProcessMessages();
    if (!result.empty()) {
        text = std::move(result);
    }
    ProcessMessages();
}

void Translator::TranslateStrings(std::vector<std::wstring>& lines, std::wstring_view prefix)
{
    const std::vector<std::wstring> copy = lines;
    for (size_t i = 0; i < copy.size(); ++i) {
        ProcessMessages();
        if (!SkipTranslation(copy[i])) {
            std::wstring key(prefix);
            key += L'[';
            key += std::to_wstring(i);
            key += L']';
            std::wstring result = LookupTranslation(key, copy[i]);
            if (!result.empty() && i < lines.size()) {
                lines[i] = std::move(result);
            }
        }
        ProcessMessages();
    }
}

bool Translator::TranslateForm(ui::Form& form, std::wstring_view section, const LocalePaths& paths)
{
    // Pending messages are processed between the steps, so a handler can call
    // back in here while a pass runs; that call is refused rather than let two
    // passes share the lists.
    if (running_) {
        return false;
    }
    const std::wstring languageFile = paths.LanguageFile(paths.ActiveLanguage());
    if (languageFile.empty()) {
        return false; // no language chosen
    }
    const DWORD attributes = ::GetFileAttributesW(languageFile.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }

    running_ = true;
    section_ = section;
    remaining_.clear();
    missing_.clear();
    const bool logExists = ::GetFileAttributesW(paths.missingKeysLog.c_str()) != INVALID_FILE_ATTRIBUTES;
    try {
        const IniFile language = IniFile::Load(languageFile);
        if (const IniSection* entries = language.FindSection(section_)) {
            for (const IniEntry& entry : entries->entries) {
                remaining_.push_back(entry.value ? entry.key + L'=' + *entry.value : entry.key);
            }
        }
        if (logExists) {
            if (auto lines = ReadTextLines(paths.missingKeysLog)) {
                missing_ = std::move(*lines);
            }
        }
        const size_t preloaded = missing_.size();
        Translate(form);
        remaining_.clear();
        ProcessMessages();
        if (logExists && missing_.size() > preloaded) {
            WriteUtf16Lines(paths.missingKeysLog, missing_);
        }
    } catch (...) {
        // An error ends this window's pass; what was translated stays.
    }
    remaining_.clear();
    missing_.clear();
    current_ = nullptr;
    running_ = false;
    ProcessMessages();
    return true;
}

void Translator::Translate(ui::Form& form)
{
    current_ = &form;
    if (!IniNamesEqual(form.Name(), kMainWindow)) {
        // Written even when empty: an empty value empties the caption.
        form.SetCaption(LookupTranslation(form.Name() + L".Caption", form.Caption()));
    }
    if (IniNamesEqual(form.Name(), kUpdateDialog)) {
        // The caption keeps the title from an earlier pass when this file has
        // no caption of its own; it must not gain a second one.
        const std::wstring suffix = L" " + std::wstring(kApplicationTitle);
        const std::wstring caption = form.Caption();
        if (caption.size() < suffix.size() || caption.compare(caption.size() - suffix.size(), suffix.size(), suffix) != 0) {
            form.SetCaption(caption + suffix);
        }
    }
    for (const auto& owned : form.Components()) {
        ui::Component& component = *owned;
        if (ExcludedFromTranslation(form, component)) {
            continue;
        }
        for (const std::wstring_view property : ui::kTextProperties) {
            TranslateProperty(component, property);
        }
        ProcessMessages();
        if (auto* list = dynamic_cast<ui::ListView*>(&component)) {
            for (int column = 0; column < list->ColumnCount(); ++column) {
                std::wstring text = list->ColumnCaption(column);
                TranslateValue(text, form.Name() + L'.' + component.Name() + L".Columns[" + std::to_wstring(column) +
                                         L"].Caption");
                list->SetColumnCaption(column, text);
                ProcessMessages();
            }
        }
        if (auto* tabs = dynamic_cast<ui::TabControl*>(&component)) {
            std::vector<std::wstring> captions = tabs->Tabs();
            TranslateStrings(captions, form.Name() + L'.' + component.Name() + L".Tabs ");
            tabs->SetTabs(std::move(captions));
            ProcessMessages();
        }
    }
}

} // namespace merovane
