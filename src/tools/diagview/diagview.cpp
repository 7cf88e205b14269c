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
#include <algorithm>
#include <string>
#include <vector>

#include "rtl/Win.h"

#include <shellapi.h>

#include "app/BackgroundSend.h"
#include "app/SupportUpload.h"
#include "diagview/CrashReportFile.h"
#include "diagview/DiagViewIds.h"
#include "diagview/SendReport.h"
#include "env/Version.h"
#include "http/httpuploader_messageprocessor_forms.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace {

using namespace diagview;

// What the window was started on.
struct TShownReport {
    std::wstring Path;      // empty when the command line named none
    bool Readable = false;  // the file is a crash report that could be read
    TCrashReport Report;
    std::wstring Text;      // what the report box shows
};

class TViewerForm : public rtl::TForm {
public:
    TViewerForm(rtl::TComponent* owner, const std::wstring& caption, TShownReport shown)
        : rtl::TForm(owner, caption, 760, 720), FShown(std::move(shown)) {
        SetName(L"ViewerForm");
        FText = new rtl::TEdit(this, L"", 0, 0, 10, 10,
                               ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL);
        FText->SetName(L"ReportText");
        FText->SetId(idReportText);
        FFont.Reset(CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New"));
        if (FFont) SendMessageW(FText->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
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
        RECT client{};
        GetClientRect(Handle(), &client);
        Arrange(client.right, client.bottom);
    }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        switch (msg) {
            case WM_SIZE:
                if (FClose) Arrange(LOWORD(lp), HIWORD(lp));
                break;
            case WM_GETMINMAXINFO: {
                // Small enough for any screen, large enough that no control overlaps another.
                RECT r{0, 0, 420, 520};
                AdjustWindowRectEx(&r, GetWindowLongW(Handle(), GWL_STYLE), FALSE,
                                   GetWindowLongW(Handle(), GWL_EXSTYLE));
                auto* info = reinterpret_cast<MINMAXINFO*>(lp);
                info->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
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
    // Report on top; below it the files, the description and contact, the
    // answer, the status line and the buttons, which keep their heights
    // while the report takes what is left.
    void Arrange(int w, int h) {
        const int margin = 8, buttonH = 26, statusH = 20, answerH = 84, labelH = 16, filesH = 52, descriptionH = 48,
                  contactH = 22, contactLabelW = 110;
        const int buttonsY = h - margin - buttonH;
        const int statusY = buttonsY - 6 - statusH;
        const int answerY = statusY - 6 - answerH;
        const int labelY = answerY - 2 - labelH;
        const int contactY = labelY - 8 - contactH;
        const int descriptionY = contactY - 6 - descriptionH;
        const int descriptionLabelY = descriptionY - 2 - labelH;
        const int filesY = descriptionLabelY - 6 - filesH;
        const int filesLabelY = filesY - 2 - labelH;
        const int textH = filesLabelY - 6 - margin;
        const int inner = w - 2 * margin;
        FText->SetBounds(margin, margin, std::max(inner, 0), std::max(textH, 0));
        FFilesLabel->SetBounds(margin, filesLabelY, std::max(inner, 0), labelH);
        FFiles->SetBounds(margin, filesY, std::max(inner, 0), filesH);
        FDescriptionLabel->SetBounds(margin, descriptionLabelY, std::max(inner, 0), labelH);
        FDescription->SetBounds(margin, descriptionY, std::max(inner, 0), descriptionH);
        FContactLabel->SetBounds(margin, contactY + 3, contactLabelW, labelH);
        FContact->SetBounds(margin + contactLabelW, contactY, std::max(inner - contactLabelW, 0), contactH);
        FAnswerLabel->SetBounds(margin, labelY, std::max(inner, 0), labelH);
        FAnswer->SetBounds(margin, answerY, std::max(inner, 0), answerH);
        FStatus->SetBounds(margin, statusY, std::max(inner, 0), statusH);
        FSend->SetBounds(margin, buttonsY, 130, buttonH);
        FCancel->SetBounds(margin + 138, buttonsY, 90, buttonH);
        FClose->SetBounds(std::max(w - margin - 90, margin + 236), buttonsY, 90, buttonH);
    }

    std::wstring ReadyText() const {
        std::wstring server;
        rtl::Try([&] { server = app::GetSupportEndpoint().Server; }, rtl::OnAny([](rtl::Exception&) {}));
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
        const app::TSupportPackage package{PackageDescription(contents, FDescription->Text()), FContact->Text(),
                                           contents.Files};

        app::TBackgroundSend sender;
        sender.Program = kViewerTitle;
        sender.OnProgress = [this](const app::TSendProgress& progress) {
            if (!FCancelRequested)
                FStatus->SetText((progress.Compressing ? L"Compressing: " : L"Sending: ") +
                                 app::FormatProgress(progress));
        };
        sender.IsCancelled = [this] { return FCancelRequested; };
        const app::TSendResult result = sender.Run(package);

        std::wstring status = result.Message;
        if (!result.Detail.empty()) status += L" (" + result.Detail + L")";
        FStatus->SetText(status);
        FAnswer->SetText(app::AnswerText(result.Body));
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
    rtl::ScopedFont FFont;
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
