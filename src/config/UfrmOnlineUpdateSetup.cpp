#include "config/UfrmOnlineUpdateSetup.h"

#include <vector>

#include "config/GlobalProxySettings.h"
#include "config/ProxyAddress.h"
#include "config/ProxyDialogLayout.h"
#include "config/UfrmOnlineUpdateSetupRes.h"
#include "rtl/Forms.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "rtl/WindowScale.h"

namespace config {

namespace {

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
    const rtl::TDesignScale scale(GetDeviceCaps(dc, LOGPIXELSY));
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dlg, WM_GETFONT, 0, 0)));
    for (const TDialogPlace& p : kProxyDialogLayout) {
        HWND control = GetDlgItem(dlg, p.Id);
        int width = scale.S(p.Width);
        if (p.Width == 0) {
            RECT r{};
            std::wstring text = WindowText(control);
            DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
            width = r.right - r.left;
        }
        MoveWindow(control, scale.S(p.Left), scale.S(p.Top), width, scale.S(p.Height), FALSE);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(dlg, dc);

    RECT frame{0, 0, scale.S(kProxyDialogClientWidth), scale.S(kProxyDialogClientHeight)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE)));
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(dlg, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::u16string Utf16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// No port is an empty box, not "0", which the box does not take.
void ShowPort(HWND box, int32_t port) { SetWindowTextW(box, port ? std::to_wstring(port).c_str() : L""); }

// One paragraph: line breaks (an exception's text has them) become blanks.
void SetStatus(TfrmOnlineUpdateSetup& form, const std::wstring& text) {
    std::wstring line;
    for (wchar_t c : text) {
        bool lineBreak = c == L'\r' || c == L'\n';
        if (!lineBreak || (!line.empty() && line.back() != L' ')) line += lineBreak ? L' ' : c;
    }
    SetWindowTextW(form.lblStatus, line.c_str());
}

void FormCreate(TfrmOnlineUpdateSetup& form) {
    TProxySettings& settings = GetProxySettings();
    SetWindowTextW(form.editProxy, settings.Server().c_str());
    ShowPort(form.editPort, settings.Port());
    SetWindowTextW(form.editUsername, settings.Username().c_str());
    SetWindowTextW(form.editPassword, settings.Password().c_str());
    const std::vector<std::wstring>& unreadable = settings.Unreadable();
    if (unreadable.empty()) return;
    std::wstring names;
    for (const std::wstring& name : unreadable) names += (names.empty() ? L"'" : L", '") + name + L"'";
    SetStatus(form,
              (unreadable.size() == 1 ? L"Could not read the stored value " : L"Could not read the stored values ") +
                  names + L" (left empty). OK saves what the boxes hold.");
}

// Saves what the boxes hold, then closes with the OK result. Text that is no
// proxy, or a registry that does not take the settings, is said in the
// status line, and the dialog stays open.
void cmdOKClick(TfrmOnlineUpdateSetup& form) {
    TProxyEntry entry = ReadProxyBoxes(Utf16(WindowText(form.editProxy)), Utf16(WindowText(form.editPort)));
    if (entry.Refused != TProxyBox::None) {
        bool server = entry.Refused == TProxyBox::Server;
        SetStatus(form, (server ? L"HTTP proxy: " : L"Port: ") + Wide(entry.Reason));
        HWND box = server ? form.editProxy : form.editPort;
        SendMessageW(form.Handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
        SendMessageW(box, EM_SETSEL, 0, -1);
        return;
    }
    // The boxes show what is stored: the host alone, and its port.
    const std::wstring host = Wide(entry.Host);
    SetWindowTextW(form.editProxy, host.c_str());
    ShowPort(form.editPort, entry.Port);
    TProxySettings& settings = GetProxySettings();
    bool saved = false;
    rtl::Try(
        [&] {
            settings.Save(host, entry.Port, WindowText(form.editUsername), WindowText(form.editPassword));
            saved = true;
        },
        rtl::On<rtl::ERegistryException>([&](rtl::ERegistryException& e) {
            SetStatus(form, L"The proxy settings could not be saved: " + e.Message);
        }));
    if (saved) EndDialog(form.Handle, IDOK);
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
                    form->lblStatus = GetDlgItem(dlg, IDC_LBLSTATUS);
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
