// Program entry: reads the program's version and shows the main window with
// the diagnostic folder and version until the user closes it.
#include "env/DiagPaths.h"
#include "env/Version.h"
#include "rtl/Try.h"
#include "rtl/Win.h"

namespace {

std::wstring gStatusText;

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT rc;
            GetClientRect(hwnd, &rc);
            InflateRect(&rc, -12, -12);
            SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, gStatusText.c_str(), -1, &rc, DT_LEFT | DT_TOP | DT_WORDBREAK);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    env::InitVersionInfo();
    std::wstring folder;
    rtl::Try([&] { folder = env::GetDiagFolder(); },
             rtl::OnAny([&](rtl::Exception& e) { folder = L"(unavailable: " + e.Message + L")"; }));
    gStatusText = L"Orvex Engine diagnostics " + env::GetProgramVersionText() + L"\r\n\r\nDiagnostic folder: " + folder;

    WNDCLASSW wc{};
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"TOrvexMainForm";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Orvex Diagnostics", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 560, 240, nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, show);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
