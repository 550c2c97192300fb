#include "base/settings_store.h"

#include "base/settings_file.h"

namespace merovane {

void SettingsStore::ReadAtStart()
{
    const std::wstring path = path_();
    const std::optional<FileStamp> stamp = ReadFileStamp(path);
    SettingsRead read = ReadSettingsAtStart(path);
    options_ = ReadOptions(read.settings);
    saved_ = options_;
    onDisk_ = options_;
    read_ = true;
    readFailure_ = std::move(read.failure);
    if (!readFailure_) {
        filePath_ = path;
        stamp_ = stamp;
        file_ = std::move(read.settings);
    }
}

void SettingsStore::Remember(const std::wstring& path, IniFile file)
{
    onDisk_ = ReadOptions(file);
    file_ = std::move(file);
    filePath_ = path;
}

const IniFile& SettingsStore::Refreshed(const std::wstring& path)
{
    // Taken before the read: a write meanwhile shows as a change next time.
    const std::optional<FileStamp> stamp = ReadFileStamp(path);
    if (stamp && stamp_ && *stamp == *stamp_ && path == filePath_) {
        return file_;
    }
    stamp_.reset(); // until the read below works
    Remember(path, LoadSettings(path));
    stamp_ = stamp;
    return file_;
}

Options SettingsStore::InForce()
{
    try {
        Refreshed(path_());
    } catch (...) {
        // Locked for a moment, or out of memory: the last reading stands.
    }
    return MergeChangedOptions(options_, saved_, onDisk_);
}

void SettingsStore::Save(OptionGroup groups)
{
    if (!read_ || readFailure_) {
        return;
    }
    const std::wstring path = path_();
    IniFile settings = Refreshed(path);
    WriteOptions(settings, MergeChangedOptions(options_, saved_, onDisk_), groups);
    stamp_.reset();
    SaveSettings(settings, path);
    CopyOptionGroups(saved_, options_, groups);
    Remember(path, std::move(settings));
    stamp_ = ReadFileStamp(path);
}

} // namespace merovane
