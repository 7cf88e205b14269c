#include "rtl/Controls.h"

#include <algorithm>

#include "rtl/Application.h"
#include "rtl/Try.h"

namespace rtl {

namespace {

const wchar_t cControlProp[] = L"QuillfenControl";
const wchar_t cFormClass[] = L"TForm";

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

void RegisterFormClass(WNDPROC proc) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = cFormClass;
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    RegisterClassExW(&wc);
    registered = true;
}

}  // namespace

// --- TComponent ---

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (owner) owner->FComponents.push_back(this);
}

TComponent::~TComponent() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        FComponents.pop_back();
        last->FOwner = nullptr;
        delete last;
    }
    if (FOwner) {
        auto& list = FOwner->FComponents;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

// --- TWinControl ---

TWinControl::TWinControl(TComponent* owner, TWinControl* parent) : TComponent(owner), FParent(parent) {
    if (parent) parent->FControls.push_back(this);
}

TWinControl::~TWinControl() {
    if (FParent) {
        auto& list = FParent->FControls;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    for (TWinControl* child : FControls) child->FParent = nullptr;
    if (FHandle) {
        RemovePropW(FHandle, cControlProp);
        DestroyWindow(FHandle);
    }
}

void TWinControl::AttachHandle(HWND wnd) {
    FHandle = wnd;
    if (wnd) SetPropW(wnd, cControlProp, this);
}

void TWinControl::CreateChild(const wchar_t* windowClass, const std::wstring& text, DWORD style, DWORD exStyle, int x,
                              int y, int w, int h) {
    HWND wnd = CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                               Parent() ? Parent()->Handle() : nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (wnd) SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
    AttachHandle(wnd);
}

TWinControl* TWinControl::FromHandle(HWND wnd) {
    return wnd ? static_cast<TWinControl*>(GetPropW(wnd, cControlProp)) : nullptr;
}

std::wstring TWinControl::Text() const {
    if (!FHandle) return {};
    int n = GetWindowTextLengthW(FHandle);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(FHandle, text.data(), n + 1);
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return text;
}

void TWinControl::SetText(const std::wstring& text) {
    if (FHandle) SetWindowTextW(FHandle, text.c_str());
}

RECT TWinControl::BoundsRect() const {
    RECT r{};
    if (!FHandle) return r;
    GetWindowRect(FHandle, &r);
    if (HWND parent = GetParent(FHandle); parent && (GetWindowLongW(FHandle, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (FHandle) MoveWindow(FHandle, left, top, width, height, TRUE);
}

bool TWinControl::Visible() const { return FHandle && IsWindowVisible(FHandle); }
void TWinControl::SetVisible(bool visible) {
    if (FHandle) ShowWindow(FHandle, visible ? SW_SHOW : SW_HIDE);
}
bool TWinControl::Enabled() const { return FHandle && IsWindowEnabled(FHandle); }
void TWinControl::SetEnabled(bool enabled) {
    if (FHandle) EnableWindow(FHandle, enabled);
}
void TWinControl::SetFocus() {
    if (FHandle) ::SetFocus(FHandle);
}
int TWinControl::Id() const { return FHandle ? GetDlgCtrlID(FHandle) : 0; }
void TWinControl::SetId(int id) {
    if (FHandle) SetWindowLongPtrW(FHandle, GWLP_ID, id);
}
void TWinControl::SetFont(HFONT font) {
    if (FHandle) SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// --- standard controls ---

TButton::TButton(TWinControl* parent, const std::wstring& text, int x, int y, int w, int h, bool isDefault)
    : TWinControl(parent, parent) {
    CreateChild(L"BUTTON", text, WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0, x, y, w, h);
}

void TButton::Command(WORD code) {
    if (code == BN_CLICKED && OnClick) OnClick();
}

TEdit::TEdit(TWinControl* parent, const std::wstring& text, int x, int y, int w, int h, DWORD extraStyle)
    : TWinControl(parent, parent) {
    CreateChild(L"EDIT", text, WS_TABSTOP | ES_AUTOHSCROLL | extraStyle, WS_EX_CLIENTEDGE, x, y, w, h);
}

void TEdit::Command(WORD code) {
    if (code == EN_CHANGE && OnChange) OnChange();
}

TLabel::TLabel(TWinControl* parent, const std::wstring& text, int x, int y, int w, int h, bool mnemonic)
    : TWinControl(parent, parent) {
    CreateChild(L"STATIC", text, SS_LEFT | (mnemonic ? 0 : SS_NOPREFIX), 0, x, y, w, h);
}

// --- TForm ---

TForm::TForm(TComponent* owner, const std::wstring& caption, int clientWidth, int clientHeight)
    : TWinControl(owner, nullptr) {
    RegisterFormClass(&StaticWndProc);
    DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT r{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&r, style, FALSE, WS_EX_CONTROLPARENT);
    HWND wnd =
        CreateWindowExW(WS_EX_CONTROLPARENT, cFormClass, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                        r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    AttachHandle(wnd);
    if (Screen) Screen->AddForm(this);
}

TForm::~TForm() {
    if (Screen) Screen->RemoveForm(this);
    if (FAccelerators) DestroyAcceleratorTable(FAccelerators);
}

void TForm::SetAccelerators(HACCEL table) {
    if (FAccelerators && FAccelerators != table) DestroyAcceleratorTable(FAccelerators);
    FAccelerators = table;
}

void TForm::Show() {
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}

void TForm::Close() { SendMessageW(Handle(), WM_CLOSE, 0, 0); }

LRESULT TForm::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(Handle(), msg, wp, lp); }

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            if (lp) {
                if (TWinControl* c = FromHandle(reinterpret_cast<HWND>(lp))) c->Command(HIWORD(wp));
                return 0;
            }
            break;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lp);
            if (TWinControl* c = FromHandle(header->hwndFrom)) return c->Notify(header);
            break;
        }
        case WM_CLOSE:
            if (OnClose) OnClose();
            ShowWindow(Handle(), SW_HIDE);
            if (Application && Application->MainForm() == this) Application->Terminate();
            return 0;
    }
    return DefaultHandler(msg, wp, lp);
}

LRESULT CALLBACK TForm::StaticWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* form = static_cast<TForm*>(FromHandle(wnd));
    if (!form || form->Handle() != wnd) return DefWindowProcW(wnd, msg, wp, lp);
    // No exception may travel back into the system's frames: one that
    // escapes the form's handling goes to the application.
    LRESULT result = 0;
    Try([&] { result = form->WndProc(msg, wp, lp); }, OnAny([&](Exception& e) {
            if (Application) Application->HandleExceptionGuarded(e);
        }));
    return result;
}

}  // namespace rtl
