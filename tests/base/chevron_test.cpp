#include "base/chevron.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace merovane {
namespace {

constexpr std::wstring_view kTrayNotifyParent =
    L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion";

std::vector<BYTE> DwordBytes(DWORD value)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    return {bytes, bytes + sizeof(value)};
}

std::vector<BYTE> TextBytes(std::wstring_view text)
{
    const std::wstring terminated = std::wstring(text) + L'\0';
    const auto* bytes = reinterpret_cast<const BYTE*>(terminated.data());
    return {bytes, bytes + terminated.size() * sizeof(wchar_t)};
}

TEST(Chevron, ReadsTheValueAndNeverChangesIt)
{
    struct Stored {
        DWORD type;
        std::vector<BYTE> data;
    };
    const struct {
        const char* what;
        bool keyExists;
        std::optional<Stored> value;
        std::int32_t expected;
    } cases[] = {
        {"no key", false, {}, 1},
        {"key without value", true, {}, 1},
        {"hidden", true, Stored{REG_DWORD, DwordBytes(0)}, 0},
        {"shown", true, Stored{REG_DWORD, DwordBytes(1)}, 1},
        {"other number", true, Stored{REG_DWORD, DwordBytes(2)}, 2},
        // Other types leave the box as it is: no 0 or 1 to show.
        {"string", true, Stored{REG_SZ, TextBytes(L"0")}, -1},
        {"binary", true, Stored{REG_BINARY, {1, 0, 0, 0}}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::RegistrySandbox sandbox;
        if (c.keyExists) {
            test::CreateRegKey(kTrayNotifyKey);
        }
        if (c.value) {
            test::SetRegRaw(kTrayNotifyKey, kChevronValue, c.value->type, c.value->data);
        }

        EXPECT_EQ(GetChevronVisibility(), c.expected);

        EXPECT_EQ(test::RegKeyExists(kTrayNotifyKey), c.keyExists);
        const test::RawValue after = test::GetRegRaw(kTrayNotifyKey, kChevronValue);
        ASSERT_EQ(after.exists, c.value.has_value());
        if (c.value) {
            EXPECT_EQ(after.type, c.value->type);
            EXPECT_EQ(after.data, c.value->data);
        }
    }
}

TEST(Chevron, SetWritesADwordCreatingTheKeyOrReplacingAnotherType)
{
    for (const bool visible : {true, false}) {
        for (const bool stringBefore : {false, true}) {
            SCOPED_TRACE(testing::Message() << "visible " << visible << ", string before " << stringBefore);
            test::RegistrySandbox sandbox;
            if (stringBefore) {
                test::SetRegString(kTrayNotifyKey, kChevronValue, L"1");
            }

            SetChevronVisibility(visible);

            const test::RawValue value = test::GetRegRaw(kTrayNotifyKey, kChevronValue);
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(value.data, DwordBytes(visible ? 1 : 0));
            EXPECT_EQ(GetChevronVisibility(), visible ? 1 : 0);
        }
    }
}

TEST(Chevron, SetDoesNothingWhenTheKeyCannotBeCreated)
{
    test::RegistrySandbox sandbox;
    // A volatile parent refuses lasting children.
    HKEY parent = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, std::wstring(kTrayNotifyParent).c_str(), 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &parent, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(parent);

    EXPECT_NO_THROW(SetChevronVisibility(true));
    EXPECT_FALSE(test::RegKeyExists(kTrayNotifyKey));
    EXPECT_EQ(GetChevronVisibility(), 1);
}

} // namespace
} // namespace merovane
