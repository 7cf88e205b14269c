#include "rtl/Application.h"

#include <algorithm>
#include <cstring>

#include "rtl/ErrorMessage.h"
#include "rtl/Try.h"

namespace rtl {

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

const wchar_t cAppClass[] = L"TApplication";

LRESULT CALLBACK AppWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    return TryResult<LRESULT>(0, [&] { return DefWindowProcW(wnd, msg, wp, lp); });
}

}  // namespace

TApplication::TApplication() : TComponent(nullptr) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &AppWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cAppClass;
    RegisterClassExW(&wc);
    FHandle = CreateWindowExW(WS_EX_TOOLWINDOW, cAppClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
}

TApplication::~TApplication() {
    FMainForm = nullptr;
    if (FHandle) DestroyWindow(FHandle);
}

void TApplication::SetTitle(const std::wstring& title) {
    FTitle = title;
    if (FHandle) SetWindowTextW(FHandle, title.c_str());
}

void TApplication::CreateForm(TForm* form) {
    if (!FMainForm) FMainForm = form;
}

namespace {
// The accelerator table of the form whose window is `top`, or null.
HACCEL FormAccelerators(HWND top) {
    if (!Screen) return nullptr;
    for (TForm* form : Screen->Forms())
        if (form->Handle() == top) return form->Accelerators();
    return nullptr;
}
}  // namespace

bool TApplication::ProcessMessage(MSG& msg) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top && FormAccelerators(top) && TranslateAcceleratorW(top, FormAccelerators(top), &msg)) return true;
    if (!top || !IsDialogMessageW(top, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (ProcessMessage(msg)) {}
}

void TApplication::Run() {
    if (ShowMainForm && FMainForm) FMainForm->Show();
    while (!FTerminated) {
        Try(
            [&] {
                MSG msg;
                if (!ProcessMessage(msg)) WaitMessage();
            },
            OnAny([&](Exception& e) { HandleExceptionGuarded(e); }));
    }
}

void TApplication::Terminate() {
    FTerminated = true;
    PostQuitMessage(0);
}

HWND TApplication::ActiveWindow() const { return GetActiveWindow(); }

void TApplication::HandleException(Exception& e) {
    if (e.Is<EAbort>()) return;
    if (OnException)
        OnException(e);
    else
        ShowException(&e);
}

void TApplication::HandleExceptionGuarded(Exception& e) {
    Try([&] { HandleException(e); }, OnAny([&](Exception& second) {
            Try([&] { HandleException(second); }, OnAny([&](Exception& third) { rtl_ShowError(&third, nullptr); }));
        }));
}

__attribute__((noipa)) void TApplication::ShowException(Exception* e) {
    std::wstring text = e ? e->Message : std::wstring();
    if (!text.empty() && text.back() != L'.') text += L'.';
    HWND owner = FMainForm && FMainForm->Visible() ? FMainForm->Handle() : FHandle;
    MessageBoxW(owner, text.c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
}

void* AppShowExceptionAddress() {
    void (TApplication::*method)(Exception*) = &TApplication::ShowException;
    void* address = nullptr;
    std::memcpy(&address, &method, sizeof(address));  // non-virtual: the first word is the code address
    return address;
}

// --- TScreen ---

TForm* TScreen::ActiveForm() const {
    HWND active = GetActiveWindow();
    for (TForm* f : FForms)
        if (f->Handle() == active) return f;
    return nullptr;
}

TWinControl* TScreen::ActiveControl() const { return TWinControl::FromHandle(GetFocus()); }

void TScreen::AddForm(TForm* form) { FForms.push_back(form); }

void TScreen::RemoveForm(TForm* form) { FForms.erase(std::remove(FForms.begin(), FForms.end(), form), FForms.end()); }

void FormsStartup() {
    if (!Screen) Screen = new TScreen;
    if (!Application) Application = new TApplication;
}

void FormsShutdown() {
    TApplication* app = Application;
    Application = nullptr;
    delete app;  // destroys the forms it owns
    TScreen* screen = Screen;
    Screen = nullptr;
    delete screen;
}

}  // namespace rtl
