#include "app/MainForm.h"

#include "env/DiagPaths.h"
#include "env/Version.h"
#include "rtl/Try.h"

namespace app {

namespace {
const UINT WM_SELFTEST = WM_APP + 1;
}

TMainForm::TMainForm(rtl::TComponent* owner, TSelfTest selfTest)
    : TForm(owner, L"Orvex Diagnostics", 560, 200), FSelfTest(selfTest) {
    SetName(L"frmMain");
    if (selfTest == TSelfTest::CreateRaise) FireSelfTest(selfTest);
    if (FiresInMessageLoop(selfTest)) PostMessageW(Handle(), WM_SELFTEST, 0, 0);
    std::wstring folder;
    rtl::Try([&] { folder = env::GetDiagFolder(); },
             rtl::OnAny([&](rtl::Exception& e) { folder = L"(unavailable: " + e.Message + L")"; }));
    FStatusText = L"Orvex Engine diagnostics " + env::GetProgramVersionText() + L"\r\n\r\nDiagnostic folder: " + folder;
}

LRESULT TMainForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SELFTEST) {
        FireSelfTest(FSelfTest);
        return 0;
    }
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        RECT rc;
        GetClientRect(Handle(), &rc);
        InflateRect(&rc, -12, -12);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, FStatusText.c_str(), -1, &rc, DT_LEFT | DT_TOP | DT_WORDBREAK);
        SelectObject(dc, old);
        EndPaint(Handle(), &ps);
        return 0;
    }
    return TForm::WndProc(msg, wp, lp);
}

}  // namespace app
