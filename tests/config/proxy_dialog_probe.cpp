// Shows the proxy dialog once so that a script can drive it through X11 and
// take its picture. "--fill SERVER PORT USER PASSWORD" saves those values
// first. Prints the dialog's result and what the registry then holds.
#include <cstdio>
#include <cwchar>
#include <string>

#include "config/GlobalProxySettings.h"
#include "config/UfrmOnlineUpdateSetup.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"

int wmain(int argc, wchar_t** argv) {
    return rtl::RunGuarded([&] {
        rtl::FormsStartup();
        if (argc == 6 && std::wstring(argv[1]) == L"--fill")
            config::GetProxySettings().Save(argv[2], std::wcstol(argv[3], nullptr, 10), argv[4], argv[5]);
        int result = config::ShowOnlineUpdateSetup(nullptr);
        config::DoneProxySettings();
        config::TProxySettings stored;
        std::printf("result=%d server=[%ls] port=%d user=[%ls] password=[%ls]\n", result, stored.Server().c_str(),
                    static_cast<int>(stored.Port()), stored.Username().c_str(), stored.Password().c_str());
        rtl::FormsShutdown();
        return 0;
    });
}
