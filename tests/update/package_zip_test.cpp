#include "update/package_zip.h"

#include "base/error.h"
#include "support/sandbox.h"
#include "support/zip_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace merovane::update {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything below a folder, as sorted relative paths.
std::vector<std::wstring> Tree(const fs::path& root)
{
    std::vector<std::wstring> names;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        names.push_back(item.path().lexically_relative(root).wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SafeEntryPath, KeepsRelativeNamesAndRefusesWhatCouldLeaveTheFolder)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* expected;  // nullptr: refused
    } cases[] = {
        {L"Merovane.exe", L"Merovane.exe"},
        {L"Language/English.ini", L"Language\\English.ini"},
        {L"Language\\English.ini", L"Language\\English.ini"},
        {L"Language/", L"Language"},
        {L"a b/c d.txt", L"a b\\c d.txt"},
        {L".hidden", L".hidden"},
        {L"..config", L"..config"},
        {L"\u042F\u0437\u044B\u043A/\u0420\u0443\u0441\u0441\u043A\u0438\u0439.ini",
         L"\u042F\u0437\u044B\u043A\\\u0420\u0443\u0441\u0441\u043A\u0438\u0439.ini"},
        {L"CONFIG.ini", L"CONFIG.ini"},
        {L"", nullptr},
        {L"/", nullptr},
        {L"..", nullptr},
        {L"../x", nullptr},
        {L"..\\..\\x", nullptr},
        {L"a/../b", nullptr},
        {L"a/..", nullptr},
        {L"./a", nullptr},
        {L"a//b", nullptr},
        {L"/etc/x", nullptr},
        {L"\\Windows\\x.dll", nullptr},
        {L"\\\\server\\share\\x", nullptr},
        {L"C:/x.txt", nullptr},
        {L"C:x.txt", nullptr},
        {L"x.txt:stream", nullptr},
        {L"x.txt::$DATA", nullptr},
        {L"\\\\?\\C:\\x", nullptr},
        {L"a./b", nullptr},
        {L"a /b", nullptr},
        {L"b.", nullptr},
        {L"... ", nullptr},
        {L"CON", nullptr},
        {L"nul.txt", nullptr},
        {L"Language/com1.ini", nullptr},
        {L"LPT9", nullptr},
        {L"a*b", nullptr},
        {L"a?b", nullptr},
        {L"a\"b", nullptr},
        {L"a<b>", nullptr},
        {L"a|b", nullptr},
        {L"a\tb", nullptr},
        // The user's settings and the update's own folders are never a
        // package's to write, nor are short names that may alias any file.
        {L"Config/Option.ini", nullptr},
        {L"config\\Rules.ini", nullptr},
        {L"CONFIG/", nullptr},
        {L"Config", nullptr},
        {L"Update.staging/Merovane.exe", nullptr},
        {L"update.BACKUP\\Merovane.exe", nullptr},
        {L"Update.journal", nullptr},
        {L"MEROVA~1.EXE", nullptr},
        {L"Language/ENGLIS~12.INI", nullptr},
        {L"CONFIG~1/Option.ini", nullptr},
        {L"Language/Config/x.ini", L"Language\\Config\\x.ini"},
        {L"Language/Update.staging", L"Language\\Update.staging"},
        {L"Updater.exe", L"Updater.exe"},
        {L"Configuration.txt", L"Configuration.txt"},
        {L"a~b.txt", L"a~b.txt"},
        {L"notes~", L"notes~"},
    };
    for (const Case& c : cases) {
        const auto path = SafeEntryPath(c.name);
        if (c.expected == nullptr) {
            EXPECT_FALSE(path) << ToUtf8(c.name) << " gave " << ToUtf8(path.value_or(L""));
        } else {
            EXPECT_EQ(path.value_or(L"<refused>"), c.expected) << ToUtf8(c.name);
        }
    }
}

TEST(ExtractZipPackage, UnpacksStoredAndDeflatedEntriesAndMakesTheirFolders)
{
    test::TempDir temp;
    const std::string english(5000, 'e');
    const std::wstring zip = temp / L"Merovane.zip";
    test::WriteFileBytes(zip, test::MakeZip({
                                  {.name = "Merovane.exe", .data = "new program"},
                                  // No entry of its own for the folder of these two.
                                  {.name = "Language/English.ini", .data = english, .deflate = true},
                                  {.name = "Language/Deutsch.ini", .data = "deutsch", .deflate = true},
                                  {.name = "Empty/"},
                                  {.name = "empty.txt", .data = ""},
                                  {.name = "\xD0\xAF.txt", .data = "utf-8", .flags = 0x0800},
                                  {.name = "\x81.txt", .data = "cp437"},
                              }));
    const std::wstring staging = temp / L"Update.staging";

    const ZipExtraction result = ExtractZipPackage(zip, staging);

    ASSERT_TRUE(result.ok()) << ToUtf8(result.entry);
    EXPECT_EQ(result.files, (std::vector<std::wstring>{L"Merovane.exe", L"Language\\English.ini",
                                                       L"Language\\Deutsch.ini", L"empty.txt", L"\u042F.txt",
                                                       L"\u00FC.txt"}));
    EXPECT_EQ(Tree(staging), (std::vector<std::wstring>{L"Empty", L"Language", L"Language\\Deutsch.ini",
                                                        L"Language\\English.ini", L"Merovane.exe", L"empty.txt",
                                                        L"\u00FC.txt", L"\u042F.txt"}));
    EXPECT_EQ(ReadBytes(staging + L"\\Merovane.exe"), "new program");
    EXPECT_EQ(ReadBytes(staging + L"\\Language\\English.ini"), english);
    EXPECT_EQ(ReadBytes(staging + L"\\Language\\Deutsch.ini"), "deutsch");
    EXPECT_EQ(ReadBytes(staging + L"\\\u042F.txt"), "utf-8");
}

TEST(ExtractZipPackage, RefusesTheWholePackageForOneBadEntry)
{
    const test::ZipSpec good{.name = "Merovane.exe", .data = "new program", .deflate = true};
    const test::ZipSpec goodInFolder{.name = "Language/English.ini", .data = "english"};
    std::string corrupt = test::MakeZip({good, {.name = "x.txt", .data = std::string(1000, 'x'), .deflate = true}});
    corrupt[corrupt.find("x.txt") + 5] ^= 0x7F;  // first byte of the deflated data
    const std::string valid = test::MakeZip({good});

    struct Case {
        const char* what;
        std::string archive;
        ZipProblem problem;
        const wchar_t* entry;
    } cases[] = {
        {"parent reference", test::MakeZip({good, {.name = "..\\evil.txt", .data = "x"}}), ZipProblem::UnsafeName,
         L"..\\evil.txt"},
        {"parent reference inside", test::MakeZip({goodInFolder, {.name = "Language/../../evil.txt", .data = "x"}}),
         ZipProblem::UnsafeName, L"Language/../../evil.txt"},
        {"absolute path", test::MakeZip({good, {.name = "/evil.txt", .data = "x"}}), ZipProblem::UnsafeName,
         L"/evil.txt"},
        {"drive", test::MakeZip({good, {.name = "C:evil.txt", .data = "x"}}), ZipProblem::UnsafeName, L"C:evil.txt"},
        {"stream name", test::MakeZip({good, {.name = "Merovane.exe:evil", .data = "x"}}), ZipProblem::UnsafeName,
         L"Merovane.exe:evil"},
        {"the same file twice", test::MakeZip({good, {.name = "MEROVANE.EXE", .data = "x"}}), ZipProblem::UnsafeName,
         L"MEROVANE.EXE"},
        {"a file where a folder goes", test::MakeZip({goodInFolder, {.name = "Language", .data = "x"}}),
         ZipProblem::UnsafeName, L"Language"},
        {"name not UTF-8 though flagged", test::MakeZip({good, {.name = "\xC0\xAF.txt", .data = "x", .flags = 0x0800}}),
         ZipProblem::UnsafeName, L"\u2514\u00BB.txt"},
        {"bad CRC, stored", test::MakeZip({goodInFolder, {.name = "b.txt", .data = "data", .crc = 1234}}),
         ZipProblem::BadCrc, L"b.txt"},
        {"bad CRC, deflated", test::MakeZip({good, {.name = "b.txt", .data = "data", .deflate = true, .crc = 1}}),
         ZipProblem::BadCrc, L"b.txt"},
        {"corrupt deflate data", corrupt, ZipProblem::Damaged, L"x.txt"},
        {"encrypted", test::MakeZip({good, {.name = "b.txt", .data = "data", .flags = 0x0001}}),
         ZipProblem::Unsupported, L"b.txt"},
        {"other compression", test::MakeZip({good, {.name = "b.txt", .data = "data", .method = 12}}),
         ZipProblem::Unsupported, L"b.txt"},
        {"cut short", valid.substr(0, valid.size() - 1), ZipProblem::Damaged, L""},
        {"not a ZIP", "MZ just some bytes that are no archive at all", ZipProblem::Damaged, L""},
        {"empty file", "", ZipProblem::Damaged, L""},
    };
    for (const Case& c : cases) {
        test::TempDir temp;
        const std::wstring program = temp / L"Program";
        fs::create_directory(program);
        const std::wstring zip = program + L"\\Merovane.zip";
        test::WriteFileBytes(zip, c.archive);
        const std::wstring staging = program + L"\\Update.staging";

        const ZipExtraction result = ExtractZipPackage(zip, staging);

        EXPECT_EQ(result.problem, c.problem) << c.what;
        if (*c.entry != L'\0') {
            EXPECT_EQ(result.entry, c.entry) << c.what;
        }
        EXPECT_TRUE(result.files.empty()) << c.what;
        // Nothing unpacked anywhere: only the package itself is left.
        EXPECT_EQ(Tree(temp.path()), (std::vector<std::wstring>{L"Program", L"Program\\Merovane.zip"})) << c.what;
    }
}

TEST(ExtractZipPackage, NeverUnpacksIntoAnExistingFolder)
{
    test::TempDir temp;
    const std::wstring zip = temp / L"Merovane.zip";
    test::WriteFileBytes(zip, test::MakeZip({{.name = "Merovane.exe", .data = "new"}}));
    const std::wstring staging = temp / L"Update.staging";
    fs::create_directory(staging);
    test::WriteFileBytes(staging + L"\\Merovane.exe", "left over");

    EXPECT_THROW(ExtractZipPackage(zip, staging), Error);
    EXPECT_EQ(ReadBytes(staging + L"\\Merovane.exe"), "left over");
    EXPECT_THROW(ExtractZipPackage(temp / L"missing.zip", temp / L"other"), Error);
    EXPECT_FALSE(fs::exists(temp / L"other"));
}

} // namespace
} // namespace merovane::update
