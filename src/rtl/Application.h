// The GUI framework's application object and screen. The framework's own
// start-up (FormsStartup) creates both before any module of the program
// starts; FormsShutdown destroys them after the last one has shut down.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "rtl/Controls.h"
#include "rtl/Exception.h"

namespace rtl {

class TApplication : public TComponent {
public:
    TApplication();  // creates the hidden application window
    ~TApplication() override;
    std::wstring ClassName() const override { return L"TApplication"; }

    HWND Handle() const { return FHandle; }
    const std::wstring& Title() const { return FTitle; }
    void SetTitle(const std::wstring& title);

    void Initialize() {}
    // Registers `form` (create it with the application as owner); the first
    // registered form becomes the main form.
    void CreateForm(TForm* form);
    TForm* MainForm() const { return FMainForm; }
    bool ShowMainForm = true;

    // Shows the main form (when ShowMainForm) and runs the message loop until
    // Terminate is called or WM_QUIT arrives.
    void Run();
    void Terminate();
    bool Terminated() const { return FTerminated; }
    // Dispatches every waiting message and returns when the queue is empty.
    void ProcessMessages();
    // The window that is active in this thread (GetActiveWindow).
    HWND ActiveWindow() const;

    // The application-wide handling of an exception that escaped a message
    // handler: silent aborts are ignored; otherwise OnException when it is
    // set, else ShowException.
    void HandleException(Exception& e);
    // HandleException for callers that nothing may escape from (window
    // procedures, the loop): an exception raised while handling is handled
    // once more the same way (so a reporting step can see that it failed),
    // and one raised during that goes to the last-chance display.
    void HandleExceptionGuarded(Exception& e);
    // Shows `e` to the user in a message box titled with the application
    // title. Replaced in memory by the exception manager while it is
    // enabled, so it is a plain (thiscall) member function that is never
    // inlined.
    void ShowException(Exception* e);
    std::function<void(Exception&)> OnException;

private:
    bool ProcessMessage(MSG& msg);
    HWND FHandle = nullptr;
    std::wstring FTitle;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
};

class TScreen {
public:
    // Forms in the order they were created.
    const std::vector<TForm*>& Forms() const { return FForms; }
    TForm* ActiveForm() const;
    TWinControl* ActiveControl() const;

    void AddForm(TForm* form);
    void RemoveForm(TForm* form);

private:
    std::vector<TForm*> FForms;
};

extern TApplication* Application;
extern TScreen* Screen;

void FormsStartup();
void FormsShutdown();

// The address of TApplication::ShowException as plain code.
void* AppShowExceptionAddress();

}  // namespace rtl
