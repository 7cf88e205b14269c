// The program's main window: the files of the diagnostic folder and any the
// user adds, a description and a contact address, the server they go to,
// sending with progress and cancel, and the server's answer, which can be
// saved. Help shows the versions; a menu offers the crash self-tests.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "app/DiagFiles.h"
#include "app/SelfTest.h"
#include "rtl/ComCtrls.h"
#include "rtl/Controls.h"
#include "rtl/ScopedHandle.h"
#include "support/SupportUpload.h"

namespace shell {
class TShellFolderDialog;
}

namespace app {

class TMainForm : public rtl::TForm {
public:
    // `selfTest` names a failure to provoke once the window exists.
    explicit TMainForm(rtl::TComponent* owner, TSelfTest selfTest = TSelfTest::None);
    ~TMainForm() override;
    std::wstring ClassName() const override { return L"TMainForm"; }

    // The resolution the window is laid out for.
    int Dpi() const { return FDpi; }

    // Re-reads the diagnostic folder and the endpoint; files the user added
    // stay in the list.
    void RefreshFiles();
    // Adds files to the list (checked); folders and missing files are skipped.
    void AddFiles(const std::vector<std::wstring>& paths);
    // Adds files and, for folders, the files directly in them (from the
    // command line and from files dropped on the window).
    void AddPaths(const std::vector<std::wstring>& paths);
    // The checked files, in list order.
    std::vector<std::wstring> CheckedFiles() const;
    // Sends the description, contact and checked files on a thread of its
    // own; the window stays live meanwhile and Send returns when done. Once
    // the server accepted them, the files listed then count as sent (new
    // files are checked by default, older ones not) and the description is
    // cleared; until then it is kept for the next run.
    void Send();
    const support::TSendResult& LastResult() const { return FLastResult; }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void CreateControls();
    void CreateMenus();
    void Layout();
    void Command(int id);
    void ChooseFiles();
    void ChooseFolder();
    void RemoveSelected();
    void ShowProxyDialog();
    void SaveAnswer();
    void ShowAbout();
    void RunSelfTest(size_t index);
    void UpdateEndpoint();
    void UpdateButtons();
    void SetStatus(const std::wstring& text);
    // Whether there is a server's answer with a body to save.
    bool CanSaveAnswer() const;
    void ShowResult();
    // Refills the list, each file checked as chosen or by default.
    void FillList();
    // Files are checked by default when they are newer than the last
    // accepted send; the user's checks against that are kept as choices.
    bool CheckedByDefault(const TDiagFile& file) const;
    void SetChoice(const std::wstring& path, bool checked, bool byDefault);
    // Takes the list's current checks as the user's choices.
    void RecordChoices();
    // The count and total size of the checked files, in the list's label.
    void ShowTotal();
    // Shows a listed file in the program the system opens it with.
    void OpenListed(int index);
    // Keeps the description and contact for the next run.
    void KeepDraft();
    std::wstring ChooseFolderPath(const std::wstring& title, const std::wstring& start);

    TSelfTest FSelfTest;
    int FDpi = 96;
    rtl::ScopedFont FFont;
    bool FStartMaximized = false;
    bool FShown = false;

    rtl::TLabel* FFilesLabel = nullptr;
    rtl::TListView* FFileList = nullptr;
    rtl::TButton* FAddFiles = nullptr;
    rtl::TButton* FAddFolder = nullptr;
    rtl::TButton* FRemove = nullptr;
    rtl::TButton* FRefresh = nullptr;
    rtl::TLabel* FDescriptionLabel = nullptr;
    rtl::TEdit* FDescription = nullptr;
    rtl::TLabel* FContactLabel = nullptr;
    rtl::TEdit* FContact = nullptr;
    rtl::TLabel* FEndpointLabel = nullptr;
    rtl::TLabel* FEndpoint = nullptr;
    rtl::TButton* FProxy = nullptr;
    rtl::TProgressBar* FProgress = nullptr;
    rtl::TLabel* FStatus = nullptr;
    rtl::TLabel* FAnswerLabel = nullptr;
    rtl::TEdit* FAnswer = nullptr;
    rtl::TButton* FSaveAnswer = nullptr;
    rtl::TButton* FSend = nullptr;
    rtl::TButton* FCancel = nullptr;
    shell::TShellFolderDialog* FFolderDialog = nullptr;

    std::vector<TDiagFile> FFolderFiles;  // the diagnostic folder at the last refresh
    std::vector<TDiagFile> FAddedFiles;   // added by the user, kept over refreshes
    std::vector<TDiagFile> FListed;       // what the list shows; item data indexes it
    // Files whose check the user set against its default, with that check.
    std::vector<std::pair<std::wstring, bool>> FChoices;
    // When the last send the server accepted began: files older than that
    // are listed unchecked.
    bool FHasLastSend = false;
    FILETIME FLastSend{};

    bool FSending = false;
    bool FCancelRequested = false;
    bool FCloseAfterSend = false;
    support::TSendResult FLastResult;
    std::wstring FLastFolder;
};

}  // namespace app
