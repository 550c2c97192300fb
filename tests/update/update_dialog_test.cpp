#include "support/program_fixture.h"

#include "base/error.h"
#include "package_fixtures.h"
#include "support/dialogs.h"
#include "support/http_server.h"
#include "support/machine_policies.h"
#include "support/package_signer.h"
#include "support/zip_writer.h"
#include "update/version_query.h"

#include <atomic>
#include <map>
#include <sstream>
#include <chrono>
#include <thread>

namespace merovane {
namespace {

using test::HttpReply;
using test::HttpServer;
using Clock = std::chrono::steady_clock;

const std::string kVersionPath = "/download/Merovane/version.txt";
const std::string kPackagePath = "/download/Merovane/Merovane-setup.exe";
const std::string kSigPath = kPackagePath + ".sig";

std::wstring WindowText(HWND window)
{
    wchar_t text[256]{};
    ::GetWindowTextW(window, text, 256);
    return text;
}

// The executable of these tests carries version 1.0.0.0 (version.rc).
class UpdateDialogTest : public test::ProgramFixture {
protected:
    // Points the program at the two loopback servers.
    void WriteSettings(bool checkAtStart, const std::string& more = {})
    {
        test::WriteFileBytes(paths.settingsFile,
                             "[Option]\r\nCheckBoxAutoCheck=" + std::string(checkAtStart ? "1" : "0") +
                                 "\r\n[Update]\r\nPrimaryServer=" + ToUtf8(primary.BaseUrl()) +
                                 "\r\nFallbackServer=" + ToUtf8(fallback.BaseUrl()) + "\r\n" + more);
    }

    // The test build carries the placeholder key, with which nothing can be
    // downloaded: a usable key unless a test sets another.
    Program& Start()
    {
        Program& started = ProgramFixture::Start();
        Dialog().SetDownloadSettings({.publicKey = test::TestPackageKey(), .tempRoot = {}});
        return started;
    }

    UpdateDialog& Dialog() { return program->Update(); }
    std::wstring Text(const wchar_t* label) { return Dialog().Get<ui::Label>(label).Caption(); }
    bool Enabled(const wchar_t* control) { return ::IsWindowEnabled(Dialog().Get<ui::Control>(control).Handle()); }
    ui::CheckBox& Forced() { return Dialog().Get<ui::CheckBox>(L"CheckBoxForceUpdate"); }

    static bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20'000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (Clock::now() > deadline) {
                return false;
            }
            ui::application::ProcessMessages();
            ::Sleep(10);
        }
        return true;
    }
    static void PumpFor(DWORD ms) { PumpUntil([] { return false; }, ms); }

    // Shows the dialog, not modally, and waits until its check has ended.
    void ShowAndCheck()
    {
        Dialog().Show();
        ASSERT_TRUE(PumpUntil([this] { return Enabled(L"GroupBoxOption"); }));
    }

    HttpServer primary;
    HttpServer fallback;
};

TEST_F(UpdateDialogTest, EachShowingChecksAndJudgesTheServersVersion)
{
    struct Case {
        const char* served;
        const wchar_t* status;
        int compare;
    } cases[] = {
        {"1.0.1.0", L"Доступно обновление 1.0.0.0 ---> 1.0.1.0", 1},
        {" 1.0.1\r\n", L"Доступно обновление 1.0.0.0 ---> 1.0.1", 1},
        {"1.0.0.0", L"Нет обновления", 0},
        {"1.0", L"Нет обновления", 0},
        {"0.9.9.9", L"Нет обновления", -1},
    };
    WriteSettings(false);
    Start();
    for (const Case& c : cases) {
        primary.ServeText(kVersionPath, c.served);
        ShowAndCheck();
        EXPECT_EQ(Text(L"LabelUpDate"), c.status) << c.served;
        EXPECT_EQ(Text(L"LabelLocalVersion"), L"1.0.0.0");
        EXPECT_EQ(Text(L"LabelServerVersion"), VersionTextFromBody(c.served)) << c.served;
        EXPECT_EQ(Dialog().CompareResult(), c.compare) << c.served;
        EXPECT_EQ(Dialog().DownloadUrl(), primary.Url("/download/Merovane/Merovane-setup.exe"));
        EXPECT_EQ(Enabled(L"ButtonDownload"), c.compare == 1) << c.served;
        EXPECT_TRUE(Enabled(L"CheckBoxForceUpdate"));
        // Forced allows the download whatever the versions say, and unticked
        // withholds it.
        Forced().SetChecked(true);
        EXPECT_TRUE(Enabled(L"ButtonDownload"));
        Forced().SetChecked(false);
        EXPECT_FALSE(Enabled(L"ButtonDownload"));
        Dialog().Close();
        // The next showing starts with Forced unticked.
        Forced().SetChecked(true);
    }
    EXPECT_EQ(fallback.Hits(kVersionPath), 0);
}

// The organisation's servers are asked in place of the settings' and the
// built-in ones; its switch turns the check at start off.
TEST_F(UpdateDialogTest, TheOrganisationsServersComeFirstAndItsSwitchTurnsTheCheckOff)
{
    HttpServer corporate;
    corporate.ServeText(kVersionPath, "1.0.1.0");
    primary.ServeText(kVersionPath, "1.0.2.0");
    WriteSettings(false);
    test::SetPolicyString(HKEY_CURRENT_USER, L"PrimaryUpdateServer", corporate.BaseUrl());
    Start();
    ShowAndCheck();
    EXPECT_EQ(Dialog().ServerVersion(), L"1.0.1.0");
    EXPECT_EQ(Dialog().DownloadUrl(), corporate.Url("/download/Merovane/Merovane-setup.exe"));
    EXPECT_EQ(primary.Hits(kVersionPath), 0);
    Dialog().Close();
    program.reset();

    test::SetPolicyDword(HKEY_CURRENT_USER, L"DisableSelfUpdate", 1);
    WriteSettings(true);
    Start();
    PumpFor(500);
    EXPECT_EQ(corporate.Hits(kVersionPath), 1); // the one showing above
    EXPECT_EQ(primary.Hits(kVersionPath), 0);
    test::RemovePolicies(HKEY_CURRENT_USER);
}

TEST_F(UpdateDialogTest, NoServerAnswers)
{
    primary.ServeText(kVersionPath, "1.0.1.0");
    WriteSettings(false);
    Start();
    ShowAndCheck();
    ASSERT_EQ(Dialog().CompareResult(), 1);
    Dialog().Close();

    // A version with text after it is no answer, and none of its text shows.
    primary.ServeText(kVersionPath, "9.9.9.9\r\n\r\nClick here");
    fallback.Serve(kVersionPath, {.status = 204});
    ShowAndCheck();
    EXPECT_EQ(Text(L"LabelUpDate"), L"Не удалось проверить обновления");
    EXPECT_EQ(Text(L"LabelServerVersion"), L"Ошибка соединения");
    EXPECT_EQ(Dialog().CompareResult(), 0);
    EXPECT_EQ(Dialog().DownloadUrl(), L"");
    EXPECT_EQ(Dialog().ServerVersion(), L"");
    EXPECT_FALSE(Enabled(L"ButtonDownload"));
    Forced().SetChecked(true);
    EXPECT_TRUE(Enabled(L"ButtonDownload"));
    EXPECT_EQ(fallback.Hits(kVersionPath), 1);
}

TEST_F(UpdateDialogTest, ABuildWithoutAReleaseKeySaysItCannotInstallUpdates)
{
    const auto placeholder = update::ParsePublicKey(test::PackageFixture(L"placeholder-key.pub.pem"));
    ASSERT_TRUE(placeholder);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> key; // empty: the one built into these tests
        const char* served;
        const wchar_t* status;
    } cases[] = {
        {"built in, newer version", {}, "1.0.1.0", L"Доступно обновление 1.0.0.0 ---> 1.0.1.0"},
        {"given, newer version", *placeholder, "1.0.1.0", L"Доступно обновление 1.0.0.0 ---> 1.0.1.0"},
        {"given, same version", *placeholder, "1.0.0.0", L"Нет обновления"},
    };
    primary.ServeText(kSigPath, test::PackageFixture(L"setup.sig"));
    primary.ServeText(kPackagePath, test::PackageBytes());
    WriteSettings(false);
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        primary.ServeText(kVersionPath, c.served);
        Dialog().SetDownloadSettings({.publicKey = c.key, .tempRoot = {}});
        ShowAndCheck();
        EXPECT_EQ(Text(L"LabelUpDate"), std::wstring(c.status) + L"\r\nЭта сборка не может устанавливать обновления");
        EXPECT_FALSE(Enabled(L"ButtonDownload"));
        Forced().SetChecked(true);
        EXPECT_FALSE(Enabled(L"ButtonDownload"));
        Dialog().Close();
    }
    EXPECT_EQ(primary.Hits(kSigPath), 0);

    // With a usable key the same answer offers the download.
    primary.ServeText(kVersionPath, "1.0.1.0");
    Dialog().SetDownloadSettings({.publicKey = test::TestPackageKey(), .tempRoot = {}});
    ShowAndCheck();
    EXPECT_EQ(Text(L"LabelUpDate"), L"Доступно обновление 1.0.0.0 ---> 1.0.1.0");
    EXPECT_TRUE(Enabled(L"ButtonDownload"));
    program.reset();
    test::DrainQuit();

    // Nor does the check at start offer what could not be installed.
    const int hitsBefore = primary.Hits(kVersionPath);
    test::MessageBoxAnswer offer(IDNO);
    WriteSettings(true);
    Start();
    Dialog().SetDownloadSettings({.publicKey = *placeholder, .tempRoot = {}});
    ASSERT_TRUE(PumpUntil([&] { return primary.Hits(kVersionPath) > hitsBefore; }));
    PumpFor(1500);
    EXPECT_FALSE(offer.Answered(0));
}

TEST_F(UpdateDialogTest, TheWindowAnswersWhileAServerKeepsItWaiting)
{
    primary.Serve(kVersionPath, {.kind = HttpReply::Kind::Silent});
    fallback.ServeText(kVersionPath, "1.0.1.0");
    WriteSettings(false);
    Start();
    HWND window = Dialog().Handle();
    std::atomic<bool> answered{false};
    std::thread user([&] {
        ::Sleep(500);
        DWORD_PTR result = 0;
        answered = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &result) != 0;
    });
    const auto start = Clock::now();
    Dialog().Show();
    EXPECT_FALSE(Enabled(L"ButtonDownload")); // Download and the options wait for the answer
    EXPECT_FALSE(Enabled(L"GroupBoxOption"));
    EXPECT_EQ(Text(L"LabelUpDate"), L"Проверка обновления...");
    ASSERT_TRUE(PumpUntil([this] { return Enabled(L"GroupBoxOption"); }));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    user.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(Text(L"LabelServerVersion"), L"1.0.1.0");
    EXPECT_EQ(Dialog().DownloadUrl(), fallback.Url("/download/Merovane/Merovane-setup.exe"));
    EXPECT_LT(seconds, (kConnectTimeoutMs + kReadTimeoutMs) / 1000.0 + 2.0);
}

TEST_F(UpdateDialogTest, ClosingDuringACheckDropsItAndTheNextShowingStartsAfresh)
{
    primary.Serve(kVersionPath, {.kind = HttpReply::Kind::Silent});
    fallback.ServeText(kVersionPath, "1.0.1.0");
    WriteSettings(false);
    Start();
    Dialog().Show();
    ASSERT_TRUE(PumpUntil([this] { return primary.Hits(kVersionPath) == 1; }));
    const auto start = Clock::now();
    Dialog().Close();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    EXPECT_EQ(Text(L"LabelUpDate"), L"");
    EXPECT_EQ(Text(L"LabelServerVersion"), L"");
    EXPECT_TRUE(Enabled(L"GroupBoxOption"));
    EXPECT_FALSE(Enabled(L"ButtonDownload"));
    // The dropped check's answer never arrives.
    PumpFor(kReadTimeoutMs + 1500);
    EXPECT_EQ(Text(L"LabelUpDate"), L"");
    EXPECT_EQ(Dialog().DownloadUrl(), L"");

    primary.ServeText(kVersionPath, "1.0.2.0");
    ShowAndCheck();
    EXPECT_EQ(Text(L"LabelServerVersion"), L"1.0.2.0");
}

TEST_F(UpdateDialogTest, TheCheckAtStartOffersANewerVersionOnce)
{
    struct Case {
        const char* name;
        bool checkAtStart;
        const char* served; // nullptr: both servers answer 404
        int answer;         // 0: no offer expected
    } cases[] = {
        {"option off", false, "1.0.1.0", 0},
        {"same version", true, "1.0.0.0", 0},
        {"servers down", true, nullptr, 0},
        {"a version with more text", true, "1.0.1.0\r\n\r\nClick here", 0},
        {"declined", true, "1.0.1.0", IDNO},
        {"accepted", true, "1.0.1.0", IDYES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.served != nullptr) {
            primary.ServeText(kVersionPath, c.served);
        } else {
            primary.Serve(kVersionPath, {.status = 404});
        }
        WriteSettings(c.checkAtStart);
        const int hitsBefore = primary.Hits(kVersionPath);
        std::wstring yes;
        std::wstring no;
        int defaultButton = 0;
        test::MessageBoxAnswer offer(c.answer == 0 ? IDNO : c.answer, [&] {
            HWND box = ::FindWindowW(L"#32770", L"Merovane");
            yes = WindowText(::GetDlgItem(box, IDYES));
            no = WindowText(::GetDlgItem(box, IDNO));
            for (int id : {IDYES, IDNO}) {
                if ((::GetWindowLongW(::GetDlgItem(box, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                    defaultButton = id;
                }
            }
        });
        Start();
        // On Yes the dialog opens modally; what it shows is read, and it is
        // closed, from another thread.
        HWND dialog = Dialog().Handle();
        HWND statusLabel = Dialog().Get<ui::Label>(L"LabelUpDate").Handle();
        HWND serverLabel = Dialog().Get<ui::Label>(L"LabelServerVersion").Handle();
        HWND downloadButton = Dialog().Get<ui::Button>(L"ButtonDownload").Handle();
        // The download keeps waiting for its description while the dialog is read.
        primary.Serve(kSigPath, {.kind = HttpReply::Kind::Silent});
        std::wstring status;
        std::wstring server;
        std::wstring button;
        std::atomic<bool> opened{false};
        std::atomic<bool> stop{false};
        std::thread watcher([&] {
            for (int i = 0; i < 2000 && !stop; ++i) {
                if (::IsWindowVisible(dialog)) {
                    ::Sleep(300);
                    status = WindowText(statusLabel);
                    server = WindowText(serverLabel);
                    button = WindowText(downloadButton);
                    opened = true;
                    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
                    return;
                }
                ::Sleep(10);
            }
        });
        PumpUntil([&] { return !c.checkAtStart || primary.Hits(kVersionPath) > hitsBefore; });
        PumpUntil([&] { return offer.Answered(0); }, c.answer == 0 ? 1500 : 20'000);
        stop = true;
        watcher.join();

        EXPECT_EQ(primary.Hits(kVersionPath) - hitsBefore, c.checkAtStart ? 1 : 0);
        ASSERT_EQ(offer.Answered(0), c.answer != 0);
        if (c.answer != 0) {
            EXPECT_EQ(offer.Title(), L"Merovane");
            EXPECT_EQ(offer.Text(), L"Доступно обновление 1.0.1.0\r\nХотите обновить приложение сейчас?");
            EXPECT_EQ(yes, L"Да");
            EXPECT_EQ(no, L"Нет");
            EXPECT_EQ(defaultButton, IDYES);
        }
        EXPECT_EQ(opened.load(), c.answer == IDYES);
        if (c.answer == IDYES) {
            // The quick-start path: no check, the offer's version, the download started.
            EXPECT_EQ(status, L"Доступно обновление 1.0.0.0 ---> 1.0.1.0");
            EXPECT_EQ(server, L"");
            EXPECT_EQ(button, L"Отмена");
            EXPECT_EQ(primary.Hits(kSigPath), 1);
            EXPECT_EQ(Dialog().DownloadUrl(), primary.Url("/download/Merovane/Merovane-setup.exe"));
            EXPECT_EQ(Dialog().ServerVersion(), L"1.0.1.0");
        } else {
            EXPECT_EQ(primary.Hits(kSigPath), 0);
        }
        // Closing the dialog cancelled the download.
        EXPECT_FALSE(Dialog().Downloading());
        // Once per run: a second start of it asks nobody.
        Dialog().StartCheckAtStart();
        PumpFor(300);
        EXPECT_EQ(primary.Hits(kVersionPath) - hitsBefore, c.checkAtStart ? 1 : 0);
        program.reset();
    }
}

TEST_F(UpdateDialogTest, ADownloadEndsIdleAndSaysHowItWent)
{
    const std::string package = test::PackageBytes();
    std::string changed = package;
    changed[100] ^= 1;
    struct Case {
        const char* what;
        const wchar_t* sig; // nullptr: none served
        std::string body;
        const wchar_t* status;
        HttpReply::Kind sigKind = HttpReply::Kind::Normal;
    } cases[] = {
        // Genuine, but no program: the start fails, and says so.
        {"genuine", L"setup.sig", package, L"Не удалось запустить установку обновления\r\n"},
        {"one byte changed", L"setup.sig", changed, L"Файлы обновления не загружены!\r\nПакет повреждён или подменён"},
        {"signed by another key", L"other-key.sig", package,
         L"Файлы обновления не загружены!\r\nПодпись пакета недействительна"},
        {"no description", nullptr, package, L"Файлы обновления не загружены!\r\nСервер не отдал пакет обновления"},
        {"a trickling description", L"setup.sig", package,
         L"Файлы обновления не загружены!\r\nСервер передаёт слишком медленно", HttpReply::Kind::Trickle},
    };
    primary.ServeText(kVersionPath, "1.0.1.0");
    WriteSettings(false);
    Start();
    test::TempDir temp;
    Dialog().SetDownloadSettings(
        {.publicKey = test::TestPackageKey(), .signatureBudgetMs = 1500, .tempRoot = temp.path().wstring()});
    ShowAndCheck();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.sig != nullptr) {
            primary.Serve(kSigPath, {.body = test::PackageFixture(c.sig), .kind = c.sigKind, .trickleMs = 400});
        } else {
            primary.Serve(kSigPath, {.status = 404});
        }
        primary.ServeText(kPackagePath, c.body);
        ::SendMessageW(Dialog().Get<ui::Button>(L"ButtonDownload").Handle(), BM_CLICK, 0, 0);
        ASSERT_TRUE(PumpUntil([this] { return !Dialog().Downloading(); }));
        EXPECT_TRUE(Text(L"LabelUpDate").starts_with(c.status)) << ToUtf8(Text(L"LabelUpDate"));
        EXPECT_EQ(Dialog().Get<ui::Button>(L"ButtonDownload").Caption(), L"Скачать");
        EXPECT_TRUE(Enabled(L"ButtonDownload"));
        EXPECT_TRUE(Enabled(L"ButtonClose"));
        EXPECT_TRUE(Enabled(L"GroupBoxOption"));
        EXPECT_TRUE(Enabled(L"CheckBoxQuickUpdate"));
        // Nothing stays of a package that was refused or could not start.
        EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
        EXPECT_TRUE(::IsWindow(program->Main().Handle()));
    }
}

TEST_F(UpdateDialogTest, ForcedReinstallsTheSameVersionAndAsksBeforeAnOlderOne)
{
    struct Case {
        const char* served;
        const wchar_t* sig;
        int answer; // 0: no question expected
        const wchar_t* status;
    } cases[] = {
        // Accepted packages that are no program: the start fails, and says so.
        {"1.0.0.0", L"same.sig", 0, L"Не удалось запустить установку обновления\r\n"},
        {"0.9.0.0", L"old.sig", IDNO, L"Файлы обновления не загружены!"},
        {"0.9.0.0", L"old.sig", IDYES, L"Не удалось запустить установку обновления\r\n"},
    };
    WriteSettings(false);
    Start();
    test::TempDir temp;
    Dialog().SetDownloadSettings({.publicKey = test::TestPackageKey(), .tempRoot = temp.path().wstring()});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.served) + " " + std::to_string(c.answer));
        primary.ServeText(kVersionPath, c.served);
        primary.ServeText(kSigPath, test::PackageFixture(c.sig));
        primary.ServeText(kPackagePath, test::PackageBytes());
        const int sigHits = primary.Hits(kSigPath);
        ShowAndCheck();
        Forced().SetChecked(true);
        test::MessageBoxAnswer question(c.answer == 0 ? IDNO : c.answer);
        ::SendMessageW(Dialog().Get<ui::Button>(L"ButtonDownload").Handle(), BM_CLICK, 0, 0);
        ASSERT_TRUE(PumpUntil([this] { return !Dialog().Downloading(); }));
        ASSERT_EQ(question.Answered(0), c.answer != 0);
        if (c.answer != 0) {
            EXPECT_EQ(question.Text(), L"На сервере более старая версия 0.9.0.0\r\nУстановить её вместо этой версии?");
        }
        EXPECT_TRUE(Text(L"LabelUpDate").starts_with(c.status)) << ToUtf8(Text(L"LabelUpDate"));
        EXPECT_EQ(primary.Hits(kSigPath) - sigHits, c.answer == IDNO ? 0 : 1);
        Dialog().Close();
    }
}

TEST_F(UpdateDialogTest, WhileDownloadingTheButtonCancelsAndTheRestWaits)
{
    const std::string package = test::PackageBytes();
    primary.ServeText(kVersionPath, "1.0.1.0");
    primary.ServeText(kSigPath, test::PackageFixture(L"setup.sig"));
    // About 40 %, then silence.
    primary.Serve(kPackagePath, {.body = package.substr(0, package.size() * 4 / 10), .kind = HttpReply::Kind::Stall});
    WriteSettings(false);
    Start();
    test::TempDir temp;
    Dialog().SetDownloadSettings(
        {.publicKey = test::TestPackageKey(), .readTimeoutMs = 3000, .tempRoot = temp.path().wstring()});
    ShowAndCheck();
    HWND button = Dialog().Get<ui::Button>(L"ButtonDownload").Handle();
    auto& bar = Dialog().Get<ui::ProgressBar>(L"ProgressBarUpdate");
    ::SendMessageW(button, BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return bar.Position() >= 39; }, 10'000));
    EXPECT_EQ(bar.Position(), 40);
    EXPECT_TRUE(::IsWindowVisible(bar.Handle()));
    EXPECT_EQ(WindowText(button), L"Отмена");
    EXPECT_TRUE(Enabled(L"ButtonDownload"));
    EXPECT_FALSE(Enabled(L"ButtonClose"));
    EXPECT_FALSE(Enabled(L"GroupBoxOption"));
    EXPECT_FALSE(Enabled(L"CheckBoxForceUpdate"));

    ::SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_FALSE(Dialog().Downloading());
    EXPECT_EQ(WindowText(button), L"Скачать");
    EXPECT_EQ(Text(L"LabelUpDate"), L"Файлы обновления не загружены!");
    EXPECT_TRUE(Enabled(L"ButtonClose"));
    EXPECT_TRUE(Enabled(L"GroupBoxOption"));
    EXPECT_FALSE(::IsWindowVisible(bar.Handle()));
    // No part of the package stays behind, and nothing more arrives.
    EXPECT_TRUE(PumpUntil([&] { return std::filesystem::is_empty(temp.path()); }, 6000));
    EXPECT_EQ(Text(L"LabelUpDate"), L"Файлы обновления не загружены!");
}

TEST_F(UpdateDialogTest, AtExitARunningCheckIsLeftBehind)
{
    primary.Serve(kVersionPath, {.kind = HttpReply::Kind::Silent});
    fallback.ServeText(kVersionPath, "1.0.1.0");
    WriteSettings(true);
    Start();
    Dialog().Show();
    ASSERT_TRUE(PumpUntil([this] { return primary.Hits(kVersionPath) == 2; }));
    const auto start = Clock::now();
    program.reset();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.5);
    // Neither answer reaches anything once the windows are gone.
    PumpFor(kReadTimeoutMs + 1500);
}

// Lines "name=value" of the fixture installer's record, by name.
std::map<std::string, std::string> ReadRecord(const std::wstring& file)
{
    std::map<std::string, std::string> lines;
    std::istringstream in(test::ReadAll(file));
    for (std::string line; std::getline(in, line);) {
        if (const std::size_t equals = line.find('='); equals != std::string::npos) {
            lines[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return lines;
}

TEST_F(UpdateDialogTest, AVerifiedInstallerRunsFromItsPrivateFolder)
{
    // The fixture installer writes down its command line and exits.
    const std::string installer = test::ReadAll(test::FixturePath(L"record_args.exe"));
    ASSERT_FALSE(installer.empty());
    const test::PackageSigner signer;
    primary.ServeText(kVersionPath, "1.0.1.0");
    primary.ServeText(kSigPath, signer.Describe("Merovane-setup.exe", "1.0.1.0", installer));
    primary.ServeText(kPackagePath, installer);
    std::filesystem::create_directories(temp.path() / L"Language");
    test::WriteFileBytes(temp / L"Language\\English.ini", "[Language information]\r\nLANGNAME=English\r\n");
    struct Case {
        const char* what;
        bool quick;
        const char* language;
        const char* arguments; // after the installer's quoted path
        bool programEnds;
    } cases[] = {
        {"quick, in English", true, "English",
         " /SILENT /CLOSEAPPLICATIONS /SUPPRESSMSGBOXES /LANG=English /MERGETASKS=\"runcmd1\"", true},
        {"quick, no language chosen", true, nullptr,
         " /SILENT /CLOSEAPPLICATIONS /SUPPRESSMSGBOXES /LANG= /MERGETASKS=\"runcmd1\"", true},
        {"not quick", false, "English", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir downloads;
        const std::wstring record = downloads / L"record.txt";
        ::SetEnvironmentVariableW(L"MEROVANE_RECORD_FILE", record.c_str());
        WriteSettings(false, c.language != nullptr ? "[Language]\r\nLanguage=" + std::string(c.language) + "\r\n" : "");
        Start();
        Dialog().SetDownloadSettings({.publicKey = signer.PublicKey(), .tempRoot = downloads.path().wstring()});
        ShowAndCheck();
        if (!c.quick) {
            ::SendMessageW(Dialog().Get<ui::CheckBox>(L"CheckBoxQuickUpdate").Handle(), BM_CLICK, 0, 0);
        }
        HWND main = program->Main().Handle();
        ::SendMessageW(Dialog().Get<ui::Button>(L"ButtonDownload").Handle(), BM_CLICK, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(record) && ReadRecord(record).contains("time"); }));
        PumpFor(300);
        ::SetEnvironmentVariableW(L"MEROVANE_RECORD_FILE", nullptr);

        // Started once, by its full path in a private folder of its own.
        const std::string command = ReadRecord(record)["cmd"];
        const std::string folder = "\"" + ToUtf8(downloads.path().wstring()) + "\\Merovane-update-";
        EXPECT_TRUE(command.starts_with(folder)) << command;
        const std::string path = "\\Merovane-setup.exe\"";
        const std::size_t end = command.find(path);
        ASSERT_NE(end, std::string::npos) << command;
        EXPECT_EQ(command.substr(end + path.size()), c.arguments);
        EXPECT_EQ(command.substr(folder.size(), end - folder.size()).size(), 16u) << command;
        EXPECT_EQ(::IsWindow(main) == FALSE, c.programEnds);
        if (!c.programEnds) {
            EXPECT_EQ(Text(L"LabelUpDate"), L"Файлы обновления загружены!");
            EXPECT_TRUE(Enabled(L"ButtonClose"));
        }
        program.reset();
        test::DrainQuit();
    }
}

TEST_F(UpdateDialogTest, APortableCopyKeepsOrUnpacksTheVerifiedZip)
{
    const std::string kZipPath = "/download/Merovane/Merovane.zip";
    const test::PackageSigner signer;
    primary.ServeText(kVersionPath, "1.0.1.0");
    struct Case {
        const char* what;
        bool quick;
        std::vector<test::ZipSpec> entries;
        const wchar_t* status; // the start of the status line
        bool zipKept;
    } cases[] = {
        {"not quick: the package waits in the folder", false,
         {{.name = "Merovane.exe", .data = "new program"}}, L"Файлы обновления загружены!", true},
        {"an entry that climbs out", true,
         {{.name = "Merovane.exe", .data = "new"}, {.name = "../../evil.txt", .data = "x"}},
         L"Файлы обновления не загружены!\r\nПакет повреждён или подменён", false},
        {"an absolute entry", true,
         {{.name = "Merovane.exe", .data = "new"}, {.name = "/evil.txt", .data = "x"}},
         L"Файлы обновления не загружены!\r\nПакет повреждён или подменён", false},
        {"no program in it", true, {{.name = "Readme.txt", .data = "new"}},
         L"Файлы обновления не загружены!\r\nВ пакете нет этой программы", false},
        {"a program that does not start", true, {{.name = "Merovane.exe", .data = "no program at all"}},
         L"Не удалось запустить установку обновления\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir work;
        const std::wstring folder = work / L"Program";
        test::WriteTree(folder, {{L"Merovane.exe", "old program"}, {L"Config\\Option.ini", "the user's"}});
        const test::Files before = test::ReadTree(folder);
        const std::string zip = test::MakeZip(c.entries);
        primary.ServeText(kZipPath + ".sig", signer.Describe("Merovane.zip", "1.0.1.0", zip));
        primary.ServeText(kZipPath, zip);
        WriteSettings(false);
        Start();
        Dialog().SetDownloadSettings({.publicKey = signer.PublicKey(),
                                      .tempRoot = (work / L"Temp"),
                                      .portable = true,
                                      .programFolder = folder,
                                      .exeName = L"Merovane.exe"});
        std::filesystem::create_directories(work.path() / L"Temp");
        ShowAndCheck();
        ASSERT_EQ(Dialog().DownloadUrl(), primary.Url(kZipPath));
        if (!c.quick) {
            ::SendMessageW(Dialog().Get<ui::CheckBox>(L"CheckBoxQuickUpdate").Handle(), BM_CLICK, 0, 0);
        }
        ::SendMessageW(Dialog().Get<ui::Button>(L"ButtonDownload").Handle(), BM_CLICK, 0, 0);
        ASSERT_TRUE(PumpUntil([this] { return !Dialog().Downloading(); }));
        EXPECT_TRUE(Text(L"LabelUpDate").starts_with(c.status)) << ToUtf8(Text(L"LabelUpDate"));
        EXPECT_TRUE(::IsWindow(program->Main().Handle()));
        test::Files after = test::ReadTree(folder);
        if (c.zipKept) {
            EXPECT_EQ(after[L"Merovane.zip"], zip);
            after.erase(L"Merovane.zip");
        }
        // Nothing unpacked or staged, the user's files as they were, and no
        // download left behind.
        EXPECT_EQ(after, before);
        EXPECT_FALSE(std::filesystem::exists(work.path() / L"evil.txt"));
        EXPECT_TRUE(std::filesystem::is_empty(work.path() / L"Temp"));
        program.reset();
        test::DrainQuit();
    }
}

} // namespace
} // namespace merovane
