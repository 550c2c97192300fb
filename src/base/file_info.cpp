#include "base/file_info.h"

#include "base/handles.h"

#include <shellapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <optional>
#include <vector>

namespace merovane {

namespace {

constexpr std::wstring_view kFallbackTranslation = L"040904E4";

// A file's version resource, read into a buffer that lives as long as it does.
class VersionResource {
public:
    explicit VersionResource(const std::wstring& file)
    {
        DWORD handle = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &handle);
        if (size == 0) {
            return;
        }
        // DWORD elements keep the blocks aligned as VerQueryValueW expects.
        data_.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        if (!::GetFileVersionInfoW(file.c_str(), 0, size, data_.data())) {
            data_.clear();
        }
    }

    [[nodiscard]] bool Loaded() const noexcept { return !data_.empty(); }

    [[nodiscard]] std::optional<std::wstring_view> Query(const std::wstring& block) const
    {
        void* value = nullptr;
        UINT length = 0;
        if (!Loaded() || !::VerQueryValueW(data_.data(), block.c_str(), &value, &length) || value == nullptr) {
            return std::nullopt;
        }
        return std::wstring_view(static_cast<const wchar_t*>(value), length);
    }

    // The first translation of "VarFileInfo\Translation", or the fallback.
    [[nodiscard]] std::wstring Translation() const
    {
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
            value == nullptr || length < 2 * sizeof(WORD)) {
            return std::wstring(kFallbackTranslation);
        }
        const auto* words = static_cast<const WORD*>(value);
        return TranslationName(words[0], words[1]);
    }

    // The text of a string-table entry up to its first NUL; nothing when the
    // entry is missing or empty.
    [[nodiscard]] std::optional<std::wstring> String(std::wstring_view name) const
    {
        std::wstring block = L"\\StringFileInfo\\" + Translation() + L"\\";
        block += name;
        const auto text = Query(block);
        if (!text || text->empty()) {
            return std::nullopt;
        }
        return std::wstring(text->data(), ::wcsnlen(text->data(), text->size()));
    }

    [[nodiscard]] const VS_FIXEDFILEINFO* FixedInfo() const
    {
        void* value = nullptr;
        UINT length = 0;
        if (!Loaded() || !::VerQueryValueW(data_.data(), L"\\", &value, &length) || value == nullptr ||
            length < sizeof(VS_FIXEDFILEINFO)) {
            return nullptr;
        }
        return static_cast<const VS_FIXEDFILEINFO*>(value);
    }

private:
    std::vector<DWORD> data_;
};

} // namespace

std::wstring OwnExecutablePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring TranslationName(WORD language, WORD codePage)
{
    if (language == 0 && codePage == 0) {
        return std::wstring(kFallbackTranslation);
    }
    wchar_t text[9];
    std::swprintf(text, std::size(text), L"%04X%04X", static_cast<unsigned>(language),
                  static_cast<unsigned>(codePage));
    return text;
}

std::wstring CleanFileVersionText(std::wstring_view text)
{
    std::wstring result;
    for (const wchar_t c : text) {
        if (c >= L'0' && c <= L'9') {
            result += c;
        } else if (c == L'.' || c == L',') {
            if (!result.empty() && result.back() != L'.') {
                result += L'.';
            }
        } else if (c != L' ') {
            break;
        }
    }
    if (!result.empty() && result.back() == L'.') {
        result.pop_back();
    }
    return result;
}

std::wstring GetVersionInfoString(const std::wstring& file, std::wstring_view name)
{
    const VersionResource resource(file);
    if (!resource.Loaded()) {
        return {};
    }
    return resource.String(name).value_or(std::wstring());
}

std::wstring GetFileDescription(const std::wstring& file)
{
    return GetVersionInfoString(file, L"FileDescription");
}

std::wstring GetLegalCopyright(const std::wstring& file)
{
    return GetVersionInfoString(file, L"LegalCopyright");
}

std::wstring GetCompanyName(const std::wstring& file)
{
    return GetVersionInfoString(file, L"CompanyName");
}

namespace {

// False when the file's headers show it cannot hold a version resource: not
// a program image, or a PE image without resources. Reading them is a small
// part of what the system's version functions cost a file they reject.
bool MayHoldVersionResource(const std::wstring& file)
{
    const unique_file handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle) {
        return true; // the system's functions decide
    }
    unsigned char head[4096];
    DWORD got = 0;
    if (!::ReadFile(handle.get(), head, sizeof(head), &got, nullptr)) {
        return true;
    }
    if (got < sizeof(IMAGE_DOS_HEADER) || head[0] != 'M' || head[1] != 'Z') {
        return false;
    }
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, head, sizeof(dos));
    const auto at = static_cast<size_t>(dos.e_lfanew);
    if (dos.e_lfanew < 0 || at + 4 + sizeof(IMAGE_FILE_HEADER) + sizeof(WORD) > got) {
        return true; // headers further in, or an old format: let the system look
    }
    if (head[at] != 'P' || head[at + 1] != 'E' || head[at + 2] != 0 || head[at + 3] != 0) {
        return true; // NE and other formats carry resources of their own kind
    }
    const size_t optional = at + 4 + sizeof(IMAGE_FILE_HEADER);
    WORD magic = 0;
    std::memcpy(&magic, head + optional, sizeof(magic));
    size_t directory = 0;
    DWORD count = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && optional + sizeof(IMAGE_OPTIONAL_HEADER64) <= got) {
        IMAGE_OPTIONAL_HEADER64 header;
        std::memcpy(&header, head + optional, sizeof(header));
        count = header.NumberOfRvaAndSizes;
        directory = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && optional + sizeof(IMAGE_OPTIONAL_HEADER32) <= got) {
        IMAGE_OPTIONAL_HEADER32 header;
        std::memcpy(&header, head + optional, sizeof(header));
        count = header.NumberOfRvaAndSizes;
        directory = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    } else {
        return true;
    }
    if (count <= IMAGE_DIRECTORY_ENTRY_RESOURCE) {
        return false;
    }
    IMAGE_DATA_DIRECTORY resources;
    std::memcpy(&resources, head + directory + IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof(IMAGE_DATA_DIRECTORY),
                sizeof(resources));
    return resources.Size != 0;
}

} // namespace

CompanyAndDescription GetCompanyAndDescription(const std::wstring& file)
{
    if (!MayHoldVersionResource(file)) {
        return {};
    }
    const VersionResource resource(file);
    if (!resource.Loaded()) {
        return {};
    }
    return {resource.String(L"CompanyName").value_or(std::wstring()),
            resource.String(L"FileDescription").value_or(std::wstring())};
}

std::wstring GetFileVersionText(const std::wstring& file)
{
    const VersionResource resource(file);
    if (!resource.Loaded()) {
        return {};
    }
    // The entry's full length: the text is cleaned up to its first unusable
    // character anyway, and an embedded NUL is one.
    std::wstring block = L"\\StringFileInfo\\" + resource.Translation() + L"\\FileVersion";
    if (const auto text = resource.Query(block); text && !text->empty()) {
        std::wstring cleaned = CleanFileVersionText(*text);
        if (!cleaned.empty()) {
            return cleaned;
        }
    }
    const VS_FIXEDFILEINFO* fixed = resource.FixedInfo();
    if (fixed == nullptr) {
        return {};
    }
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L'.' + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L'.' + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L'.' +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

ShellCommand RevealInExplorerCommand(std::wstring_view path, std::wstring_view windowsDirectory)
{
    ShellCommand command;
    // A full path: a bare "explorer.exe" could be found in the revealed file's
    // own folder first.
    command.file = windowsDirectory;
    if (!command.file.empty() && command.file.back() != L'\\') {
        command.file += L'\\';
    }
    command.file += L"explorer.exe";
    command.parameters = L"/select,\"";
    command.parameters += path;
    command.parameters += L'"';
    const size_t separator = path.find_last_of(L"\\:");
    command.directory = separator == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, separator + 1));
    return command;
}

bool RevealInExplorer(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    const ShellCommand command =
        RevealInExplorerCommand(path, length > 0 && length < MAX_PATH ? std::wstring_view(windows, length) : L"");
    ::ShellExecuteW(nullptr, L"open", command.file.c_str(), command.parameters.c_str(),
                    command.directory.empty() ? nullptr : command.directory.c_str(), SW_SHOWNORMAL);
    return true;
}

} // namespace merovane
