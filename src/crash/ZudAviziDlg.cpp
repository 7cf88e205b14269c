#include "crash/ZudAviziDlg.h"

#include <commctrl.h>

#include "crash/ZudAvizi.h"
#include "crash/ZudAviziDlgRes.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Try.h"

namespace crash {

namespace {

// What the dialog is given.
struct TExceptionDialogParams {
    std::wstring Title;
    std::wstring Message;
    const std::wstring* CallStackText;  // null when absent
    const std::wstring* RegistersText;
    const std::wstring* CustomInfoText;
    std::wstring CustomTabTitle;
    HICON Icon;
    uint32_t Flags;
};

// What the dialog keeps while it lives.
struct TDialogState {
    rtl::ScopedFont Font;
    HICON Icon = nullptr;
    uint8_t Expanded = 0;
    int Width = 0;
    int ExpandedHeight = 0;
    int CompactHeight = 0;
};

enum : LPARAM { tagCallStack = 1, tagRegisters = 2, tagCustomInfo = 3 };

TDialogState* StateOf(HWND dlg) { return reinterpret_cast<TDialogState*>(GetWindowLongPtrW(dlg, DWLP_USER)); }

void SelectTab(HWND dlg, int index) {
    const int edits[] = {IDC_EXC_CALLSTACK, IDC_EXC_REGISTERS, IDC_EXC_CUSTOMINFO};
    for (int id : edits) ShowWindow(GetDlgItem(dlg, id), SW_HIDE);
    HWND tabs = GetDlgItem(dlg, IDC_EXC_TABS);
    TCITEMW item{};
    item.mask = TCIF_PARAM;
    if (TabCtrl_GetItem(tabs, index, &item)) {
        for (int id : edits) {
            HWND edit = GetDlgItem(dlg, id);
            if (GetWindowLongPtrW(edit, GWLP_USERDATA) != item.lParam) continue;
            ShowWindow(edit, SW_SHOW);
            int end = GetWindowTextLengthW(edit);
            SendMessageW(edit, EM_SETSEL, end, end);
        }
    }
    TabCtrl_SetCurSel(tabs, index);
    SetFocus(GetDlgItem(dlg, IDC_EXC_OK));
}

void ApplyState(HWND dlg, const TDialogState& s) {
    SetWindowPos(dlg, nullptr, 0, 0, s.Width, s.Expanded ? s.ExpandedHeight : s.CompactHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetDlgItemTextW(dlg, IDC_EXC_DETAILS, s.Expanded ? L"Compact <<" : L"Details >>");
}

void AddTab(HWND tabs, const std::wstring& caption, LPARAM tag) {
    TCITEMW item{};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = const_cast<wchar_t*>(caption.c_str());
    item.lParam = tag;
    TabCtrl_InsertItem(tabs, TabCtrl_GetItemCount(tabs), &item);
}

void InitDialog(HWND dlg, const TExceptionDialogParams& p) {
    auto* s = new TDialogState;
    SetWindowLongPtrW(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(s));
    s->Icon = p.Icon ? p.Icon : LoadIconW(nullptr, IDI_HAND);
    SendDlgItemMessageW(dlg, IDC_EXC_ICON, STM_SETICON, reinterpret_cast<WPARAM>(s->Icon), 0);
    s->Font.Reset(CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH, L"Courier"));
    s->Expanded = (p.Flags & cDlgFlagDetailed) ? 1 : 0;
    HWND tabs = GetDlgItem(dlg, IDC_EXC_TABS);
    SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (p.Flags & (cDlgFlagCallStack | cDlgFlagRegisters | cDlgFlagCustomInfo)) {
        if (p.Flags & cDlgFlagCallStack) AddTab(tabs, L"Call Stack", tagCallStack);
        if (p.Flags & cDlgFlagRegisters) AddTab(tabs, L"Registers", tagRegisters);
        if (p.Flags & cDlgFlagCustomInfo) AddTab(tabs, p.CustomTabTitle, tagCustomInfo);
        struct {
            int Id;
            const std::wstring* Text;
            LPARAM Tag;
        } edits[] = {{IDC_EXC_CALLSTACK, p.CallStackText, tagCallStack},
                     {IDC_EXC_REGISTERS, p.RegistersText, tagRegisters},
                     {IDC_EXC_CUSTOMINFO, p.CustomInfoText, tagCustomInfo}};
        for (auto& e : edits) {
            HWND edit = GetDlgItem(dlg, e.Id);
            SetWindowTextW(edit, e.Text ? e.Text->c_str() : L"");
            if (s->Font) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(s->Font.Get()), FALSE);
            SetWindowLongPtrW(edit, GWLP_USERDATA, e.Tag);
        }
        SelectTab(dlg, 0);
    } else {
        ShowWindow(GetDlgItem(dlg, IDC_EXC_DETAILS), SW_HIDE);
        for (int id : {IDC_EXC_CALLSTACK, IDC_EXC_REGISTERS, IDC_EXC_CUSTOMINFO})
            ShowWindow(GetDlgItem(dlg, id), SW_HIDE);
        s->Expanded = 0;
        SetFocus(GetDlgItem(dlg, IDC_EXC_OK));
    }
    RECT window{}, tab{};
    GetWindowRect(dlg, &window);
    GetWindowRect(tabs, &tab);
    s->Width = window.right - window.left;
    s->ExpandedHeight = window.bottom - window.top;
    s->CompactHeight = tab.top - window.top;
    ShowWindow(GetDlgItem(dlg, IDC_EXC_TERMINATE), (p.Flags & cDlgFlagTerminate) ? SW_SHOW : SW_HIDE);
    SetWindowTextW(dlg, p.Title.c_str());
    SetDlgItemTextW(dlg, IDC_EXC_MESSAGE, p.Message.c_str());
    ApplyState(dlg, *s);
}

INT_PTR DialogMessage(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG:
            InitDialog(dlg, *reinterpret_cast<const TExceptionDialogParams*>(lp));
            return FALSE;  // focus is placed by the tab selection
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDC_EXC_OK:
                case IDCANCEL: EndDialog(dlg, cDlgResultOk); return TRUE;
                case IDC_EXC_TERMINATE: EndDialog(dlg, cDlgResultTerminate); return TRUE;
                case IDC_EXC_DETAILS:
                    if (TDialogState* s = StateOf(dlg)) {
                        s->Expanded = s->Expanded ? 0 : 1;
                        ApplyState(dlg, *s);
                    }
                    return TRUE;
            }
            break;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lp);
            if (header->idFrom == IDC_EXC_TABS && header->code == TCN_SELCHANGE) {
                SelectTab(dlg, TabCtrl_GetCurSel(header->hwndFrom));
                return TRUE;
            }
            break;
        }
        case WM_DESTROY:
            if (TDialogState* s = StateOf(dlg)) {
                delete s;  // and its font
                SetWindowLongPtrW(dlg, DWLP_USER, 0);
            }
            break;
    }
    return FALSE;
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    return rtl::TryResult<INT_PTR>(FALSE, [&] { return DialogMessage(dlg, msg, wp, lp); });
}

}  // namespace

int32_t ShowExceptionDialog(const std::wstring& title, const std::wstring& message, const std::wstring& customTabTitle,
                            uint32_t flags, HICON icon, HWND owner, const rtl::TStringList* customInfo,
                            const rtl::TStringList* registers, const rtl::TStringList* callStack) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);
    std::wstring callStackText = callStack ? callStack->Text() : std::wstring();
    std::wstring registersText = registers ? registers->Text() : std::wstring();
    std::wstring customText = customInfo ? customInfo->Text() : std::wstring();
    TExceptionDialogParams params{title,
                                  message,
                                  callStack ? &callStackText : nullptr,
                                  registers ? &registersText : nullptr,
                                  customInfo ? &customText : nullptr,
                                  customTabTitle,
                                  icon,
                                  flags};
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_EXCEPTION_DIALOG), owner,
                                     &DialogProc, reinterpret_cast<LPARAM>(&params));
    return result == cDlgResultTerminate ? cDlgResultTerminate : cDlgResultOk;
}

}  // namespace crash
