#include "update/update_client.h"

#include "base/error.h"
#include "base/ini_file.h"
#include "base/options.h"
#include "base/registry.h"

#include <charconv>
#include <climits>

#ifndef MEROVANE_PRIMARY_UPDATE_SERVER
#define MEROVANE_PRIMARY_UPDATE_SERVER "http://update.merovane.example/download/"
#endif
#ifndef MEROVANE_FALLBACK_UPDATE_SERVER
#define MEROVANE_FALLBACK_UPDATE_SERVER "http://mirror.merovane.example/download/"
#endif

namespace merovane {

namespace {

constexpr std::wstring_view kInternetSettings = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr std::uint16_t kDefaultProxyPort = 8080;

bool IsBlankOrControl(wchar_t c)
{
    return c >= 1 && c <= 32;
}

wchar_t FoldAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithAsciiNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && EqualsAsciiNoCase(text.substr(0, prefix.size()), prefix);
}

std::wstring_view TrimBlanks(std::wstring_view text)
{
    while (!text.empty() && text.front() <= 32) {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() <= 32) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::wstring_view> VersionComponents(std::wstring_view text)
{
    std::vector<std::wstring_view> components;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && IsBlankOrControl(text[i])) {
            ++i;
        }
        const size_t start = i;
        while (i < text.size() && text[i] != L'.' && !IsBlankOrControl(text[i])) {
            ++i;
        }
        if (start == text.size() && !components.empty() && text.back() != L'.') {
            break; // only trailing blanks were left
        }
        components.push_back(text.substr(start, i - start));
        if (i >= text.size()) {
            break;
        }
        if (text[i] == L'.') {
            ++i;
        }
    }
    return components;
}

std::int32_t ComponentValue(const std::vector<std::wstring_view>& components, size_t index)
{
    if (index >= components.size()) {
        return 0;
    }
    return ParseDecimalInt32(components[index]).value_or(0);
}

// "http://host" and the like without the scheme.
std::wstring_view WithoutScheme(std::wstring_view text)
{
    const size_t separator = text.find(L"://");
    return separator == std::wstring_view::npos ? text : text.substr(separator + 3);
}

// "host:port" as the single form reads it.
std::optional<ProxyAddress> ParseHostAndPort(std::wstring_view entry)
{
    entry = WithoutScheme(TrimBlanks(entry));
    if (!entry.empty() && entry.back() == L'/') {
        entry.remove_suffix(1);
    }
    const size_t colon = entry.find(L':');
    if (colon == std::wstring_view::npos || colon == 0) {
        return std::nullopt;
    }
    ProxyAddress address{.host = std::wstring(entry.substr(0, colon)), .port = kDefaultProxyPort};
    const std::optional<std::int32_t> port = ParseDecimalInt32(entry.substr(colon + 1));
    if (port && *port >= 1 && *port <= 65535) {
        address.port = static_cast<std::uint16_t>(*port);
    }
    return address;
}

// `text` against a pattern where "*" matches any run of characters, letter
// case ignored.
bool MatchesWildcard(std::wstring_view text, std::wstring_view pattern)
{
    size_t t = 0;
    size_t p = 0;
    size_t star = std::wstring_view::npos;
    size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && FoldAscii(pattern[p]) == FoldAscii(text[t])) {
            ++p;
            ++t;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace

std::wstring GetPackageBaseName()
{
    return L"Merovane";
}

std::wstring GetSetupFileName()
{
    return GetPackageBaseName() + L"-setup.exe";
}

std::wstring ZipFileNameFor(bool sixtyFourBit)
{
    return GetPackageBaseName() + (sixtyFourBit ? L".zip" : L"-32-bit.zip");
}

std::wstring GetZipFileName()
{
    return ZipFileNameFor(sizeof(void*) == 8);
}

std::vector<std::wstring> BuiltInUpdateServers()
{
    return {L"" MEROVANE_PRIMARY_UPDATE_SERVER, L"" MEROVANE_FALLBACK_UPDATE_SERVER};
}

std::optional<std::wstring> NormalizeServerUrl(std::wstring_view url)
{
    url = TrimBlanks(url);
    for (std::wstring_view scheme : {std::wstring_view(L"http://"), std::wstring_view(L"https://")}) {
        if (StartsWithAsciiNoCase(url, scheme) && url.size() > scheme.size()) {
            std::wstring result(url);
            if (result.back() != L'/') {
                result += L'/';
            }
            return result;
        }
    }
    return std::nullopt;
}

std::vector<std::wstring> UpdateServerList(const Options& options, const std::vector<std::wstring>& builtIn)
{
    std::vector<std::wstring> servers;
    const std::wstring* mirrors[] = {&options.primaryUpdateServer, &options.fallbackUpdateServer};
    for (size_t i = 0; i < builtIn.size(); ++i) {
        std::optional<std::wstring> chosen;
        if (i < std::size(mirrors)) {
            chosen = NormalizeServerUrl(*mirrors[i]);
        }
        if (!chosen) {
            chosen = NormalizeServerUrl(builtIn[i]);
        }
        if (chosen) {
            servers.push_back(std::move(*chosen));
        }
    }
    return servers;
}

std::wstring PackageDirectoryUrl(std::wstring_view baseUrl)
{
    return std::wstring(baseUrl) + GetPackageBaseName() + L"/";
}

std::wstring VersionFileUrl(std::wstring_view baseUrl)
{
    return PackageDirectoryUrl(baseUrl) + L"version.txt";
}

std::wstring PackageUrl(std::wstring_view baseUrl, bool portable)
{
    return PackageDirectoryUrl(baseUrl) + (portable ? GetZipFileName() : GetSetupFileName());
}

std::optional<VersionParts> ParseDottedVersion(std::wstring_view text)
{
    VersionParts parts{};
    std::size_t part = 0;
    std::size_t digits = 0;
    for (const wchar_t c : text) {
        if (c == L'.') {
            if (digits == 0 || ++part == parts.size()) {
                return std::nullopt;
            }
            digits = 0;
        } else if (c >= L'0' && c <= L'9' && digits < 9) {
            parts[part] = parts[part] * 10 + static_cast<std::uint32_t>(c - L'0');
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return parts;
}

std::wstring VersionTextFromBody(std::string_view body)
{
    if (body.starts_with("\xEF\xBB\xBF")) {
        body.remove_prefix(3);
    }
    std::wstring text(TrimBlanks(FromUtf8(body)));
    return ParseDottedVersion(text) ? text : std::wstring();
}

int CompareVersions(std::wstring_view a, std::wstring_view b)
{
    const auto left = VersionComponents(a);
    const auto right = VersionComponents(b);
    const size_t count = std::max(left.size(), right.size());
    for (size_t i = 0; i < count; ++i) {
        const std::int32_t x = ComponentValue(left, i);
        const std::int32_t y = ComponentValue(right, i);
        if (x != y) {
            return x > y ? 1 : -1;
        }
    }
    return 0;
}

DownloadChoice ChooseDownload(std::wstring_view offered, std::wstring_view running, bool forced)
{
    const auto candidate = ParseDottedVersion(offered);
    const auto current = ParseDottedVersion(running);
    if (!candidate || !current) {
        return DownloadChoice::Refused;
    }
    if (*candidate > *current) {
        return DownloadChoice::Allowed;
    }
    if (!forced) {
        return DownloadChoice::Refused;
    }
    return *candidate == *current ? DownloadChoice::Allowed : DownloadChoice::AskOlder;
}

bool ProxyBypassed(std::wstring_view bypassList, std::wstring_view host)
{
    while (!bypassList.empty()) {
        const size_t end = bypassList.find_first_of(L"; ,\t\r\n");
        const std::wstring_view entry = WithoutScheme(bypassList.substr(0, end));
        bypassList = end == std::wstring_view::npos ? std::wstring_view() : bypassList.substr(end + 1);
        if (entry.empty()) {
            continue;
        }
        if (EqualsAsciiNoCase(entry, L"<local>") ? host.find(L'.') == std::wstring_view::npos
                                                  : MatchesWildcard(host, entry)) {
            return true;
        }
    }
    return false;
}

std::optional<ProxyAddress> ParseProxyServer(std::wstring_view value, std::wstring_view scheme)
{
    if (value.find(L'=') == std::wstring_view::npos) {
        return ParseHostAndPort(value);
    }
    std::optional<ProxyAddress> shared;
    while (!value.empty()) {
        const size_t end = value.find_first_of(L"; ");
        const std::wstring_view entry = value.substr(0, end);
        value = end == std::wstring_view::npos ? std::wstring_view() : value.substr(end + 1);
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring_view::npos) {
            if (!shared && !TrimBlanks(entry).empty()) {
                shared = ParseHostAndPort(entry);
            }
            continue;
        }
        if (EqualsAsciiNoCase(TrimBlanks(entry.substr(0, equals)), scheme)) {
            return ParseHostAndPort(entry.substr(equals + 1));
        }
    }
    return shared;
}

SystemProxy GetSystemProxy(std::wstring_view scheme)
{
    SystemProxy proxy;
    try {
        RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ);
        if (!registry.OpenKey(kInternetSettings, false)) {
            return proxy;
        }
        proxy.enabled = registry.TryReadInteger(L"ProxyEnable") == 1u;
        if (proxy.enabled) {
            if (auto server = registry.TryReadString(L"ProxyServer")) {
                proxy.address = ParseProxyServer(*server, scheme);
            }
            if (auto bypass = registry.TryReadString(L"ProxyOverride")) {
                proxy.bypass = std::move(*bypass);
            }
        }
    } catch (const Error&) {
        // An unreadable setting is no proxy: the check goes on without one.
        proxy.address.reset();
        proxy.bypass.clear();
    }
    return proxy;
}

} // namespace merovane
