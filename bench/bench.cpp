// How fast the main list loads, what the refresh policy costs, and how the
// program's start-up and memory compare with a bare window holding a list view.
//
//   merovane_bench.exe [--sizes 100,1000,5000] [--runs N] [--idle-seconds S]
//
// Everything runs against a scratch registry key that HKEY_CURRENT_USER and
// HKEY_CLASSES_ROOT are mapped onto (RegOverridePredefKey), filled with
// generated entries whose executables are small files without version
// resources in a scratch folder; the user's own entries are never read. Each
// figure is the minimum / median / maximum of the runs, and every ratio is
// taken within one run.
//
// Start-up and memory are measured in child processes of this executable
// (--child bare|program), so both sides pay the same loading costs.

#include "scratch_registry.h"

#include "base/error.h"
#include "base/file_info.h"
#include "base/ini_file.h"
#include "base/locale_paths.h"
#include "core/icon_list.h"
#include "core/icon_store.h"
#include "core/promotion_pass.h"
#include "core/promotion_watcher.h"
#include "shell/program.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using merovane::ToUtf8;
using namespace bench;

struct Stats {
    std::vector<double> values;
    void Add(double value) { values.push_back(value); }
    [[nodiscard]] std::string Text(const char* format = "%.1f") const
    {
        if (values.empty()) {
            return "-";
        }
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted.size() % 2 == 1
                                  ? sorted[sorted.size() / 2]
                                  : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
        char text[96];
        const std::string f = std::string(format) + " / " + format + " / " + format;
        std::snprintf(text, sizeof(text), f.c_str(), sorted.front(), median, sorted.back());
        return text;
    }
};

void PumpUntilIdle()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// Until what is left are timers, which come after the painting: the moment
// a window is on screen with what it needs at once.
void PumpUntilOnlyTimersLeft()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_TIMER) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            break;
        }
        if (msg.message == WM_QUIT) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

merovane::LocalePaths WritePaths(const std::filesystem::path& folder, bool policyOn)
{
    std::filesystem::create_directories(folder / L"Language");
    merovane::LocalePaths paths;
    paths.languageDirectory = (folder / L"Language").wstring() + L"\\";
    paths.settingsFile = (folder / L"Option.ini").wstring();
    paths.missingKeysLog = (folder / L"Merovane.log").wstring();
    std::ofstream out(folder / L"Option.ini", std::ios::binary | std::ios::trunc);
    out << "[Option]\r\n" << (policyOn ? "CheckBoxAutoUpdateList=1\r\nRadioButtonViewNew=1\r\n" : "");
    return paths;
}

std::wstring StatusText(merovane::MainWindow& window)
{
    wchar_t text[128]{};
    ::SendMessageW(window.Get<merovane::ui::StatusBar>(L"StatusBar1").Handle(), SB_GETTEXTW, 0,
                   reinterpret_cast<LPARAM>(text));
    return text;
}

bool ShowsCount(const std::wstring& status, int count)
{
    const std::wstring number = L" " + std::to_wstring(count);
    return status.size() >= number.size() && status.compare(status.size() - number.size(), number.size(), number) == 0;
}

struct WindowTimes {
    double counted = 0; // until the rows are painted and the status bar shows their count
    double idle = 0;    // until the window has nothing left to do
};

// The program's start-up, then the main window shown with every row: the
// time from the showing until the status bar shows the count (what the user
// waits for), and until the window has painted and has nothing left to do.
WindowTimes WindowLoad(const std::filesystem::path& folder, bool policyOn, int expectedRows)
{
    const merovane::LocalePaths paths = WritePaths(folder, policyOn);
    merovane::Program program([paths] { return paths; });
    program.Start();
    PumpUntilIdle();
    WindowTimes times;
    const Clock::time_point start = Clock::now();
    program.Main().Show();
    ::UpdateWindow(program.Main().Handle());
    for (MSG msg; !ShowsCount(StatusText(program.Main()), expectedRows);) {
        if (MillisecondsSince(start) > 60'000) {
            Fail("the status bar never showed the count");
        }
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::UpdateWindow(program.Main().Handle());
    }
    times.counted = MillisecondsSince(start);
    PumpUntilIdle();
    times.idle = MillisecondsSince(start);
    const int rows = program.Main().Get<merovane::ui::ListView>(L"ListView1").RowCount();
    if (rows != expectedRows) {
        Fail("the window shows " + std::to_string(rows) + " rows of " + std::to_string(expectedRows));
    }
    program.Main().Hide();
    return times;
}

// Where a pass's time goes when one entry is new among many: the bare
// enumeration with last-write times, and a pass that finds every other entry
// unchanged (as the watcher runs it, with its check between entries).
struct PassParts {
    double enumeration = 0;
    double rememberingPass = 0;
};

PassParts PassBreakdown()
{
    PassParts parts;
    HKEY base = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kBase.c_str(), 0, KEY_READ, &base) != ERROR_SUCCESS) {
        return parts;
    }
    Clock::time_point start = Clock::now();
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        FILETIME written{};
        if (::RegEnumKeyExW(base, index, name, &length, nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS) {
            break;
        }
    }
    parts.enumeration = MillisecondsSince(start);
    ::RegCloseKey(base);

    const merovane::PromotionRule rule = merovane::RuleForNewIconPolicy(merovane::NewIconPolicy::ShowAll);
    merovane::PromotionMemory memory;
    merovane::ApplyPromotionPass(rule, &memory);
    merovane::ApplyPromotionPass(rule, &memory); // the written entries remembered too
    HKEY created = CreateKey(kBase + L"\\9999999");
    SetDword(created, L"IsPromoted", 0);
    ::RegCloseKey(created);
    HANDLE released = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    start = Clock::now();
    merovane::ApplyPromotionPass(rule, &memory, [released] {
        return ::WaitForSingleObject(released, INFINITE) == WAIT_OBJECT_0;
    });
    parts.rememberingPass = MillisecondsSince(start);
    ::CloseHandle(released);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, (kBase + L"\\9999999").c_str());
    return parts;
}

// Sets every entry's IsPromoted to 1, then times a pass that finds nothing
// to change.
double QuietPass()
{
    merovane::SetAllIsPromotedToOne();
    const Clock::time_point start = Clock::now();
    merovane::SetAllIsPromotedToOne();
    return MillisecondsSince(start);
}

std::int64_t ReadIsPromoted(const std::wstring& key)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"IsPromoted", RRF_RT_ANY, &type, &value, &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return -1;
    }
    return value;
}

// With the show-all policy watching: the time from a new entry's creation
// until it holds IsPromoted = 1.
double Reaction(merovane::PromotionWatcher& watcher, int serial)
{
    const std::wstring key = kBase + L"\\" + L"9" + std::to_wstring(100000 + serial);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    const Clock::time_point start = Clock::now();
    HKEY created = CreateKey(key);
    SetDword(created, L"IsPromoted", 0);
    ::RegCloseKey(created);
    while (ReadIsPromoted(key) != 1) {
        if (Clock::now() > deadline) {
            Fail("a new entry was not promoted within 10 s");
        }
        ::Sleep(1);
    }
    const double elapsed = MillisecondsSince(start);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    watcher.WaitUntilQuiet();
    return elapsed;
}

double ProcessCpuMilliseconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10'000.0;
}

// Private committed memory of this process: every committed private region.
double PrivateKilobytes()
{
    double total = 0;
    MEMORY_BASIC_INFORMATION info{};
    const BYTE* address = nullptr;
    while (::VirtualQuery(address, &info, sizeof(info)) == sizeof(info)) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) {
            total += static_cast<double>(info.RegionSize);
        }
        const BYTE* next = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) {
            break;
        }
        address = next;
    }
    return total / 1024.0;
}

// --- children: a bare window, and the program, each reporting when it shows

LRESULT CALLBACK BareWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void ReportReady()
{
    std::printf("ready %.0f\n", PrivateKilobytes());
    std::fflush(stdout);
}

int BareChild()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BareWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MerovaneBenchBare";
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Bare", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 700, 550, nullptr, nullptr, windowClass.hInstance, nullptr);
    HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 680, 500, window,
                                  nullptr, windowClass.hInstance, nullptr);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t*>(L"Column");
        column.cx = 200;
        ListView_InsertColumn(list, i, &column);
    }
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
    PumpUntilOnlyTimersLeft();
    ReportReady();
    ::DestroyWindow(window);
    return 0;
}

int ProgramChild(const std::wstring& scratch, const std::filesystem::path& folder, int waitMs)
{
    ScratchRegistry registry(scratch, false);
    const merovane::LocalePaths paths = WritePaths(folder, false);
    merovane::Program program([paths] { return paths; });
    program.Start();
    program.Main().ShowAtStart();
    ::UpdateWindow(program.Main().Handle());
    PumpUntilOnlyTimersLeft();
    // The icons of the rows on screen arrive afterwards; the memory counts them.
    const Clock::time_point start = Clock::now();
    while (MillisecondsSince(start) < waitMs) {
        PumpUntilIdle();
        ::Sleep(5);
    }
    ReportReady();
    return 0;
}

struct ChildResult {
    double readyMs = 0;
    double privateKb = 0;
};

ChildResult RunChild(const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) {
        Fail("CreatePipe failed");
    }
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + merovane::OwnExecutablePath() + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const Clock::time_point start = Clock::now();
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process)) {
        Fail("starting a child failed");
    }
    ::CloseHandle(write);
    std::string output;
    ChildResult result;
    char buffer[256];
    DWORD got = 0;
    while (::ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        output.append(buffer, got);
        if (result.readyMs == 0 && output.find('\n') != std::string::npos) {
            result.readyMs = MillisecondsSince(start);
        }
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(read);
    const size_t ready = output.find("ready ");
    if (ready == std::string::npos) {
        Fail("a child did not report: " + output);
    }
    result.privateKb = std::atof(output.c_str() + ready + 6);
    return result;
}

std::string MachineText()
{
    wchar_t cpu[256] = L"?";
    DWORD size = sizeof(cpu);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                   L"ProcessorNameString", RRF_RT_REG_SZ, nullptr, cpu, &size);
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    std::string wine = "Windows";
    using WineVersion = const char*(CDECL*)();
    if (auto* version = reinterpret_cast<WineVersion>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")))) {
        wine = std::string("Wine ") + version();
    }
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char date[32];
    std::snprintf(date, sizeof(date), "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    return ToUtf8(cpu) + ", " + std::to_string(system.dwNumberOfProcessors) + " logical processors, " + wine +
           ", " + date;
}

std::vector<int> ParseSizes(const std::wstring& text)
{
    std::vector<int> sizes;
    size_t position = 0;
    while (position < text.size()) {
        const size_t comma = text.find(L',', position);
        sizes.push_back(std::stoi(text.substr(position, comma - position)));
        position = comma == std::wstring::npos ? text.size() : comma + 1;
    }
    return sizes;
}

// A new entry is timed this often at least: its worst case matters.
constexpr int kReactionTries = 15;
constexpr int kStartTries = 9;

double Median(const Stats& stats)
{
    std::vector<double> sorted = stats.values;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty()) {
        return 0;
    }
    return sorted.size() % 2 == 1 ? sorted[sorted.size() / 2]
                                  : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
}

double Max(const Stats& stats)
{
    return stats.values.empty() ? 0 : *std::max_element(stats.values.begin(), stats.values.end());
}

void PrintGoal(const std::string& figure, const std::string& measured, const char* goal, bool met)
{
    std::printf("| %s | %s | %s | %s |\n", figure.c_str(), measured.c_str(), goal, met ? "met" : "NOT met");
}

int Benchmark(const std::vector<int>& sizes, int runs, int idleSeconds)
{
    std::printf("Merovane benchmark: %s\n", MachineText().c_str());
    std::printf("each figure: min / median / max of %d runs (start-up at least %d, reactions at least %d); "
                "times in ms\n\n",
                runs, kStartTries, kReactionTries);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         (L"merovane-bench-" + std::to_wstring(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path files = folder / L"files";

    struct Row {
        int entries;
        Stats floor, load, loadRatio, window, windowRatio, windowPolicy, policyRatio, pass, reaction;
        Stats counted, countedRatio, enumeration, rememberingPass;
        double idleCpuMs = -1;
        int idlePasses = -1;
        Stats privateKb;
    };
    std::vector<Row> table;
    Stats bareStart, programStart, startRatio, bareMemory, emptyMemory, emptyRatio;
    {
        // Start-ups are short and the machine's noise is not: more of them.
        for (int run = 0; run < std::max(runs, kStartTries); ++run) {
            ScratchRegistry registry(ScratchPath(), true);
            FillEntries(0, files);
            const ChildResult bare = RunChild(L"--child bare");
            const ChildResult program =
                RunChild(L"--child program \"" + registry.Path() + L"\" \"" + (folder / L"child").wstring() + L"\" 0");
            bareStart.Add(bare.readyMs);
            programStart.Add(program.readyMs);
            startRatio.Add(program.readyMs / bare.readyMs);
            bareMemory.Add(bare.privateKb);
            // Memory as the entries' rows measure it: after the window settled.
            const ChildResult settled =
                RunChild(L"--child program \"" + registry.Path() + L"\" \"" + (folder / L"child").wstring() + L"\" 500");
            emptyMemory.Add(settled.privateKb);
            emptyRatio.Add(settled.privateKb / bare.privateKb);
        }
    }

    for (const int size : sizes) {
        Row row{};
        row.entries = size;
        ScratchRegistry registry(ScratchPath(), true);
        FillEntries(size, files);
        // One unmeasured round, so every run finds the same warm caches.
        FloorLoad();
        merovane::ReadNotifyIconEntries(merovane::IniFile());
        for (int run = 0; run < runs; ++run) {
            const double floor = FloorLoad();
            Clock::time_point start = Clock::now();
            const merovane::IconListLoad load = merovane::ReadNotifyIconEntries(merovane::IniFile());
            const double loaded = MillisecondsSince(start);
            if (static_cast<int>(load.entries.size()) != size) {
                Fail("the load read " + std::to_string(load.entries.size()) + " entries");
            }
            const WindowTimes shown = WindowLoad(folder / L"window", false, size);
            const double window = shown.idle;
            const double windowPolicy = WindowLoad(folder / L"window", true, size).idle;
            row.counted.Add(shown.counted);
            row.countedRatio.Add(shown.counted / floor);
            // The policy just promoted everything; the floor is taken again
            // for the ratios of the window.
            row.floor.Add(floor);
            row.load.Add(loaded);
            row.loadRatio.Add(loaded / floor);
            row.window.Add(window);
            row.windowRatio.Add(window / floor);
            row.windowPolicy.Add(windowPolicy);
            row.policyRatio.Add(windowPolicy / window);
            row.pass.Add(QuietPass());
            FillEntries(size, files); // back to the mixed values
            const ChildResult child = RunChild(L"--child program \"" + registry.Path() + L"\" \"" +
                                               (folder / L"child").wstring() + L"\" 500");
            row.privateKb.Add(child.privateKb);
            const PassParts parts = PassBreakdown();
            row.enumeration.Add(parts.enumeration);
            row.rememberingPass.Add(parts.rememberingPass);
        }
        {
            merovane::PromotionWatcher watcher;
            watcher.Start(merovane::RuleForNewIconPolicy(merovane::NewIconPolicy::ShowAll));
            watcher.WaitUntilQuiet();
            for (int run = 0; run < std::max(runs, kReactionTries); ++run) {
                row.reaction.Add(Reaction(watcher, run));
            }
            if (idleSeconds > 0) {
                const int passes = watcher.PassCount();
                const double cpu = ProcessCpuMilliseconds();
                ::Sleep(static_cast<DWORD>(idleSeconds) * 1000);
                row.idleCpuMs = ProcessCpuMilliseconds() - cpu;
                row.idlePasses = watcher.PassCount() - passes;
            }
            watcher.Stop();
        }
        table.push_back(std::move(row));
        std::printf("%d entries measured\n", size);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);

    std::printf("\n| entries | floor | load | load / floor | window shows all rows | window / floor | "
                "with the policy on | on / off | quiet pass | reaction to a new entry |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : table) {
        std::printf("| %d | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", row.entries, row.floor.Text().c_str(),
                    row.load.Text().c_str(), row.loadRatio.Text("%.2f").c_str(), row.window.Text().c_str(),
                    row.windowRatio.Text("%.2f").c_str(), row.windowPolicy.Text().c_str(),
                    row.policyRatio.Text("%.2f").c_str(), row.pass.Text().c_str(), row.reaction.Text().c_str());
    }
    std::printf("\n| entries | idle CPU over %d s, policy on | passes while idle | private memory (KB) | "
                "memory / bare window |\n",
                idleSeconds);
    std::printf("|---|---|---|---|---|\n");
    const double bare = bareMemory.values.empty() ? 1 : bareMemory.values.front();
    for (const Row& row : table) {
        Stats ratio;
        for (const double kb : row.privateKb.values) {
            ratio.Add(kb / bare);
        }
        char cpu[64] = "-";
        if (row.idleCpuMs >= 0) {
            std::snprintf(cpu, sizeof(cpu), "%.0f ms (%.2f %%)", row.idleCpuMs,
                          row.idleCpuMs / (idleSeconds * 10.0));
        }
        std::printf("| %d | %s | %d | %s | %s |\n", row.entries, cpu, row.idlePasses,
                    row.privateKb.Text("%.0f").c_str(), ratio.Text("%.2f").c_str());
    }
    std::printf("\nstart-up to a shown window with no entries: bare window %s ms, program %s ms, "
                "program / bare %s\n",
                bareStart.Text().c_str(), programStart.Text().c_str(), startRatio.Text("%.2f").c_str());
    std::printf("private memory of the bare window: %s KB; of the program with no entries: %s KB\n",
                bareMemory.Text("%.0f").c_str(), emptyMemory.Text("%.0f").c_str());

    std::printf("\n| entries | status bar shows the count | counted / floor | enumeration alone | "
                "pass with one new entry |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Row& row : table) {
        std::printf("| %d | %s | %s | %s | %s |\n", row.entries, row.counted.Text().c_str(),
                    row.countedRatio.Text("%.2f").c_str(), row.enumeration.Text().c_str(),
                    row.rememberingPass.Text().c_str());
    }

    // Every goal as a ratio within one run, median of the runs.
    std::printf("\n| goal figure (median) | measured | goal | |\n|---|---|---|---|\n");
    char text[128];
    std::snprintf(text, sizeof(text), "%.2f", Median(startRatio));
    PrintGoal("start-up with no entries / bare window", text, "<= 1.5", Median(startRatio) <= 1.5);
    std::snprintf(text, sizeof(text), "%.2f", Median(emptyRatio));
    PrintGoal("private memory / bare window, 0 entries", text, "<= 1.5",
              Median(emptyRatio) <= 1.5);
    double previousKb = Median(emptyMemory);
    int previousEntries = 0;
    for (const Row& row : table) {
        const double kb = Median(row.privateKb);
        const double ratio = kb / Median(bareMemory);
        std::snprintf(text, sizeof(text), "%.2f", ratio);
        const std::string entries = std::to_string(row.entries);
        if (row.entries >= 5000) {
            PrintGoal("private memory / bare window, " + entries + " entries", text, "<= 2",
                      ratio <= 2);
        }
        // Per entry between this size and the one before (0 entries first):
        // what the rows themselves cost, apart from what any row brings once
        // (the icons' worker and the shell's icon cache).
        const double perEntry = (kb - previousKb) / (row.entries - previousEntries);
        std::snprintf(text, sizeof(text), "%.2f KB (%.0f KB more)", perEntry, kb - previousKb);
        PrintGoal("private memory per entry, " + std::to_string(previousEntries) + " to " + entries + " entries",
                  text, "<= 1 KB", perEntry <= 1);
        previousKb = kb;
        previousEntries = row.entries;
        if (row.entries >= 5000) {
            const double counted = Median(row.countedRatio);
            std::snprintf(text, sizeof(text), "%.2f", counted);
            PrintGoal("status bar shows the count / floor, " + entries + " entries", text,
                      "<= 1.5", counted <= 1.5);
            std::snprintf(text, sizeof(text), "%.1f ms median, %.1f ms max (%zu tries)", Median(row.reaction),
                          Max(row.reaction), row.reaction.values.size());
            PrintGoal("reaction to a new entry, " + entries + " entries", text,
                      "<= 50 ms median, <= 150 ms max", Median(row.reaction) <= 50 && Max(row.reaction) <= 150);
        }
        if (row.idleCpuMs >= 0) {
            std::snprintf(text, sizeof(text), "%.0f ms over %d s, %d passes", row.idleCpuMs, idleSeconds,
                          row.idlePasses);
            PrintGoal("idle with a policy, " + entries + " entries", text, "0 % CPU, 0 passes",
                      row.idlePasses == 0 && row.idleCpuMs <= idleSeconds * 10.0);
        }
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == L"--child") {
        if (arguments[1] == L"bare") {
            return BareChild();
        }
        if (arguments[1] == L"program" && arguments.size() == 5) {
            return ProgramChild(arguments[2], arguments[3], std::stoi(arguments[4]));
        }
        return 2;
    }
    std::vector<int> sizes{100, 1000, 5000};
    int runs = 5;
    int idleSeconds = 10;
    for (size_t i = 0; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == L"--sizes") {
            sizes = ParseSizes(arguments[i + 1]);
        } else if (arguments[i] == L"--runs") {
            runs = std::max(1, std::stoi(arguments[i + 1]));
        } else if (arguments[i] == L"--idle-seconds") {
            idleSeconds = std::max(0, std::stoi(arguments[i + 1]));
        } else {
            std::fprintf(stderr, "usage: merovane_bench [--sizes 100,1000,5000] [--runs N] [--idle-seconds S]\n");
            return 2;
        }
    }
    try {
        return Benchmark(sizes, runs, idleSeconds);
    } catch (const merovane::Error& error) {
        Fail(ToUtf8(error.message()));
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}
