#include "config/UfrmOnlineUpdateSetup.h"

#include <limits>

#include "config/GlobalProxySettings.h"
#include "config/UfrmOnlineUpdateSetupRes.h"
#include "rtl/Forms.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace config {

namespace {

// Pixel layout at 96 dots per inch. A label's width follows its text.
const int kClientWidth = 313;
const int kClientHeight = 145;
struct TControlPlace {
    int Id, Left, Top, Width, Height;
};
const TControlPlace kLayout[] = {
    {IDC_LBLHTTPPROXY, 32, 20, 0, 13},   {IDC_EDITPROXY, 92, 16, 129, 21},    {IDC_LBLPORT, 232, 20, 0, 13},
    {IDC_EDITPORT, 260, 16, 37, 21},     {IDC_LBLUSERNAME, 32, 47, 0, 13},    {IDC_EDITUSERNAME, 92, 44, 129, 21},
    {IDC_LABEL2, 32, 75, 0, 13},         {IDC_EDITPASSWORD, 92, 72, 129, 21}, {IDOK, 82, 108, 73, 25},
    {IDCANCEL, 166, 108, 73, 25},
};

std::wstring WindowText(HWND h) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Labels whose mnemonic names no control: answering WM_GETDLGCODE without
// DLGC_STATIC keeps the dialog manager from moving the focus on it.
LRESULT CALLBACK PlainLabelProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return rtl::TryResult<LRESULT>(0, [&]() -> LRESULT {
        if (msg == WM_GETDLGCODE) return 0;
        return CallWindowProcW(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_USERDATA)), h, msg, wp, lp);
    });
}

void MakePlainLabel(HWND label) {
    SetWindowLongPtrW(label, GWLP_USERDATA,
                      SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PlainLabelProc)));
}

// Places the controls and sizes the client area in pixels (scaled for the
// display's resolution), then centres the dialog on the screen.
void ApplyLayout(HWND dlg) {
    HDC dc = GetDC(dlg);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dlg, WM_GETFONT, 0, 0)));
    for (const TControlPlace& p : kLayout) {
        HWND control = GetDlgItem(dlg, p.Id);
        int width = MulDiv(p.Width, dpi, 96);
        if (p.Width == 0) {
            RECT r{};
            std::wstring text = WindowText(control);
            DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
            width = r.right - r.left;
        }
        MoveWindow(control, MulDiv(p.Left, dpi, 96), MulDiv(p.Top, dpi, 96), width, MulDiv(p.Height, dpi, 96), FALSE);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(dlg, dc);

    RECT frame{0, 0, MulDiv(kClientWidth, dpi, 96), MulDiv(kClientHeight, dpi, 96)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE)));
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(dlg, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormCreate(TfrmOnlineUpdateSetup& form) {
    TProxySettings& settings = GetProxySettings();
    SetWindowTextW(form.editProxy, settings.Server().c_str());
    SetWindowTextW(form.editPort, std::to_wstring(settings.Port()).c_str());
    SetWindowTextW(form.editUsername, settings.Username().c_str());
    SetWindowTextW(form.editPassword, settings.Password().c_str());
}

// Saves, then closes with the OK result. A registry failure raises out of
// here and leaves the dialog open.
void cmdOKClick(TfrmOnlineUpdateSetup& form) {
    GetProxySettings().Save(WindowText(form.editProxy), PortFromText(WindowText(form.editPort)),
                            WindowText(form.editUsername), WindowText(form.editPassword));
    EndDialog(form.Handle, IDOK);
}

INT_PTR CALLBACK OnlineUpdateSetupProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    INT_PTR handled = FALSE;
    rtl::Try(
        [&] {
            auto* form = reinterpret_cast<TfrmOnlineUpdateSetup*>(GetWindowLongPtrW(dlg, DWLP_USER));
            switch (msg) {
                case WM_INITDIALOG:
                    form = reinterpret_cast<TfrmOnlineUpdateSetup*>(lp);
                    SetWindowLongPtrW(dlg, DWLP_USER, lp);
                    form->Handle = dlg;
                    form->editProxy = GetDlgItem(dlg, IDC_EDITPROXY);
                    form->editPort = GetDlgItem(dlg, IDC_EDITPORT);
                    form->editUsername = GetDlgItem(dlg, IDC_EDITUSERNAME);
                    form->editPassword = GetDlgItem(dlg, IDC_EDITPASSWORD);
                    SendMessageW(form->editPassword, EM_SETPASSWORDCHAR, L'*', 0);
                    MakePlainLabel(GetDlgItem(dlg, IDC_LBLUSERNAME));
                    MakePlainLabel(GetDlgItem(dlg, IDC_LABEL2));
                    ApplyLayout(dlg);
                    FormCreate(*form);
                    handled = TRUE;  // focus to the first box in tab order
                    break;
                case WM_COMMAND:
                    if (!form) break;
                    if (LOWORD(wp) == IDOK) {
                        handled = TRUE;
                        cmdOKClick(*form);
                    } else if (LOWORD(wp) == IDCANCEL) {
                        handled = TRUE;
                        EndDialog(dlg, IDCANCEL);
                    }
                    break;
            }
        },
        // No exception may travel back into the dialog manager's frames: like
        // any message handler's, it goes to the application's handling.
        rtl::OnAny([](rtl::Exception& e) { rtl::Application->HandleException(e); }));
    return handled;
}

}  // namespace

int32_t PortFromText(const std::wstring& text) {
    size_t n = text.find_first_not_of(L' ');
    size_t end = text.find_last_not_of(L' ');
    if (n == std::wstring::npos) return 0;
    ++end;
    bool negative = false;
    if (text[n] == L'+' || text[n] == L'-') negative = text[n++] == L'-';
    if (n == end) return 0;
    int64_t value = 0;
    for (; n < end; ++n) {
        if (text[n] < L'0' || text[n] > L'9') return 0;
        value = value * 10 + (text[n] - L'0');
        if (value > int64_t{1} << 31) return 0;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(value);
}

int ShowOnlineUpdateSetup(HWND owner) {
    GetProxySettings();
    TfrmOnlineUpdateSetup form;
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ONLINEUPDATESETUP), owner,
                                     &OnlineUpdateSetupProc, reinterpret_cast<LPARAM>(&form));
    if (result == -1 || result == 0) {
        DWORD code = GetLastError();
        rtl::RaiseNew<rtl::EOSError>(
            rtl::Format(L"Cannot show the proxy dialog: %ls (%lu)", rtl::SysErrorMessage(code).c_str(), code), code);
    }
    return static_cast<int>(result);
}

}  // namespace config
