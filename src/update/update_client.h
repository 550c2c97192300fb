#pragma once

// What the update servers hold and how their answer is judged: the package
// names, the server list, the URLs, the version text, version comparison and
// the user's proxy. Nothing here touches the network or a window; the query
// itself is in update/version_query.h.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

struct Options;

// "Merovane", "Merovane-setup.exe" (installed copies), and the portable
// package of the running build's bitness.
std::wstring GetPackageBaseName();
std::wstring GetSetupFileName();
std::wstring GetZipFileName();
// "Merovane.zip" for a 64-bit build, "Merovane-32-bit.zip" for a 32-bit one:
// a portable copy stays the build it is.
std::wstring ZipFileNameFor(bool sixtyFourBit);

// The base URLs this build was configured with, primary first.
std::vector<std::wstring> BuiltInUpdateServers();
// Where a copy looks for updates: primary first, then fallback, the built-in
// servers unless the options name mirrors. A mirror that is empty or no
// http(s) URL leaves the built-in server in its place. Every base URL ends in
// "/".
std::vector<std::wstring> UpdateServerList(const Options& options, const std::vector<std::wstring>& builtIn);

// An http:// or https:// URL (scheme in any case) with a trailing "/" added
// when missing; nothing for anything else.
std::optional<std::wstring> NormalizeServerUrl(std::wstring_view url);

// base + "Merovane/".
std::wstring PackageDirectoryUrl(std::wstring_view baseUrl);
// The directory's "version.txt".
std::wstring VersionFileUrl(std::wstring_view baseUrl);
// The directory's ZIP package for a portable copy, its installer otherwise.
std::wstring PackageUrl(std::wstring_view baseUrl, bool portable);

// A dotted version of one to four decimal parts of up to nine digits each
// ("1", "1.0.2.15"), missing parts 0; nothing when `text` is anything else.
using VersionParts = std::array<std::uint32_t, 4>;
std::optional<VersionParts> ParseDottedVersion(std::wstring_view text);

// The version a version.txt body gives: UTF-8 (a byte-order mark is dropped)
// with every leading and trailing character with a code of 32 or less
// removed, when what is left is one dotted version; "" (no answer) for
// anything else, so that no other text of the server's is ever shown.
std::wstring VersionTextFromBody(std::string_view body);

// 1 when version a is newer than b, -1 when older, 0 when equal. Components
// end at ".", a blank or control character, or the end; missing components
// and components that are no 32-bit decimal integer count as 0.
int CompareVersions(std::wstring_view a, std::wstring_view b);

// What a download may fetch, judged by the offered and the running version.
enum class DownloadChoice {
    Allowed,  // newer, or the same version when forced (a reinstall)
    AskOlder, // older and forced: only once the user said yes to that version
    Refused,  // not newer and not forced, or either is no dotted version
};
DownloadChoice ChooseDownload(std::wstring_view offered, std::wstring_view running, bool forced);

struct ProxyAddress {
    std::wstring host;
    std::uint16_t port = 0;

    friend bool operator==(const ProxyAddress&, const ProxyAddress&) = default;
};

// The proxy that a ProxyServer value of Internet Settings names for URLs of
// `scheme` ("http" or "https"). "host:port" serves every scheme; in a list
// such as "http=h:80;https=h:443" the entry for the scheme counts, and an
// entry without "name=" serves the schemes not named. A host written as a
// URL ("http://h:80/") counts without its scheme and final "/". A port that
// is no number from 1 to 65535 reads as 8080; a value without ":" or with an
// empty host names no usable proxy.
std::optional<ProxyAddress> ParseProxyServer(std::wstring_view value, std::wstring_view scheme);

// True when a ProxyOverride list (entries separated by ";", "," or blanks)
// sends requests to `host` past the proxy: an entry equal to the host in any
// letter case, with "*" standing for any run of characters ("*.corp.example",
// "10.*"), or "<local>", which stands for every host name without a dot. An
// entry's scheme ("http://") is ignored.
bool ProxyBypassed(std::wstring_view bypassList, std::wstring_view host);

// The user's explicit proxy from HKCU\...\Internet Settings: used when
// ProxyEnable is the DWORD 1 and ProxyServer names one for `scheme`, except
// for the hosts ProxyOverride lists. A missing key or value, or one of
// another type, means no proxy (and no bypass list).
struct SystemProxy {
    bool enabled = false;
    std::optional<ProxyAddress> address;
    std::wstring bypass;
};
SystemProxy GetSystemProxy(std::wstring_view scheme = L"http");

} // namespace merovane
