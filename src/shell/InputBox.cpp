#include "shell/InputBox.h"

#include <vector>

#include "rtl/Try.h"

namespace shell {

namespace {

constexpr int kPromptId = 100;
constexpr int kEditId = 101;

struct TInputData {
    const std::wstring* Caption;
    const std::wstring* Prompt;
    std::wstring Value;
};

// Builds a DLGTEMPLATE with DS_SETFONT and its items in a WORD buffer; every
// item starts on a DWORD boundary as the dialog manager requires.
class TTemplateBuilder {
public:
    TTemplateBuilder(DWORD style, short cx, short cy, int items) {
        AddDword(style);
        AddDword(0);  // extended style
        Add(static_cast<WORD>(items));
        Add(0), Add(0), Add(static_cast<WORD>(cx)), Add(static_cast<WORD>(cy));
        Add(0), Add(0), Add(0);  // no menu, default class, empty title
        Add(8);                  // point size, then the face name
        AddText(L"MS Shell Dlg");
    }
    // `classAtom`: 0x0080 button, 0x0081 edit, 0x0082 static.
    void AddItem(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const wchar_t* text) {
        if (FWords.size() % 2) Add(0);
        AddDword(style | WS_CHILD | WS_VISIBLE);
        AddDword(0);
        Add(static_cast<WORD>(x)), Add(static_cast<WORD>(y)), Add(static_cast<WORD>(cx)), Add(static_cast<WORD>(cy));
        Add(id);
        Add(0xFFFF), Add(classAtom);
        AddText(text);
        Add(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(FWords.data()); }

private:
    void Add(WORD w) { FWords.push_back(w); }
    void AddDword(DWORD d) { Add(LOWORD(d)), Add(HIWORD(d)); }
    void AddText(const wchar_t* s) {
        while (*s) Add(static_cast<WORD>(*s++));
        Add(0);
    }
    // DWORD-aligned storage: the vector's buffer comes from operator new.
    std::vector<WORD> FWords;
};

INT_PTR CALLBACK InputDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    return rtl::TryResult<INT_PTR>(FALSE, [&]() -> INT_PTR {
        auto* data = reinterpret_cast<TInputData*>(GetWindowLongPtrW(dlg, DWLP_USER));
        switch (msg) {
            case WM_INITDIALOG:
                data = reinterpret_cast<TInputData*>(lp);
                SetWindowLongPtrW(dlg, DWLP_USER, lp);
                SetWindowTextW(dlg, data->Caption->c_str());
                SetDlgItemTextW(dlg, kPromptId, data->Prompt->c_str());
                SetDlgItemTextW(dlg, kEditId, data->Value.c_str());
                SendDlgItemMessageW(dlg, kEditId, EM_SETSEL, 0, -1);
                SetFocus(GetDlgItem(dlg, kEditId));
                return FALSE;  // the focus was set here
            case WM_COMMAND:
                if (LOWORD(wp) == IDOK && data) {
                    HWND edit = GetDlgItem(dlg, kEditId);
                    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
                    text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
                    data->Value = text;
                    EndDialog(dlg, IDOK);
                    return TRUE;
                }
                if (LOWORD(wp) == IDCANCEL) {
                    EndDialog(dlg, IDCANCEL);
                    return TRUE;
                }
                break;
        }
        return FALSE;
    });
}

}  // namespace

bool InputQuery(HWND owner, const std::wstring& caption, const std::wstring& prompt, std::wstring& value) {
    TTemplateBuilder tpl(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 180, 62, 4);
    tpl.AddItem(SS_LEFT | SS_NOPREFIX, 7, 6, 166, 8, kPromptId, 0x0082, L"");
    tpl.AddItem(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 17, 166, 12, kEditId, 0x0081, L"");
    tpl.AddItem(BS_DEFPUSHBUTTON | WS_TABSTOP, 67, 40, 50, 14, IDOK, 0x0080, L"OK");
    tpl.AddItem(BS_PUSHBUTTON | WS_TABSTOP, 123, 40, 50, 14, IDCANCEL, 0x0080, L"Cancel");
    TInputData data{&caption, &prompt, value};
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), tpl.Get(), owner, InputDialogProc,
                                             reinterpret_cast<LPARAM>(&data));
    if (result != IDOK) return false;
    value = data.Value;
    return true;
}

std::wstring InputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                      const std::wstring& defaultValue) {
    std::wstring value = defaultValue;
    return InputQuery(owner, caption, prompt, value) ? value : defaultValue;
}

}  // namespace shell
