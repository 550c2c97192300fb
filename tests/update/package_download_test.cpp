#include "update/package_download.h"

#include "base/error.h"
#include "package_fixtures.h"
#include "support/http_server.h"
#include "support/message_sink.h"
#include "ui/messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>

namespace merovane::update {
namespace {

constexpr DownloadMessages kMessages{ui::WM_APP_DOWNLOADPROGRESS, ui::WM_APP_DOWNLOADDONE};

using test::HttpReply;
using Clock = std::chrono::steady_clock;

constexpr char kPackagePath[] = "/download/Merovane/Merovane-setup.exe";

using test::PackageBytes;
using test::ReadAll;

std::string Fixture(std::wstring_view name)
{
    return test::PackageFixture(name);
}

std::vector<std::uint8_t> TestKey()
{
    return test::TestPackageKey();
}

bool IsEmptyFolder(const std::filesystem::path& path)
{
    return std::filesystem::is_empty(path);
}

class PackageDownloadTest : public ::testing::Test {
protected:
    DownloadRequest Request(std::wstring offered = L"1.0.1.0", bool forced = false) const
    {
        return DownloadRequest{.packageUrl = server.Url(kPackagePath),
                               .fileName = L"Merovane-setup.exe",
                               .offeredVersion = std::move(offered),
                               .runningVersion = L"1.0.0.0",
                               .forced = forced,
                               .publicKey = TestKey(),
                               .readTimeoutMs = 1000,
                               .tempRoot = temp.path().wstring()};
    }

    test::HttpServer server;
    test::TempDir temp;
};

TEST_F(PackageDownloadTest, AGenuinePackageLandsInAFreshPrivateFolder)
{
    const std::string package = PackageBytes();
    server.ServeText(std::string(kPackagePath) + ".sig", Fixture(L"setup.sig"));
    server.ServeText(kPackagePath, package);
    std::uint64_t last = 0;
    std::uint64_t total = 0;
    const DownloadResult result = DownloadPackage(Request(), nullptr, [&](std::uint64_t received, std::uint64_t of) {
        EXPECT_GE(received, last);
        last = received;
        total = of;
    });
    ASSERT_EQ(result.problem, DownloadProblem::None);
    const std::filesystem::path folder(result.folder);
    EXPECT_EQ(folder.parent_path(), temp.path());
    EXPECT_EQ(std::filesystem::path(result.file), folder / L"Merovane-setup.exe");
    EXPECT_EQ(ReadAll(result.file), package);
    EXPECT_EQ(last, package.size());
    EXPECT_EQ(total, package.size());
    // The description comes first, and the package only once it checked.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find(".sig "), std::string::npos);
}

TEST_F(PackageDownloadTest, TwoDownloadsGetTwoFolders)
{
    server.ServeText(std::string(kPackagePath) + ".sig", Fixture(L"setup.sig"));
    server.ServeText(kPackagePath, PackageBytes());
    const DownloadResult first = DownloadPackage(Request());
    const DownloadResult second = DownloadPackage(Request());
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    EXPECT_NE(first.folder, second.folder);
}

TEST_F(PackageDownloadTest, RefusesWhatDoesNotMatchItsSignedDescriptionAndLeavesNothing)
{
    const std::string package = PackageBytes();
    std::string changed = package;
    changed[changed.size() / 2] ^= 1;
    struct Case {
        const char* what;
        std::string sig;
        HttpReply reply;
        std::wstring offered = L"1.0.1.0";
        bool forced = false;
        DownloadProblem expected;
    };
    const Case cases[] = {
        {"one byte changed", Fixture(L"setup.sig"), {.body = changed}, L"1.0.1.0", false, DownloadProblem::Damaged},
        {"signed by another key", Fixture(L"other-key.sig"), {.body = package}, L"1.0.1.0", false,
         DownloadProblem::SignatureInvalid},
        {"the other package's description", Fixture(L"zip.sig"), {.body = package}, L"1.0.1.0", false,
         DownloadProblem::WrongPackage},
        {"an older version, not forced", Fixture(L"old.sig"), {.body = package}, L"0.9.0.0", false,
         DownloadProblem::NotNewer},
        {"a version other than the one offered", Fixture(L"setup.sig"), {.body = package}, L"1.0.2.0", false,
         DownloadProblem::WrongPackage},
        {"a body longer than Size", Fixture(L"setup.sig"), {.body = package + "x"}, L"1.0.1.0", false,
         DownloadProblem::TooLong},
        {"a body that never ends", Fixture(L"setup.sig"), {.kind = HttpReply::Kind::Endless}, L"1.0.1.0", false,
         DownloadProblem::TooLong},
        {"a body shorter than Size", Fixture(L"setup.sig"), {.body = package.substr(0, package.size() - 1)},
         L"1.0.1.0", false, DownloadProblem::Incomplete},
        {"a server that stalls", Fixture(L"setup.sig"),
         {.body = package.substr(0, 1000), .kind = HttpReply::Kind::Stall}, L"1.0.1.0", false,
         DownloadProblem::TimedOut},
        {"a description beyond 4 KB", Fixture(L"setup.sig") + std::string(5000, ' '), {.body = package}, L"1.0.1.0",
         false, DownloadProblem::SignatureInvalid},
        {"no description", "", {.body = package}, L"1.0.1.0", false, DownloadProblem::NoConnection},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::HttpServer local;
        if (!c.sig.empty()) {
            local.ServeText(std::string(kPackagePath) + ".sig", c.sig);
        }
        local.Serve(kPackagePath, c.reply);
        DownloadRequest request = Request(c.offered, c.forced);
        request.packageUrl = local.Url(kPackagePath);
        const auto start = Clock::now();
        const DownloadResult result = DownloadPackage(request);
        EXPECT_EQ(result.problem, c.expected);
        EXPECT_TRUE(result.file.empty());
        EXPECT_TRUE(IsEmptyFolder(temp.path()));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        // A refused description fetches no package.
        if (c.expected == DownloadProblem::SignatureInvalid || c.expected == DownloadProblem::WrongPackage ||
            c.expected == DownloadProblem::NotNewer || c.expected == DownloadProblem::NoConnection) {
            EXPECT_EQ(local.Hits(kPackagePath), 0);
        }
    }
}

TEST_F(PackageDownloadTest, ForcedReinstallsTheSameVersionAndAnOlderOneOnlyOnceConfirmed)
{
    struct Case {
        const wchar_t* sig;
        const wchar_t* offered;
        bool forced;
        bool olderConfirmed;
        DownloadProblem expected;
    } cases[] = {
        {L"same.sig", L"1.0.0.0", true, false, DownloadProblem::None},
        {L"old.sig", L"0.9.0.0", true, false, DownloadProblem::NotNewer},
        {L"old.sig", L"0.9.0.0", true, true, DownloadProblem::None},
        {L"old.sig", L"0.9.0.0", false, true, DownloadProblem::NotNewer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.sig) + (c.forced ? " forced" : "") + (c.olderConfirmed ? " confirmed" : ""));
        test::HttpServer local;
        local.ServeText(std::string(kPackagePath) + ".sig", Fixture(c.sig));
        local.ServeText(kPackagePath, PackageBytes());
        DownloadRequest request = Request(c.offered, c.forced);
        request.packageUrl = local.Url(kPackagePath);
        request.olderConfirmed = c.olderConfirmed;
        EXPECT_EQ(DownloadPackage(request).problem, c.expected);
    }
}

TEST_F(PackageDownloadTest, ATricklingServerIsCutOff)
{
    const std::string package = PackageBytes();
    const std::string sig = Fixture(L"setup.sig");
    struct Case {
        const char* what;
        HttpReply sig;
        HttpReply package;
        DownloadProblem expected;
        double atMostSeconds;
    } cases[] = {
        // A .sig of a byte every 0.4 s keeps within each read's timeout.
        {"the .sig beyond its budget", {.body = sig, .kind = HttpReply::Kind::Trickle, .trickleMs = 400},
         {.body = package}, DownloadProblem::TooSlow, 3.0},
        // 100 bytes per 0.2 s: 500 bytes/s, below the 1000 asked for.
        {"the package below the minimum rate", {.body = sig},
         {.body = package, .kind = HttpReply::Kind::Trickle, .trickleBytes = 100, .trickleMs = 200},
         DownloadProblem::TooSlow, 3.0},
        // 20000 bytes per 0.2 s stays above it through several windows.
        {"the package above it", {.body = sig},
         {.body = package, .kind = HttpReply::Kind::Trickle, .trickleBytes = 20000, .trickleMs = 200},
         DownloadProblem::None, 5.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::HttpServer local;
        local.Serve(std::string(kPackagePath) + ".sig", c.sig);
        local.Serve(kPackagePath, c.package);
        DownloadRequest request = Request();
        request.packageUrl = local.Url(kPackagePath);
        request.readTimeoutMs = 5000;
        request.signatureBudgetMs = 1500;
        request.minimumBytesPerSecond = 1000;
        request.rateWindowMs = 500;
        const auto start = Clock::now();
        const DownloadResult result = DownloadPackage(request);
        EXPECT_EQ(result.problem, c.expected);
        EXPECT_LT(Clock::now() - start, std::chrono::duration<double>(c.atMostSeconds));
        if (result.ok()) {
            EXPECT_EQ(ReadAll(result.file), package);
        } else {
            EXPECT_TRUE(IsEmptyFolder(temp.path()));
        }
    }
}

// The next progress or result message within 10 s.
std::optional<MSG> NextDownloadMessage(const test::MessageSink& sink)
{
    return sink.Wait(ui::WM_APP_DOWNLOADPROGRESS, ui::WM_APP_DOWNLOADDONE, 10'000);
}

TEST_F(PackageDownloadTest, ABackgroundDownloadPostsProgressThenItsResult)
{
    const std::string package = PackageBytes();
    server.ServeText(std::string(kPackagePath) + ".sig", Fixture(L"setup.sig"));
    server.ServeText(kPackagePath, package);
    test::MessageSink sink;
    PackageDownload download(Request(), sink.Handle(), kMessages);
    WPARAM lastProgress = 0;
    std::optional<MSG> message;
    while ((message = NextDownloadMessage(sink)) && message->message == ui::WM_APP_DOWNLOADPROGRESS) {
        EXPECT_EQ(message->lParam, static_cast<LPARAM>(package.size()));
        lastProgress = message->wParam;
    }
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, ui::WM_APP_DOWNLOADDONE);
    EXPECT_EQ(lastProgress, package.size());
    const DownloadResult result = download.Result();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(ReadAll(result.file), package);
}

TEST_F(PackageDownloadTest, CancelMidwayStopsAtOnceAndLeavesNoFile)
{
    const std::string package = PackageBytes();
    server.ServeText(std::string(kPackagePath) + ".sig", Fixture(L"setup.sig"));
    // About 40 %, then nothing: the download waits in a read when cancelled.
    server.Serve(kPackagePath, {.body = package.substr(0, package.size() * 4 / 10), .kind = HttpReply::Kind::Stall});
    test::MessageSink sink;
    DownloadRequest request = Request();
    request.readTimeoutMs = 3000;
    Clock::time_point start;
    {
        PackageDownload download(request, sink.Handle(), kMessages);
        WPARAM received = 0;
        while (received < package.size() * 4 / 10) {
            const std::optional<MSG> message = NextDownloadMessage(sink);
            ASSERT_TRUE(message);
            ASSERT_EQ(message->message, ui::WM_APP_DOWNLOADPROGRESS);
            received = message->wParam;
        }
        EXPECT_FALSE(IsEmptyFolder(temp.path())); // the part so far is on disk
        start = Clock::now();
        download.Cancel();
    }
    // Neither the cancel nor letting go of the download waits for the network.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    // The worker deletes its folder on its way out: at once where closing the
    // handles ends its read, after the read timeout where it does not (Wine).
    for (int i = 0; i < 500 && !IsEmptyFolder(temp.path()); ++i) {
        ::Sleep(10);
    }
    EXPECT_TRUE(IsEmptyFolder(temp.path()));
    MSG message;
    EXPECT_FALSE(::PeekMessageW(&message, sink.Handle(), ui::WM_APP_DOWNLOADDONE, ui::WM_APP_DOWNLOADDONE, PM_REMOVE));
}

} // namespace
} // namespace merovane::update
