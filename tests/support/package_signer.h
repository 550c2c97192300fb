#pragma once

// Signs update packages as a release would, with a P-256 key pair made for
// one test by the system's cryptography, so that the tests can describe
// packages they build themselves. The verifier's own tests also check
// descriptions signed by an independent implementation (fixtures/update).

#include "base/error.h"
#include "base/handles.h"
#include "update/signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::test {

class PackageSigner {
public:
    PackageSigner()
    {
        BCRYPT_ALG_HANDLE algorithm = nullptr;
        CheckStatus(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
        algorithm_.reset(algorithm);
        BCRYPT_KEY_HANDLE key = nullptr;
        CheckStatus(::BCryptGenerateKeyPair(algorithm_.get(), &key, 256, 0));
        key_.reset(key);
        CheckStatus(::BCryptFinalizeKeyPair(key_.get(), 0));
    }

    // The public key as the verifier takes it: 04 || X || Y.
    [[nodiscard]] std::vector<std::uint8_t> PublicKey() const
    {
        std::vector<std::uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
        ULONG size = 0;
        CheckStatus(::BCryptExportKey(key_.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(),
                                      static_cast<ULONG>(blob.size()), &size, 0));
        if (size != blob.size()) {
            throw Error(ERROR_GEN_FAILURE, L"The test key is no P-256 key");
        }
        std::vector<std::uint8_t> point(65, 0x04);
        std::copy(blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB), blob.end(), point.begin() + 1);
        return point;
    }

    // The .sig text for `package`, served as `file` of `version`.
    [[nodiscard]] std::string Describe(std::string_view file, std::string_view version, std::string_view package) const
    {
        const update::Sha256Digest digest = update::Sha256Of(package);
        const std::string text = "Merovane-Signature: 1\nFile: " + std::string(file) + "\nVersion: " +
                                 std::string(version) + "\nSize: " + std::to_string(package.size()) +
                                 "\nSHA-256: " + update::ToHex(digest) + "\n";
        return text + "Signature: " + Base64(Sign(text)) + "\n";
    }

private:
    static void CheckStatus(NTSTATUS status)
    {
        if (!BCRYPT_SUCCESS(status)) {
            throw Error(ERROR_GEN_FAILURE, L"The test key could not be made or used");
        }
    }

    [[nodiscard]] std::string Sign(std::string_view text) const
    {
        update::Sha256Digest digest = update::Sha256Of(text);
        std::string signature(64, '\0');
        ULONG size = 0;
        CheckStatus(::BCryptSignHash(key_.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                     reinterpret_cast<PUCHAR>(signature.data()), 64, &size, 0));
        signature.resize(size);
        return signature;
    }

    static std::string Base64(std::string_view bytes)
    {
        static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            std::uint32_t chunk = static_cast<std::uint8_t>(bytes[i]) << 16;
            if (i + 1 < bytes.size()) {
                chunk |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
            }
            if (i + 2 < bytes.size()) {
                chunk |= static_cast<std::uint8_t>(bytes[i + 2]);
            }
            out += kDigits[(chunk >> 18) & 63];
            out += kDigits[(chunk >> 12) & 63];
            out += i + 1 < bytes.size() ? kDigits[(chunk >> 6) & 63] : '=';
            out += i + 2 < bytes.size() ? kDigits[chunk & 63] : '=';
        }
        return out;
    }

    unique_bcrypt_alg algorithm_;
    unique_bcrypt_key key_;
};

} // namespace merovane::test
