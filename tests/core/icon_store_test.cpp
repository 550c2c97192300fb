#include "base/error.h"
#include "core/icon_store.h"
#include "support/entries.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace merovane {
namespace {

using test::RegistrySandbox;

using test::kBase;

using test::Entry;

std::uint64_t Ticks(const FILETIME& time)
{
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// Lets the registry clock move on, so a rewrite shows in the last-write time.
void LetTimePass()
{
    ::Sleep(30);
}

class IconStoreTest : public ::testing::Test {
protected:
    RegistrySandbox sandbox;
};

TEST_F(IconStoreTest, WriteIsPromotedWritesOneOrZero)
{
    test::SetRegString(Entry(L"1111"), L"ExecutablePath", L"C:\\a.exe");
    ASSERT_TRUE(WriteIsPromoted(L"1111", true));
    EXPECT_EQ(test::GetRegDword(Entry(L"1111"), L"IsPromoted"), 1);
    ASSERT_TRUE(WriteIsPromoted(L"1111", false));
    EXPECT_EQ(test::GetRegDword(Entry(L"1111"), L"IsPromoted"), 0);
}

TEST(WriteIsPromoted, AVanishedEntryIsNotRecreated)
{
    struct Case {
        const char* name;
        bool baseKey; // NotifyIconSettings itself is still there
    } cases[] = {
        {"entry deleted", true},
        {"base key deleted", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RegistrySandbox sandbox;
        test::CreateRegKey(L"Control Panel");
        if (c.baseKey) {
            test::SetRegDword(Entry(L"other"), L"IsPromoted", 0);
        }
        for (const bool promoted : {true, false}) {
            EXPECT_FALSE(WriteIsPromoted(L"gone", promoted));
        }
        EXPECT_FALSE(test::RegKeyExists(Entry(L"gone")));
        EXPECT_EQ(test::RegKeyExists(kBase), c.baseKey);
    }
}

TEST_F(IconStoreTest, WriteIsPromotedNeverWritesOutsideOneEntry)
{
    test::CreateRegKey(Entry(L"a"));
    for (const wchar_t* name : {L"", L"a\\b", L"\\x", L"..\\Desktop"}) {
        EXPECT_FALSE(WriteIsPromoted(name, true)) << ToUtf8(name);
    }
    EXPECT_FALSE(test::GetRegRaw(kBase, L"IsPromoted").exists);
    EXPECT_EQ(test::RegSubkeys(kBase), std::vector<std::wstring>{L"a"});
    EXPECT_TRUE(test::RegSubkeys(Entry(L"a")).empty());
}

TEST_F(IconStoreTest, SetAllWritesOnlyEntriesThatDiffer)
{
    const std::vector<BYTE> text{'1', 0, 0, 0};
    test::CreateRegKey(Entry(L"missing"));
    test::SetRegDword(Entry(L"zero"), L"IsPromoted", 0);
    test::SetRegDword(Entry(L"one"), L"IsPromoted", 1);
    test::SetRegDword(Entry(L"two"), L"IsPromoted", 2);
    test::SetRegRaw(Entry(L"text"), L"IsPromoted", REG_SZ, text);

    struct Expectation {
        std::int64_t value;   // IsPromoted afterwards, -1 for none / not a DWORD
        bool rewritten;       // last-write time moved
    };
    auto check = [&](const std::map<std::wstring, Expectation>& expected, void (*pass)(), const char* passName) {
        std::map<std::wstring, FILETIME> before;
        for (const auto& [name, _] : expected) {
            before[name] = test::RegLastWrite(Entry(name));
        }
        LetTimePass();
        pass();
        for (const auto& [name, want] : expected) {
            SCOPED_TRACE(std::string(passName) + " " + ToUtf8(name));
            EXPECT_EQ(test::GetRegDword(Entry(name), L"IsPromoted"), want.value);
            const auto after = Ticks(test::RegLastWrite(Entry(name)));
            if (want.rewritten) {
                EXPECT_GT(after, Ticks(before[name]));
            } else {
                EXPECT_EQ(after, Ticks(before[name]));
            }
        }
    };

    check({{L"missing", {1, true}},
           {L"zero", {1, true}},
           {L"one", {1, false}},
           {L"two", {1, true}},
           {L"text", {1, true}}},
          SetAllIsPromotedToOne, "to one");
    check({{L"missing", {0, true}}, {L"zero", {0, true}}, {L"one", {0, true}}, {L"two", {0, true}}, {L"text", {0, true}}},
          SetAllIsPromotedToOff, "to off");
    check({{L"missing", {0, false}}, {L"zero", {0, false}}, {L"one", {0, false}}}, SetAllIsPromotedToOff,
          "to off again");
}

TEST_F(IconStoreTest, SetAllOffLeavesAMissingValueMissing)
{
    test::CreateRegKey(Entry(L"no value"));
    SetAllIsPromotedToOff();
    EXPECT_FALSE(test::GetRegRaw(Entry(L"no value"), L"IsPromoted").exists);
}

TEST_F(IconStoreTest, SetAllTouchesOnlyDirectSubkeys)
{
    test::SetRegDword(Entry(L"a\\nested"), L"IsPromoted", 0);
    SetAllIsPromotedToOne();
    EXPECT_EQ(test::GetRegDword(Entry(L"a"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"a\\nested"), L"IsPromoted"), 0);
    EXPECT_FALSE(test::GetRegRaw(kBase, L"IsPromoted").exists);
}

TEST_F(IconStoreTest, SetAllWithoutTheBaseKeyCreatesNothing)
{
    SetAllIsPromotedToOne();
    SetAllIsPromotedToOff();
    EXPECT_FALSE(test::RegKeyExists(kBase));
    EXPECT_FALSE(test::RegKeyExists(L"Control Panel"));
}

TEST_F(IconStoreTest, DeleteRegistryKeyRemovesOneEntryWithEverythingBelowIt)
{
    test::SetRegDword(Entry(L"victim"), L"IsPromoted", 1);
    test::SetRegDword(Entry(L"victim\\child\\grandchild"), L"x", 1);
    test::SetRegDword(Entry(L"other"), L"IsPromoted", 1);

    DeleteRegistryKey(L"victim");
    EXPECT_EQ(test::RegSubkeys(kBase), std::vector<std::wstring>{L"other"});

    for (const wchar_t* name : {L"victim", L"", L"other\\..", L"\\"}) {
        DeleteRegistryKey(name); // nothing to delete, or not one entry's name
    }
    EXPECT_EQ(test::RegSubkeys(kBase), std::vector<std::wstring>{L"other"});
}

TEST_F(IconStoreTest, DeleteRegistryKeyWithoutTheBaseKeyCreatesNothing)
{
    DeleteRegistryKey(L"anything");
    EXPECT_FALSE(test::RegKeyExists(kBase));
}

TEST_F(IconStoreTest, LastWriteTimeOrdersWritesAndIsZeroWhenUnknown)
{
    EXPECT_EQ(GetRegistryKeyLastWriteTime(Entry(L"missing")), 0);

    test::SetRegDword(Entry(L"first"), L"IsPromoted", 1);
    LetTimePass();
    test::SetRegDword(Entry(L"second"), L"IsPromoted", 1);
    const KeyWriteTime first = GetRegistryKeyLastWriteTime(Entry(L"first"));
    const KeyWriteTime second = GetRegistryKeyLastWriteTime(Entry(L"second"));
    EXPECT_GT(first, 0);
    EXPECT_LT(first, second);
    EXPECT_EQ(first, static_cast<KeyWriteTime>(Ticks(test::RegLastWrite(Entry(L"first"))) / 10'000));

    // A real time of today is far above zero, so "unknown" sorts first.
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    EXPECT_NEAR(static_cast<double>(ToKeyWriteTime(now)), static_cast<double>(second), 60'000.0);
    const FILETIME invalid{0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(ToKeyWriteTime(invalid), 0);
}

// One table for the three readers: a value of another type, or outside the
// binary reader's cap, is absent, while `exists` still sees it.
TEST(EntryValueReaders, AValueOfAnotherTypeIsAbsent)
{
    const auto utf16 = [](std::wstring_view text) {
        std::vector<BYTE> bytes;
        for (const wchar_t c : text) {
            bytes.push_back(static_cast<BYTE>(c & 0xFF));
            bytes.push_back(static_cast<BYTE>(c >> 8));
        }
        return bytes;
    };
    const std::wstring longText(300, L'x'); // beyond the first query's buffer
    struct Case {
        const char* name;
        DWORD type; // REG_NONE: no value
        std::vector<BYTE> data;
        std::optional<std::wstring> text;
        std::optional<std::uint32_t> number;
        std::vector<std::uint8_t> binary; // read with a cap of 4 bytes
    } cases[] = {
        {"string", REG_SZ, utf16(std::wstring(L"a.exe") + L'\0'), L"a.exe", {}, {}},
        {"expandable string, not expanded", REG_EXPAND_SZ, utf16(std::wstring(L"%x%") + L'\0'), L"%x%", {}, {}},
        {"string cut at its first NUL", REG_SZ, utf16(std::wstring(L"ab\0cd", 5)), L"ab", {}, {}},
        {"string without NUL", REG_SZ, utf16(L"ab"), L"ab", {}, {}},
        {"long string", REG_SZ, utf16(longText), longText, {}, {}},
        {"multi-string", REG_MULTI_SZ, utf16(std::wstring(L"a\0\0", 3)), {}, {}, {}},
        {"DWORD", REG_DWORD, {7, 0, 0, 0}, {}, 7u, {}},
        {"QWORD", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, {}, {}, {}},
        {"binary of four bytes", REG_BINARY, {1, 2, 3, 4}, {}, {}, {1, 2, 3, 4}},
        {"binary over the cap", REG_BINARY, {1, 2, 3, 4, 5}, {}, {}, {}},
        {"empty binary", REG_BINARY, {}, {}, {}, {}},
        {"missing", REG_NONE, {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RegistrySandbox sandbox;
        test::CreateRegKey(Entry(L"e"));
        if (c.type != REG_NONE) {
            test::SetRegRaw(Entry(L"e"), L"V", c.type, c.data);
        }
        unique_hkey entry;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, Entry(L"e").c_str(), 0, KEY_QUERY_VALUE, entry.put()),
                  ERROR_SUCCESS);
        bool stringExists = false;
        bool numberExists = false;
        EXPECT_EQ(ReadEntryString(entry.get(), L"V", &stringExists), c.text);
        EXPECT_EQ(ReadEntryDword(entry.get(), L"V", &numberExists), c.number);
        EXPECT_EQ(ReadEntryBinary(entry.get(), L"V", 4), c.binary);
        EXPECT_EQ(stringExists, c.type != REG_NONE);
        EXPECT_EQ(numberExists, c.type != REG_NONE);
    }
}

} // namespace
} // namespace merovane
