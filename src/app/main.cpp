// Program entry: the framework and the modules start, the main window runs
// the message loop, and halting runs the modules' shutdown in reverse.
#include "app/MainForm.h"
#include "app/Startup.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"

namespace {

void ShutdownAll() {
    app::RunShutdown();
    rtl::FormsShutdown();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return rtl::RunGuarded([] {
        rtl::FormsStartup();
        rtl::SetExitProc(&ShutdownAll);
        app::RunStartup();

        rtl::Application->Initialize();
        rtl::Application->SetTitle(L"Orvex Diagnostics");
        rtl::Application->CreateForm(new app::TMainForm(rtl::Application));
        rtl::Application->Run();
        rtl::Halt(0);
        return 0;
    });
}
