#include "base/error.h"
#include "base/registry.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstring>

namespace merovane {
namespace {

using test::RegistrySandbox;

std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

std::vector<BYTE> WideBytes(std::wstring_view text)
{
    return Bytes(text.data(), text.size() * sizeof(wchar_t));
}

// Runs the call and returns the Win32 code of the Error it throws (0 when none).
template <typename Call>
DWORD ErrorCodeOf(Call&& call)
{
    try {
        call();
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), SystemMessage(error.code()));
        EXPECT_FALSE(error.message().empty());
        return error.code();
    }
    return 0;
}

class RegistryAccessorTest : public ::testing::Test {
protected:
    RegistrySandbox sandbox;
};

TEST_F(RegistryAccessorTest, OpenKeyCreatesOnlyWhenAsked)
{
    RegistryAccessor registry;
    EXPECT_FALSE(registry.OpenKey(L"A\\B\\C", false));
    EXPECT_FALSE(test::RegKeyExists(L"A"));
    EXPECT_EQ(registry.CurrentKey(), nullptr);

    ASSERT_TRUE(registry.OpenKey(L"A\\B\\C", true));
    EXPECT_TRUE(test::RegKeyExists(L"A\\B\\C"));
    EXPECT_EQ(registry.CurrentPath(), L"A\\B\\C");
}

TEST_F(RegistryAccessorTest, PathsResolveAgainstTheOpenKeyOrTheRoot)
{
    test::CreateRegKey(L"A\\B\\C");
    test::CreateRegKey(L"B");
    test::SetRegString(L"A\\B", L"where", L"A\\B");
    test::SetRegString(L"B", L"where", L"B");

    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"A", false));
    ASSERT_TRUE(registry.OpenKey(L"B", false)); // below A
    EXPECT_EQ(registry.CurrentPath(), L"A\\B");
    EXPECT_EQ(registry.ReadString(L"where"), L"A\\B");
    EXPECT_TRUE(registry.KeyExists(L"C"));
    EXPECT_FALSE(registry.KeyExists(L"A"));
    EXPECT_TRUE(registry.KeyExists(L"\\A"));

    ASSERT_TRUE(registry.OpenKey(L"\\B\\", false)); // from the root
    EXPECT_EQ(registry.CurrentPath(), L"B");
    EXPECT_EQ(registry.ReadString(L"where"), L"B");
}

TEST_F(RegistryAccessorTest, FailedOpenKeepsThePreviousKey)
{
    test::SetRegString(L"Kept", L"name", L"kept");
    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"Kept", false));
    EXPECT_FALSE(registry.OpenKey(L"\\Missing", false));
    EXPECT_EQ(registry.CurrentPath(), L"Kept");
    EXPECT_EQ(registry.ReadString(L"name"), L"kept");

    registry.CloseKey();
    EXPECT_EQ(registry.CurrentKey(), nullptr);
    EXPECT_FALSE(registry.ValueExists(L"name"));
}

TEST_F(RegistryAccessorTest, GetKeyNamesListsDirectSubkeysInEnumerationOrder)
{
    for (const wchar_t* name : {L"Root\\{B}", L"Root\\a", L"Root\\Z\\deeper", L"Root\\0"}) {
        test::CreateRegKey(name);
    }
    RegistryAccessor registry;
    EXPECT_TRUE(registry.GetKeyNames().empty()); // nothing open
    ASSERT_TRUE(registry.OpenKey(L"Root", false));
    EXPECT_EQ(registry.GetKeyNames(), test::RegSubkeys(L"Root"));
    EXPECT_EQ(registry.GetKeyNames().size(), 4u);
    ASSERT_TRUE(registry.OpenKey(L"a", false));
    EXPECT_TRUE(registry.GetKeyNames().empty());
}

TEST_F(RegistryAccessorTest, ReadStringTakesTextTypesUpToTheFirstNul)
{
    const std::wstring longText(100'000, L'x');
    struct Case {
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> data;
        std::wstring expected;
    } cases[] = {
        {L"plain", REG_SZ, WideBytes(std::wstring_view(L"Hello, мир\0", 11)), L"Hello, мир"},
        {L"expand", REG_EXPAND_SZ, WideBytes(std::wstring_view(L"%TEMP%\\x\0", 9)), L"%TEMP%\\x"},
        {L"embedded nul", REG_SZ, WideBytes(std::wstring_view(L"ab\0cd\0", 6)), L"ab"},
        {L"no terminator", REG_SZ, WideBytes(L"abc"), L"abc"},
        {L"odd size", REG_SZ, {'a', 0, 'b'}, L"a"},
        {L"empty", REG_SZ, {}, L""},
        {L"", REG_SZ, WideBytes(std::wstring_view(L"default\0", 8)), L"default"},
        {L"long", REG_SZ, WideBytes(longText), longText},
    };
    for (const Case& c : cases) {
        test::SetRegRaw(L"Values", c.name, c.type, c.data);
    }
    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"Values", false));
    for (const Case& c : cases) {
        EXPECT_EQ(registry.ReadString(c.name), c.expected) << "value \"" << ToUtf8(c.name) << '"';
    }
    EXPECT_EQ(registry.ReadString(L"missing"), L"");
}

TEST_F(RegistryAccessorTest, ReadIntegerTakesOnlyFourByteDwords)
{
    const DWORD minusOne = 0xFFFFFFFF;
    const DWORD seven = 7;
    const ULONGLONG big = 1;
    test::SetRegRaw(L"Values", L"dword", REG_DWORD, Bytes(&seven, 4));
    test::SetRegRaw(L"Values", L"negative", REG_DWORD, Bytes(&minusOne, 4));
    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"Values", false));
    EXPECT_EQ(registry.ReadInteger(L"dword"), 7);
    EXPECT_EQ(registry.ReadInteger(L"negative"), -1);

    struct Case {
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> data;
    } wrong[] = {
        {L"string", REG_SZ, WideBytes(std::wstring_view(L"1\0", 2))},
        {L"binary", REG_BINARY, Bytes(&seven, 4)},
        {L"short dword", REG_DWORD, Bytes(&seven, 2)},
        {L"qword", REG_QWORD, Bytes(&big, 8)},
        {L"empty dword", REG_DWORD, {}},
    };
    for (const Case& c : wrong) {
        test::SetRegRaw(L"Values", c.name, c.type, c.data);
        EXPECT_EQ(ErrorCodeOf([&] { (void)registry.ReadInteger(c.name); }), DWORD{ERROR_DATATYPE_MISMATCH})
            << ToUtf8(c.name);
        EXPECT_FALSE(registry.TryReadInteger(c.name).has_value()) << ToUtf8(c.name);
        EXPECT_TRUE(registry.ValueExists(c.name)) << ToUtf8(c.name);
    }
    EXPECT_EQ(ErrorCodeOf([&] { (void)registry.ReadInteger(L"missing"); }), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(registry.TryReadInteger(L"dword"), std::optional<std::uint32_t>(7));
    EXPECT_FALSE(registry.TryReadInteger(L"missing").has_value());
}

TEST_F(RegistryAccessorTest, ReadStringRejectsOtherTypes)
{
    const DWORD one = 1;
    test::SetRegRaw(L"Values", L"dword", REG_DWORD, Bytes(&one, 4));
    test::SetRegRaw(L"Values", L"multi", REG_MULTI_SZ, WideBytes(std::wstring_view(L"a\0b\0\0", 5)));
    test::SetRegRaw(L"Values", L"binary", REG_BINARY, {1, 2, 3});
    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"Values", false));
    for (const wchar_t* name : {L"dword", L"multi", L"binary"}) {
        EXPECT_EQ(ErrorCodeOf([&] { (void)registry.ReadString(name); }), DWORD{ERROR_DATATYPE_MISMATCH})
            << ToUtf8(name);
    }
}

TEST_F(RegistryAccessorTest, WritesStoreTheirTypeAndFailuresThrow)
{
    RegistryAccessor registry;
    EXPECT_EQ(ErrorCodeOf([&] { registry.WriteInteger(L"x", 1); }), DWORD{ERROR_INVALID_HANDLE});

    ASSERT_TRUE(registry.OpenKey(L"Out", true));
    registry.WriteInteger(L"number", -2);
    registry.WriteString(L"text", L"Путь C:\\x");
    EXPECT_EQ(test::GetRegDword(L"Out", L"number"), 0xFFFFFFFE);
    const test::RawValue text = test::GetRegRaw(L"Out", L"text");
    EXPECT_EQ(text.type, DWORD{REG_SZ});
    EXPECT_EQ(text.data, WideBytes(std::wstring_view(L"Путь C:\\x\0", 10)));

    RegistryAccessor readOnly(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(readOnly.OpenKey(L"Out", false));
    EXPECT_EQ(ErrorCodeOf([&] { readOnly.WriteInteger(L"number", 5); }), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(test::GetRegDword(L"Out", L"number"), 0xFFFFFFFE);
}

TEST_F(RegistryAccessorTest, DeleteValueReportsWhetherItWasThere)
{
    test::SetRegDword(L"Values", L"gone", 1);
    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"Values", false));
    EXPECT_TRUE(registry.DeleteValue(L"gone"));
    EXPECT_FALSE(registry.DeleteValue(L"gone"));
    EXPECT_FALSE(registry.ValueExists(L"gone"));
}

TEST_F(RegistryAccessorTest, DeleteKeyRemovesTheWholeTree)
{
    test::SetRegDword(L"Base\\Victim", L"v", 1);
    test::SetRegDword(L"Base\\Victim\\Child\\Grandchild", L"v", 1);
    test::CreateRegKey(L"Base\\Victim\\Second");
    test::CreateRegKey(L"Base\\Sibling");

    RegistryAccessor registry;
    ASSERT_TRUE(registry.OpenKey(L"Base", false));
    EXPECT_TRUE(registry.DeleteKey(L"Victim"));
    EXPECT_FALSE(test::RegKeyExists(L"Base\\Victim"));
    EXPECT_TRUE(test::RegKeyExists(L"Base\\Sibling"));
    EXPECT_FALSE(registry.DeleteKey(L"Victim"));

    // The open key itself, or the root, is never deleted through an empty path.
    EXPECT_FALSE(registry.DeleteKey(L""));
    EXPECT_FALSE(registry.DeleteKey(L"\\"));
    EXPECT_TRUE(test::RegKeyExists(L"Base\\Sibling"));
}

TEST_F(RegistryAccessorTest, ClassesRootIsARootOfItsOwn)
{
    HKEY classes = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{X}", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes,
                                nullptr),
              ERROR_SUCCESS);
    const std::wstring name = L"Class name";
    ::RegSetValueExW(classes, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(classes);

    RegistryAccessor registry(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(registry.OpenKey(L"CLSID\\{X}", false));
    EXPECT_EQ(registry.ReadString(L""), name);
    EXPECT_FALSE(test::RegKeyExists(L"CLSID\\{X}"));
}

} // namespace
} // namespace merovane
