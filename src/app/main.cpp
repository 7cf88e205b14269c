// Program entry: the framework and the modules start, the main window runs
// the message loop, and halting runs the modules' shutdown in reverse.
#include <string>

#include "rtl/Win.h"

#include <shellapi.h>

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

std::wstring UsageText() {
    std::wstring text =
        L"Usage: orvex [--selftest=NAME] [--help]\r\n\r\n"
        L"Without options the program opens its main window.\r\n\r\n"
        L"--selftest=NAME  after start-up, provoke one failure to check crash reporting:\r\n";
    for (const app::TSelfTestInfo& t : app::SelfTests()) text += rtl::Format(L"    %-20ls %ls\r\n", t.Name, t.Description);
    text += L"--help           show this text\r\n";
    return text;
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

struct TOptions {
    bool Help = false;
    app::TSelfTest SelfTest = app::TSelfTest::None;
    std::wstring Error;
};

TOptions ParseOptions() {
    TOptions options;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            options.Help = true;
        } else if (arg.rfind(L"--selftest=", 0) == 0) {
            options.SelfTest = app::SelfTestByName(arg.substr(11));
            if (options.SelfTest == app::TSelfTest::None) options.Error = L"Unknown self-test: " + arg.substr(11);
        } else {
            options.Error = L"Unknown option: " + arg;
        }
    }
    LocalFree(argv);
    return options;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The windows lay themselves out for the screen's resolution; without
    // this the system would stretch them into blurred bitmaps.
    SetProcessDPIAware();
    TOptions options = ParseOptions();
    if (!options.Error.empty()) {
        ShowText(options.Error + L"\r\n\r\n" + UsageText(), true);
        return 2;
    }
    if (options.Help) {
        ShowText(UsageText(), false);
        return 0;
    }
    return rtl::RunGuarded([&] {
        rtl::FormsStartup();
        rtl::SetExitProc(&ShutdownAll);
        app::RunStartup();

        rtl::Application->Initialize();
        rtl::Application->SetTitle(L"Orvex Diagnostics");
        rtl::Application->CreateForm(new app::TMainForm(rtl::Application, options.SelfTest));
        if (options.SelfTest == app::TSelfTest::OutsideRaise) app::FireSelfTest(options.SelfTest);
        rtl::Application->Run();
        rtl::Halt(0);
        return 0;
    });
}
