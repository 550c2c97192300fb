#pragma once

// The running program's settings: the options it holds, and the settings file
// behind them. The file is read at start and again only when it changed on
// disk (an import by the command line, a hand edit); a save writes what the
// program changed and keeps what such a change set.

#include "base/error.h"
#include "base/file_stamp.h"
#include "base/ini_file.h"
#include "base/options.h"

#include <functional>
#include <optional>
#include <string>

namespace merovane {

class SettingsStore {
public:
    // `path` is asked at every use: the file may move (tests point it elsewhere).
    explicit SettingsStore(std::function<std::wstring()> path) : path_(std::move(path)) {}

    // The start-up read. A file that exists but can't be read, or does not
    // decode cleanly, gives defaults (or what could be read) and is never
    // written: it holds the user's options as far as anyone knows.
    void ReadAtStart();
    [[nodiscard]] const std::optional<Error>& ReadFailure() const noexcept { return readFailure_; }

    // The options the windows show and change.
    [[nodiscard]] Options& Current() noexcept { return options_; }
    // The options as last read or saved, group by group: what differs from
    // them is what the program changed since.
    [[nodiscard]] Options& Saved() noexcept { return saved_; }

    // What is in force now: each option the program changed as it holds it,
    // the others as the file says now. A file that can't be read now counts
    // as it was last read.
    [[nodiscard]] Options InForce();

    // Writes the groups given (see MergeChangedOptions). Nothing is written
    // before the start-up read, nor after one that failed. Throws
    // merovane::Error when the file can't be read or written.
    void Save(OptionGroup groups);

private:
    // Reads the file again when it is not the one last read or written.
    // Throws merovane::Error when it can't be read.
    const IniFile& Refreshed(const std::wstring& path);
    void Remember(const std::wstring& path, IniFile file);

    std::function<std::wstring()> path_;
    Options options_;
    Options saved_;
    bool read_ = false;
    std::optional<Error> readFailure_;
    // The file as last read or written, faithfully, and what told its state.
    std::wstring filePath_;
    std::optional<FileStamp> stamp_;
    IniFile file_;
    Options onDisk_;
};

} // namespace merovane
