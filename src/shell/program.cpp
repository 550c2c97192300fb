#include "shell/program.h"

#include "shell/startup.h"
#include "ui/application.h"

namespace merovane {

Program::Program(std::function<LocalePaths()> paths)
    : main_(std::move(paths)), about_(main_), settings_(main_), update_(main_)
{
}

void Program::Start()
{
    main_.Create();
    main_.SetWindows(&about_, &settings_, &update_);
    main_.FormCreate();
    about_.Create(main_.Handle());
    about_.FormCreate();
    settings_.Create(main_.Handle());
    settings_.FormCreate();
    update_.Create(main_.Handle());
    update_.FormCreate();

    main_.Languages().LoadLanguage();
    main_.Languages().CleanTranslationsLikeGlobload();
    main_.Languages().Globload();
    settings_.LoadNastr();
    main_.ReportStartupProblems();
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

} // namespace merovane
