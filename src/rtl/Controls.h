// The GUI framework's components: named, owned components and windowed
// controls that wrap a window handle and list their children. Forms are
// top-level windowed controls whose window procedure runs every message in a
// catching scope and hands escaping exceptions to the application object.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "rtl/Win.h"

namespace rtl {

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();  // destroys the components it owns, newest first
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    virtual std::wstring ClassName() const { return L"TComponent"; }
    const std::wstring& Name() const { return FName; }
    void SetName(std::wstring name) { FName = std::move(name); }
    TComponent* Owner() const { return FOwner; }
    const std::vector<TComponent*>& Components() const { return FComponents; }

private:
    TComponent* FOwner;
    std::wstring FName;
    std::vector<TComponent*> FComponents;
};

class TWinControl : public TComponent {
public:
    TWinControl(TComponent* owner, TWinControl* parent);
    ~TWinControl() override;

    std::wstring ClassName() const override { return L"TWinControl"; }
    HWND Handle() const { return FHandle; }
    TWinControl* Parent() const { return FParent; }
    const std::vector<TWinControl*>& Controls() const { return FControls; }

    std::wstring Text() const;
    void SetText(const std::wstring& text);
    RECT BoundsRect() const;  // in the parent's client coordinates (screen for top level)
    void SetBounds(int left, int top, int width, int height);
    bool Visible() const;
    void SetVisible(bool visible);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    void SetFocus();
    // The control's identifier among its siblings (GetDlgItem, WM_COMMAND).
    int Id() const;
    void SetId(int id);
    // The font the control draws its text with; the caller keeps it alive.
    void SetFont(HFONT font);

    // The control that wraps `wnd`, or null.
    static TWinControl* FromHandle(HWND wnd);

    // Called by the parent form for WM_COMMAND and WM_NOTIFY sent on behalf
    // of this control.
    virtual void Command(WORD /*code*/) {}
    virtual LRESULT Notify(NMHDR* /*header*/) { return 0; }

protected:
    // Takes ownership of a window created for this control.
    void AttachHandle(HWND wnd);
    // Creates a child window of a system class inside the parent.
    void CreateChild(const wchar_t* windowClass, const std::wstring& text, DWORD style, DWORD exStyle, int x, int y,
                     int w, int h);

private:
    TWinControl* FParent;
    HWND FHandle = nullptr;
    std::vector<TWinControl*> FControls;
};

class TButton : public TWinControl {
public:
    TButton(TWinControl* parent, const std::wstring& text, int x, int y, int w, int h, bool isDefault = false);
    std::wstring ClassName() const override { return L"TButton"; }
    void Command(WORD code) override;
    std::function<void()> OnClick;
};

class TEdit : public TWinControl {
public:
    TEdit(TWinControl* parent, const std::wstring& text, int x, int y, int w, int h, DWORD extraStyle = 0);
    std::wstring ClassName() const override { return L"TEdit"; }
    void Command(WORD code) override;
    std::function<void()> OnChange;
};

class TLabel : public TWinControl {
public:
    // `mnemonic`: an '&' in the text underlines the next letter, and Alt with
    // that letter moves the focus to the control that follows the label.
    TLabel(TWinControl* parent, const std::wstring& text, int x, int y, int w, int h, bool mnemonic = false);
    std::wstring ClassName() const override { return L"TLabel"; }
};

class TForm : public TWinControl {
public:
    // Creates a hidden top-level window of `clientWidth` x `clientHeight`
    // and registers the form with the screen.
    TForm(TComponent* owner, const std::wstring& caption, int clientWidth, int clientHeight);
    ~TForm() override;
    std::wstring ClassName() const override { return L"TForm"; }

    void Show();
    void Close();  // closes the window; closing the main form ends the application

    // Keyboard shortcuts of the form's menu commands, translated by the
    // application's message loop before dialog navigation; the form owns
    // the table from here on.
    HACCEL Accelerators() const { return FAccelerators; }
    void SetAccelerators(HACCEL table);

    std::function<void()> OnClose;

protected:
    // Messages of the form's window; the default handles activation,
    // closing, and commands and notifications from child controls.
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DefaultHandler(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK StaticWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    HACCEL FAccelerators = nullptr;
};

}  // namespace rtl
