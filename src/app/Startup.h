// The ordered start-up and shutdown of the program's modules. Every module
// that keeps process-wide state has one entry; start-up runs the entries in
// list order before any window exists, shutdown runs them in exactly the
// reverse order when the program halts.
#pragma once
#include <vector>

#include "rtl/SystemAddresses.h"

namespace app {

struct TModuleStep {
    const wchar_t* Name;
    void (*Startup)();   // null: the module has nothing to set up
    void (*Shutdown)();  // null: nothing to release
};

// The modules in start-up order.
const std::vector<TModuleStep>& ModuleSteps();

// Called with each step as it runs (for diagnostics and tests).
using TStepObserver = void (*)(const wchar_t* name, bool startingUp);

// Runs the start-up steps in order (once per process).
void RunStartup(TStepObserver observer = nullptr);
// Runs the shutdown steps of the modules in reverse order (once; only after
// RunStartup).
void RunShutdown(TStepObserver observer = nullptr);

// The runtime-address table filled by the exception manager's installation step.
const TZudAviziSystemAddresses& SystemAddresses();

}  // namespace app
