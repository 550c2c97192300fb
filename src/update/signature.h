#pragma once

// The signed description that accompanies every update package. Beside
// `<package>` the server holds `<package>.sig`, UTF-8 text of exactly six
// lines, each ended by LF or CR LF (the last one may lack its line end):
//
//   Merovane-Signature: 1
//   File: Merovane-setup.exe
//   Version: 1.0.1.0
//   Size: 1234567
//   SHA-256: <64 lowercase hex digits of the package's SHA-256>
//   Signature: <base64 of the 64-byte r||s ECDSA P-256 signature>
//
// The signature covers the SHA-256 of every byte before the `Signature:` line,
// line ends included. The program accepts a package only when this text checks
// against the public key built into it and names the file and version it
// asked for; the download then compares the package's size and SHA-256 with
// the ones signed here. Releases are signed outside the program.

#include "base/handles.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::update {

// A larger .sig is refused before it is parsed; the download stops reading
// there.
inline constexpr std::size_t kMaxSignatureFileBytes = 4 * 1024;
// No package is larger; a signed Size above this is refused.
inline constexpr std::uint64_t kMaxPackageBytes = 64ull * 1024 * 1024;

using Sha256Digest = std::array<std::uint8_t, 32>;

struct PackageSignature {
    std::wstring file;
    std::wstring version;
    std::uint64_t size = 0;
    Sha256Digest sha256{};
    std::array<std::uint8_t, 64> signature{};
    // The bytes the signature covers.
    std::string signedText;
};

// The fields of a .sig text, or nothing when it is not exactly the format
// above. Checks the form only: neither the signature nor the size cap.
std::optional<PackageSignature> ParsePackageSignature(std::string_view bytes);

// Why a .sig was refused; the caller turns this into the status text.
enum class SignatureProblem {
    None,
    Malformed,     // not the format above, or larger than kMaxSignatureFileBytes
    BadSignature,  // does not check against the public key
    WrongFile,     // signed for another package
    WrongVersion,  // signed for another version than the one offered
    NotNewer,      // not newer than the running version, and not allowed to be
    TooLarge,      // Size above kMaxPackageBytes
};

struct SignatureCheck {
    SignatureProblem problem = SignatureProblem::None;
    // Set when problem is None.
    std::optional<PackageSignature> signature;

    [[nodiscard]] bool accepted() const noexcept { return problem == SignatureProblem::None; }
};

// Parses and verifies a .sig against `publicKey` (see ParsePublicKey) and
// checks what it says: the file must be `expectedFile`, the version equal to
// `offeredVersion` and newer than `runningVersion` (equal only when `forced`,
// older only when also `olderConfirmed`), the size within kMaxPackageBytes.
// Refusals are returned; a failure of the system's cryptography, or a public
// key the system refuses, throws merovane::Error.
SignatureCheck VerifyPackageSignature(std::string_view sigBytes, std::span<const std::uint8_t> publicKey,
                                      std::wstring_view expectedFile, std::wstring_view offeredVersion,
                                      std::wstring_view runningVersion, bool forced,
                                      bool olderConfirmed = false);

// Dotted versions of one to four decimal parts compared numerically, missing
// parts counting as 0 ("1.2" equals "1.2.0.0", "1.10" is newer than "1.9").
// False when either text is not such a version.
bool IsVersionNewer(std::wstring_view candidate, std::wstring_view current);

// A P-256 public key as the verifier takes it: the 65-byte uncompressed point
// 04 || X || Y, from a PEM "PUBLIC KEY" (SubjectPublicKeyInfo) text. Nothing
// when the text is not a P-256 public key.
std::optional<std::vector<std::uint8_t>> ParsePublicKey(std::string_view pem);

// The public key releases are checked against, chosen when the program is
// built (the CMake setting MEROVANE_UPDATE_PUBLIC_KEY).
std::vector<std::uint8_t> BuiltInUpdatePublicKey();

// True when `publicKey` is a 65-byte uncompressed point that lies on P-256,
// so that a signature can check against it. The placeholder key of a build
// made without a release key is a point off the curve: it verifies nothing.
bool IsUsablePublicKey(std::span<const std::uint8_t> publicKey);

// True when `signature` (r || s) is a valid ECDSA P-256 signature of the
// SHA-256 of `message` under `publicKey` (65-byte point). Throws
// merovane::Error when the key is not usable (IsUsablePublicKey), the system
// refuses it or fails.
bool VerifyEcdsaP256(std::span<const std::uint8_t> publicKey, std::string_view message,
                     std::span<const std::uint8_t, 64> signature);

// SHA-256 computed piece by piece, for data that arrives in parts.
class Sha256 {
public:
    // Throws merovane::Error when the system has no SHA-256.
    Sha256();

    void Add(std::string_view bytes);
    // Ends the computation; the object can't be used afterwards.
    Sha256Digest Finish();

private:
    unique_bcrypt_alg algorithm_;
    unique_bcrypt_hash hash_;
};

Sha256Digest Sha256Of(std::string_view bytes);

struct FileDigest {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

// Size and SHA-256 of a file open for reading, read in pieces from its start;
// nothing when the file holds more than `maxBytes` (the rest is not read).
// Throws merovane::Error when the file can't be read.
std::optional<FileDigest> Sha256OfOpenFile(HANDLE file, std::uint64_t maxBytes);

// Lowercase hex, as the .sig writes digests.
std::string ToHex(std::span<const std::uint8_t> bytes);

} // namespace merovane::update
