// Program entry: the framework and the modules start, the main window runs
// the message loop, and halting runs the modules' shutdown in reverse.
#include <string>
#include <vector>

#include "rtl/Win.h"

#include <shellapi.h>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/SelfTest.h"
#include "app/Startup.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/Text.h"

namespace {

void ShutdownAll() {
    app::RunShutdown();
    rtl::FormsShutdown();
}

// A GUI program has no console of its own: the text goes to the standard
// output it was given, or into a message box.
void ShowText(const std::wstring& text, bool error) {
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    std::string bytes = rtl::ToAnsi(text);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return;
    MessageBoxW(nullptr, text.c_str(), L"Orvex Diagnostics", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The windows lay themselves out for the screen's resolution; without
    // this the system would stretch them into blurred bitmaps.
    SetProcessDPIAware();
    const app::TOptions options = app::ParseOptions(rtl::CommandLineArguments());
    if (!options.Error.empty()) {
        ShowText(options.Error + L"\r\n\r\n" + app::UsageText(), true);
        return 2;
    }
    if (options.Help) {
        ShowText(app::UsageText(), false);
        return 0;
    }
    return rtl::RunGuarded([&] {
        rtl::FormsStartup();
        rtl::SetExitProc(&ShutdownAll);
        app::RunStartup();

        rtl::Application->Initialize();
        rtl::Application->SetTitle(L"Orvex Diagnostics");
        auto* form = new app::TMainForm(rtl::Application, options.SelfTest);
        rtl::Application->CreateForm(form);
        if (!options.Paths.empty()) form->AddPaths(options.Paths);
        if (options.SelfTest == app::TSelfTest::OutsideRaise) app::FireSelfTest(options.SelfTest);
        rtl::Application->Run();
        rtl::Halt(0);
        return 0;
    });
}
