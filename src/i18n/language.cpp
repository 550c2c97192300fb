#include "i18n/language.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/ini_file.h"
#include "base/settings_file.h"
#include "ui/application.h"
#include "ui/form.h"
#include "ui/menu.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>

namespace merovane {

namespace {

constexpr std::wstring_view kLanguageInformation = L"Language information";
constexpr std::wstring_view kKeptSections[] = {L"Language information", L"DestDir", L"GUID"};

bool EndsWithIni(std::wstring_view name)
{
    return name.size() >= 4 && IniNamesEqual(name.substr(name.size() - 4), L".ini");
}

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A key addresses a window ("Form2.Caption") or one of its components
// ("Form2.CheckBoxToTray.Caption") of a window the program has; one not made
// yet answers by its definition.
bool KeyNamesExistingComponent(std::wstring_view key, const std::vector<ui::Form*>& forms)
{
    const size_t dot = key.find(L'.');
    if (dot == std::wstring_view::npos) {
        return false;
    }
    const std::wstring_view window = key.substr(0, dot);
    const std::wstring_view rest = key.substr(dot + 1);
    for (const ui::Form* form : forms) {
        if (!IniNamesEqual(form->Name(), window)) {
            continue;
        }
        const size_t next = rest.find(L'.');
        if (next == std::wstring_view::npos) {
            return true;
        }
        const std::wstring_view component = rest.substr(0, next);
        if (form->FindComponent(component) != nullptr) {
            return true;
        }
        return form->Handle() == nullptr &&
               std::any_of(form->Definition().components.begin(), form->Definition().components.end(),
                           [&](const ui::ComponentDef& def) { return IniNamesEqual(def.name, component); });
    }
    return false;
}

} // namespace

std::vector<std::wstring> ListLanguageFiles(const std::wstring& directory)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    unique_find find(::FindFirstFileExW((directory + L"*.ini").c_str(), FindExInfoBasic, &data,
                                        FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        return names;
    }
    do {
        const std::wstring_view name = data.cFileName;
        // The pattern also matches long names whose short name ends in .ini.
        if (name != L"." && name != L".." && EndsWithIni(name)) {
            names.emplace_back(name);
        }
    } while (::FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                 b.c_str(), static_cast<int>(b.size()), nullptr, nullptr, 0) == CSTR_LESS_THAN;
    });
    return names;
}

std::wstring LanguageBaseName(std::wstring_view fileName)
{
    const size_t dot = fileName.rfind(L'.');
    return std::wstring(dot == std::wstring_view::npos ? fileName : fileName.substr(0, dot));
}

std::wstring LanguageDisplayName(const std::wstring& file, std::wstring_view baseName)
{
    try {
        return IniFile::Load(file).ReadString(kLanguageInformation, L"LANGNAME", baseName);
    } catch (...) {
        return std::wstring(baseName);
    }
}

std::wstring LanguageMenuCaption(std::wstring_view baseName, std::wstring_view displayName)
{
    std::wstring caption(baseName);
    caption += L"\t\t";
    caption += displayName;
    return caption;
}

std::wstring BaseNameFromMenuCaption(std::wstring_view caption)
{
    return std::wstring(caption.substr(0, caption.find(L'\t')));
}

bool IsActiveLanguage(std::wstring_view baseName, std::wstring_view active)
{
    return baseName == active || IniNamesEqual(baseName, active) || std::wstring(baseName) + L".ini" == active;
}

bool CanOpenForWrite(const std::wstring& file)
{
    // Checked separately: some systems let a privileged user open read-only
    // files for writing, and a read-only file must stay as it is.
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    unique_file handle(
        ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(handle);
}

bool CleanLanguageFile(const std::wstring& file, const std::vector<ui::Form*>& forms)
{
    if (FileExists(file) && !CanOpenForWrite(file)) {
        return false;
    }
    IniFile ini;
    try {
        ini = IniFile::Load(file);
    } catch (...) {
        return false;
    }
    // A file whose bytes did not decode cleanly would be damaged by a rewrite.
    if (!ini.Faithful()) {
        return false;
    }
    const auto tidied = [](const IniSection& section) {
        return std::none_of(std::begin(kKeptSections), std::end(kKeptSections),
                            [&](std::wstring_view kept) { return IniNamesEqual(section.name, kept); });
    };
    const auto translatedKeys = [&] {
        size_t count = 0;
        for (const IniSection& section : ini.Sections()) {
            count += tidied(section) ? section.entries.size() : 0;
        }
        return count;
    };
    const size_t keysBefore = translatedKeys();

    // Keys seen so far in the current section, by folded name. The engine
    // takes the first of equal keys, so the later ones are the repeats.
    const IniSection* current = nullptr;
    std::unordered_map<std::wstring, std::vector<std::wstring>> seen;
    const auto repeated = [&](const IniSection& section, std::wstring_view key) {
        if (&section != current) {
            current = &section;
            seen.clear();
        }
        std::vector<std::wstring>& earlier = seen[FoldIniName(key)];
        if (std::any_of(earlier.begin(), earlier.end(),
                        [&](std::wstring_view other) { return IniNamesEqual(other, key); })) {
            return true;
        }
        earlier.emplace_back(key);
        return false;
    };
    const bool changed = ini.RemoveIf(
        [&](const IniSection& section, const IniEntry& entry) {
            return tidied(section) && (!KeyNamesExistingComponent(entry.key, forms) || repeated(section, entry.key));
        },
        [&](const IniSection& section) { return tidied(section) && section.entries.empty(); });
    // Nothing the windows know is left: more likely a file this program read
    // wrongly, or windows that don't exist yet, than a translation to empty.
    if (keysBefore > 0 && translatedKeys() == 0) {
        return false;
    }
    if (!changed || !CanOpenForWrite(file)) {
        return false;
    }
    try {
        ini.Save(file);
    } catch (...) {
        return false;
    }
    return true;
}

LanguageMenu::LanguageMenu(ui::MenuItem& menu, std::function<LocalePaths()> paths)
    : menu_(menu), paths_(std::move(paths))
{
}

void LanguageMenu::RebuildMenu()
{
    const LocalePaths paths = paths_();
    active_ = paths.ActiveLanguage();
    menu_.ClearItems();
    for (const std::wstring& name : ListLanguageFiles(paths.languageDirectory)) {
        const std::wstring baseName = LanguageBaseName(name);
        const std::wstring displayName = LanguageDisplayName(paths.languageDirectory + name, baseName);
        ui::MenuItem& item = menu_.AddItem(LanguageMenuCaption(baseName, displayName), true, true);
        item.SetLiteralCaption(true);
        item.onClick = [this](ui::MenuItem& sender) { ChooseLanguage(&sender); };
        if (IsActiveLanguage(baseName, active_)) {
            item.SetChecked(true);
        }
    }
}

void LanguageMenu::ChooseLanguage(ui::MenuItem* sender)
{
    if (sender != nullptr) {
        const std::wstring baseName = BaseNameFromMenuCaption(sender->Caption());
        for (ui::MenuItem* item : menu_.Items()) {
            item->SetChecked(false);
        }
        sender->SetChecked(true);
        if (storeChoice) {
            storeChoice(baseName); // a failure ends the handling here
        }
        active_ = baseName;
        RebuildMenu(); // destroys `sender`
        ApplyToAllWindows();
    }
    if (onLanguageChosen) {
        onLanguageChosen();
    }
}

void LanguageMenu::ApplyToAllWindows()
{
    if (applyingLanguage_) {
        applyAgain_ = true;
        return;
    }
    applyingLanguage_ = true;
    do {
        applyAgain_ = false;
        // A copy: a window may come or go while messages are processed.
        const std::vector<ui::Form*> forms = ui::application::Forms();
        for (ui::Form* form : forms) {
            const auto& current = ui::application::Forms();
            if (std::find(current.begin(), current.end(), form) == current.end() || form->Handle() == nullptr) {
                continue;
            }
            TranslateWindow(*form);
        }
    } while (applyAgain_);
    applyingLanguage_ = false;
}

void LanguageMenu::ApplyToWindow(ui::Form& form)
{
    if (applyingLanguage_) {
        applyAgain_ = true; // the running pass takes it in its next round
        return;
    }
    applyingLanguage_ = true;
    applyAgain_ = false;
    TranslateWindow(form);
    applyingLanguage_ = false;
    if (applyAgain_) {
        ApplyToAllWindows();
    }
}

void LanguageMenu::TranslateWindow(ui::Form& form)
{
    try {
        const LocalePaths paths = paths_();
        if (ReadActiveLanguageFile(paths).SectionExists(kApplicationTitle)) {
            engine_.TranslateForm(form, kApplicationTitle, paths);
            ui::application::ProcessMessages();
        }
    } catch (...) {
        // Translating is optional: the window keeps the texts it has.
    }
}

void LanguageMenu::CleanLanguageFiles()
{
    const LocalePaths paths = paths_();
    const std::vector<ui::Form*> forms = ui::application::Forms();
    for (const std::wstring& name : ListLanguageFiles(paths.languageDirectory)) {
        try {
            CleanLanguageFile(paths.languageDirectory + name, forms);
        } catch (...) {
            // A file that can't be tidied stays as it is.
        }
    }
}

} // namespace merovane
