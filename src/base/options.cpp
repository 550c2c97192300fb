#include "base/options.h"

#include "base/ini_file.h"
#include "base/option_fields.h"

namespace merovane {

Options ReadOptions(const IniFile& settings)
{
    Options options;
    option_fields::ForEach([&](const auto& field) {
        if (field.readBack) {
            field.format.Read(settings, field.section, field.member(options));
        }
    });
    return options;
}

Options MergeChangedOptions(const Options& ours, const Options& base, const Options& disk)
{
    // Key by key, the window's parts too: an import that set only the size
    // keeps it when the window was merely maximised, and the other way round.
    Options merged;
    option_fields::ForEach([&](const auto& field) {
        field.member(merged) = field.member(ours) != field.member(base) ? field.member(ours) : field.member(disk);
    });
    return merged;
}

void CopyOptionGroups(Options& to, const Options& from, OptionGroup groups)
{
    option_fields::ForEach([&](const auto& field) {
        if (Contains(groups, field.group)) {
            field.member(to) = field.member(from);
        }
    });
}

void WriteOptions(IniFile& settings, const Options& options, OptionGroup groups)
{
    option_fields::ForEach([&](const auto& field) {
        if (Contains(groups, field.group)) {
            field.format.Write(settings, field.section, field.member(options), options);
        }
    });
}

} // namespace merovane
