#include "core/builtin_guid_names.h"
#include "base/error.h"
#include "support/language_file.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace merovane {
namespace {

// The registry spells these GUIDs "{8-4-4-4-12}" in upper case, and the table
// is matched exactly, so any other spelling would never match.
bool HasRegistryShape(std::wstring_view guid)
{
    if (guid.size() != 38 || guid.front() != L'{' || guid.back() != L'}') {
        return false;
    }
    for (size_t i = 1; i < 37; ++i) {
        const wchar_t c = guid[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != L'-') {
                return false;
            }
        } else if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) {
            return false;
        }
    }
    return true;
}

std::wstring_view NameOf(std::wstring_view guid)
{
    for (const GuidName& row : BuiltinGuidNames()) {
        if (row.guid == guid) {
            return row.name;
        }
    }
    return {};
}

TEST(BuiltinGuidNames, HoldSixtyTwoWellFormedUniqueRows)
{
    const auto rows = BuiltinGuidNames();
    EXPECT_EQ(rows.size(), 62u);
    std::set<std::wstring_view> seen;
    for (const GuidName& row : rows) {
        EXPECT_TRUE(HasRegistryShape(row.guid)) << ToUtf8(row.guid);
        EXPECT_TRUE(seen.insert(row.guid).second) << ToUtf8(row.guid) << " occurs twice";
        EXPECT_FALSE(row.name.empty()) << ToUtf8(row.guid);
    }
}

TEST(BuiltinGuidNames, NameTheKnownIcons)
{
    const struct {
        std::wstring_view guid;
        std::wstring_view name;
    } cases[] = {
        {L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}", L"Питание/Батарея"},
        {L"{7820AE78-23E3-4229-82C1-E41CB67D5B9C}", L"Безопасное извлечение устройств и дисков"},
        {L"{D36B22A6-995E-4340-8339-3DE08C6840DF}", L"Сеть"},
        {L"{3DCE0E71-7534-4FB3-8E6D-30B1A35283C9}", L"Сеть"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameOf(c.guid), c.name) << ToUtf8(c.guid);
    }
    const GuidName& last = BuiltinGuidNames().back();
    EXPECT_EQ(last.guid, L"{7820AE81-23E3-4229-82C1-E41CB67D5B9C}");
    EXPECT_EQ(last.name, L"Хост-процесс для уведомлений");
}

// English.ini renames exactly the icons the table knows.
TEST(BuiltinGuidNames, AreAllRenamedByTheEnglishFile)
{
    std::set<std::wstring> inFile;
    for (const auto& [guid, name] : test::ReadSection(test::ShippedEnglishFile(), L"GUID")) {
        EXPECT_TRUE(inFile.insert(guid).second) << ToUtf8(guid) << " occurs twice";
        EXPECT_FALSE(name.empty()) << ToUtf8(guid);
    }
    std::set<std::wstring> inTable;
    for (const GuidName& row : BuiltinGuidNames()) {
        inTable.emplace(row.guid);
        EXPECT_TRUE(inFile.contains(std::wstring(row.guid))) << "missing: " << ToUtf8(row.guid);
    }
    for (const std::wstring& guid : inFile) {
        EXPECT_TRUE(inTable.contains(guid)) << "not in the table: " << ToUtf8(guid);
    }
}

} // namespace
} // namespace merovane
