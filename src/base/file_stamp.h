#pragma once

// Tells one state of a file from another without reading it. A save replaces
// the file by another one, so the file's identity moves even when two saves
// fall into one tick of the clock with one size.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace merovane {

struct FileStamp {
    bool exists = false;
    FILETIME written{};
    std::uint64_t size = 0;
    std::uint64_t index = 0;
    DWORD volume = 0;

    friend bool operator==(const FileStamp& a, const FileStamp& b) noexcept
    {
        return a.exists == b.exists &&
               (!a.exists || (::CompareFileTime(&a.written, &b.written) == 0 && a.size == b.size &&
                              a.index == b.index && a.volume == b.volume));
    }
};

// Nothing when the file is there but can't be looked at now (locked, no
// access); a missing file or folder is a stamp of its own.
std::optional<FileStamp> ReadFileStamp(const std::wstring& path) noexcept;

} // namespace merovane
