#include "app/Startup.h"

#include "env/Version.h"
#include "env/klog.h"

namespace app {

namespace {

TZudAviziSystemAddresses gSystemAddresses{};

void ReadVersionInfo() { env::InitVersionInfo(); }

void InstallExceptionManager() {
    // The manager itself comes with the crash facility; the table it needs
    // is gathered here, while the application object exists and before
    // any window is created.
    rtl::FillSystemAddresses(gSystemAddresses);
}

// Modules in dependency order. Shutdown-only modules sit where their
// release belongs in the reverse walk. Entries without routines are modules
// whose facilities are not part of the program yet.
const std::vector<TModuleStep> gSteps = {
    {L"Shell folder facility", nullptr, nullptr},
    {L"Proxy settings store", nullptr, nullptr},
    {L"Version information", &ReadVersionInfo, nullptr},
    {L"Transfer message processing", nullptr, nullptr},
    {L"Default filter and exception-manager utilities", nullptr, nullptr},
    {L"Exception manager support", nullptr, nullptr},
    {L"Exception manager installation", &InstallExceptionManager, nullptr},
    {L"Logging", &env::InitKLog, &env::DoneKLog},
    {L"Crash report filter", nullptr, nullptr},
};

bool gStarted = false;

}  // namespace

const std::vector<TModuleStep>& ModuleSteps() { return gSteps; }

void RunStartup(TStepObserver observer) {
    if (gStarted) return;
    gStarted = true;
    for (const TModuleStep& step : gSteps) {
        if (!step.Startup) continue;
        if (observer) observer(step.Name, true);
        step.Startup();
    }
}

void RunShutdown(TStepObserver observer) {
    if (!gStarted) return;
    gStarted = false;
    for (auto it = gSteps.rbegin(); it != gSteps.rend(); ++it) {
        if (!it->Shutdown) continue;
        if (observer) observer(it->Name, false);
        it->Shutdown();
    }
}

const TZudAviziSystemAddresses& SystemAddresses() { return gSystemAddresses; }

}  // namespace app
