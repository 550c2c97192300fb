#include "update/signature.h"

#include "base/error.h"
#include "base/handles.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace merovane::update {
namespace {

// The .sig fixtures and the test-only keys are made by
// tests/fixtures/update/make_signatures.py with Python's cryptography; they
// describe a package of these bytes.
std::string PackageBytes()
{
    std::string bytes;
    for (int i = 0; i < 5000; ++i) {
        bytes += "Merovane test package\n";
    }
    return bytes;
}

std::string Fixture(std::wstring_view name)
{
    std::ifstream in(std::filesystem::path(test::FixturePath(L"update\\" + std::wstring(name))), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.empty()) {
        throw std::runtime_error("missing fixture " + ToUtf8(name));
    }
    return bytes;
}

std::vector<std::uint8_t> FixtureKey(std::wstring_view name)
{
    auto key = ParsePublicKey(Fixture(name));
    if (!key) {
        throw std::runtime_error("unreadable fixture key " + ToUtf8(name));
    }
    return *key;
}

std::string Replace(std::string text, std::string_view from, std::string_view to)
{
    const std::size_t at = text.find(from);
    if (at == std::string::npos) {
        throw std::runtime_error("test text lacks " + std::string(from));
    }
    return text.replace(at, from.size(), to);
}

std::string WithCrLf(std::string_view text)
{
    std::string result;
    for (const char c : text) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

constexpr char kValid[] =
    "Merovane-Signature: 1\n"
    "File: Merovane-setup.exe\n"
    "Version: 1.0.1.0\n"
    "Size: 1234567\n"
    "SHA-256: 00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\n"
    "Signature: AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==\n";

TEST(ParsePackageSignature, ReadsTheSixLinesWithEitherLineEnd)
{
    const std::string valid = kValid;
    const std::string signedPart = valid.substr(0, valid.find("Signature: AA"));
    struct Case {
        const char* what;
        std::string text;
        std::string signedText;
    } cases[] = {
        {"LF", valid, signedPart},
        {"CR LF", WithCrLf(valid), WithCrLf(signedPart)},
        {"no line end after the signature", valid.substr(0, valid.size() - 1), signedPart},
    };
    for (const Case& c : cases) {
        const auto parsed = ParsePackageSignature(c.text);
        ASSERT_TRUE(parsed) << c.what;
        EXPECT_EQ(parsed->file, L"Merovane-setup.exe") << c.what;
        EXPECT_EQ(parsed->version, L"1.0.1.0") << c.what;
        EXPECT_EQ(parsed->size, 1234567u) << c.what;
        EXPECT_EQ(ToHex(parsed->sha256), "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff") << c.what;
        for (std::size_t i = 0; i < parsed->signature.size(); ++i) {
            ASSERT_EQ(parsed->signature[i], i) << c.what;
        }
        EXPECT_EQ(parsed->signedText, c.signedText) << c.what;
    }
}

TEST(ParsePackageSignature, ASizeTooLargeToHoldIsKeptAsTheLargestNumber)
{
    const auto parsed = ParsePackageSignature(Replace(kValid, "Size: 1234567", "Size: 123456789012345678901234567890"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size, UINT64_MAX);
}

TEST(ParsePackageSignature, RefusesEverythingElse)
{
    const std::string valid = kValid;
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"byte-order mark", "\xEF\xBB\xBF" + valid},
        {"other format number", Replace(valid, "Merovane-Signature: 1", "Merovane-Signature: 2")},
        {"lines swapped", Replace(Replace(valid, "File: Merovane-setup.exe\n", ""), "Size:",
                                  "File: Merovane-setup.exe\nSize:")},
        {"line missing", Replace(valid, "Size: 1234567\n", "")},
        {"line added", valid + "Comment: x\n"},
        {"empty line at the end", valid + "\n"},
        {"empty line inside", Replace(valid, "Size:", "\nSize:")},
        {"line ends by CR alone", Replace(valid, "Version: 1.0.1.0\n", "Version: 1.0.1.0\r")},
        {"CR at the end of the last line", valid.substr(0, valid.size() - 1) + "\r"},
        {"tab after the colon", Replace(valid, "File: ", "File:\t")},
        {"two blanks after the colon", Replace(valid, "File: ", "File:  ")},
        {"blank after the value", Replace(valid, "Merovane-setup.exe", "Merovane-setup.exe ")},
        {"key in other case", Replace(valid, "SHA-256:", "sha-256:")},
        {"empty file name", Replace(valid, "File: Merovane-setup.exe", "File: ")},
        {"file name with a folder", Replace(valid, "Merovane-setup.exe", "..\\Merovane-setup.exe")},
        {"file name with a slash", Replace(valid, "Merovane-setup.exe", "x/Merovane-setup.exe")},
        {"file name with a stream", Replace(valid, "Merovane-setup.exe", "Merovane-setup.exe:x")},
        {"file name not UTF-8", Replace(valid, "Merovane-setup.exe", "Merovane-\xC0\xAFsetup.exe")},
        {"version with a letter", Replace(valid, "1.0.1.0", "1.0.1a")},
        {"version with five parts", Replace(valid, "1.0.1.0", "1.0.1.0.0")},
        {"version with an empty part", Replace(valid, "1.0.1.0", "1..1.0")},
        {"version ending in a dot", Replace(valid, "1.0.1.0", "1.0.1.")},
        {"negative size", Replace(valid, "Size: 1234567", "Size: -1")},
        {"size with a leading zero", Replace(valid, "Size: 1234567", "Size: 01234567")},
        {"size with a unit", Replace(valid, "Size: 1234567", "Size: 1234567B")},
        {"upper-case hex digest", Replace(valid, "aabbccddeeff00", "AABBCCDDEEFF00")},
        {"digest one digit short", Replace(valid, "ddeeff\n", "ddeef\n")},
        {"digest one digit long", Replace(valid, "ddeeff\n", "ddeeff0\n")},
        {"signature of 63 bytes",
         Replace(valid, "OTo7PD0+Pw==", "OTo7PD0+")},
        {"signature of 65 bytes", Replace(valid, "OTo7PD0+Pw==", "OTo7PD0+P0A=")},
        {"signature without padding", Replace(valid, "OTo7PD0+Pw==", "OTo7PD0+Pw")},
        {"signature with unused bits set", Replace(valid, "OTo7PD0+Pw==", "OTo7PD0+Px==")},
        {"signature with a blank", Replace(valid, "OTo7PD0+Pw==", "OTo7 PD0+Pw==")},
        {"signature in URL alphabet", Replace(valid, "PD0+Pw==", "PD0-Pw==")},
        {"larger than 4 KB", Replace(valid, "Merovane-setup.exe", std::string(kMaxSignatureFileBytes, 'x'))},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(ParsePackageSignature(c.text)) << c.what;
    }
}

TEST(IsVersionNewer, ComparesNumbersPartByPart)
{
    struct Case {
        const wchar_t* candidate;
        const wchar_t* current;
        bool newer;
    } cases[] = {
        {L"1.0.1.0", L"1.0.0.0", true},
        {L"1.0.0.0", L"1.0.0.0", false},
        {L"1.0.0.0", L"1.0.1.0", false},
        {L"1.10", L"1.9", true},
        {L"1.9", L"1.10", false},
        {L"2", L"1.99.99.99", true},
        {L"1.2", L"1.2.0.0", false},
        {L"1.2.0.1", L"1.2", true},
        {L"01.2", L"1.1", true},
        {L"", L"1.0", false},
        {L"1.0", L"", false},
        {L"1.x", L"1.0", false},
        {L"2.0", L"1.x", false},
        {L"1.0.0.0.1", L"1.0", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsVersionNewer(c.candidate, c.current), c.newer)
            << ToUtf8(c.candidate) << " vs " << ToUtf8(c.current);
    }
}

TEST(ParsePublicKey, TakesAP256PemPublicKeyOnly)
{
    const auto key = ParsePublicKey(Fixture(L"test-only-key.pub.pem"));
    ASSERT_TRUE(key);
    ASSERT_EQ(key->size(), 65u);
    EXPECT_EQ((*key)[0], 0x04);

    const std::string pem = Fixture(L"test-only-key.pub.pem");
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"private key", Fixture(L"test-only-key.pem")},
        {"P-384 public key",
         "-----BEGIN PUBLIC KEY-----\n"
         "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAEu3P9W5v9CWGxcLEsb/x5tLcwIXyrdvID\n"
         "W50yKMYcg+fc3uEtSFKHHXk/2E4goSVgtuWwWA7TjVEDriik9U64NfLKWNRp/lU/\n"
         "cWU0H53uli/yzVuc7BA9T32mzoUkpEsp\n"
         "-----END PUBLIC KEY-----\n"},
        {"no end line", Replace(pem, "-----END PUBLIC KEY-----", "")},
        {"text after the end", pem + "more\n"},
        {"a line cut short", Replace(pem, "\n-----END", "x\n-----END")},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(ParsePublicKey(c.text)) << c.what;
    }
    EXPECT_TRUE(ParsePublicKey(WithCrLf(pem)));
}

std::vector<std::uint8_t> Point(std::string_view hexX, std::string_view hexY)
{
    std::vector<std::uint8_t> point{0x04};
    for (const std::string_view hex : {hexX, hexY}) {
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            point.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
        }
    }
    return point;
}

TEST(IsUsablePublicKey, OnlyAPointOnTheCurve)
{
    // The curve's base point, and the prime its coordinates are taken modulo.
    constexpr std::string_view gx = "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296";
    constexpr std::string_view gy = "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5";
    constexpr std::string_view gyPlusOne = "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f6";
    constexpr std::string_view minusGy = "b01cbd1c01e58065711814b583f061e9d431cca994cea1313449bf97c840ae0a";
    constexpr std::string_view prime = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";
    constexpr std::string_view zero = "0000000000000000000000000000000000000000000000000000000000000000";
    std::vector<std::uint8_t> compressed = Point(gx, gy);
    compressed[0] = 0x03;

    // The key a build without a release key carries (resources/update-public-key.pem).
    const std::vector<std::uint8_t> placeholder = FixtureKey(L"placeholder-key.pub.pem");
    struct Case {
        const char* what;
        std::vector<std::uint8_t> key;
        bool usable;
    } cases[] = {
        {"a test key", FixtureKey(L"test-only-key.pub.pem"), true},
        {"another test key", FixtureKey(L"test-only-other-key.pub.pem"), true},
        {"the base point", Point(gx, gy), true},
        {"the base point's negative", Point(gx, minusGy), true},
        {"the placeholder", placeholder, false},
        {"y one off", Point(gx, gyPlusOne), false},
        {"zero", Point(zero, zero), false},
        {"x not below the prime", Point(prime, gy), false},
        {"compressed", compressed, false},
        {"too short", std::vector<std::uint8_t>(placeholder.begin(), placeholder.end() - 1), false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsUsablePublicKey(c.key), c.usable) << c.what;
    }
    // Refused before the system's provider sees it, whatever that provider accepts.
    const std::array<std::uint8_t, 64> signature{1};
    EXPECT_THROW(VerifyEcdsaP256(placeholder, "text", signature), Error);
    EXPECT_FALSE(VerifyEcdsaP256(Point(gx, gy), "text", signature));
}

TEST(VerifyPackageSignature, AcceptsOnlyAGenuineSignatureForTheOfferedNewerPackage)
{
    const std::vector<std::uint8_t> testKey = FixtureKey(L"test-only-key.pub.pem");
    const std::vector<std::uint8_t> otherKey = FixtureKey(L"test-only-other-key.pub.pem");
    const std::string setup = Fixture(L"setup.sig");
    std::string flippedSignature = setup;
    flippedSignature[flippedSignature.find("\nSignature: ") + 12] ^= 0x01;

    struct Case {
        const char* what;
        std::string sig;
        const std::vector<std::uint8_t>* key;
        const wchar_t* file;
        const wchar_t* offered;
        bool forced;
        SignatureProblem problem;
    } cases[] = {
        {"genuine", setup, &testKey, L"Merovane-setup.exe", L"1.0.1.0", false, SignatureProblem::None},
        {"genuine, CR LF", Fixture(L"setup-crlf.sig"), &testKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::None},
        {"genuine, offered as 1.0.1", setup, &testKey, L"Merovane-setup.exe", L"1.0.1", false,
         SignatureProblem::None},
        {"one signed byte changed", Replace(setup, "Size: 110000", "Size: 110001"), &testKey,
         L"Merovane-setup.exe", L"1.0.1.0", false, SignatureProblem::BadSignature},
        {"line ends changed", WithCrLf(setup), &testKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::BadSignature},
        {"signature changed", flippedSignature, &testKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::BadSignature},
        {"signed by another key", Fixture(L"other-key.sig"), &testKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::BadSignature},
        {"checked against another key", setup, &otherKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::BadSignature},
        {"the other package's .sig", Fixture(L"zip.sig"), &testKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::WrongFile},
        {"file name in other case", setup, &testKey, L"merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::WrongFile},
        {"another version offered", setup, &testKey, L"Merovane-setup.exe", L"1.0.2.0", false,
         SignatureProblem::WrongVersion},
        {"older", Fixture(L"old.sig"), &testKey, L"Merovane-setup.exe", L"0.9.0.0", false,
         SignatureProblem::NotNewer},
        {"older, forced", Fixture(L"old.sig"), &testKey, L"Merovane-setup.exe", L"0.9.0.0", true,
         SignatureProblem::NotNewer},
        {"same", Fixture(L"same.sig"), &testKey, L"Merovane-setup.exe", L"1.0.0.0", false,
         SignatureProblem::NotNewer},
        {"same, forced", Fixture(L"same.sig"), &testKey, L"Merovane-setup.exe", L"1.0.0.0", true,
         SignatureProblem::None},
        {"larger than the cap", Fixture(L"huge.sig"), &testKey, L"Merovane-setup.exe", L"1.0.1.0", true,
         SignatureProblem::TooLarge},
        {"malformed", Replace(setup, "Size: ", "Size:  "), &testKey, L"Merovane-setup.exe", L"1.0.1.0", false,
         SignatureProblem::Malformed},
        {"bad signature wins over wrong file", Replace(Fixture(L"zip.sig"), "Size: 110000", "Size: 110001"),
         &testKey, L"Merovane-setup.exe", L"1.0.1.0", false, SignatureProblem::BadSignature},
    };
    for (const Case& c : cases) {
        const SignatureCheck check =
            VerifyPackageSignature(c.sig, *c.key, c.file, c.offered, L"1.0.0.0", c.forced);
        EXPECT_EQ(check.problem, c.problem) << c.what;
        EXPECT_EQ(check.accepted(), check.signature.has_value()) << c.what;
    }

    // An older version passes only forced and confirmed by the user.
    EXPECT_TRUE(VerifyPackageSignature(Fixture(L"old.sig"), testKey, L"Merovane-setup.exe", L"0.9.0.0", L"1.0.0.0",
                                       true, true)
                    .accepted());
    EXPECT_EQ(VerifyPackageSignature(Fixture(L"old.sig"), testKey, L"Merovane-setup.exe", L"0.9.0.0", L"1.0.0.0",
                                     false, true)
                  .problem,
              SignatureProblem::NotNewer);

    const SignatureCheck good = VerifyPackageSignature(setup, testKey, L"Merovane-setup.exe", L"1.0.1.0",
                                                       L"1.0.0.0", false);
    ASSERT_TRUE(good.accepted());
    EXPECT_EQ(good.signature->size, PackageBytes().size());
    EXPECT_EQ(good.signature->sha256, Sha256Of(PackageBytes()));
}

TEST(VerifyEcdsaP256, AKeyThatIsNoPointVerifiesNothing)
{
    const auto genuine = ParsePackageSignature(Fixture(L"setup.sig"));
    ASSERT_TRUE(genuine);
    std::vector<std::uint8_t> key = FixtureKey(L"test-only-key.pub.pem");
    ASSERT_TRUE(VerifyEcdsaP256(key, genuine->signedText, genuine->signature));

    key[64] ^= 0x01; // no longer on the curve
    // Windows refuses such a key when it is imported; Wine takes it, and then
    // no signature checks against it.
    try {
        EXPECT_FALSE(VerifyEcdsaP256(key, genuine->signedText, genuine->signature));
    } catch (const Error&) {
    }
    const std::vector<std::uint8_t> shortKey(key.begin(), key.end() - 1);
    EXPECT_THROW(VerifyEcdsaP256(shortKey, genuine->signedText, genuine->signature), Error);
}

std::optional<FileDigest> DigestOf(const std::wstring& path, std::uint64_t maxBytes)
{
    const unique_file file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        throw Error(::GetLastError());
    }
    return Sha256OfOpenFile(file.get(), maxBytes);
}

TEST(Sha256OfOpenFile, ReadsInPiecesUpToTheLimit)
{
    test::TempDir temp;
    const std::string package = PackageBytes();
    const std::wstring path = temp / L"Merovane-setup.exe";
    const std::wstring empty = temp / L"empty";
    test::WriteFileBytes(path, package);
    test::WriteFileBytes(empty, "");
    // The digest the independent signer wrote into the fixture.
    const auto signedDigest = ParsePackageSignature(Fixture(L"setup.sig"))->sha256;

    const auto whole = DigestOf(path, package.size());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->size, package.size());
    EXPECT_EQ(whole->sha256, signedDigest);
    EXPECT_FALSE(DigestOf(path, package.size() - 1));

    const auto none = DigestOf(empty, 0);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->size, 0u);
    EXPECT_EQ(ToHex(none->sha256), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, GivesTheSameDigestInPiecesAsAtOnce)
{
    const std::string package = PackageBytes();
    Sha256 hash;
    hash.Add(std::string_view(package).substr(0, 7));
    hash.Add("");
    hash.Add(std::string_view(package).substr(7));
    EXPECT_EQ(hash.Finish(), Sha256Of(package));
    EXPECT_EQ(ToHex(Sha256Of("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace merovane::update
