#include "base/error.h"
#include "base/handles.h"
#include "base/ini_file.h"
#include "support/language_file.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>

namespace merovane {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using test::TempDir;

// What the parser kept: one line per header, entries indented below it.
std::string Dump(const IniFile& file)
{
    std::wstring text;
    for (const IniSection& section : file.Sections()) {
        text += L"[" + section.name + L"]\n";
        for (const IniEntry& entry : section.entries) {
            text += L"  " + entry.key + (entry.value ? L"=" + *entry.value : L"") + L"\n";
        }
    }
    return ToUtf8(text);
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::wstring> FolderContents(const TempDir& dir)
{
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        names.push_back(entry.path().lexically_relative(dir.path()).wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the call and returns the Win32 code of the Error it throws (0 when none).
template <typename Call>
DWORD ErrorCodeOf(Call&& call)
{
    try {
        call();
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), SystemMessage(error.code()));
        return error.code();
    }
    return 0;
}

TEST(IniGrammar, LinesBecomeSectionsAndEntries)
{
    const struct {
        std::wstring_view text;
        std::string expected;
    } cases[] = {
        {L"", ""},
        {L"before=header\r\n[S]\r\na=1", "[S]\n  a=1\n"},
        {L"[S]\r\n; comment\r\n\r\n   ;indented comment\r\n#x=1", "[S]\n  #x=1\n"},
        {L"[S]\rCR=1\nLF=2\r\nCRLF=3\n\rafter=4", "[S]\n  CR=1\n  LF=2\n  CRLF=3\n  after=4\n"},
        {L"\t[ S x ]\x01\r\n\x1f key \t=\t v \x7f w \x0b", "[S x]\n  key=v \x7f w\n"},
        {L"[S]\0\r\nk=\0v\0"sv, "[S]\n  k=v\n"},
        {L"[S]\r\na = b = c\r\n=only value\r\nempty=\r\nblank = \r\nbare\r\n  bare with blanks  ",
         "[S]\n  a=b = c\n  =only value\n  empty=\n  blank=\n  bare\n  bare with blanks\n"},
        {L"[S]\r\nq=\"quoted\" \\n;not a comment ", "[S]\n  q=\"quoted\" \\n;not a comment\n"},
        {L"[S]\r\n[open\r\nclose]\r\n[\r\n]\r\n[a]b]\r\nk=v", "[S]\n  [open\n  close]\n  [\n  ]\n[a]b]\n  k=v\n"},
        {L"[]\r\nk=v", "[]\n  k=v\n"},
        {L"[S]\r\na=1\r\nA=2\r\na=3", "[S]\n  a=1\n  A=2\n  a=3\n"},
        {L"[S]\r\na=1\r\n[T]\r\nb=2\r\n[ s ]\r\na=9\r\nc=3\r\n[U]\r\nd=4\r\n[t]\r\ne=5",
         "[S]\n  a=1\n  a=9\n  c=3\n[T]\n  b=2\n  e=5\n[U]\n  d=4\n"},
        {L"[Секция]\r\nключ=1\r\n[СЕКЦИЯ]\r\nключ=2", "[Секция]\n  ключ=1\n  ключ=2\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Dump(IniFile::FromText(c.text)), c.expected) << ToUtf8(c.text);
    }
}

TEST(IniGrammar, LookupsIgnoreCaseAndTakeTheFirstEntry)
{
    const IniFile file = IniFile::FromText(L"[Main]\r\nName=first\r\nNAME=second\r\nBare\r\nOther=x\r\n"
                                           L"[Пусто]\r\n[Языки]\r\nРусский=да\r\n");
    EXPECT_EQ(file.SectionNames(), (std::vector<std::wstring>{L"Main", L"Пусто", L"Языки"}));
    EXPECT_EQ(file.SectionKeys(L"MAIN"), (std::vector<std::wstring>{L"Name", L"NAME", L"Bare", L"Other"}));
    EXPECT_TRUE(file.SectionKeys(L"missing").empty());
    EXPECT_TRUE(file.SectionExists(L"пусто"));
    EXPECT_FALSE(file.SectionExists(L"Mai"));

    EXPECT_EQ(file.ReadString(L"main", L"name"), L"first");
    EXPECT_EQ(file.ReadString(L"ЯЗЫКИ", L"русский"), L"да");
    EXPECT_EQ(file.ReadString(L"Main", L"bare"), L"");
    EXPECT_TRUE(file.KeyExists(L"Main", L"BARE"));
    EXPECT_EQ(file.ReadString(L"Main", L"missing"), std::nullopt);
    EXPECT_EQ(file.ReadString(L"Missing", L"Name"), std::nullopt);
    EXPECT_FALSE(file.KeyExists(L"Пусто", L"Name"));
    EXPECT_EQ(file.ReadString(L"Main", L"missing", L"fallback"), L"fallback");
    EXPECT_EQ(file.ReadString(L"Main", L"Bare", L"fallback"), L"");
}

TEST(IniGrammar, IntegersAreDecimalOrHexadecimal)
{
    const struct {
        std::wstring_view text;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {L"0", 0},
        {L"42", 42},
        {L"007", 7},
        {L"+7", 7},
        {L"-0", 0},
        {L"-15", -15},
        {L"2147483647", INT32_MAX},
        {L"-2147483648", INT32_MIN},
        {L"0x1", 1},
        {L"0X1a", 26},
        {L"$fF", 255},
        {L"0xFFFFFFFF", -1},
        {L"$80000000", INT32_MIN},
        {L"0x000000001", 1},
        {L"2147483648", std::nullopt},
        {L"-2147483649", std::nullopt},
        {L"99999999999999999999", std::nullopt},
        {L"0x100000000", std::nullopt},
        {L"", std::nullopt},
        {L"-", std::nullopt},
        {L"+-1", std::nullopt},
        {L"0x", std::nullopt},
        {L"$", std::nullopt},
        {L"-0x1", std::nullopt},
        {L"0x1g", std::nullopt},
        {L"x1", std::nullopt},
        {L"yes", std::nullopt},
        {L"true", std::nullopt},
        {L"1.5", std::nullopt},
        {L"12abc", std::nullopt},
        {L" 1", std::nullopt},
        {L"1 ", std::nullopt},
        {L"\xFF11", std::nullopt}, // fullwidth digit one
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseIniInteger(c.text), c.expected) << '"' << ToUtf8(c.text) << '"';
    }

    const IniFile file = IniFile::FromText(L"[S]\r\nhex=0x1\r\nword=yes\r\nzero=0\r\ntwo=2\r\nbare\r\n");
    EXPECT_TRUE(file.ReadBool(L"S", L"hex", false));
    EXPECT_TRUE(file.ReadBool(L"S", L"two", false));
    EXPECT_FALSE(file.ReadBool(L"S", L"zero", true));
    EXPECT_TRUE(file.ReadBool(L"S", L"word", true));
    EXPECT_FALSE(file.ReadBool(L"S", L"word", false));
    EXPECT_TRUE(file.ReadBool(L"S", L"bare", true));
    EXPECT_TRUE(file.ReadBool(L"S", L"missing", true));
    EXPECT_EQ(file.ReadInteger(L"S", L"word", -7), -7);
    EXPECT_EQ(file.ReadInteger(L"S", L"two", -7), 2);
}

TEST(IniEditing, WritesChangeTheFirstEntryOrAppendAtTheEndOfTheSection)
{
    IniFile file = IniFile::FromText(L"[A]\r\nkey=1\r\nKEY=2\r\nbare\r\n[B]\r\nx=1\r\n");
    file.WriteString(L"a", L"Key", L"changed");
    file.WriteString(L"A", L"BARE", L"now with value");
    file.WriteString(L"A", L"new", L"appended to A");
    file.WriteInteger(L"b", L"number", -5);
    file.WriteBool(L"B", L"on", true);
    file.WriteBool(L"B", L"off", false);
    file.WriteString(L"C", L"k", L"");
    EXPECT_EQ(file.ToText(), L"[A]\r\nkey=changed\r\nKEY=2\r\nbare=now with value\r\nnew=appended to A\r\n\r\n"
                             L"[B]\r\nx=1\r\nnumber=-5\r\non=1\r\noff=0\r\n\r\n"
                             L"[C]\r\nk=\r\n\r\n");

    // A line break would turn the rest of the value into lines of their own.
    for (const auto& [section, key, value] : {std::tuple{L"A", L"k", L"a\r\n[B]"}, std::tuple{L"A", L"k\n", L"v"},
                                              std::tuple{L"A\r", L"k", L"v"}}) {
        EXPECT_EQ(ErrorCodeOf([&] { file.WriteString(section, key, value); }), DWORD{ERROR_INVALID_DATA});
    }
    EXPECT_EQ(file.SectionNames(), (std::vector<std::wstring>{L"A", L"B", L"C"}));
}

TEST(IniEditing, ARepeatedSectionKeepsItsEntriesThroughASave)
{
    const struct {
        std::wstring_view text;
        std::wstring_view theme; // what a reader gets for ThemeDark
        std::wstring_view saved; // after Width is written
    } cases[] = {
        {L"[Option]\r\nThemeDark=0\r\n[Language]\r\nLanguage=English\r\n[Option]\r\nHeight=800\r\nThemeDark=1\r\n",
         L"0",
         L"[Option]\r\nThemeDark=0\r\nHeight=800\r\nThemeDark=1\r\nWidth=600\r\n\r\n"
         L"[Language]\r\nLanguage=English\r\n\r\n"},
        {L"[Option]\r\nWidth=1\r\n[option]\r\nHeight=800\r\nThemeDark=1\r\n", L"1",
         L"[Option]\r\nWidth=600\r\nHeight=800\r\nThemeDark=1\r\n\r\n"},
        {L"[Option]\r\n[ OPTION ]\r\nThemeDark=1\r\n[Option]\r\nHeight=800\r\n", L"1",
         L"[Option]\r\nThemeDark=1\r\nHeight=800\r\nWidth=600\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.text));
        TempDir dir;
        const std::wstring path = dir / L"Option.ini";
        test::WriteFileBytes(path, ToUtf8(c.text));
        IniFile file = IniFile::Load(path);
        EXPECT_EQ(file.ReadString(L"Option", L"ThemeDark"), c.theme);
        EXPECT_EQ(file.ReadInteger(L"Option", L"Height", 0), 800);
        file.WriteInteger(L"Option", L"Width", 600);
        file.Save(path);
        EXPECT_EQ(ReadBytes(path), ToUtf8(c.saved));
    }
}

TEST(IniEditing, RemoveIfAsksAboutEveryEntryInOrderThenAboutSections)
{
    IniFile file = IniFile::FromText(L"[A]\r\na=1\r\nb=2\r\nc=3\r\n[B]\r\nx=1\r\n[C]\r\n[D]\r\ny=1\r\n");
    std::vector<std::wstring> asked;
    const auto dropBAndX = [&](const IniSection& section, const IniEntry& entry) {
        // The section is whole while its entries are judged.
        asked.push_back(section.name + L"." + entry.key + L"/" + std::to_wstring(section.entries.size()));
        return entry.key == L"b" || entry.key == L"x";
    };
    const auto dropEmpty = [](const IniSection& section) { return section.entries.empty(); };
    EXPECT_TRUE(file.RemoveIf(dropBAndX, dropEmpty));
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"A.a/3", L"A.b/3", L"A.c/3", L"B.x/1", L"D.y/1"}));
    EXPECT_EQ(file.ToText(), L"[A]\r\na=1\r\nc=3\r\n\r\n[D]\r\ny=1\r\n\r\n");

    EXPECT_FALSE(file.RemoveIf(dropBAndX, dropEmpty));
    EXPECT_EQ(file.ToText(), L"[A]\r\na=1\r\nc=3\r\n\r\n[D]\r\ny=1\r\n\r\n");
}

TEST(IniEditing, DeleteRemovesTheFirstEntryAndEraseTheWholeSection)
{
    IniFile file = IniFile::FromText(L"[A]\r\nk=first\r\nother=x\r\nK=second\r\n[B]\r\ny=1\r\n[C]\r\n");
    EXPECT_TRUE(file.DeleteKey(L"a", L"K"));
    EXPECT_EQ(file.ReadString(L"A", L"k"), L"second");
    EXPECT_EQ(file.SectionKeys(L"A"), (std::vector<std::wstring>{L"other", L"K"}));
    EXPECT_FALSE(file.DeleteKey(L"A", L"missing"));
    EXPECT_FALSE(file.DeleteKey(L"Missing", L"k"));

    EXPECT_TRUE(file.EraseSection(L"b"));
    EXPECT_FALSE(file.EraseSection(L"B"));
    EXPECT_FALSE(file.SectionExists(L"B"));
    file.WriteString(L"B", L"y", L"back");
    EXPECT_EQ(file.ToText(), L"[A]\r\nother=x\r\nK=second\r\n\r\n[C]\r\n\r\n[B]\r\ny=back\r\n\r\n");

    // Deleting the last entry leaves the section in place.
    EXPECT_TRUE(file.DeleteKey(L"B", L"y"));
    EXPECT_TRUE(file.SectionExists(L"B"));
}

TEST(IniEncoding, EachEncodingRoundTripsByteForByte)
{
    const std::wstring text = L"[Merovane]\r\nForm2.Caption=Настройки\r\nequals=a=b\r\nbare\r\n\r\n[Пусто]\r\n\r\n";
    // Cyrillic in code page 1251; whatever the ANSI code page, each byte maps and maps back.
    const std::string ansi = "[Merovane]\r\nForm2.Caption=\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8\r\nequals=a=b\r\n"
                             "bare\r\n\r\n[\xCF\xF3\xF1\xF2\xEE]\r\n\r\n";
    const struct {
        const char* name;
        TextEncoding encoding;
        std::string bytes;
        bool cyrillic; // whether the decoded text is known
    } cases[] = {
        {"ANSI", TextEncoding::Ansi, ansi, false},
        {"UTF-8", TextEncoding::Utf8, "\xEF\xBB\xBF" + ToUtf8(text), true},
        {"UTF-16 LE", TextEncoding::Utf16LE, "\xFF\xFE" + test::Utf16Bytes(text, false), true},
        {"UTF-16 BE", TextEncoding::Utf16BE, "\xFE\xFF" + test::Utf16Bytes(text, true), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::wstring path = dir / L"file.ini";
        test::WriteFileBytes(path, c.bytes);

        IniFile file = IniFile::Load(path);
        EXPECT_EQ(file.Encoding(), c.encoding);
        EXPECT_TRUE(file.Faithful());
        if (c.cyrillic) {
            EXPECT_EQ(file.ReadString(L"Merovane", L"Form2.Caption"), L"Настройки");
            EXPECT_TRUE(file.SectionExists(L"ПУСТО"));
        }
        file.Save(path);
        EXPECT_EQ(ReadBytes(path), c.bytes);

        file.WriteString(L"Merovane", L"Added", L"x");
        file.Save(path);
        const IniFile again = IniFile::Load(path);
        EXPECT_EQ(again.Encoding(), c.encoding);
        EXPECT_EQ(again.ReadString(L"merovane", L"added"), L"x");
        EXPECT_EQ(again.ToText(), file.ToText());
    }
}

TEST(IniEncoding, TextTheAnsiCodePageCannotHoldIsSavedAsUtf8)
{
    if (::GetACP() == CP_UTF8) {
        GTEST_SKIP() << "the ANSI code page is UTF-8 and holds everything";
    }
    IniFile file;
    file.WriteString(L"S", L"plain", L"ascii");
    EXPECT_EQ(file.ToBytes(), "[S]\r\nplain=ascii\r\n\r\n");

    // No ANSI code page has both scripts and the emoji.
    const std::wstring wide = L"Привет 中文 \U0001F600";
    file.WriteString(L"S", L"wide", wide);
    const std::string bytes = file.ToBytes();
    ASSERT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
    const IniFile reread = IniFile::FromBytes(bytes);
    EXPECT_EQ(reread.Encoding(), TextEncoding::Utf8);
    EXPECT_EQ(reread.ReadString(L"S", L"wide"), wide);
}

TEST(IniEncoding, MalformedBytesDecodeWithoutHarm)
{
    constexpr std::optional<bool> dependsOnCodePage;
    constexpr std::optional<std::string_view> notChecked;
    const struct {
        const char* name;
        std::string bytes;
        TextEncoding encoding;
        std::optional<bool> faithful;
        std::optional<std::string_view> expected;
    } cases[] = {
        {"lone UTF-8 mark", "\xEF\xBB\xBF", TextEncoding::Utf8, true, ""},
        {"lone UTF-16 LE mark", "\xFF\xFE", TextEncoding::Utf16LE, true, ""},
        {"lone UTF-16 BE mark", "\xFE\xFF", TextEncoding::Utf16BE, true, ""},
        {"partial UTF-8 mark", "\xEF\xBB\n[S]\nk=v", TextEncoding::Ansi, dependsOnCodePage, "[S]\n  k=v\n"},
        {"mark and one byte", "\xFF\xFE\xFF", TextEncoding::Utf16LE, false, ""},
        {"odd UTF-16 LE", "\xFF\xFE" + test::Utf16Bytes(L"[S]\nk=v", false) + "\n", TextEncoding::Utf16LE, false,
         "[S]\n  k=v\n"},
        {"odd UTF-16 BE", "\xFE\xFF" + test::Utf16Bytes(L"[S]\nk=v", true) + "\x00"s, TextEncoding::Utf16BE, false,
         "[S]\n  k=v\n"},
        {"NUL bytes", "[S]\0\nk=\0v\0\nz=a\0b"s, TextEncoding::Ansi, false, "[S]\n  k=v\n  z=a\0b\n"sv},
        {"one NUL", "[S]\r\nk=v\r\n\0"s, TextEncoding::Ansi, false, "[S]\n  k=v\n"},
        // UTF-16 without its mark is read as such, but not rewritten by a tidy-up.
        {"UTF-16 LE without mark", test::Utf16Bytes(L"[S]\r\nk=v", false), TextEncoding::Utf16LE, false, "[S]\n  k=v\n"},
        {"UTF-16 BE without mark", test::Utf16Bytes(L"[S]\r\nk=v", true), TextEncoding::Utf16BE, false, "[S]\n  k=v\n"},
        {"Cyrillic UTF-16 LE without mark", test::Utf16Bytes(L"[Секция]\r\nк=Настройки программы", false),
         TextEncoding::Utf16LE, false, "[Секция]\n  к=Настройки программы\n"},
        {"odd UTF-16 LE without mark", test::Utf16Bytes(L"[S]\r\nk=v", false) + "\n", TextEncoding::Utf16LE, false,
         "[S]\n  k=v\n"},
        {"UTF-16 NUL units", "\xFF\xFE" + test::Utf16Bytes(L"[S]\nk=a\0b"sv, false), TextEncoding::Utf16LE, true,
         "[S]\n  k=a\0b\n"sv},
        {"UTF-16 lone surrogate", "\xFF\xFE" + test::Utf16Bytes(L"[S]\nk=\xD800", false), TextEncoding::Utf16LE, true,
         notChecked},
        {"invalid UTF-8", "\xEF\xBB\xBF[S]\nk=\xC3(", TextEncoding::Utf8, false, notChecked},
        {"truncated UTF-8", "\xEF\xBB\xBF[S]\nk=\xE2\x82", TextEncoding::Utf8, false, notChecked},
        {"overlong UTF-8", "\xEF\xBB\xBF[S]\nk=\xC0\xAF", TextEncoding::Utf8, false, notChecked},
        {"UTF-8 surrogate", "\xEF\xBB\xBF[S]\nk=\xED\xA0\x80", TextEncoding::Utf8, false, notChecked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IniFile file = IniFile::FromBytes(c.bytes);
        EXPECT_EQ(file.Encoding(), c.encoding);
        if (c.faithful) {
            EXPECT_EQ(file.Faithful(), *c.faithful);
        }
        if (c.expected) {
            EXPECT_EQ(Dump(file), *c.expected);
        } else {
            EXPECT_EQ(file.SectionKeys(L"S"), std::vector<std::wstring>{L"k"});
        }
        EXPECT_NO_THROW((void)file.ToBytes());
    }
}

TEST(IniEncoding, GarbageLoadsWhateverLinesItMakes)
{
    std::uint32_t state = 12345;
    std::string noise(1 << 16, '\0');
    for (char& byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    for (const std::string& prefix : {""s, "\xEF\xBB\xBF"s, "\xFF\xFE"s, "\xFE\xFF"s, "\xFF\xFE\x01"s}) {
        const IniFile file = IniFile::FromBytes(prefix + noise);
        const IniFile again = IniFile::FromBytes(file.ToBytes());
        EXPECT_EQ(again.Sections().size(), file.Sections().size());
    }
}

TEST(IniEncoding, BigFilesLoadInLinearTime)
{
    TempDir dir;
    std::string oneLine = "[S]\r\nk=";
    oneLine.append(10 << 20, 'x');
    std::string manySections;
    for (int i = 0; manySections.size() < (10u << 20); ++i) {
        manySections += "[Section" + std::to_string(i) + "]\r\nkey=value\r\n";
    }
    manySections += "[section0]\r\nkey=repeated\r\n";

    for (const std::string* bytes : {&oneLine, &manySections}) {
        const std::wstring path = dir / L"big.ini";
        test::WriteFileBytes(path, *bytes);
        const auto start = std::chrono::steady_clock::now();
        const IniFile file = IniFile::Load(path);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        // Quadratic work on 10 MB would take hours; this bounds it generously
        // for a busy machine under Wine.
        EXPECT_LT(elapsed, std::chrono::seconds(10));
        EXPECT_TRUE(file.Faithful());
        if (bytes == &oneLine) {
            EXPECT_EQ(file.ReadString(L"S", L"k")->size(), size_t{10 << 20});
        } else {
            EXPECT_EQ(file.ReadString(L"Section0", L"key"), L"value");
        }
    }
}

TEST(IniFiles, MissingFilesLoadEmptyAndOtherFailuresThrow)
{
    TempDir dir;
    for (const std::wstring& path : {dir / L"missing.ini", dir / L"no folder\\missing.ini"}) {
        const IniFile file = IniFile::Load(path);
        EXPECT_TRUE(file.Sections().empty());
        EXPECT_EQ(file.Encoding(), TextEncoding::Ansi);
    }
    EXPECT_NE(ErrorCodeOf([&] { (void)IniFile::Load(dir.path().wstring()); }), DWORD{0});

    const std::wstring locked = dir / L"locked.ini";
    test::WriteFileBytes(locked, "[S]\r\n");
    unique_file holder(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(ErrorCodeOf([&] { (void)IniFile::Load(locked); }), DWORD{ERROR_SHARING_VIOLATION});
}

TEST(IniFiles, SaveCreatesOrReplacesKeepingAttributes)
{
    TempDir dir;
    const std::wstring path = dir / L"Option.ini";
    IniFile file;
    file.WriteString(L"S", L"k", L"1");
    file.Save(path);
    EXPECT_EQ(ReadBytes(path), "[S]\r\nk=1\r\n\r\n");

    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    file.WriteString(L"S", L"k", L"2");
    file.Save(path);
    EXPECT_EQ(ReadBytes(path), "[S]\r\nk=2\r\n\r\n");
    EXPECT_NE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    // A relative path names the same file as the full one.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    file.WriteString(L"S", L"k", L"3");
    EXPECT_NO_THROW(file.Save(L"Option.ini"));
    std::filesystem::current_path(previous);
    EXPECT_EQ(ReadBytes(path), "[S]\r\nk=3\r\n\r\n");
    EXPECT_EQ(FolderContents(dir), std::vector<std::wstring>{L"Option.ini"});
}

TEST(IniFiles, FailedSaveLeavesTheTargetAndNoTemporaryFile)
{
    const std::string original = "; comment kept\r\n[S]\r\nk=old\r\n";
    IniFile changed = IniFile::FromBytes(original);
    changed.WriteString(L"S", L"k", L"new");

    struct Case {
        const char* name;
        std::wstring target;                // below the folder
        std::function<void(const std::wstring&)> arrange;
        DWORD expected;
    };
    unique_file holder;
    const Case cases[] = {
        {"read-only target", L"Option.ini",
         [](const std::wstring& path) { ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY); },
         ERROR_ACCESS_DENIED},
        {"missing folder", L"missing\\Option.ini", [](const std::wstring&) {}, ERROR_PATH_NOT_FOUND},
        {"locked target", L"Option.ini",
         [&](const std::wstring& path) {
             holder.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
         },
         0},
        {"folder in the way", L"Folder", [](const std::wstring&) {}, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::WriteFileBytes(dir / L"Option.ini", original);
        std::filesystem::create_directory(dir.path() / L"Folder");
        const std::wstring target = dir / c.target;
        c.arrange(target);
        const std::vector<std::wstring> before = FolderContents(dir);

        const DWORD code = ErrorCodeOf([&] { changed.Save(target); });
        if (c.expected != 0) {
            EXPECT_EQ(code, c.expected);
        } else {
            EXPECT_NE(code, DWORD{0});
        }
        holder.reset();
        EXPECT_EQ(ReadBytes(dir / L"Option.ini"), original);
        EXPECT_EQ(FolderContents(dir), before);
    }
}

// Two files written together (the options and the rules of an import): when
// the second cannot take its place, the first gets its old bytes back.
TEST(IniFiles, FilesReplacedTogetherAreAllNewOrAllAsTheyWere)
{
    enum class Fault { None, FolderInTheWay, HeldOpen, Locked };
    struct Case {
        const char* name;
        bool firstExists;
        Fault fault; // what befalls the second target after both were staged
    } cases[] = {
        {"both replaced", true, Fault::None},
        {"both created", false, Fault::None},
        {"the second target became a folder", true, Fault::FolderInTheWay},
        {"the second target is held open", true, Fault::HeldOpen},
        {"the second target is locked", true, Fault::Locked},
        {"the first target was new: deleted again", false, Fault::HeldOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::wstring first = dir / L"Option.ini";
        const std::wstring second = dir / L"Rules.ini";
        if (c.firstExists) {
            test::WriteFileBytes(first, "first, old");
        }
        test::WriteFileBytes(second, "second, old");
        std::vector<StagedFile> staged;
        staged.emplace_back(first, "first, new");
        staged.emplace_back(second, "second, new");
        unique_file holder;
        if (c.fault == Fault::FolderInTheWay) {
            ASSERT_TRUE(::DeleteFileW(second.c_str()));
            ASSERT_TRUE(::CreateDirectoryW(second.c_str(), nullptr));
        } else if (c.fault != Fault::None) {
            // Open for reading by others, or for no one.
            holder.reset(::CreateFileW(second.c_str(), GENERIC_READ, c.fault == Fault::HeldOpen ? FILE_SHARE_READ : 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder);
        }

        const std::optional<ReplaceFailure> failure = ReplaceTogether(staged);
        holder.reset();
        staged.clear();
        EXPECT_EQ(ReadBytes(second), c.fault == Fault::None ? "second, new" : c.fault == Fault::FolderInTheWay ? "" : "second, old");
        if (c.fault == Fault::None) {
            EXPECT_FALSE(failure);
            EXPECT_EQ(ReadBytes(first), "first, new");
        } else {
            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->index, 1u);
            EXPECT_TRUE(failure->restored);
            EXPECT_NE(failure->error.code(), DWORD{ERROR_SUCCESS});
            EXPECT_EQ(ReadBytes(first), c.firstExists ? "first, old" : "");
            EXPECT_EQ(std::filesystem::exists(std::filesystem::path(first)), c.firstExists);
        }
        std::vector<std::wstring> expected = {L"Option.ini", L"Rules.ini"};
        if (!c.firstExists && c.fault != Fault::None) {
            expected.erase(expected.begin());
        }
        EXPECT_EQ(FolderContents(dir), expected); // no temporary file left
    }
}

// Temporary files of a save that never finished go at the next start, and
// nothing else: not a file of a save still under way in a running process,
// not a name that merely looks alike.
TEST(IniFiles, StaleTemporaryFilesOfTheProgramsOwnNamingAreRemoved)
{
    // A process that has ended, and this one, which runs.
    const std::wstring ended = std::to_wstring(test::EndedProcessId());
    const std::wstring running = std::to_wstring(::GetCurrentProcessId());

    struct Case {
        std::wstring name;
        bool removed;
    } cases[] = {
        {L"Option.ini." + ended + L"-0.tmp", true},
        {L"Option.ini." + ended + L"-4294967295.tmp", true},
        {L"option.INI." + ended + L"-3.TMP", true},
        {L"Option.ini." + running + L"-0.tmp", false}, // a save under way
        {L"Option.ini." + ended + L".tmp", false},
        {L"Option.ini." + ended + L"-.tmp", false},
        {L"Option.ini." + ended + L"-x.tmp", false},
        {L"Option.ini.0" + ended + L"-0.tmp", false},
        {L"Option.ini.+" + ended + L"-0.tmp", false},
        {L"Option.ini." + ended + L"-0-1.tmp", false},
        {L"Option.ini." + ended + L"-4294967296.tmp", false},
        {L"Option.ini." + ended + L"-0.tmp.bak", false},
        {L"Option.ini." + ended + L"-0.tmpx", false},
        {L"Option.ini.-0.tmp", false},
        {L"Option.ini.tmp", false},
        {L"Option.ini", false},
        {L"Option.ini" + ended + L"-0.tmp", false},
        {L"XOption.ini." + ended + L"-0.tmp", false},
        {L"Other.ini." + ended + L"-0.tmp", false},
        {L"English.ini." + ended + L"-0.tmp", false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        test::WriteFileBytes(dir / c.name, "x");
    }
    const std::wstring folderLike = L"Option.ini." + ended + L"-9.tmp";
    ASSERT_TRUE(::CreateDirectoryW((dir / folderLike).c_str(), nullptr));

    RemoveStaleTemporaryFiles(dir / L"Option.ini");
    for (const Case& c : cases) {
        EXPECT_EQ(!std::filesystem::exists(dir.path() / c.name), c.removed) << ToUtf8(c.name);
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / folderLike));

    // The file name comes from the target; a missing folder is nothing to do.
    test::WriteFileBytes(dir / (L"Rules.ini." + ended + L"-1.tmp"), "x");
    RemoveStaleTemporaryFiles(dir / L"Rules.ini");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / (L"Rules.ini." + ended + L"-1.tmp")));
    RemoveStaleTemporaryFiles(dir / L"missing\\Option.ini");
}

} // namespace
} // namespace merovane
