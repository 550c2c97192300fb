#include "update/update_client.h"

#include "base/error.h"
#include "base/ini_file.h"
#include "base/options.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <functional>

namespace merovane {
namespace {

TEST(CompareVersions, ComparesComponentByComponent)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int result;
    } cases[] = {
        {L"1.10", L"1.9.26.312", 1},       // numbers, not text
        {L"1.9", L"1.9.0.0", 0},           // missing components are 0
        {L"1.9.26", L"1.9.26.312", -1},
        {L"1.9.27", L"1.9.26.312", 1},
        {L"1.9.26.312", L"1.9.26.312", 0},
        {L"1.0-beta", L"1.0", 0},          // no integer: 0
        {L"1.0.0-beta", L"1.0.0.1", -1},
        {L"release", L"1.0.0.0", -1},      // any text is an answer, never newer
        {L"1.0.1.0", L"", 1},              // no local version: anything positive is newer
        {L"0.0", L"", 0},
        {L"1..2", L"1.0.2", 0},            // two dots: an empty component
        {L"1.9.", L"1.9", 0},              // a final dot: a final empty component
        {L"  1.2", L"1.2", 0},             // leading blanks skipped
        {L"1\t2", L"1.2", 0},              // blanks and controls end a component
        {L"1.2\r\n3", L"1.2.3", 0},
        {L"99999999999", L"1", -1},        // beyond 32 bits: not an integer
        {L"2147483647", L"2147483646", 1},
        {L"-1", L"0", -1},
        {L"+2", L"1", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.result) << ToUtf8(c.a) << " vs " << ToUtf8(c.b);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.result) << ToUtf8(c.b) << " vs " << ToUtf8(c.a);
    }
}

TEST(VersionTextFromBody, OnlyOneDottedVersionIsAnAnswer)
{
    struct Case {
        std::string_view body;
        const wchar_t* text; // L"": no answer
    } cases[] = {
        {"  1.9.27.0\r\n", L"1.9.27.0"},
        {"\xEF\xBB\xBF" "1.2\n", L"1.2"},         // byte-order mark
        {"7", L"7"},
        {"\t1.0.0.123456789 \r\n\r\n", L"1.0.0.123456789"},
        {" \t\r\n", L""},
        {"9.9.9.9\r\n\r\nClick here for a prize", L""}, // nothing else may ride along
        {"1.0\r\nnotes\r\n", L""},
        {"1.2.3.4.5", L""},                        // at most four parts
        {"1.", L""},
        {".1", L""},
        {"1..2", L""},
        {"v1.2", L""},
        {"1.2-beta", L""},
        {"1.2 3", L""},
        {"-1", L""},
        {"+2", L""},
        {"1,2", L""},
        {"1.1234567890", L""},                     // no part beyond nine digits
        {"\xEF\xBC\x91.2", L""},                  // a full-width digit
        {"soon", L""},
        {"v\xD0\xB2 2", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionTextFromBody(c.body), c.text) << c.body;
    }
}

TEST(ChooseDownload, ForcedReinstallsTheSameVersionAndAsksBeforeAnOlderOne)
{
    struct Case {
        const wchar_t* offered;
        const wchar_t* running;
        bool forced;
        DownloadChoice choice;
    } cases[] = {
        {L"1.0.1.0", L"1.0.0.0", false, DownloadChoice::Allowed},
        {L"1.0.1.0", L"1.0.0.0", true, DownloadChoice::Allowed},
        {L"1.10", L"1.9.9.9", false, DownloadChoice::Allowed},
        {L"1.0.0.0", L"1.0.0.0", false, DownloadChoice::Refused},
        {L"1.0", L"1.0.0.0", true, DownloadChoice::Allowed},   // the same version, written shorter
        {L"0.9.0.0", L"1.0.0.0", false, DownloadChoice::Refused},
        {L"0.9.0.0", L"1.0.0.0", true, DownloadChoice::AskOlder},
        {L"1.9", L"1.10", true, DownloadChoice::AskOlder},
        {L"", L"1.0.0.0", true, DownloadChoice::Refused},      // no answer
        {L"1.0.1.0", L"", true, DownloadChoice::Refused},      // no version of its own
        {L"soon", L"1.0.0.0", true, DownloadChoice::Refused},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseDownload(c.offered, c.running, c.forced), c.choice)
            << ToUtf8(c.offered) << " over " << ToUtf8(c.running) << (c.forced ? ", forced" : "");
    }
}

TEST(PackageUrls, FollowTheServerAndThePackageKind)
{
    EXPECT_EQ(GetSetupFileName(), L"Merovane-setup.exe");
    // Each build updates into its own bitness.
    EXPECT_EQ(ZipFileNameFor(true), L"Merovane.zip");
    EXPECT_EQ(ZipFileNameFor(false), L"Merovane-32-bit.zip");
    EXPECT_EQ(GetZipFileName(), ZipFileNameFor(sizeof(void*) == 8));
    const std::wstring base = L"http://update.merovane.example/download/";
    EXPECT_EQ(VersionFileUrl(base), base + L"Merovane/version.txt");
    EXPECT_EQ(PackageUrl(base, true), base + L"Merovane/" + GetZipFileName());
    EXPECT_EQ(PackageUrl(base, false), base + L"Merovane/Merovane-setup.exe");
}

TEST(UpdateServerList, TheSettingsFileMayNameAMirror)
{
    const std::vector<std::wstring> builtIn = {L"http://a.example/download/", L"http://b.example/download/"};
    struct Case {
        std::string_view settings;
        std::vector<std::wstring> servers;
    } cases[] = {
        {"", builtIn},
        {"[Update]\r\nPrimaryServer=https://mirror.example.org/dl\r\n",
         {L"https://mirror.example.org/dl/", L"http://b.example/download/"}},
        {"[update]\r\nfallbackserver=HTTP://m.example.org/\r\n",
         {L"http://a.example/download/", L"HTTP://m.example.org/"}},
        // Neither an empty value nor anything but http(s) replaces a server.
        {"[Update]\r\nPrimaryServer=\r\nFallbackServer=ftp://m.example.org/\r\n", builtIn},
        {"[Update]\r\nPrimaryServer=m.example.org/download/\r\nFallbackServer=http://\r\n", builtIn},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UpdateServerList(ReadOptions(IniFile::FromBytes(c.settings)), builtIn), c.servers) << c.settings;
    }
}

TEST(UpdateServerList, ABuildAsksItsOwnServersPrimaryFirst)
{
    const auto servers = BuiltInUpdateServers();
    ASSERT_EQ(servers.size(), 2u);
    for (const std::wstring& server : servers) {
        EXPECT_EQ(NormalizeServerUrl(server), server) << ToUtf8(server);
    }
    EXPECT_NE(servers[0], servers[1]);
}

TEST(ParseProxyServer, ReadsTheSingleAndThePerSchemeForms)
{
    struct Case {
        const wchar_t* value;
        const wchar_t* scheme;
        std::optional<ProxyAddress> proxy;
    } cases[] = {
        {L"proxy:3128", L"http", ProxyAddress{L"proxy", 3128}},
        {L"proxy:3128", L"https", ProxyAddress{L"proxy", 3128}},
        {L"proxy", L"http", std::nullopt},                 // no port: no proxy
        {L"proxy:abc", L"http", ProxyAddress{L"proxy", 8080}},
        {L"proxy:", L"http", ProxyAddress{L"proxy", 8080}},
        {L"proxy:70000", L"http", ProxyAddress{L"proxy", 8080}},
        {L":3128", L"http", std::nullopt},                 // no host
        {L"", L"http", std::nullopt},
        {L"http=h:80;https=h:443", L"http", ProxyAddress{L"h", 80}},
        {L"http=h:80;https=s:443", L"https", ProxyAddress{L"s", 443}},
        {L"HTTP=h:81", L"http", ProxyAddress{L"h", 81}},
        {L"https=s:443", L"http", std::nullopt},           // none for this scheme
        {L"ftp=f:21;p:99", L"http", ProxyAddress{L"p", 99}}, // unnamed entry serves the rest
        {L"http=h", L"http", std::nullopt},
        // Written as URLs, as some settings tools and users do.
        {L"http://proxy:3128", L"http", ProxyAddress{L"proxy", 3128}},
        {L" HTTP://proxy:3128/ ", L"https", ProxyAddress{L"proxy", 3128}},
        {L"http=http://h:80;https=https://s:443", L"https", ProxyAddress{L"s", 443}},
        {L"http=http://h:80;https=https://s:443", L"http", ProxyAddress{L"h", 80}},
        {L"http://", L"http", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseProxyServer(c.value, c.scheme), c.proxy) << ToUtf8(c.value) << " " << ToUtf8(c.scheme);
    }
}

TEST(ProxyBypassed, TheOverrideListSendsItsHostsPastTheProxy)
{
    struct Case {
        const wchar_t* list;
        const wchar_t* host;
        bool bypassed;
    } cases[] = {
        {L"", L"update.merovane.example", false},
        {L"<local>", L"intranet", true},
        {L"<local>", L"update.merovane.example", false},
        {L"<LOCAL>", L"intranet", true},
        {L"*.corp.example;<local>", L"www.corp.example", true},
        {L"*.corp.example;<local>", L"corp.example", false},
        {L"*.corp.example", L"WWW.CORP.EXAMPLE", true},
        {L"10.*; 192.168.*", L"192.168.1.20", true},
        {L"10.*", L"110.0.0.1", false},
        {L"update.merovane.example", L"update.merovane.example", true},
        {L"update.merovane.example", L"update.merovane.example.evil", false},
        {L"http://update.merovane.example", L"update.merovane.example", true},
        {L"a.example, b.example", L"b.example", true},
        {L"*", L"anything.example", true},
        {L"*merovane*", L"update.merovane.example", true},
        {L";;", L"intranet", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProxyBypassed(c.list, c.host), c.bypassed) << ToUtf8(c.list) << " / " << ToUtf8(c.host);
    }
}

TEST(GetSystemProxy, AnEnabledProxyIsTheDwordOneWithAServer)
{
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    struct Case {
        const char* name;
        std::function<void()> setup;
        bool enabled;
        std::optional<ProxyAddress> address;
        std::wstring bypass = L"";
    } cases[] = {
        {"no key", [] {}, false, std::nullopt},
        {"no ProxyEnable", [&] { test::SetRegString(key, L"ProxyServer", L"proxy:3128"); }, false, std::nullopt},
        {"ProxyEnable not a DWORD",
         [&] {
             test::SetRegString(key, L"ProxyEnable", L"1");
             test::SetRegString(key, L"ProxyServer", L"proxy:3128");
         },
         false, std::nullopt},
        {"switched off",
         [&] {
             test::SetRegDword(key, L"ProxyEnable", 0);
             test::SetRegString(key, L"ProxyServer", L"proxy:3128");
         },
         false, std::nullopt},
        {"on",
         [&] {
             test::SetRegDword(key, L"ProxyEnable", 1);
             test::SetRegString(key, L"ProxyServer", L"proxy:3128");
         },
         true, ProxyAddress{L"proxy", 3128}},
        {"on, server not a string",
         [&] {
             test::SetRegDword(key, L"ProxyEnable", 1);
             test::SetRegDword(key, L"ProxyServer", 3128);
         },
         true, std::nullopt},
        {"on, no server", [&] { test::SetRegDword(key, L"ProxyEnable", 1); }, true, std::nullopt},
        {"on, with a bypass list",
         [&] {
             test::SetRegDword(key, L"ProxyEnable", 1);
             test::SetRegString(key, L"ProxyServer", L"http://proxy:3128");
             test::SetRegString(key, L"ProxyOverride", L"*.corp.example;<local>");
         },
         true, ProxyAddress{L"proxy", 3128}, L"*.corp.example;<local>"},
    };
    for (const Case& c : cases) {
        test::RegistrySandbox sandbox;
        c.setup();
        const SystemProxy proxy = GetSystemProxy(L"http");
        EXPECT_EQ(proxy.enabled, c.enabled) << c.name;
        EXPECT_EQ(proxy.address, c.address) << c.name;
        EXPECT_EQ(proxy.bypass, c.bypass) << c.name;
    }
}

} // namespace
} // namespace merovane
