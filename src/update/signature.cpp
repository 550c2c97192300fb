#include "update/signature.h"

#include "base/error.h"
#include "update/update_client.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>

namespace merovane::update {

namespace {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

void CheckStatus(NTSTATUS status)
{
    if (status != kStatusSuccess) {
        ThrowWin32(::RtlNtStatusToDosError(status));
    }
}

unique_bcrypt_alg OpenAlgorithm(const wchar_t* name)
{
    unique_bcrypt_alg algorithm;
    CheckStatus(::BCryptOpenAlgorithmProvider(algorithm.put(), name, nullptr, 0));
    return algorithm;
}

// Strict base64: padded, no blanks, and the unused bits of the last group
// zero, so that every byte string has exactly one accepted text.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text)
{
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int digit = value(text[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> count));
            bits &= (1u << count) - 1;
        }
    }
    if (bits != 0) {
        return std::nullopt;
    }
    return bytes;
}

bool SameVersion(std::wstring_view a, std::wstring_view b)
{
    const auto first = ParseDottedVersion(a);
    const auto second = ParseDottedVersion(b);
    return first && second && *first == *second;
}

// One line of the .sig without its line end; the text after "prefix" when the
// line starts with it and holds no control characters.
std::optional<std::string_view> FieldValue(std::string_view line, std::string_view prefix)
{
    if (!line.starts_with(prefix)) {
        return std::nullopt;
    }
    const bool control = std::any_of(line.begin(), line.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (control) {
        return std::nullopt;
    }
    std::string_view value = line.substr(prefix.size());
    if (value.empty() || value.front() == ' ' || value.back() == ' ') {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> ParseSize(std::string_view text)
{
    if (text.size() > 1 && text.front() == '0') {
        return std::nullopt;
    }
    std::uint64_t size = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        // A number too large to hold is simply too large: saturate.
        size = size > (UINT64_MAX - digit) / 10 ? UINT64_MAX : size * 10 + digit;
    }
    return size;
}

std::optional<Sha256Digest> ParseDigest(std::string_view text)
{
    if (text.size() != 64) {
        return std::nullopt;
    }
    Sha256Digest digest{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int nibble = 0;
        if (c >= '0' && c <= '9') {
            nibble = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            nibble = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        digest[i / 2] = static_cast<std::uint8_t>(digest[i / 2] << 4 | nibble);
    }
    return digest;
}

// The DER SubjectPublicKeyInfo of a P-256 key up to its point: the sequence,
// the algorithm (id-ecPublicKey, prime256v1) and the bit string's header.
constexpr std::uint8_t kP256SpkiPrefix[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
    0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00,
};
constexpr std::size_t kPointSize = 65;

// Numbers modulo the prime of P-256, as eight 32-bit limbs, least significant
// first. Only what the curve equation needs, none of it secret.
using FieldNumber = std::array<std::uint32_t, 8>;

constexpr FieldNumber kP256Prime{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000,
                                 0x00000000, 0x00000000, 0x00000001, 0xFFFFFFFF};
constexpr FieldNumber kP256B{0x27D2604B, 0x3BCE3C3E, 0xCC53B0F6, 0x651D06B0,
                             0x769886BC, 0xB3EBBD55, 0xAA3A93E7, 0x5AC635D8};

FieldNumber FieldFromBigEndian(std::span<const std::uint8_t> bytes)
{
    FieldNumber number{};
    for (std::size_t i = 0; i < 32; ++i) {
        number[(31 - i) / 4] |= static_cast<std::uint32_t>(bytes[i]) << (8 * ((31 - i) % 4));
    }
    return number;
}

bool FieldLess(const FieldNumber& a, const FieldNumber& b)
{
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) {
            return a[i] < b[i];
        }
    }
    return false;
}

// a - b, ignoring the borrow out of the top limb.
FieldNumber FieldSubtractRaw(const FieldNumber& a, const FieldNumber& b)
{
    FieldNumber result{};
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::uint64_t difference = std::uint64_t{a[i]} - b[i] - borrow;
        result[i] = static_cast<std::uint32_t>(difference);
        borrow = (difference >> 32) & 1;
    }
    return result;
}

// (a + b) mod p for a, b < p.
FieldNumber FieldAdd(const FieldNumber& a, const FieldNumber& b)
{
    FieldNumber sum{};
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::uint64_t total = std::uint64_t{a[i]} + b[i] + carry;
        sum[i] = static_cast<std::uint32_t>(total);
        carry = total >> 32;
    }
    return carry != 0 || !FieldLess(sum, kP256Prime) ? FieldSubtractRaw(sum, kP256Prime) : sum;
}

// (a - b) mod p for a, b < p.
FieldNumber FieldSubtract(const FieldNumber& a, const FieldNumber& b)
{
    return FieldAdd(a, FieldSubtractRaw(kP256Prime, b));
}

// (a * b) mod p by doubling and adding, bit by bit.
FieldNumber FieldMultiply(const FieldNumber& a, const FieldNumber& b)
{
    FieldNumber product{};
    for (std::size_t bit = 256; bit-- > 0;) {
        product = FieldAdd(product, product);
        if ((a[bit / 32] >> (bit % 32)) & 1) {
            product = FieldAdd(product, b);
        }
    }
    return product;
}

} // namespace

bool IsUsablePublicKey(std::span<const std::uint8_t> publicKey)
{
    if (publicKey.size() != kPointSize || publicKey[0] != 0x04) {
        return false;
    }
    const FieldNumber x = FieldFromBigEndian(publicKey.subspan(1, 32));
    const FieldNumber y = FieldFromBigEndian(publicKey.subspan(33, 32));
    if (!FieldLess(x, kP256Prime) || !FieldLess(y, kP256Prime)) {
        return false;
    }
    // y^2 = x^3 - 3x + b
    const FieldNumber left = FieldMultiply(y, y);
    FieldNumber right = FieldMultiply(FieldMultiply(x, x), x);
    for (int i = 0; i < 3; ++i) {
        right = FieldSubtract(right, x);
    }
    right = FieldAdd(right, kP256B);
    return left == right;
}

bool IsVersionNewer(std::wstring_view candidate, std::wstring_view current)
{
    const auto newer = ParseDottedVersion(candidate);
    const auto older = ParseDottedVersion(current);
    return newer && older && *newer > *older;
}

std::optional<PackageSignature> ParsePackageSignature(std::string_view bytes)
{
    if (bytes.size() > kMaxSignatureFileBytes) {
        return std::nullopt;
    }
    constexpr std::string_view kPrefixes[] = {
        "Merovane-Signature: ", "File: ", "Version: ", "Size: ", "SHA-256: ", "Signature: ",
    };
    std::string_view values[std::size(kPrefixes)];
    std::size_t signatureLineStart = 0;
    std::size_t position = 0;
    for (std::size_t index = 0; index < std::size(kPrefixes); ++index) {
        if (position >= bytes.size()) {
            return std::nullopt;
        }
        const bool last = index + 1 == std::size(kPrefixes);
        std::size_t end = bytes.find('\n', position);
        if (end == std::string_view::npos) {
            if (!last) {
                return std::nullopt;
            }
            end = bytes.size();
        } else if (last && end + 1 != bytes.size()) {
            return std::nullopt;
        }
        std::string_view line = bytes.substr(position, end - position);
        if (line.ends_with('\r') && end != bytes.size()) {
            line.remove_suffix(1);
        }
        const auto value = FieldValue(line, kPrefixes[index]);
        if (!value) {
            return std::nullopt;
        }
        values[index] = *value;
        if (last) {
            signatureLineStart = position;
        }
        position = end + 1;
    }

    if (values[0] != "1") {
        return std::nullopt;
    }
    PackageSignature result;
    const auto file = FromUtf8Strictly(values[1]);
    if (!file || file->find_first_of(L"\\/:") != std::wstring::npos) {
        return std::nullopt;
    }
    result.file = *file;
    result.version = FromUtf8(values[2]);
    if (!ParseDottedVersion(result.version)) {
        return std::nullopt;
    }
    const auto size = ParseSize(values[3]);
    const auto digest = ParseDigest(values[4]);
    const auto signature = DecodeBase64(values[5]);
    if (!size || !digest || !signature || signature->size() != result.signature.size()) {
        return std::nullopt;
    }
    result.size = *size;
    result.sha256 = *digest;
    std::copy(signature->begin(), signature->end(), result.signature.begin());
    result.signedText = std::string(bytes.substr(0, signatureLineStart));
    return result;
}

SignatureCheck VerifyPackageSignature(std::string_view sigBytes, std::span<const std::uint8_t> publicKey,
                                      std::wstring_view expectedFile, std::wstring_view offeredVersion,
                                      std::wstring_view runningVersion, bool forced, bool olderConfirmed)
{
    auto parsed = ParsePackageSignature(sigBytes);
    if (!parsed) {
        return {SignatureProblem::Malformed, std::nullopt};
    }
    // Nothing the text says counts before the signature holds.
    if (!VerifyEcdsaP256(publicKey, parsed->signedText, parsed->signature)) {
        return {SignatureProblem::BadSignature, std::nullopt};
    }
    if (parsed->file != expectedFile) {
        return {SignatureProblem::WrongFile, std::nullopt};
    }
    if (!SameVersion(parsed->version, offeredVersion)) {
        return {SignatureProblem::WrongVersion, std::nullopt};
    }
    const bool newer = IsVersionNewer(parsed->version, runningVersion);
    const bool same = SameVersion(parsed->version, runningVersion);
    if (!newer && !(forced && (same || olderConfirmed))) {
        return {SignatureProblem::NotNewer, std::nullopt};
    }
    if (parsed->size > kMaxPackageBytes) {
        return {SignatureProblem::TooLarge, std::nullopt};
    }
    return {SignatureProblem::None, std::move(parsed)};
}

std::optional<std::vector<std::uint8_t>> ParsePublicKey(std::string_view pem)
{
    constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
    constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
    std::string body;
    bool begun = false;
    bool ended = false;
    std::size_t position = 0;
    while (position < pem.size()) {
        std::size_t end = pem.find('\n', position);
        if (end == std::string_view::npos) {
            end = pem.size();
        }
        std::string_view line = pem.substr(position, end - position);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        position = end + 1;
        if (ended) {
            if (!line.empty()) {
                return std::nullopt;
            }
        } else if (!begun) {
            if (line != kBegin) {
                return std::nullopt;
            }
            begun = true;
        } else if (line == kEnd) {
            ended = true;
        } else {
            body += line;
        }
    }
    if (!ended) {
        return std::nullopt;
    }
    const auto der = DecodeBase64(body);
    if (!der || der->size() != sizeof(kP256SpkiPrefix) + kPointSize ||
        !std::equal(std::begin(kP256SpkiPrefix), std::end(kP256SpkiPrefix), der->begin()) ||
        (*der)[sizeof(kP256SpkiPrefix)] != 0x04) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(der->begin() + sizeof(kP256SpkiPrefix), der->end());
}

bool VerifyEcdsaP256(std::span<const std::uint8_t> publicKey, std::string_view message,
                     std::span<const std::uint8_t, 64> signature)
{
    // Refused here, whatever the system's provider would make of it.
    if (!IsUsablePublicKey(publicKey)) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
    std::vector<std::uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kPointSize - 1);
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), publicKey.data() + 1, kPointSize - 1);

    const unique_bcrypt_alg algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    unique_bcrypt_key key;
    CheckStatus(::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(),
                                      static_cast<ULONG>(blob.size()), 0));
    Sha256Digest digest = Sha256Of(message);
    std::array<std::uint8_t, 64> copy{};
    std::copy(signature.begin(), signature.end(), copy.begin());
    const NTSTATUS status = ::BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                                    copy.data(), static_cast<ULONG>(copy.size()), 0);
    if (status == kStatusInvalidSignature) {
        return false;
    }
    CheckStatus(status);
    return true;
}

Sha256::Sha256() : algorithm_(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM))
{
    CheckStatus(::BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0));
}

void Sha256::Add(std::string_view bytes)
{
    // BCryptHashData takes a ULONG count: feed large inputs in pieces.
    constexpr std::size_t kPiece = 1u << 30;
    while (!bytes.empty()) {
        const std::size_t count = std::min(bytes.size(), kPiece);
        CheckStatus(::BCryptHashData(hash_.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                     static_cast<ULONG>(count), 0));
        bytes.remove_prefix(count);
    }
}

Sha256Digest Sha256::Finish()
{
    Sha256Digest digest{};
    CheckStatus(::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    hash_.reset();
    return digest;
}

Sha256Digest Sha256Of(std::string_view bytes)
{
    Sha256 hash;
    hash.Add(bytes);
    return hash.Finish();
}

std::optional<FileDigest> Sha256OfOpenFile(HANDLE file, std::uint64_t maxBytes)
{
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        ThrowLastError();
    }
    Sha256 hash;
    FileDigest result;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            ThrowLastError();
        }
        if (read == 0) {
            break;
        }
        result.size += read;
        if (result.size > maxBytes) {
            return std::nullopt;
        }
        hash.Add(std::string_view(buffer.data(), read));
    }
    result.sha256 = hash.Finish();
    return result;
}

std::string ToHex(std::span<const std::uint8_t> bytes)
{
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

} // namespace merovane::update
