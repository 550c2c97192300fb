#pragma once

// The commands of the command line, one function each, for its dispatcher,
// and the pieces of output they share. Each throws merovane::Error for a
// failure and UsageError for bad usage, before anything is changed.

#include "cli/command_line.h"
#include "core/icon_list.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::cli {

// Bad usage: reported with a hint, exit code 2, nothing done.
struct UsageError {
    std::wstring message;
};

// The fields as one tab-separated line; tabs and line breaks in a field
// become blanks.
std::wstring Line(std::initializer_list<std::wstring_view> fields);
// The part of a path after its last "\" or "/".
std::wstring_view FileNameOf(std::wstring_view path);

// Every entry, with the active language naming GUID entries; an entry that
// could not be read fails the command.
std::vector<IconEntry> ReadEntries(const Files& files);
void CheckPattern(std::wstring_view pattern);

// --list, --show / --hide, --show-all / --hide-all, --rule, --check,
// --policies, --cleanup.
void List(const Files& files, bool json, TextSink& out);
void ShowOrHide(const Files& files, std::wstring_view pattern, bool shown, TextSink& out, TextSink& err);
void ShowOrHideAll(const Files& files, bool shown, TextSink& out, TextSink& err);
void SetRule(const Files& files, std::wstring_view actionText, std::wstring_view pattern, TextSink& out,
             TextSink& err);
// True when every entry follows the rules and the policy in force.
bool Check(const Files& files, TextSink& out, TextSink& err);
void PrintPolicies(TextSink& out, TextSink& err);
void Cleanup(const Files& files, std::wstring_view kind, TextSink& out, TextSink& err);

// --order (print, or reorder from `source`), --order-undo, --restart-explorer.
void Order(const Files& files, const std::wstring* source, bool undo, TextSink& out, TextSink& err);
void RestartExplorer(TextSink& out);

// --export, --import.
void Export(const Files& files, const std::wstring& target, TextSink& out);
void Import(const Files& files, const std::wstring& source, TextSink& out, TextSink& err);

} // namespace merovane::cli
