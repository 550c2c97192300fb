#include "update/version_query.h"

#include "base/error.h"
#include "support/http_server.h"
#include "support/message_sink.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace merovane {
namespace {

using test::HttpReply;
using test::HttpServer;
using Clock = std::chrono::steady_clock;

const std::string kVersionPath = "/download/Merovane/version.txt";
const std::wstring kInternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A port on 127.0.0.1 where nothing listens.
std::uint16_t ClosedPort()
{
    HttpServer gone;
    return gone.Port();
}

class VersionQueryTest : public ::testing::Test {
protected:
    std::optional<ServerAnswer> Query(bool portable = false)
    {
        return GetServerVersion({.servers = {primary.BaseUrl(), fallback.BaseUrl()}, .portable = portable});
    }

    test::RegistrySandbox sandbox; // no proxy unless a test sets one
    HttpServer primary;
    HttpServer fallback;
};

TEST_F(VersionQueryTest, TheFirstServerThatAnswersWins)
{
    struct Case {
        const char* name;
        HttpReply reply; // the primary's answer for version.txt
        const wchar_t* version;
        bool fromFallback;
    } cases[] = {
        {"200 with blanks and CR LF", {.body = "  1.9.27.0\r\n"}, L"1.9.27.0", false},
        {"text is no answer", {.body = "soon"}, L"2.0", true},
        {"a version with more text", {.body = "9.9.9.9\r\n\r\nClick here"}, L"2.0", true},
        {"five parts", {.body = "1.2.3.4.5"}, L"2.0", true},
        {"404", {.status = 404, .body = "1.9.27.0"}, L"2.0", true},
        {"204", {.status = 204}, L"2.0", true},
        {"500", {.status = 500, .body = "1.9.27.0"}, L"2.0", true},
        {"blank body", {.body = " \r\n"}, L"2.0", true},
        {"larger than 4 KB", {.body = std::string(5000, '1')}, L"2.0", true},
        {"never ends", {.kind = HttpReply::Kind::Endless}, L"2.0", true},
        {"hangs up mid-answer", {.body = "1.9", .kind = HttpReply::Kind::CloseMidway}, L"2.0", true},
    };
    for (const Case& c : cases) {
        HttpServer first;
        HttpServer second;
        first.Serve(kVersionPath, c.reply);
        second.ServeText(kVersionPath, "2.0");
        const auto answer = GetServerVersion({.servers = {first.BaseUrl(), second.BaseUrl()}});
        ASSERT_TRUE(answer) << c.name;
        EXPECT_EQ(answer->version, c.version) << c.name;
        const HttpServer& source = c.fromFallback ? second : first;
        EXPECT_EQ(answer->packageUrl, source.Url("/download/Merovane/Merovane-setup.exe")) << c.name;
        EXPECT_EQ(second.Hits(kVersionPath), c.fromFallback ? 1 : 0) << c.name;
    }
}

TEST_F(VersionQueryTest, RedirectsAreFollowedAndThePackageStaysWithTheServerAsked)
{
    HttpServer other;
    other.ServeText("/moved/version.txt", "1.5");
    primary.Serve(kVersionPath, {.status = 302, .location = "/elsewhere/version.txt"});
    primary.Serve("/elsewhere/version.txt", {.status = 301, .location = ToUtf8(other.Url("/moved/version.txt"))});
    const auto answer = Query();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, L"1.5");
    EXPECT_EQ(answer->packageUrl, primary.Url("/download/Merovane/Merovane-setup.exe"));
    EXPECT_EQ(fallback.Requests().size(), 0u);
}

TEST_F(VersionQueryTest, APortableCopyIsOfferedTheZip)
{
    primary.ServeText(kVersionPath, "1.1");
    EXPECT_EQ(Query(true)->packageUrl, primary.Url("/download/Merovane/Merovane.zip"));
    EXPECT_EQ(Query(false)->packageUrl, primary.Url("/download/Merovane/Merovane-setup.exe"));
}

TEST_F(VersionQueryTest, AsksAsTheServersExpect)
{
    primary.ServeText(kVersionPath, "1.1");
    ASSERT_TRUE(Query());
    ASSERT_EQ(primary.Requests().size(), 1u);
    EXPECT_EQ(primary.Requests()[0], "GET " + kVersionPath + " HTTP/1.1");
    EXPECT_EQ(primary.LastHeader("User-Agent"), ToUtf8(kUpdateUserAgent));
}

TEST_F(VersionQueryTest, NoAnswerFromEitherServer)
{
    const std::wstring down = L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/download/";
    fallback.ServeText(kVersionPath, "2.0");
    auto answer = GetServerVersion({.servers = {down, fallback.BaseUrl()}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->packageUrl, fallback.Url("/download/Merovane/Merovane-setup.exe"));

    primary.Serve(kVersionPath, {.status = 404});
    EXPECT_FALSE(GetServerVersion({.servers = {down, primary.BaseUrl()}}));
    EXPECT_FALSE(GetServerVersion({}));
}

TEST_F(VersionQueryTest, TheUsersProxyCarriesTheRequest)
{
    HttpServer proxy;
    proxy.ServeText(kVersionPath, "3.0");
    primary.ServeText(kVersionPath, "1.1");
    const std::wstring proxyAddress = L"127.0.0.1:" + std::to_wstring(proxy.Port());
    struct Case {
        std::wstring proxyServer;
        DWORD enabled;
        bool viaProxy;
        std::wstring bypass = L"";
    } cases[] = {
        {proxyAddress, 1, true},
        {L"http=" + proxyAddress + L";https=127.0.0.1:1", 1, true},
        {L"http://" + proxyAddress, 1, true},
        {L"http=http://" + proxyAddress + L"/", 1, true},
        {L"127.0.0.1", 1, false}, // no port: no proxy
        {proxyAddress, 0, false},
        {proxyAddress, 1, false, L"<local>;127.0.0.*"},
        {proxyAddress, 1, true, L"<local>;*.corp.example"},
    };
    for (const Case& c : cases) {
        test::SetRegDword(kInternetSettings, L"ProxyEnable", c.enabled);
        test::SetRegString(kInternetSettings, L"ProxyServer", c.proxyServer);
        test::SetRegString(kInternetSettings, L"ProxyOverride", c.bypass);
        const size_t before = proxy.Requests().size();
        // Through the proxy the server's name is never looked up: the proxy
        // gets the whole URL. The direct cases ask the loopback server, which
        // a bypass entry may name.
        const std::wstring server = c.viaProxy ? L"http://update.merovane.example/download/" : primary.BaseUrl();
        const auto answer = GetServerVersion({.servers = {server}});
        ASSERT_TRUE(answer) << ToUtf8(c.proxyServer);
        EXPECT_EQ(answer->version, c.viaProxy ? L"3.0" : L"1.1") << ToUtf8(c.proxyServer);
        if (c.viaProxy) {
            ASSERT_EQ(proxy.Requests().size(), before + 1);
            // The default port may be written out.
            std::string line = proxy.Requests().back();
            if (const size_t port = line.find(".example:80/"); port != std::string::npos) {
                line.erase(port + 8, 3);
            }
            EXPECT_EQ(line, "GET http://update.merovane.example" + kVersionPath + " HTTP/1.1");
        } else {
            EXPECT_EQ(proxy.Requests().size(), before);
        }
    }
}

// The user's Internet settings as the system stores them, asking for an
// automatic configuration script at `scriptUrl`.
void SetAutomaticConfigurationScript(const std::wstring& scriptUrl)
{
    std::vector<BYTE> value;
    const auto add = [&value](DWORD number) {
        for (int shift = 0; shift < 32; shift += 8) {
            value.push_back(static_cast<BYTE>(number >> shift));
        }
    };
    const std::string url = ToUtf8(scriptUrl);
    add(0x46); // the format's version
    add(0);    // a change counter
    add(1 | 4); // direct, unless the script says otherwise
    add(0);    // no explicit proxy here
    add(0);    // nor a bypass list
    add(static_cast<DWORD>(url.size()));
    value.insert(value.end(), url.begin(), url.end());
    for (int i = 0; i < 8; ++i) {
        add(0);
    }
    test::SetRegRaw(kInternetSettings + L"\\Connections", L"DefaultConnectionSettings", REG_BINARY, value);
}

TEST_F(VersionQueryTest, AnAutomaticConfigurationScriptChoosesTheProxyPerUrl)
{
    HttpServer proxy;
    proxy.ServeText(kVersionPath, "3.0");
    primary.ServeText(kVersionPath, "1.1");
    // An explicit proxy that would fail: the script's answer comes first.
    test::SetRegDword(kInternetSettings, L"ProxyEnable", 1);
    test::SetRegString(kInternetSettings, L"ProxyServer", L"127.0.0.1:" + std::to_wstring(ClosedPort()));
    HttpServer scripts;
    scripts.ServeText("/proxy.pac", "function FindProxyForURL(url, host) {\n"
                                    "  if (host == \"127.0.0.1\") return \"DIRECT\";\n"
                                    "  return \"PROXY 127.0.0.1:" + std::to_string(proxy.Port()) + "\";\n}\n");
    SetAutomaticConfigurationScript(scripts.Url("/proxy.pac"));

    auto answer = GetServerVersion({.servers = {L"http://update.merovane.example/download/"}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, L"3.0");
    answer = GetServerVersion({.servers = {primary.BaseUrl()}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, L"1.1");
    EXPECT_EQ(proxy.Requests().size(), 1u);

    // A script that can't be had leaves the explicit proxy and its bypass list.
    SetAutomaticConfigurationScript(scripts.Url("/missing.pac"));
    test::SetRegString(kInternetSettings, L"ProxyServer", L"127.0.0.1:" + std::to_wstring(proxy.Port()));
    answer = GetServerVersion({.servers = {L"http://update.merovane.example/download/"}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, L"3.0");
    EXPECT_EQ(proxy.Requests().size(), 2u);
}

TEST_F(VersionQueryTest, AServerThatNeverAnswersCostsOneReadTimeout)
{
    primary.Serve(kVersionPath, {.kind = HttpReply::Kind::Silent});
    fallback.ServeText(kVersionPath, "2.0");
    const auto start = Clock::now();
    const auto answer = Query();
    const double seconds = SecondsSince(start);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, L"2.0");
    EXPECT_GT(seconds, 4.0);
    EXPECT_LT(seconds, (kConnectTimeoutMs + kReadTimeoutMs) / 1000.0 + 1.5);
}

TEST_F(VersionQueryTest, AServerThatTricklesIsCutOff)
{
    // One byte every 2 s stays within each read's timeout.
    primary.Serve(kVersionPath, {.body = "1.0.1.0", .kind = HttpReply::Kind::Trickle});
    fallback.ServeText(kVersionPath, "2.0");
    const auto start = Clock::now();
    const auto answer = Query();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, L"2.0");
    EXPECT_LT(SecondsSince(start), (kConnectTimeoutMs + kReadTimeoutMs) / 1000.0 + 3.0);
}

constexpr UINT kQueryMessage = WM_APP + 100;

// The tag of the first query message within `ms`; nothing when none came.
std::optional<WPARAM> WaitForTag(const test::MessageSink& sink, DWORD ms)
{
    const std::optional<MSG> message = sink.Wait(kQueryMessage, kQueryMessage, ms);
    return message ? std::optional<WPARAM>(message->wParam) : std::nullopt;
}

TEST_F(VersionQueryTest, ABackgroundQueryPostsItsAnswer)
{
    primary.ServeText(kVersionPath, "1.2");
    test::MessageSink sink;
    BackgroundQuery query({.servers = {primary.BaseUrl()}}, sink.Handle(), kQueryMessage, 7);
    EXPECT_FALSE(query.Result()); // not before the message
    EXPECT_EQ(WaitForTag(sink, 10'000), WPARAM{7});
    ASSERT_TRUE(query.Result());
    EXPECT_EQ(query.Result()->version, L"1.2");
}

TEST_F(VersionQueryTest, ACancelledQueryIsLeftAtOnceAndPostsNothing)
{
    primary.Serve(kVersionPath, {.kind = HttpReply::Kind::Silent});
    fallback.ServeText(kVersionPath, "2.0");
    test::MessageSink sink;
    {
        BackgroundQuery query({.servers = {primary.BaseUrl(), fallback.BaseUrl()}}, sink.Handle(),
                              kQueryMessage, 1);
        for (int i = 0; i < 500 && primary.Requests().empty(); ++i) {
            ::Sleep(10);
        }
        const auto start = Clock::now();
        query.Cancel();
        EXPECT_FALSE(WaitForTag(sink, 300));
        EXPECT_FALSE(query.Result());
        EXPECT_LT(SecondsSince(start), 1.0);
    }
    // Gone before it ended: its answer, if it still gets one, goes nowhere.
    EXPECT_FALSE(WaitForTag(sink, kReadTimeoutMs + 1000));
    EXPECT_EQ(fallback.Hits(kVersionPath), 0);
}

} // namespace
} // namespace merovane
