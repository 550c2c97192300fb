#pragma once

// The package that the .sig fixtures of tests/fixtures/update describe (made
// by make_signatures.py with Python's cryptography) and the test-only key
// they are signed with.

#include "base/error.h"
#include "support/sandbox.h"
#include "update/signature.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace merovane::test {

inline std::string PackageBytes()
{
    std::string bytes;
    for (int i = 0; i < 5000; ++i) {
        bytes += "Merovane test package\n";
    }
    return bytes;
}

inline std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string PackageFixture(std::wstring_view name)
{
    std::string bytes = ReadAll(std::filesystem::path(FixturePath(L"update\\" + std::wstring(name))));
    if (bytes.empty()) {
        throw std::runtime_error("missing fixture " + ToUtf8(name));
    }
    return bytes;
}

inline std::vector<std::uint8_t> TestPackageKey()
{
    auto key = update::ParsePublicKey(PackageFixture(L"test-only-key.pub.pem"));
    if (!key) {
        throw std::runtime_error("unreadable test key");
    }
    return *key;
}

using Files = std::map<std::wstring, std::string>;

inline void WriteTree(const std::wstring& root, const Files& files)
{
    for (const auto& [name, bytes] : files) {
        const std::filesystem::path path = std::filesystem::path(root) / name;
        std::filesystem::create_directories(path.parent_path());
        WriteFileBytes(path.wstring(), bytes);
    }
}

// Every file below a folder with its bytes; folders as names ending in '\'.
inline Files ReadTree(const std::wstring& root)
{
    Files files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        const std::wstring name = item.path().lexically_relative(root).wstring();
        if (item.is_directory()) {
            files[name + L"\\"] = "";
        } else {
            files[name] = ReadAll(item.path());
        }
    }
    return files;
}

} // namespace merovane::test
