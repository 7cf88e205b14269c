// diagview: the maker's diagnostics program. Started by the crash report
// filter as `diagview -c "report path"`, it shows the crash report readably:
// the program and crash identifier, the message, the call stack, the
// registers, the additional information, the windows and controls and the
// system information. A report that is missing or damaged is not a reason to
// fail: the window says what is wrong and shows what could be read.
#include <string>
#include <vector>

#include "rtl/Win.h"

#include <shellapi.h>

#include "diagview/CrashReportFile.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/ScopedHandle.h"

namespace {

constexpr wchar_t cViewerTitle[] = L"Crash Report Viewer";

struct FontTraits {
    using Handle = HFONT;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
using ScopedFont = rtl::ScopedHandle<FontTraits>;

class TViewerForm : public rtl::TForm {
public:
    TViewerForm(rtl::TComponent* owner, const std::wstring& caption, const std::wstring& text)
        : rtl::TForm(owner, caption, 760, 540) {
        SetName(L"ViewerForm");
        FText = new rtl::TEdit(this, L"", 8, 8, 744, 488,
                               ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL);
        FText->SetName(L"ReportText");
        FFont.Reset(CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New"));
        if (FFont) SendMessageW(FText->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
        // Reports can be longer than an edit control takes by default.
        SendMessageW(FText->Handle(), EM_SETLIMITTEXT, 0, 0);
        FText->SetText(text);
        FClose = new rtl::TButton(this, L"Close", 672, 504, 80, 26, true);
        FClose->SetName(L"CloseButton");
        FClose->OnClick = [this] { Close(); };
    }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == WM_SIZE && FText && FClose) {
            const int w = LOWORD(lp), h = HIWORD(lp);
            FText->SetBounds(8, 8, w > 16 ? w - 16 : 0, h > 52 ? h - 52 : 0);
            FClose->SetBounds(w > 88 ? w - 88 : 0, h > 36 ? h - 36 : 0, 80, 26);
        }
        return rtl::TForm::WndProc(msg, wp, lp);
    }

private:
    rtl::TEdit* FText = nullptr;
    rtl::TButton* FClose = nullptr;
    ScopedFont FFont;
};

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t pos = path.find_last_of(L"\\/:");
    return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return rtl::RunGuarded([] {
        rtl::FormsStartup();
        rtl::Application->Initialize();
        rtl::Application->SetTitle(cViewerTitle);

        std::wstring path, error, caption = cViewerTitle, text;
        diagview::TCrashReport report;
        if (!diagview::ReportPathFromCommandLine(CommandLineArguments(), path, error)) {
            text = error;
        } else if (!diagview::LoadCrashReport(path, report, error)) {
            caption += L" - " + FileNameOf(path);
            text = L"The crash report \"" + path + L"\" cannot be shown.\r\n\r\n" + error;
        } else {
            caption += L" - " + FileNameOf(path);
            text = L"Crash report " + path + L"\r\n\r\n" + diagview::FormatCrashReport(report);
        }
        rtl::Application->CreateForm(new TViewerForm(rtl::Application, caption, text));
        rtl::Application->Run();
        rtl::FormsShutdown();
        return 0;
    });
}
