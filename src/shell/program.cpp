#include "shell/program.h"

#include "base/autostart.h"
#include "base/file_info.h"
#include "base/ini_file.h"
#include "base/policies.h"
#include "base/settings_file.h"
#include "base/startup.h"
#include "base/text_file.h"
#include "core/app_rules.h"
#include "core/organisation_rules.h"
#include "ui/application.h"
#include "update/update_client.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace merovane {

Program::Program(std::function<LocalePaths()> paths)
    : paths_(std::move(paths)),
      settingsStore_([this] { return paths_().settingsFile; }),
      main_([this] { return Paths(); }, settingsStore_.Current(),
            {.openSettings = [this] { Settings().ShowModal(); },
             .openUpdate =
                 [this] {
                     if (!main_.CurrentPolicies().disableSelfUpdate) {
                         Update().ShowModal();
                     }
                 },
             .openAbout = [this] { About().ShowModal(); },
             .saveOptions = [this] { SaveOptions(kSaveOnClose); },
             .reportFailedUpdate = [this](DWORD code) { Update().ReportFailedUpdate(code); },
             .policiesChanged = [this] { ApplyPolicies(); }}),
      about_([this] { return main_.Caption(); }),
      settings_(settingsStore_.Current(),
                {.applyLanguage = [this] { main_.Languages().ApplyToWindow(settings_); },
                 .applyRefreshPolicy = [this] { main_.ApplyRefreshPolicy(); },
                 .updateTrayImage = [this] { main_.UpdateTrayImage(); },
                 .saveOptions = [this] { SaveOptions(kSaveOnClose); },
                 .applyHotKey = [this] { return main_.RegisterShowEveryIconHotKey(); }}),
      update_(settingsStore_.Current(),
              {.saveCheckOption = [this] { SaveOptions(OptionGroup::UpdateCheck); },
               .query = [this] { return UpdateQuery(); },
               .localVersion = &ProgramVersionText,
               .languageName = [this] { return main_.Languages().ActiveLanguage(); },
               .exitProgram = [this] { main_.ExitSoon(); }})
{
}

LocalePaths Program::Paths()
{
    LocalePaths paths = paths_();
    paths.language = settingsStore_.InForce().language;
    return paths;
}

VersionQuery Program::UpdateQuery()
{
    // A mirror entered in the settings file counts from the next check on;
    // the organisation's servers come before both.
    std::vector<std::wstring> servers = UpdateServerList(settingsStore_.InForce(), BuiltInUpdateServers());
    const Policies policies = ReadPolicies();
    const std::optional<std::wstring>* forced[] = {&policies.primaryUpdateServer, &policies.fallbackUpdateServer};
    for (size_t index = 0; index < std::size(forced) && index < servers.size(); ++index) {
        if (*forced[index]) {
            if (std::optional<std::wstring> url = NormalizeServerUrl(**forced[index])) {
                servers[index] = std::move(*url);
            }
        }
    }
    return {.servers = std::move(servers), .portable = PortableMode()};
}

void Program::ApplyPolicies()
{
    const Policies& policies = main_.CurrentPolicies();
    if (settings_.Handle() != nullptr) {
        settings_.ShowPolicies(policies);
    }
    // A value or line that can't be used is told once, not at every pass.
    std::wstring untold;
    for (const std::wstring& problem : OrganisationPolicyFrom(policies).problems) {
        if (std::find(policyProblemsTold_.begin(), policyProblemsTold_.end(), problem) == policyProblemsTold_.end()) {
            policyProblemsTold_.push_back(problem);
            untold += L"\r\n" + problem;
        }
    }
    if (!untold.empty()) {
        ui::application::ShowError(main_.Message(L"LangPolicyIgnored") + untold);
    }
    if (policies.startWithWindows) {
        ui::application::ReportingErrors([&] {
            const std::wstring executable = OwnExecutablePath();
            if (CheckAutoStart(executable) != *policies.startWithWindows) {
                CreateAutoStart(*policies.startWithWindows, executable);
            }
        });
    }
}

void Program::Start()
{
    // A save killed midway leaves its temporary file; no later save would
    // take it away.
    const std::wstring settingsFile = paths_().settingsFile;
    RemoveStaleTemporaryFiles(settingsFile);
    RemoveStaleTemporaryFiles(RulesPathBeside(settingsFile));
    settingsStore_.ReadAtStart();
    main_.Create();
    main_.Initialize();
    main_.Languages().storeChoice = [this](const std::wstring& baseName) {
        std::wstring& language = settingsStore_.Current().language;
        const std::wstring previous = std::exchange(language, baseName);
        try {
            SaveOptions(OptionGroup::Language);
        } catch (...) {
            language = previous; // a choice not stored is no choice
            throw;
        }
    };
    // Where the file gave no size (or one below the minimum) the window chose
    // its own: keeping that is no change made in the window, and a save
    // leaves the file's size as it finds it.
    const WindowPlacement applied = main_.Placement();
    settingsStore_.Saved().window.width = applied.width;
    settingsStore_.Saved().window.height = applied.height;
    // The other windows are made when first shown; what the settings
    // dialog's options change elsewhere takes effect now.
    main_.ApplyRefreshPolicy();
    main_.UpdateTrayImage();
    main_.Languages().CleanLanguageFiles();
    // A Run value that starts this program is written again (quoted, any
    // scheduled task removed) by the settings dialog, which tells a failure
    // in its own words: then it is made now.
    if (CheckAutoStart(OwnExecutablePath())) {
        static_cast<void>(Settings());
    }
    ApplyPolicies();
    // Told once, in the chosen language.
    if (const std::optional<Error>& failure = settingsStore_.ReadFailure()) {
        const std::wstring path = paths_().settingsFile;
        ui::application::ShowError(
            InContext(FormatText(main_.Message(L"LangSettingsNotRead"), path), *failure).message());
    }
    // Last, so that an offer it makes speaks the chosen language. The check
    // answers to the update dialog's window, made only when it runs: once the
    // main window has painted (a timer comes after the painting).
    if (settingsStore_.Current().checkForUpdatesAtStart && !main_.CurrentPolicies().disableSelfUpdate) {
        ::SetTimer(main_.Handle(), reinterpret_cast<UINT_PTR>(this), 0, &Program::CheckAtStartTimer);
    }
}

void CALLBACK Program::CheckAtStartTimer(HWND window, UINT, UINT_PTR id, DWORD) noexcept
{
    // The timer goes with the main window, so the program is still there.
    ::KillTimer(window, id);
    ui::application::ShowingErrors([id] { reinterpret_cast<Program*>(id)->Update().StartCheckAtStart(); });
}

AboutWindow& Program::About()
{
    if (about_.Handle() == nullptr) {
        about_.Create(main_.Handle());
        about_.Initialize();
        main_.Languages().ApplyToWindow(about_);
    }
    return about_;
}

SettingsDialog& Program::Settings()
{
    if (settings_.Handle() == nullptr) {
        settings_.Create(main_.Handle());
        settings_.Initialize(); // translates it
        settings_.ShowOptions();
        settings_.ShowPolicies(main_.CurrentPolicies());
    }
    return settings_;
}

UpdateDialog& Program::Update()
{
    if (update_.Handle() == nullptr) {
        update_.Create(main_.Handle());
        update_.Initialize();
        main_.Languages().ApplyToWindow(update_);
    }
    return update_;
}

int Program::Run()
{
    if (!IsWindows11()) {
        ::MessageBoxW(nullptr, main_.Message(L"LangOnlyWindows").c_str(), main_.Message(L"LangError").c_str(),
                      MB_OK | MB_ICONERROR);
        return 0;
    }
    main_.ShowAtStart();
    ui::application::Run();
    return 0;
}

void Program::SaveOptions(OptionGroup groups)
{
    if (Contains(groups, OptionGroup::MainWindow) && main_.Handle() != nullptr) {
        settingsStore_.Current().window = main_.Placement();
    }
    try {
        settingsStore_.Save(groups);
    } catch (const Error& error) {
        throw InContext(FormatText(main_.Message(L"LangSettingsNotSaved"), paths_().settingsFile), error);
    }
}

} // namespace merovane
