// The modules start in list order and shut down in exactly the reverse
// order, and the exception manager's step finds the runtime in our module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "crash/ZudAvizi.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/Seh.h"

namespace {

std::vector<std::wstring> gTrace;

void Observe(const wchar_t* name, bool startingUp) {
    gTrace.push_back((startingUp ? L"+" : L"-") + std::wstring(name));
}

TEST(Startup, ModulesStartInOrderAndShutDownInReverse) {
    const auto& steps = app::ModuleSteps();
    std::vector<std::wstring> names;
    for (const auto& s : steps) names.push_back(s.Name);
    // Start-up order of the modules that set something up.
    std::vector<std::wstring> expectedStart;
    for (const auto& s : steps)
        if (s.Startup) expectedStart.push_back(L"+" + std::wstring(s.Name));
    std::vector<std::wstring> expectedStop;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        if (it->Shutdown) expectedStop.push_back(L"-" + std::wstring(it->Name));

    rtl::FormsStartup();
    bool managerWasArmed = false;
    rtl::RunGuarded([&] {
        app::RunStartup(&Observe);
        managerWasArmed = crash::ZudAvizi() && crash::ZudAvizi()->Enabled() &&
                          reinterpret_cast<const uint8_t*>(&rtl_ExceptionHandler)[0] == 0xE8;
    });
    app::RunStartup(&Observe);  // a second call does nothing
    std::vector<std::wstring> started(gTrace);
    gTrace.clear();
    app::RunShutdown(&Observe);
    app::RunShutdown(&Observe);
    rtl::FormsShutdown();

    EXPECT_EQ(started, expectedStart);
    EXPECT_EQ(gTrace, expectedStop);
    // The list keeps the modules' dependency order: the exception manager is
    // installed before logging and the crash report filter, and the shell
    // facility comes first and goes last.
    auto pos = [&](const wchar_t* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_EQ(pos(L"Shell folder facility"), 0);
    EXPECT_LT(pos(L"Version information"), pos(L"Transfer message processing"));
    EXPECT_LT(pos(L"Transfer message processing"), pos(L"Exception manager support"));
    EXPECT_LT(pos(L"Exception manager support"), pos(L"Exception manager installation"));
    EXPECT_LT(pos(L"Exception manager installation"), pos(L"Logging"));
    EXPECT_EQ(pos(L"Crash report filter"), static_cast<long>(names.size()) - 1);
    // Shutdown-only modules release in their place of the reverse walk.
    EXPECT_LT(pos(L"Proxy settings store"), pos(L"Transfer message processing"));
    EXPECT_LT(pos(L"Transfer message processing"), pos(L"Default filter and exception-manager utilities"));
    EXPECT_LT(pos(L"Default filter and exception-manager utilities"), pos(L"Exception manager support"));

    // The manager was armed between start-up and shutdown: the runtime's
    // outermost handler is back to its own bytes now.
    const uint8_t handlerStart[] = {0x8B, 0x44, 0x24, 0x04, 0xF7, 0x40, 0x04, 0x06, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(&rtl_ExceptionHandler), handlerStart, 11), 0);
    EXPECT_EQ(crash::ZudAvizi(), nullptr);
    EXPECT_TRUE(managerWasArmed);

    const TZudAviziSystemAddresses& table = app::SystemAddresses();
    EXPECT_EQ(table.ExceptionHandlerAddr, reinterpret_cast<uint32_t>(&rtl_ExceptionHandler));
    EXPECT_NE(table.MainWindow, 0u);
}

}  // namespace
