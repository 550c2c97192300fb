#include "locale_fixture.h"

#include "core/display_names.h"
#include "base/error.h"
#include "base/ini_file.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace merovane {
namespace {

constexpr wchar_t kBattery[] = L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}";

void SetClassName(const std::wstring& path, const wchar_t* name)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (name != nullptr) {
        const std::wstring value(name);
        ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
}

class DisplayNamesTest : public ::testing::Test {
protected:
    DisplayNamesTest()
    {
        locale.WriteLanguage(L"English.ini", "[GUID]\r\n"
                                             "{AAAAAAAA-0000-0000-0000-00000000000A}=From the language file\r\n"
                                             "{7820AE75-23E3-4229-82C1-E41CB67D5B9C}=\r\n"
                                             "{7820AE78-23E3-4229-82C1-E41CB67D5B9C}=Safely Remove Hardware\r\n");
        locale.SetActive(L"English");
        SetClassName(L"CLSID", L"ClassMoniker");
        SetClassName(L"CLSID\\{BBBBBBBB-0000-0000-0000-00000000000B}", L"Registered class");
        SetClassName(L"CLSID\\{CCCCCCCC-0000-0000-0000-00000000000C}", nullptr);
        SetClassName(L"CLSID\\{CCCCCCCC-0000-0000-0000-00000000000C}\\SystemResources", L"@shell32.dll,-1");
        SetClassName(L"CLSID\\{DDDDDDDD-0000-0000-0000-00000000000D}\\LocalizedString", L"Localized");
        SetClassName(L"CLSID\\{DDDDDDDD-0000-0000-0000-00000000000D}\\SystemResources", L"Not reached");
    }

    test::RegistrySandbox sandbox;
    test::LocaleFixture locale;
};

TEST_F(DisplayNamesTest, SourcesAreAskedInOrder)
{
    struct Case {
        const wchar_t* guid;
        const wchar_t* expected;
    } cases[] = {
        {L"{AAAAAAAA-0000-0000-0000-00000000000A}", L"From the language file"},
        {L"{aaaaaaaa-0000-0000-0000-00000000000a}", L"From the language file"}, // keys ignore case
        {L"{7820AE78-23E3-4229-82C1-E41CB67D5B9C}", L"Safely Remove Hardware"},     // the file beats the table
        {L"{7820AE75-23E3-4229-82C1-E41CB67D5B9C}", L"Громкость"},                  // an empty value does not
        {kBattery, L"Питание/Батарея"},
        {L"{7820ae73-23e3-4229-82c1-e41cb67d5b9c}", L""}, // the table matches case exactly
        {L"{BBBBBBBB-0000-0000-0000-00000000000B}", L"Registered class"},
        {L"{CCCCCCCC-0000-0000-0000-00000000000C}", L"@shell32.dll,-1"}, // returned unresolved
        {L"{DDDDDDDD-0000-0000-0000-00000000000D}", L"Localized"},
        {L"{EEEEEEEE-0000-0000-0000-00000000000E}", L""},
        {L"", L""}, // not "ClassMoniker", the default value of CLSID itself
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DisplayNameForIconGuid(c.guid, ReadActiveLanguageFile(locale.Paths())), c.expected) << ToUtf8(c.guid);
    }
}

TEST_F(DisplayNamesTest, WithoutALanguageFileTheTableAndRegistryAnswer)
{
    locale.SetActive(L"Missing");
    EXPECT_EQ(DisplayNameForIconGuid(L"{AAAAAAAA-0000-0000-0000-00000000000A}", ReadActiveLanguageFile(locale.Paths())), L"");
    EXPECT_EQ(DisplayNameForIconGuid(L"{7820AE78-23E3-4229-82C1-E41CB67D5B9C}", ReadActiveLanguageFile(locale.Paths())),
              L"Безопасное извлечение устройств и дисков");
    EXPECT_EQ(DisplayNameForIconGuid(L"{BBBBBBBB-0000-0000-0000-00000000000B}", ReadActiveLanguageFile(locale.Paths())),
              L"Registered class");
}

TEST_F(DisplayNamesTest, AClassNameOfAnotherTypeIsAnError)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{FFFFFFFF-0000-0000-0000-00000000000F}", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ::RegSetValueExW(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    ::RegCloseKey(key);
    EXPECT_THROW((void)GetDisplayNameFromRegistry(L"{FFFFFFFF-0000-0000-0000-00000000000F}"), Error);
}

} // namespace
} // namespace merovane
