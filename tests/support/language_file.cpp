#include "support/language_file.h"

#include "support/sandbox.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace merovane::test {

namespace {

std::wstring_view Trim(std::wstring_view text)
{
    while (!text.empty() && text.front() <= L' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() <= L' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::wstring FromUtf8(std::string_view bytes)
{
    if (bytes.empty()) {
        return {};
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) {
        throw std::runtime_error("not UTF-8");
    }
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

} // namespace

std::wstring ShippedEnglishFile()
{
    return (TestBinaryDir().parent_path() / L"bin" / L"Language" / L"English.ini").wstring();
}

std::string ReadFileAsBytes(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) {
        throw std::runtime_error("can't open the file");
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::pair<std::wstring, std::wstring>> ReadSection(const std::wstring& path,
                                                               std::wstring_view section)
{
    const std::string content = ReadFileAsBytes(path);
    std::string_view bytes = content;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    const std::wstring text = FromUtf8(bytes);

    std::vector<std::pair<std::wstring, std::wstring>> entries;
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring_view line = Trim(std::wstring_view(text).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == L';') {
            continue;
        }
        if (line.front() == L'[' && line.back() == L']') {
            const std::wstring_view name = Trim(line.substr(1, line.size() - 2));
            inSection = ::CompareStringOrdinal(name.data(), static_cast<int>(name.size()), section.data(),
                                               static_cast<int>(section.size()), TRUE) == CSTR_EQUAL;
            continue;
        }
        const size_t equals = line.find(L'=');
        if (inSection && equals != std::wstring_view::npos) {
            entries.emplace_back(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
        }
    }
    return entries;
}

std::string Utf16Bytes(std::wstring_view text, bool bigEndian)
{
    std::string bytes;
    for (const wchar_t c : text) {
        const char high = static_cast<char>(static_cast<unsigned>(c) >> 8);
        const char low = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace merovane::test
