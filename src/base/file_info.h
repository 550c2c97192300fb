#pragma once

// Texts from an executable's version resource, and showing a file in Explorer.
// Nothing is cached; every call reads the file anew. A file without a version
// resource, or one that can't be read, gives "" from every text function.

#include <windows.h>

#include <string>
#include <string_view>

namespace merovane {

// Full path of the running executable, as the system reports it.
std::wstring OwnExecutablePath();

// The named string of the file's version resource ("CompanyName", ...), or "".
std::wstring GetVersionInfoString(const std::wstring& file, std::wstring_view name);
std::wstring GetFileDescription(const std::wstring& file);
std::wstring GetLegalCopyright(const std::wstring& file);
std::wstring GetCompanyName(const std::wstring& file);
// Company name and file description from one reading of the resource.
struct CompanyAndDescription {
    std::wstring company;
    std::wstring description;
};
CompanyAndDescription GetCompanyAndDescription(const std::wstring& file);

// The file version as digits and dots ("1.9.26.312"): the cleaned
// "FileVersion" text, else the fixed file information, else "".
std::wstring GetFileVersionText(const std::wstring& file);

// Reduces a version text to digits and single dots: "," counts as ".", blanks
// are skipped, the first other character ends it, a final "." is dropped.
std::wstring CleanFileVersionText(std::wstring_view text);

// The string-table name of a translation pair ("040904B0"); "040904E4" when the
// pair is 0, 0.
std::wstring TranslationName(WORD language, WORD codePage);

// What RevealInExplorer starts.
struct ShellCommand {
    std::wstring file;
    std::wstring parameters;
    std::wstring directory;
};
ShellCommand RevealInExplorerCommand(std::wstring_view path, std::wstring_view windowsDirectory);

// Opens an Explorer window with the file selected. False, doing nothing, when
// no file exists at the path (a folder is no file).
bool RevealInExplorer(const std::wstring& path);

} // namespace merovane
