#include "base/theme_reader.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace merovane {
namespace {

constexpr std::wstring_view kPersonalize = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

struct Stored {
    DWORD type;
    std::vector<BYTE> data;
};

Stored Dword(DWORD value)
{
    return {REG_DWORD, {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                        static_cast<BYTE>(value >> 24)}};
}

Stored Text(std::wstring_view text)
{
    std::vector<BYTE> data;
    for (const wchar_t c : std::wstring(text) + L'\0') {
        data.push_back(static_cast<BYTE>(c));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    return {REG_SZ, data};
}

TEST(ThemeReader, OnlyTheExpectedDwordCounts)
{
    const struct {
        const char* what;
        bool keyExists;
        std::optional<Stored> apps;   // AppsUseLightTheme
        std::optional<Stored> system; // SystemUsesLightTheme
        bool appsDark;
        bool systemLight;
    } cases[] = {
        {"no key", false, {}, {}, false, false},
        {"key without values", true, {}, {}, false, false},
        {"both dark", true, Dword(0), Dword(0), true, false},
        {"both light", true, Dword(1), Dword(1), false, true},
        {"apps dark, taskbar light", true, Dword(0), Dword(1), true, true},
        {"apps light, taskbar dark", true, Dword(1), Dword(0), false, false},
        {"other number", true, Dword(2), Dword(2), false, false},
        {"strings", true, Text(L"0"), Text(L"1"), false, false},
        {"binary zeros", true, Stored{REG_BINARY, {0, 0, 0, 0}}, Stored{REG_BINARY, {1, 0, 0, 0}}, false, false},
        {"QWORD", true, Stored{REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}},
         Stored{REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::RegistrySandbox sandbox;
        if (c.keyExists) {
            test::CreateRegKey(kPersonalize);
        }
        if (c.apps) {
            test::SetRegRaw(kPersonalize, L"AppsUseLightTheme", c.apps->type, c.apps->data);
        }
        if (c.system) {
            test::SetRegRaw(kPersonalize, L"SystemUsesLightTheme", c.system->type, c.system->data);
        }
        EXPECT_EQ(IsAppsDarkTheme(), c.appsDark);
        EXPECT_EQ(IsSystemLightTheme(), c.systemLight);
    }
}

} // namespace
} // namespace merovane
