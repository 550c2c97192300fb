#include "cli/commands.h"

#include "base/error.h"
#include "base/ini_file.h"
#include "base/settings_file.h"
#include "base/text_file.h"
#include "core/app_rules.h"

#include <windows.h>

#include <algorithm>

namespace merovane::cli {

namespace {

constexpr std::wstring_view kExportSection = L"Merovane export";
constexpr std::wstring_view kExportFormatKey = L"Format";
constexpr std::wstring_view kExportFormat = L"1";
constexpr std::wstring_view kOptionPrefix = L"Option.ini/";
constexpr std::wstring_view kRulesPrefix = L"Rules.ini/";

// Sections as INI text, every name prefixed; bare keys and empty sections
// stay as they are.
std::wstring SectionsText(const std::vector<IniSection>& sections, std::wstring_view prefix)
{
    std::wstring text;
    for (const IniSection& section : sections) {
        text += L"[" + std::wstring(prefix) + section.name + L"]\r\n";
        for (const IniEntry& entry : section.entries) {
            text += entry.key;
            if (entry.value) {
                text += L"=" + *entry.value;
            }
            text += L"\r\n";
        }
    }
    return text;
}

// A file for a read-modify-write: missing is empty, unreadable or not
// decoding cleanly throws with the file's name.
IniFile LoadWhole(const std::wstring& path, RepeatedSections repeated = RepeatedSections::Continue)
{
    try {
        IniFile file = IniFile::Load(path, repeated);
        if (!file.Faithful()) {
            ThrowWin32(ERROR_INVALID_DATA);
        }
        return file;
    } catch (const Error& error) {
        throw InContext(L"Could not read \"" + path + L"\".", error);
    }
}

void SaveWhole(const IniFile& file, const std::wstring& path)
{
    try {
        file.Save(path);
    } catch (const Error& error) {
        throw InContext(L"Could not write \"" + path + L"\".", error);
    }
}

size_t RuleCount(const IniFile& rulesFile)
{
    return AppRules::FromIni(rulesFile).Rules().size();
}

} // namespace

void Export(const Files& files, const std::wstring& target, TextSink& out)
{
    const IniFile settings = LoadWhole(files.settingsFile);
    // Each [RuleN] is a rule of its own, also when a name repeats.
    const IniFile rules = LoadWhole(files.rulesFile, RepeatedSections::Separate);
    std::wstring text = L"[" + std::wstring(kExportSection) + L"]\r\n" + std::wstring(kExportFormatKey) + L"=" +
                        std::wstring(kExportFormat) + L"\r\n";
    text += SectionsText(settings.Sections(), kOptionPrefix);
    text += SectionsText(rules.Sections(), kRulesPrefix);
    SaveWhole(IniFile::FromText(text, TextEncoding::Utf8, RepeatedSections::Separate), target);
    out.Write(L"Exported the options and " + std::to_wstring(RuleCount(rules)) + L" rules to \"" + target +
              L"\".\r\n");
}

void Import(const Files& files, const std::wstring& source, TextSink& out, TextSink& err)
{
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw InContext(L"Could not read \"" + source + L"\".", Error(::GetLastError()));
    }
    const IniFile imported = LoadWhole(source, RepeatedSections::Separate);
    if (imported.ReadString(kExportSection, kExportFormatKey).value_or(L"") != kExportFormat) {
        throw Error(ERROR_INVALID_DATA, L"\"" + source + L"\" is no Merovane export (or one of a newer format); "
                                        L"nothing was changed.");
    }
    std::vector<IniSection> options;
    std::vector<IniSection> rules;
    for (const IniSection& section : imported.Sections()) {
        const std::wstring_view name = section.name;
        if (name.size() > kOptionPrefix.size() && IniNamesEqual(name.substr(0, kOptionPrefix.size()), kOptionPrefix)) {
            options.push_back({std::wstring(name.substr(kOptionPrefix.size())), section.entries});
        } else if (name.size() > kRulesPrefix.size() &&
                   IniNamesEqual(name.substr(0, kRulesPrefix.size()), kRulesPrefix)) {
            rules.push_back({std::wstring(name.substr(kRulesPrefix.size())), section.entries});
        }
    }

    // Both files are read before either is written: one that can't be read
    // stops the import with nothing changed.
    const IniFile settings = LoadWhole(files.settingsFile);
    (void)LoadWhole(files.rulesFile);
    // The sections the export holds replace this machine's; others stay.
    std::vector<IniSection> merged = options;
    for (const IniSection& section : settings.Sections()) {
        if (std::none_of(options.begin(), options.end(),
                         [&](const IniSection& replacing) { return IniNamesEqual(replacing.name, section.name); })) {
            merged.push_back(section);
        }
    }
    const IniFile newSettings = IniFile::FromText(SectionsText(merged, L""), settings.Encoding());
    const IniFile newRules = IniFile::FromText(SectionsText(rules, L""), TextEncoding::Utf8, RepeatedSections::Separate);
    // Both are written in full before either replaces its file, so that the
    // options of one export never meet the rules of another.
    std::vector<StagedFile> staged;
    const auto stage = [&staged](const IniFile& file, const std::wstring& path) {
        try {
            staged.emplace_back(path, file.ToBytes());
        } catch (const Error& error) {
            throw InContext(L"Could not write \"" + path + L"\"; nothing was imported.", error);
        }
    };
    stage(newSettings, files.settingsFile);
    stage(newRules, files.rulesFile);
    if (const std::optional<ReplaceFailure> failure = ReplaceTogether(staged)) {
        const std::wstring& failed = failure->index == 0 ? files.settingsFile : files.rulesFile;
        throw InContext(failure->restored
                            ? L"Could not write \"" + failed + L"\"; nothing was imported."
                            : L"Could not write \"" + failed + L"\": the options were imported into \"" +
                                  files.settingsFile + L"\", the rules were not.",
                        failure->error);
    }
    out.Write(L"Imported the options into \"" + files.settingsFile + L"\" and " + std::to_wstring(RuleCount(newRules)) +
              L" rules into \"" + files.rulesFile + L"\".\r\n");
    if (files.windowRunning) {
        err.Write(L"Merovane is running: it reads the imported rules again before it next applies rules, and "
                  L"uses the imported options after its next start; options changed in its windows meanwhile are "
                  L"saved over the imported ones.\r\n");
    }
}

} // namespace merovane::cli
