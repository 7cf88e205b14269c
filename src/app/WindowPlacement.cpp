#include "app/WindowPlacement.h"

#include "env/ErrorControlledRegistry.h"
#include "rtl/Try.h"
#include "rtl/WindowScale.h"

namespace app {

const wchar_t* const kWindowPlacementKey = L"Software\\Quillfen\\Orvex Engine\\9.0\\Main Window";

void SaveWindowPlacement(HWND window) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    if (!GetWindowPlacement(window, &wp)) return;
    rtl::Try(
        [&] {
            env::TRegistry reg;
            if (!reg.OpenKey(kWindowPlacementKey, true)) return;
            reg.WriteInteger(L"Left", wp.rcNormalPosition.left);
            reg.WriteInteger(L"Top", wp.rcNormalPosition.top);
            reg.WriteInteger(L"Width", wp.rcNormalPosition.right - wp.rcNormalPosition.left);
            reg.WriteInteger(L"Height", wp.rcNormalPosition.bottom - wp.rcNormalPosition.top);
            reg.WriteInteger(L"Maximized", wp.showCmd == SW_SHOWMAXIMIZED ? 1 : 0);
        },
        rtl::On<rtl::ERegistryException>([](rtl::ERegistryException&) {}));
}

bool RestoreWindowPlacement(HWND window, int minWidth, int minHeight, int& show) {
    RECT stored{};
    bool maximized = false, found = false;
    rtl::Try(
        [&] {
            env::TRegistry reg;
            if (!reg.OpenKeyReadOnly(kWindowPlacementKey)) return;
            for (const wchar_t* name : {L"Left", L"Top", L"Width", L"Height"})
                if (!reg.ValueExists(name)) return;
            stored.left = reg.ReadInteger(L"Left");
            stored.top = reg.ReadInteger(L"Top");
            stored.right = stored.left + reg.ReadInteger(L"Width");
            stored.bottom = stored.top + reg.ReadInteger(L"Height");
            maximized = reg.ValueExists(L"Maximized") && reg.ReadInteger(L"Maximized") != 0;
            found = stored.right > stored.left && stored.bottom > stored.top;
        },
        rtl::On<rtl::ERegistryException>([&](rtl::ERegistryException&) { found = false; }));
    if (!found) return false;
    // The monitor it was on may be gone or smaller now: keep it on one that exists.
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromRect(&stored, MONITOR_DEFAULTTONEAREST), &mi)) return false;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    GetWindowPlacement(window, &wp);
    wp.rcNormalPosition = rtl::FitToWorkArea(stored, mi.rcWork, minWidth, minHeight);
    wp.showCmd = SW_HIDE;
    wp.flags = 0;
    SetWindowPlacement(window, &wp);
    show = maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    return true;
}

}  // namespace app
