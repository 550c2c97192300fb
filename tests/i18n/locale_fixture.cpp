#include "locale_fixture.h"

#include "base/error.h"

#include <windows.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace merovane::test {

namespace {

using ui::ComponentDef;
using ui::Kind;

constexpr ComponentDef kComponents[] = {
    {.kind = Kind::GroupBox, .name = L"GroupBoxGeneral", .caption = L"Основные", .bounds = {8, 8, 300, 80}},
    {.kind = Kind::CheckBox,
     .name = L"CheckBoxToTray",
     .parent = L"GroupBoxGeneral",
     .caption = L"Свернуть программу при закрытии",
     .bounds = {16, 20, 270, 17}},
    {.kind = Kind::Label, .name = L"LabelNumber", .caption = L"42", .bounds = {8, 96, 100, 17}},
    {.kind = Kind::Label, .name = L"LabelEmpty", .bounds = {120, 96, 100, 17}},
    {.kind = Kind::TabControl,
     .name = L"TabControlBody",
     .bounds = {8, 120, 300, 30},
     .items = L"Один\nДва\nТри"},
    {.kind = Kind::ListView,
     .name = L"ListView1",
     .bounds = {8, 160, 300, 80},
     .flags = ui::CheckBoxes,
     .items = L"Имя\nКомпания\nПуть",
     .value = 90},
    {.kind = Kind::StatusBar, .name = L"StatusBar1", .caption = L"Строка", .bounds = {0, 0, 0, 20}, .align = ui::Align::Bottom},
    {.kind = Kind::TrayIcon, .name = L"TrayIcon1", .hint = L"Подсказка"},
    {.kind = Kind::PopupMenu, .name = L"PopupMenuLanguage"},
    {.kind = Kind::MenuItem, .name = L"LangError", .parent = L"PopupMenuLanguage", .caption = L"Ошибка"},
    {.kind = Kind::MenuItem, .name = L"N1", .parent = L"PopupMenuLanguage", .caption = L"-"},
    {.kind = Kind::MenuItem, .name = L"LangNoUpdate", .parent = L"PopupMenuLanguage", .caption = L"Нет обновления"},
};

} // namespace

const ui::FormDef kSmallForm2{.name = L"Form2",
                              .className = L"TTestForm2",
                              .caption = L"Настройки",
                              .clientWidth = 320,
                              .clientHeight = 300,
                              .components = kComponents};
const ui::FormDef kSmallForm1{.name = L"Form1",
                              .className = L"TTestForm1",
                              .caption = L"Merovane 1.0",
                              .clientWidth = 320,
                              .clientHeight = 300,
                              .components = kComponents};
const ui::FormDef kSmallForm10{.name = L"Form10",
                               .className = L"TTestForm10",
                               .caption = L"Обновление",
                               .clientWidth = 320,
                               .clientHeight = 300,
                               .components = kComponents};

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LocaleFixture::LocaleFixture()
{
    std::filesystem::create_directories(temp_.path() / L"Language");
    paths_.languageDirectory = (temp_.path() / L"Language").wstring() + L"\\";
    paths_.settingsFile = temp_ / L"Option.ini";
    paths_.missingKeysLog = temp_ / L"Merovane.log";
}

std::wstring LocaleFixture::WriteLanguage(std::wstring_view fileName, std::string_view utf8Text) const
{
    const std::wstring path = paths_.languageDirectory + std::wstring(fileName);
    WriteFileBytes(path, "\xEF\xBB\xBF" + std::string(utf8Text));
    return path;
}

void LocaleFixture::SetActive(std::wstring_view baseName)
{
    paths_.language = baseName;
    const std::string utf8 = ToUtf8(baseName);
    WriteFileBytes(paths_.settingsFile, "\xEF\xBB\xBF[Language]\r\nLanguage=" + utf8 + "\r\n");
}

void LocaleFixture::CreateLog() const
{
    WriteFileBytes(paths_.missingKeysLog, "");
}

std::vector<std::wstring> LocaleFixture::LogLines() const
{
    const std::string bytes = ReadFileBytes(paths_.missingKeysLog);
    if (bytes.empty()) {
        return {};
    }
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') {
        throw std::runtime_error("the log lacks its UTF-16 LE byte-order mark");
    }
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace merovane::test
