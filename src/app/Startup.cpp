#include "app/Startup.h"

#include "config/GlobalProxySettings.h"
#include "crash/ExternalExceptionHandler.h"
#include "crash/ZudAvizi.h"
#include "env/Version.h"
#include "env/klog.h"
#include "http/httpuploader_messageprocessor_forms.h"
#include "shell/ShellFolderNames.h"

namespace app {

namespace {

TZudAviziSystemAddresses gSystemAddresses{};

void ReadVersionInfo() { env::InitVersionInfo(); }

// Arms the exception manager before any window exists, so that a failure
// in everything that follows is intercepted. A manager created earlier by
// other code is left as it is.
void InstallExceptionManager() {
    if (crash::ZudAvizi()) return;
    rtl::FillSystemAddresses(gSystemAddresses);
    auto* manager = new crash::TZudAvizi(crash::emeDelphiGUI, gSystemAddresses);
    crash::SetZudAvizi(manager);
    manager->SetEnabled(true);
}

// The global reference goes first, then the manager, which restores the
// runtime's routines byte for byte.
void UninstallExceptionManager() {
    crash::TZudAvizi* manager = crash::ZudAvizi();
    if (!manager) return;
    crash::SetZudAvizi(nullptr);
    delete manager;
}

// Modules in dependency order. Shutdown-only modules sit where their
// release belongs in the reverse walk; the default filter's module keeps no
// process-wide state of its own.
const std::vector<TModuleStep> gSteps = {
    {L"Shell folder facility", &shell::InitShellFolderNames, &shell::DoneShellFolderNames},
    {L"Proxy settings store", nullptr, &config::DoneProxySettings},
    {L"Version information", &ReadVersionInfo, nullptr},
    {L"Transfer message processing", &http::HTTPUploaderMessageProcessorFormsStartup,
     &http::HTTPUploaderMessageProcessorFormsShutdown},
    {L"Default filter and exception-manager utilities", nullptr, nullptr},
    {L"Exception manager support", &crash::StartupExceptionManagerSupport, &crash::ShutdownExceptionManagerSupport},
    {L"Exception manager installation", &InstallExceptionManager, &UninstallExceptionManager},
    {L"Logging", &env::InitKLog, &env::DoneKLog},
    {L"Crash report filter", &crash::StartupCrashReportFilter, &crash::ShutdownCrashReportFilter},
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
