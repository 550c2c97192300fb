#pragma once

// The program, started as the start-up starts it (its dialogs are made when
// first asked for), in a registry sandbox with a settings file and language
// folder of their own.

#include "core/icon_list.h"
#include "core/icon_store.h"
#include "shell/program.h"
#include "support/entries.h"
#include "support/option_keys.h"
#include "support/sandbox.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/messages.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>

namespace merovane::test {

// The window's thread handles its messages meanwhile, as it does in the
// tray; false when the condition still fails after `limit`.
inline bool HandleMessagesUntil(const std::function<bool()>& condition,
                                std::chrono::milliseconds limit = std::chrono::seconds(3))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        ui::application::ProcessMessages();
        ::Sleep(5);
    }
    return true;
}


inline void DrainQuit()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// What the notification-area icon reports to its window, as a mouse or
// keyboard event on it.
inline void SendTrayEvent(Program& program, LPARAM event)
{
    ::SendMessageW(program.Main().Handle(), ui::WM_APP_TRAYICON, 0, event);
}

class ProgramFixture : public ::testing::Test {
protected:
    ProgramFixture()
    {
        std::filesystem::create_directories(temp.path() / L"Language");
        paths.languageDirectory = (temp.path() / L"Language").wstring() + L"\\";
        paths.settingsFile = temp / L"Option.ini";
        paths.missingKeysLog = temp / L"Merovane.log";
    }
    ~ProgramFixture() override
    {
        program.reset();
        ui::application::SetStyle(ui::Style::System); // the style is the whole process's
        DrainQuit();
    }

    // The program's windows, created as the start-up creates them.
    Program& Start()
    {
        program = std::make_unique<Program>([this] { return paths; });
        program->Start();
        list = &program->Main().Get<ui::ListView>(L"ListView1");
        return *program;
    }

    std::vector<std::wstring> Captions() const
    {
        std::vector<std::wstring> captions;
        for (int row = 0; row < list->RowCount(); ++row) {
            captions.push_back(list->Row(row).caption + (list->Row(row).checked ? L" [x]" : L""));
        }
        return captions;
    }

    int RowOf(std::wstring_view key) const
    {
        for (int row = 0; row < list->RowCount(); ++row) {
            if (EntryOf(row).keyName == key) {
                return row;
            }
        }
        return -1;
    }

    // The entry a row of the list stands for.
    const IconEntry& EntryOf(int row) const
    {
        static const IconEntry none;
        const IconEntry* entry = std::any_cast<IconEntry>(&list->Row(row).data);
        return entry != nullptr ? *entry : none;
    }

    std::wstring StatusText() const
    {
        HWND bar = program->Main().Get<ui::StatusBar>(L"StatusBar1").Handle();
        std::wstring text(LOWORD(::SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0)) + 1, L'\0');
        ::SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
        text.resize(text.find(L'\0'));
        return text;
    }

    test::RegistrySandbox sandbox;
    test::TempDir temp;
    LocalePaths paths;
    std::unique_ptr<Program> program;
    ui::ListView* list = nullptr;
};

} // namespace merovane::test
