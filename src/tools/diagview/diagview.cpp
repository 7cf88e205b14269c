// diagview: the maker's diagnostics program. Started by the crash report
// filter as `diagview -c "report path"`, it shows the crash report readably:
// the program and crash identifier, the message, the call stack, the
// registers, the additional information, the windows and controls and the
// system information. A report that is missing or damaged is not a reason to
// fail: the window says what is wrong and shows what could be read.
//
// "Send to support" sends the report (with the minidump and the crashed
// program's error log beside it), the user's description and contact to the
// support server the same way the main program sends its files; the window
// lists those files with their sizes before anything is sent. The window
// stays live while it sends: the status line shows the progress, Cancel or
// Esc ends the upload, and the outcome and the server's answer are shown
// when it is over. No failure of sending ends the viewer.
#include <string>
#include <vector>

#include "rtl/Win.h"

#include <shellapi.h>

#include "diagview/CrashReportFile.h"
#include "diagview/DiagViewIds.h"
#include "diagview/SendReport.h"
#include "diagview/ViewerLayout.h"
#include "env/Version.h"
#include "http/httpuploader_messageprocessor_forms.h"
#include "rtl/FilePath.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "rtl/WindowScale.h"
#include "support/BackgroundSend.h"
#include "support/SupportUpload.h"

namespace {

using namespace diagview;

// What the window was started on.
struct TShownReport {
    std::wstring Path;      // empty when the command line named none
    bool Readable = false;  // the file is a crash report that could be read
    TCrashReport Report;
    std::wstring Text;  // what the report box shows
};

class TViewerForm : public rtl::TForm {
public:
    TViewerForm(rtl::TComponent* owner, const std::wstring& caption, TShownReport shown)
        : TViewerForm(owner, caption, std::move(shown), rtl::ScreenDpi()) {}

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        switch (msg) {
            case WM_SIZE:
                if (FClose && wp != SIZE_MINIMIZED)
                    rtl::ApplyLayout(Handle(), ComputeViewerLayout(LOWORD(lp), HIWORD(lp), FDpi));
                break;
            case WM_GETMINMAXINFO: {
                // Large enough at the screen's resolution that no control overlaps another.
                const SIZE min = rtl::WindowSizeFor(Handle(), ViewerMinimumClientSize(FDpi));
                auto* info = reinterpret_cast<MINMAXINFO*>(lp);
                info->ptMinTrackSize = {min.cx, min.cy};
                return 0;
            }
            case WM_CLOSE:
                // Closing while sending cancels first; the window closes when the upload has ended.
                if (FSending) {
                    FCloseAfterSend = true;
                    RequestCancel();
                    return 0;
                }
                break;
        }
        return rtl::TForm::WndProc(msg, wp, lp);
    }

private:
    // Laid out and lettered for the screen's resolution `dpi`.
    TViewerForm(rtl::TComponent* owner, const std::wstring& caption, TShownReport shown, int dpi)
        : rtl::TForm(owner, caption, ViewerDefaultClientSize(dpi).cx, ViewerDefaultClientSize(dpi).cy),
          FShown(std::move(shown)),
          FDpi(dpi) {
        SetName(L"ViewerForm");
        FText = new rtl::TEdit(this, L"", 0, 0, 10, 10,
                               ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL);
        FText->SetName(L"ReportText");
        FText->SetId(idReportText);
        // Reports can be longer than an edit control takes by default.
        SendMessageW(FText->Handle(), EM_SETLIMITTEXT, 0, 0);
        FText->SetText(FShown.Text);

        // What goes to support: the files, then what the user has to say.
        FFilesLabel = new rtl::TLabel(this, L"Files to send:", 0, 0, 10, 10);
        FFilesLabel->SetId(idFilesLabel);
        FFiles = new rtl::TEdit(this, L"", 0, 0, 10, 10, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL);
        FFiles->SetName(L"FilesText");
        FFiles->SetId(idFiles);
        FDescriptionLabel =
            new rtl::TLabel(this, L"&Description (what were you doing when it happened?):", 0, 0, 10, 10, true);
        FDescriptionLabel->SetId(idDescriptionLabel);
        FDescription =
            new rtl::TEdit(this, L"", 0, 0, 10, 10, ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL);
        FDescription->SetName(L"Description");
        FDescription->SetId(idDescription);
        FContactLabel = new rtl::TLabel(this, L"C&ontact (e-mail):", 0, 0, 10, 10, true);
        FContactLabel->SetId(idContactLabel);
        FContact = new rtl::TEdit(this, L"", 0, 0, 10, 10);
        FContact->SetName(L"Contact");
        FContact->SetId(idContact);
        ShowFiles();

        FAnswerLabel = new rtl::TLabel(this, L"Answer of the support server:", 0, 0, 10, 10);
        FAnswerLabel->SetId(idAnswerLabel);
        FAnswer = new rtl::TEdit(this, L"", 0, 0, 10, 10,
                                 ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL);
        FAnswer->SetName(L"AnswerText");
        FAnswer->SetId(idAnswer);
        SendMessageW(FAnswer->Handle(), EM_SETLIMITTEXT, 0, 0);
        FStatus = new rtl::TLabel(this, L"", 0, 0, 10, 10);
        FStatus->SetName(L"StatusText");
        FStatus->SetId(idStatus);

        FSend = new rtl::TButton(this, L"&Send to support", 0, 0, 10, 10);
        FSend->SetName(L"SendButton");
        FSend->SetId(idSend);
        FSend->OnClick = [this] { SendReport(); };
        FCancel = new rtl::TButton(this, L"Cancel", 0, 0, 10, 10);
        FCancel->SetName(L"CancelButton");
        FCancel->SetId(idCancel);
        FCancel->OnClick = [this] { RequestCancel(); };
        FCancel->SetEnabled(false);
        FClose = new rtl::TButton(this, L"Close", 0, 0, 10, 10, true);
        FClose->SetName(L"CloseButton");
        FClose->SetId(idClose);
        FClose->OnClick = [this] { Close(); };

        FSend->SetEnabled(FShown.Readable);
        FStatus->SetText(FShown.Readable ? ReadyText() : L"There is no crash report to send.");

        FFont.Reset(rtl::CreateWindowFont(FDpi));
        for (rtl::TWinControl* c : Controls()) c->SetFont(FFont.Get());
        FReportFont.Reset(CreateReportFont(FDpi));
        if (FReportFont) FText->SetFont(FReportFont.Get());
        FitOnScreen();
        RECT client{};
        GetClientRect(Handle(), &client);
        rtl::ApplyLayout(Handle(), ComputeViewerLayout(client.right, client.bottom, FDpi));
    }

    // The design size at a high resolution can be more than a small screen
    // holds: the window then takes the work area, down to its minimum.
    void FitOnScreen() {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        if (!GetMonitorInfoW(MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST), &monitor)) return;
        RECT frame{};
        GetWindowRect(Handle(), &frame);
        const SIZE min = rtl::WindowSizeFor(Handle(), ViewerMinimumClientSize(FDpi));
        const RECT fit = rtl::FitToWorkArea(frame, monitor.rcWork, min.cx, min.cy);
        if (!EqualRect(&fit, &frame))
            SetWindowPos(Handle(), nullptr, fit.left, fit.top, fit.right - fit.left, fit.bottom - fit.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
    }

    std::wstring ReadyText() const {
        std::wstring server;
        rtl::Try([&] { server = support::GetSupportEndpoint().Server; }, rtl::OnAny([](rtl::Exception&) {}));
        return server.empty() ? L"Send to support sends this report to Quillfen support."
                              : L"Send to support sends this report to " + server + L".";
    }

    // The files the report would be sent with now, and their sizes.
    void ShowFiles() {
        FFiles->SetText(FShown.Readable ? DescribeFiles(ReportSendContents(FShown.Path, FShown.Report).Files)
                                        : std::wstring(L"(none)"));
    }

    void RequestCancel() {
        if (!FSending || FCancelRequested) return;
        FCancelRequested = true;
        FStatus->SetText(L"Cancelling...");
    }

    void SendReport() {
        if (FSending || !FShown.Readable) return;
        FSending = true;
        FCancelRequested = false;
        FCancel->SetEnabled(true);
        FCancel->SetFocus();  // Esc and Space cancel from here on
        FSend->SetEnabled(false);
        FAnswer->SetText(L"");
        FStatus->SetText(L"Connecting...");
        const TReportSendContents contents = ReportSendContents(FShown.Path, FShown.Report);
        ShowFiles();
        // Taken from the fields, which keep them whatever the outcome, so a
        // failed send can be tried again without writing them anew.
        const support::TSupportPackage package{PackageDescription(contents, FDescription->Text()), FContact->Text(),
                                               contents.Files};

        support::TBackgroundSend sender;
        sender.Program = kViewerTitle;
        sender.OnProgress = [this](const support::TSendProgress& progress) {
            if (!FCancelRequested)
                FStatus->SetText((progress.Compressing ? L"Compressing: " : L"Sending: ") +
                                 support::FormatProgress(progress));
        };
        sender.IsCancelled = [this] { return FCancelRequested; };
        const support::TSendResult result = sender.Run(package);

        std::wstring status = result.Message;
        if (!result.Detail.empty()) status += L" (" + result.Detail + L")";
        FStatus->SetText(status);
        FAnswer->SetText(support::AnswerText(result.Body));
        FSending = false;
        FSend->SetEnabled(true);
        FSend->SetFocus();
        FCancel->SetEnabled(false);
        if (FCloseAfterSend) Close();
    }

    TShownReport FShown;
    rtl::TEdit* FText = nullptr;
    rtl::TLabel* FFilesLabel = nullptr;
    rtl::TEdit* FFiles = nullptr;
    rtl::TLabel* FDescriptionLabel = nullptr;
    rtl::TEdit* FDescription = nullptr;
    rtl::TLabel* FContactLabel = nullptr;
    rtl::TEdit* FContact = nullptr;
    rtl::TLabel* FAnswerLabel = nullptr;
    rtl::TEdit* FAnswer = nullptr;
    rtl::TLabel* FStatus = nullptr;
    rtl::TButton* FSend = nullptr;
    rtl::TButton* FCancel = nullptr;
    rtl::TButton* FClose = nullptr;
    int FDpi = 96;
    rtl::ScopedFont FFont;        // the controls' text
    rtl::ScopedFont FReportFont;  // the report's, fixed pitch
    bool FSending = false;
    bool FCancelRequested = false;
    bool FCloseAfterSend = false;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return rtl::RunGuarded([] {
        rtl::FormsStartup();
        env::InitVersionInfo();
        // Answers are downloaded with the window still repainting.
        http::HTTPUploaderMessageProcessorFormsStartup();
        rtl::Application->Initialize();
        rtl::Application->SetTitle(kViewerTitle);

        std::wstring error, caption = kViewerTitle;
        TShownReport shown;
        if (!ReportPathFromCommandLine(rtl::CommandLineArguments(), shown.Path, error)) {
            shown.Text = error;
        } else if (!LoadCrashReport(shown.Path, shown.Report, error)) {
            caption += L" - " + rtl::ExtractFileName(shown.Path);
            shown.Text = L"The crash report \"" + shown.Path + L"\" cannot be shown.\r\n\r\n" + error;
        } else {
            caption += L" - " + rtl::ExtractFileName(shown.Path);
            shown.Readable = true;
            shown.Text = L"Crash report " + shown.Path + L"\r\n\r\n" + FormatCrashReport(shown.Report);
        }
        rtl::Application->CreateForm(new TViewerForm(rtl::Application, caption, std::move(shown)));
        rtl::Application->Run();
        http::HTTPUploaderMessageProcessorFormsShutdown();
        rtl::FormsShutdown();
        return 0;
    });
}
