#include "app/MainForm.h"

#include <algorithm>

#include "rtl/FilePath.h"
#include "rtl/Win.h"

#include <commdlg.h>
#include <shellapi.h>

#include "app/MainFormIds.h"
#include "app/MainLayout.h"
#include "app/SafeFileName.h"
#include "app/SendMemory.h"
#include "app/WindowPlacement.h"
#include "config/GlobalProxySettings.h"
#include "config/UfrmOnlineUpdateSetup.h"
#include "crash/ZudAvizi.h"
#include "env/DiagPaths.h"
#include "env/Version.h"
#include "rtl/Application.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "rtl/WindowScale.h"
#include "shell/ShellFolderDialog.h"
#include "support/BackgroundSend.h"
#include "support/UploadFiles.h"

namespace app {

namespace {

const UINT WM_SELFTEST = WM_APP + 1;

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

}  // namespace

TMainForm::TMainForm(rtl::TComponent* owner, TSelfTest selfTest)
    // Sized once the menu bar exists, below.
    : TForm(owner, kMainWindowTitle, 1, 1), FSelfTest(selfTest), FDpi(rtl::ScreenDpi()) {
    SetName(L"frmMain");
    if (selfTest == TSelfTest::CreateRaise) FireSelfTest(selfTest);
    FFont.Reset(rtl::CreateWindowFont(FDpi));
    FFolderDialog = new shell::TShellFolderDialog(this);
    FFolderDialog->SetName(L"FolderDialog");
    CreateMenus();
    const SIZE frame = rtl::WindowSizeFor(Handle(), MainDefaultClientSize(FDpi));
    SetWindowPos(Handle(), nullptr, 0, 0, frame.cx, frame.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CreateControls();
    int show = SW_SHOWNORMAL;
    const SIZE min = rtl::WindowSizeFor(Handle(), MainMinimumClientSize(FDpi));
    if (RestoreWindowPlacement(Handle(), min.cx, min.cy, show)) FStartMaximized = show == SW_SHOWMAXIMIZED;
    Layout();
    FHasLastSend = ReadLastSendTime(FLastSend);
    const TDraft draft = ReadDraft();
    FDescription->SetText(draft.Description);
    FContact->SetText(draft.Contact);
    RefreshFiles();
    SetStatus(L"Choose the files to send, describe what happened and press Send.");
    UpdateButtons();
    DragAcceptFiles(Handle(), TRUE);
    if (FiresInMessageLoop(selfTest)) PostMessageW(Handle(), WM_SELFTEST, 0, 0);
}

TMainForm::~TMainForm() = default;

void TMainForm::CreateControls() {
    // Creation order is the tab order.
    auto label = [&](int id, const wchar_t* text, bool mnemonic) {
        auto* l = new rtl::TLabel(this, text, 0, 0, 10, 10, mnemonic);
        l->SetId(id);
        return l;
    };
    auto button = [&](int id, const wchar_t* text, bool isDefault = false) {
        auto* b = new rtl::TButton(this, text, 0, 0, 10, 10, isDefault);
        b->SetId(id);
        return b;
    };
    FFilesLabel = label(idFilesLabel, L"Fi&les to send (checked files are sent):", true);
    FFileList = new rtl::TListView(this, 0, 0, 10, 10, true);
    FFileList->SetId(idFileList);
    FFileList->SetName(L"FileList");
    const rtl::TDesignScale scale(FDpi);
    FFileList->AddColumn(L"Name", scale.S(230));
    FFileList->AddColumn(L"Size", scale.S(80), true);
    FFileList->AddColumn(L"Modified", scale.S(120));
    FFileList->AddColumn(L"Folder", scale.S(200));
    FFileList->OnKeyDown = [this](WORD key) {
        if (key == VK_DELETE) RemoveSelected();
    };
    FFileList->OnOpen = [this](int index) { OpenListed(index); };
    FFileList->SetOpenOnEnter();
    FFileList->OnChange = [this] {
        UpdateButtons();
        ShowTotal();
    };
    FAddFiles = button(idAddFiles, L"&Add files...");
    FAddFiles->OnClick = [this] { ChooseFiles(); };
    FAddFolder = button(idAddFolder, L"Add f&older...");
    FAddFolder->OnClick = [this] { ChooseFolder(); };
    FRemove = button(idRemove, L"&Remove");
    FRemove->OnClick = [this] { RemoveSelected(); };
    FRefresh = button(idRefresh, L"R&efresh");
    FRefresh->OnClick = [this] { RefreshFiles(); };

    FDescriptionLabel = label(idDescriptionLabel, L"&Description (what were you doing when it happened?):", true);
    FDescription = new rtl::TEdit(this, L"", 0, 0, 10, 10, ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL);
    FDescription->SetId(idDescription);
    FDescription->SetName(L"Description");
    FContactLabel = label(idContactLabel, L"&Contact (e-mail):", true);
    FContact = new rtl::TEdit(this, L"", 0, 0, 10, 10);
    FContact->SetId(idContact);
    FContact->SetName(L"Contact");
    label(idAddedFieldsLabel, L"Also sent:", false);
    label(idAddedFields, support::DescribeAddedFields(support::kSupportProgramName).c_str(), false);
    FEndpointLabel = label(idEndpointLabel, L"Server:", false);
    FEndpoint = label(idEndpoint, L"", false);
    SetWindowLongW(FEndpoint->Handle(), GWL_STYLE, GetWindowLongW(FEndpoint->Handle(), GWL_STYLE) | SS_PATHELLIPSIS);
    FProxy = button(idProxy, L"&Proxy...");
    FProxy->OnClick = [this] { ShowProxyDialog(); };

    FProgress = new rtl::TProgressBar(this, 0, 0, 10, 10);
    FProgress->SetId(idProgress);
    FStatus = label(idStatus, L"", false);
    FStatus->SetName(L"Status");

    FAnswerLabel = label(idAnswerLabel, L"Ans&wer from the server:", true);
    FAnswer =
        new rtl::TEdit(this, L"", 0, 0, 10, 10, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL);
    FAnswer->SetId(idAnswer);
    FAnswer->SetName(L"Answer");
    SendMessageW(FAnswer->Handle(), EM_SETLIMITTEXT, 0, 0);
    FSaveAnswer = button(idSaveAnswer, L"Sa&ve answer...");
    FSaveAnswer->OnClick = [this] { SaveAnswer(); };

    FSend = button(idSend, L"&Send", true);
    FSend->OnClick = [this] { Send(); };
    FCancel = button(idCancel, L"Cancel");
    FCancel->OnClick = [this] {
        if (FSending) {
            FCancelRequested = true;
            SetStatus(L"Cancelling...");
        }
    };
    for (rtl::TWinControl* c : Controls()) c->SetFont(FFont.Get());
}

void TMainForm::CreateMenus() {
    rtl::ScopedMenu bar(CreateMenu());
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, cmAddFiles, L"&Add files...\tCtrl+O");
    AppendMenuW(file, MF_STRING, cmAddFolder, L"Add f&older...");
    AppendMenuW(file, MF_STRING, cmRefresh, L"R&efresh\tF5");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, cmSaveAnswer, L"Sa&ve answer...\tCtrl+S");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, cmExit, L"E&xit");
    AppendMenuW(bar.Get(), MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");

    HMENU tools = CreatePopupMenu();
    AppendMenuW(tools, MF_STRING, cmSend, L"&Send\tCtrl+Enter");
    AppendMenuW(tools, MF_STRING, cmProxy, L"&Proxy settings...");
    AppendMenuW(tools, MF_SEPARATOR, 0, nullptr);
    HMENU selfTests = CreatePopupMenu();
    const auto& tests = SelfTests();
    for (size_t i = 0; i < tests.size(); ++i) {
        std::wstring text = tests[i].Description;
        if (!text.empty()) text[0] = static_cast<wchar_t>(towupper(text[0]));
        AppendMenuW(selfTests, MF_STRING, cmSelfTestFirst + i, text.c_str());
    }
    AppendMenuW(tools, MF_POPUP, reinterpret_cast<UINT_PTR>(selfTests), L"Crash &self-test (ends the program)");
    AppendMenuW(bar.Get(), MF_POPUP, reinterpret_cast<UINT_PTR>(tools), L"&Tools");

    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, cmAbout, L"&About Orvex Diagnostics...");
    AppendMenuW(bar.Get(), MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    if (SetMenu(Handle(), bar.Get())) bar.Take();  // the window destroys its menu

    ACCEL keys[] = {
        {FCONTROL | FVIRTKEY, 'O', static_cast<WORD>(cmAddFiles)},
        {FVIRTKEY, VK_F5, static_cast<WORD>(cmRefresh)},
        {FCONTROL | FVIRTKEY, 'S', static_cast<WORD>(cmSaveAnswer)},
        {FCONTROL | FVIRTKEY, VK_RETURN, static_cast<WORD>(cmSend)},
    };
    SetAccelerators(CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys))));
}

void TMainForm::Layout() {
    RECT rc;
    GetClientRect(Handle(), &rc);
    if (rc.right <= 0 || rc.bottom <= 0) return;  // minimised
    rtl::ApplyLayout(Handle(), ComputeMainLayout(rc.right, rc.bottom, FDpi));
}

// --- the file list ---

void TMainForm::RefreshFiles() {
    std::wstring folder;
    rtl::Try([&] { folder = env::GetDiagFolder(); }, rtl::OnAny([&](rtl::Exception& e) {
                 SetStatus(L"The diagnostic folder is not available: " + e.Message);
             }));
    FFolderFiles = ListFolderFiles(folder);
    // Added files that are gone are dropped; the others show their current size.
    std::vector<TDiagFile> added;
    for (const TDiagFile& f : FAddedFiles) {
        TDiagFile now;
        if (ReadDiagFile(f.Path, now)) added.push_back(now);
    }
    FAddedFiles = std::move(added);
    RecordChoices();
    FillList();
    UpdateEndpoint();
}

bool TMainForm::CheckedByDefault(const TDiagFile& file) const {
    return !FHasLastSend || CompareFileTime(&file.Modified, &FLastSend) > 0;
}

void TMainForm::SetChoice(const std::wstring& path, bool checked, bool byDefault) {
    FChoices.erase(std::remove_if(FChoices.begin(), FChoices.end(), [&](auto& c) { return SamePath(c.first, path); }),
                   FChoices.end());
    if (checked != byDefault) FChoices.emplace_back(path, checked);
}

void TMainForm::RecordChoices() {
    for (int i = 0; i < FFileList->Count(); ++i) {
        const TDiagFile& f = FListed[static_cast<size_t>(FFileList->ItemData(i))];
        SetChoice(f.Path, FFileList->Checked(i), CheckedByDefault(f));
    }
}

void TMainForm::FillList() {
    FListed.clear();
    for (const TDiagFile& f : FAddedFiles) FListed.push_back(f);
    for (const TDiagFile& f : FFolderFiles)
        if (std::none_of(FListed.begin(), FListed.end(), [&](auto& g) { return SamePath(g.Path, f.Path); }))
            FListed.push_back(f);
    // Newest first over both kinds, so a file just added or a fresh crash report is on top.
    std::stable_sort(FListed.begin(), FListed.end(), [](const TDiagFile& a, const TDiagFile& b) {
        return CompareFileTime(&a.Modified, &b.Modified) > 0;
    });
    FFileList->Clear();
    for (size_t i = 0; i < FListed.size(); ++i) {
        const TDiagFile& f = FListed[i];
        const int index = FFileList->AddItem(
            {f.Name, support::FormatByteSize(f.Size), FormatFileTime(f.Modified), rtl::ExtractFilePath(f.Path)},
            static_cast<LPARAM>(i));
        auto choice =
            std::find_if(FChoices.begin(), FChoices.end(), [&](auto& c) { return SamePath(c.first, f.Path); });
        FFileList->SetChecked(index, choice != FChoices.end() ? choice->second : CheckedByDefault(f));
    }
    UpdateButtons();
    ShowTotal();
}

void TMainForm::ShowTotal() {
    if (!FFilesLabel) return;
    // The files' own sizes: what large logs compress to is known only once
    // they are compressed, which is too slow for every click on a check box.
    // The send's progress then shows the size that goes out.
    uint64_t total = 0;
    int checked = 0;
    bool compressible = false;
    for (int i = 0; i < FFileList->Count(); ++i)
        if (FFileList->Checked(i)) {
            const TDiagFile& f = FListed[static_cast<size_t>(FFileList->ItemData(i))];
            total += f.Size;
            compressible = compressible || support::MayGoCompressed(f.Path, f.Size);
            ++checked;
        }
    FFilesLabel->SetText(rtl::Format(L"Fi&les to send: %d of %d checked, %ls%ls", checked, FFileList->Count(),
                                     support::FormatByteSize(total).c_str(),
                                     compressible ? L" before compression" : L""));
}

void TMainForm::OpenListed(int index) {
    const std::wstring& path = FListed[static_cast<size_t>(FFileList->ItemData(index))].Path;
    // A type with no program of its own opens in Notepad when it is text,
    // else with the program the user picks.
    auto started = [&](const wchar_t* verb, const std::wstring& file, const wchar_t* parameters) {
        return reinterpret_cast<INT_PTR>(
                   ShellExecuteW(Handle(), verb, file.c_str(), parameters, nullptr, SW_SHOWNORMAL)) > 32;
    };
    if (started(nullptr, path, nullptr)) return;
    // Logs and reports of our own kinds are text that Notepad shows.
    const std::wstring quoted = L"\"" + path + L"\"";
    if (support::ContentTypeOf(path) == "text/plain" && started(nullptr, L"notepad.exe", quoted.c_str())) return;
    if (!started(L"openas", path, nullptr)) SetStatus(L"There is no program to show " + path + L".");
}

void TMainForm::KeepDraft() { WriteDraft(TDraft{FDescription->Text(), FContact->Text()}); }

void TMainForm::AddFiles(const std::vector<std::wstring>& paths) {
    RecordChoices();
    int skipped = 0;
    for (const std::wstring& path : paths) {
        TDiagFile f;
        if (!ReadDiagFile(path, f)) {
            ++skipped;
            continue;
        }
        // Added to be sent: checked, whatever its age.
        SetChoice(path, true, CheckedByDefault(f));
        if (std::none_of(FAddedFiles.begin(), FAddedFiles.end(), [&](auto& g) { return SamePath(g.Path, path); }))
            FAddedFiles.push_back(f);
    }
    FillList();
    if (skipped) SetStatus(rtl::Format(L"%d of the chosen items are not files and were not added.", skipped));
}

std::vector<std::wstring> TMainForm::CheckedFiles() const {
    std::vector<std::wstring> files;
    for (int i = 0; i < FFileList->Count(); ++i)
        if (FFileList->Checked(i)) files.push_back(FListed[static_cast<size_t>(FFileList->ItemData(i))].Path);
    return files;
}

void TMainForm::ChooseFiles() {
    std::vector<wchar_t> buffer(65536, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = Handle();
    ofn.lpstrFilter =
        L"All files (*.*)\0*.*\0"
        L"Logs, reports and minidumps (*.log;*.txt;*.errlog;*.dmp)\0*.log;*.txt;*.errlog;*.dmp\0";
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrTitle = L"Add files";
    ofn.lpstrInitialDir = FLastFolder.empty() ? nullptr : FLastFolder.c_str();
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn)) {
        if (DWORD error = CommDlgExtendedError())
            SetStatus(rtl::Format(L"The file dialog failed (error %lu).", static_cast<unsigned long>(error)));
        return;
    }
    // One file: its full path. Several: the folder, then the names, each ended by a zero.
    std::vector<std::wstring> parts;
    for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) parts.emplace_back(p);
    std::vector<std::wstring> paths;
    if (parts.size() == 1) {
        paths = parts;
    } else if (parts.size() > 1) {
        std::wstring folder = parts[0];
        if (folder.back() != L'\\') folder += L'\\';
        for (size_t i = 1; i < parts.size(); ++i) paths.push_back(folder + parts[i]);
    }
    if (!paths.empty()) FLastFolder = rtl::ExtractFilePath(paths[0]);
    AddFiles(paths);
}

std::wstring TMainForm::ChooseFolderPath(const std::wstring& title, const std::wstring& start) {
    FFolderDialog->SetTitles(shell::TCaptionList{{L"Default", title}});
    FFolderDialog->SetFolder(start);
    std::wstring chosen;
    rtl::Try(
        [&] {
            if (FFolderDialog->Execute()) chosen = FFolderDialog->Folder();
        },
        rtl::OnAny([&](rtl::Exception& e) { SetStatus(L"The folder dialog failed: " + e.Message); }));
    return chosen;
}

void TMainForm::AddPaths(const std::vector<std::wstring>& paths) {
    std::vector<std::wstring> files;
    for (const std::wstring& path : paths) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            for (const TDiagFile& f : ListFolderFiles(path)) files.push_back(f.Path);
        } else {
            files.push_back(path);
        }
    }
    AddFiles(files);
}

void TMainForm::ChooseFolder() {
    const std::wstring folder = ChooseFolderPath(L"Add the files of a folder", FLastFolder);
    if (folder.empty()) return;
    FLastFolder = folder;
    std::vector<std::wstring> paths;
    for (const TDiagFile& f : ListFolderFiles(folder)) paths.push_back(f.Path);
    if (paths.empty()) {
        SetStatus(L"The folder " + folder + L" holds no files.");
        return;
    }
    AddFiles(paths);
    SetStatus(rtl::Format(L"%d files of %ls added.", static_cast<int>(paths.size()), folder.c_str()));
}

void TMainForm::RemoveSelected() {
    if (FSending) return;
    bool removed = false;
    for (int i = FFileList->Count() - 1; i >= 0; --i) {
        if (!FFileList->Selected(i)) continue;
        const std::wstring path = FListed[static_cast<size_t>(FFileList->ItemData(i))].Path;
        auto gone = [&](std::vector<TDiagFile>& list) {
            list.erase(std::remove_if(list.begin(), list.end(), [&](auto& f) { return SamePath(f.Path, path); }),
                       list.end());
        };
        gone(FAddedFiles);
        gone(FFolderFiles);
        removed = true;
    }
    if (!removed) return;
    RecordChoices();
    FillList();
}

// --- settings ---

void TMainForm::UpdateEndpoint() {
    std::wstring text;
    rtl::Try(
        [&] {
            text = support::GetSupportEndpoint().URL();
            const config::TProxySettings& proxy = config::GetProxySettings();
            text += proxy.Server().empty() ? L"  (direct)"
                                           : L"  (through proxy " + proxy.Server() +
                                                 (proxy.Port() > 0 ? L":" + std::to_wstring(proxy.Port()) : L"") + L")";
        },
        rtl::On<rtl::ERegistryException>(
            [&](rtl::ERegistryException& e) { text = L"(settings unreadable: " + e.Message + L")"; }));
    FEndpoint->SetText(text);
}

void TMainForm::ShowProxyDialog() {
    rtl::Try(
        [&] {
            if (config::ShowOnlineUpdateSetup(Handle()) == IDOK) SetStatus(L"Proxy settings saved.");
        },
        rtl::On<rtl::ERegistryException>([&](rtl::ERegistryException& e) {
            SetStatus(L"The proxy settings could not be read or saved: " + e.Message);
        }));
    UpdateEndpoint();
}

// --- sending ---

void TMainForm::UpdateButtons() {
    const bool idle = !FSending;
    for (rtl::TWinControl* c : {static_cast<rtl::TWinControl*>(FAddFiles), static_cast<rtl::TWinControl*>(FAddFolder),
                                static_cast<rtl::TWinControl*>(FRefresh), static_cast<rtl::TWinControl*>(FProxy),
                                static_cast<rtl::TWinControl*>(FDescription), static_cast<rtl::TWinControl*>(FContact),
                                static_cast<rtl::TWinControl*>(FFileList)})
        if (c) c->SetEnabled(idle);
    if (FRemove) FRemove->SetEnabled(idle && FFileList && FFileList->Count() > 0);
    if (FSend) FSend->SetEnabled(idle);
    if (FSaveAnswer) FSaveAnswer->SetEnabled(CanSaveAnswer());
    if (FCancel) FCancel->SetEnabled(FSending);
    if (HMENU menu = GetMenu(Handle())) {
        const UINT state = MF_BYCOMMAND | (idle ? MF_ENABLED : MF_GRAYED);
        for (int id : {cmAddFiles, cmAddFolder, cmRefresh, cmProxy, cmSend}) EnableMenuItem(menu, id, state);
        EnableMenuItem(menu, cmSaveAnswer, MF_BYCOMMAND | (CanSaveAnswer() ? MF_ENABLED : MF_GRAYED));
    }
}

bool TMainForm::CanSaveAnswer() const {
    const bool answered = FLastResult.Outcome == support::TSendOutcome::Delivered ||
                          FLastResult.Outcome == support::TSendOutcome::Rejected;
    return !FSending && answered && !FLastResult.Body.empty();
}

void TMainForm::SetStatus(const std::wstring& text) {
    if (FStatus) FStatus->SetText(text);
}

void TMainForm::Send() {
    if (FSending) return;
    support::TSupportPackage package;
    package.Description = FDescription->Text();
    package.Contact = FContact->Text();
    package.Files = CheckedFiles();
    if (package.Files.empty() && package.Description.find_first_not_of(L" \t\r\n") == std::wstring::npos) {
        SetStatus(L"Nothing to send: check at least one file or write a description.");
        FDescription->SetFocus();
        return;
    }
    UpdateEndpoint();
    FSending = true;
    FCancelRequested = false;
    FLastResult = support::TSendResult();
    FAnswer->SetText(L"");
    FProgress->SetProgress(0, 1000);
    SetStatus(L"Connecting to the server...");
    UpdateButtons();
    FCancel->SetFocus();

    support::TBackgroundSend sender;
    sender.OnProgress = [this](const support::TSendProgress& p) {
        const int permille = p.Total ? static_cast<int>(p.Sent * 1000 / p.Total) : 0;
        FProgress->SetProgress(permille, 1000);
        if (!FCancelRequested)
            SetStatus((p.Compressing ? L"Compressing " : L"Sending ") + p.FileName + L": " +
                      support::FormatProgress(p));
    };
    sender.IsCancelled = [this] { return FCancelRequested; };
    FILETIME started{};
    GetSystemTimeAsFileTime(&started);
    FLastResult = sender.Run(package);
    FSending = false;
    if (FLastResult.Outcome == support::TSendOutcome::Delivered) {
        // What was listed has been sent: from now on only newer files are
        // checked, and the description went with it.
        FLastSend = started;
        FHasLastSend = true;
        WriteLastSendTime(started);
        FDescription->SetText(L"");
        FChoices.clear();
        FillList();
    }
    KeepDraft();
    ShowResult();
    UpdateButtons();
    if (FCloseAfterSend) {
        FCloseAfterSend = false;
        Close();
        return;
    }
    FSend->SetFocus();
}

void TMainForm::ShowResult() {
    const support::TSendResult& r = FLastResult;
    // The files and the text stay as they are, so trying again is one press.
    FSend->SetText(r.Retryable ? L"&Try again" : L"&Send");
    std::wstring status = r.Message;
    if (r.Outcome == support::TSendOutcome::Delivered || r.Outcome == support::TSendOutcome::Rejected) {
        FProgress->SetProgress(r.Outcome == support::TSendOutcome::Delivered ? 1000 : 0, 1000);
        if (!r.SuggestedFileName.empty()) status += L" Suggested file name: " + rtl::FromUtf8(r.SuggestedFileName);
        FAnswer->SetText(r.Body.empty() ? std::wstring(L"(the answer has no body)") : support::AnswerText(r.Body));
    } else {
        FProgress->SetProgress(0, 1000);
        FAnswer->SetText(r.Detail.empty() ? std::wstring() : L"Technical details: " + r.Detail);
    }
    SetStatus(status);
}

void TMainForm::SaveAnswer() {
    if (!CanSaveAnswer()) return;
    const std::wstring folder = ChooseFolderPath(L"Save the answer in", FLastFolder);
    if (folder.empty()) return;
    const std::wstring path =
        UniqueFilePath(folder, AnswerFileName(FLastResult.SuggestedFileName, FLastResult.Headers));
    rtl::ScopedHandle<rtl::KernelHandleTraits> file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    bool ok = file &&
              WriteFile(file.Get(), FLastResult.Body.data(), static_cast<DWORD>(FLastResult.Body.size()), &written,
                        nullptr) &&
              written == FLastResult.Body.size();
    const DWORD error = ok ? 0 : GetLastError();
    if (file && !ok) {
        file.Reset();
        DeleteFileW(path.c_str());  // no half-written answer is left behind
    }
    if (ok) {
        SetStatus(L"Answer saved as " + path);
    } else {
        SetStatus(L"The answer could not be saved as " + path + L": " + rtl::SysErrorMessage(error));
    }
}

// --- help and self-tests ---

void TMainForm::ShowAbout() {
    std::wstring text = L"Orvex Diagnostics\r\nVersion " + env::GetProgramVersionText() +
                        L"\r\n\r\nSends crash reports and logs to the maker's support.\r\n\r\n";
    if (crash::TZudAvizi* manager = crash::ZudAvizi())
        text += L"Exception manager " + manager->Version() + L"\r\n" + crash::TZudAvizi::About();
    else
        text += L"Exception manager: not installed";
    MessageBoxW(Handle(), text.c_str(), L"About Orvex Diagnostics", MB_OK | MB_ICONINFORMATION);
}

void TMainForm::RunSelfTest(size_t index) {
    const auto& tests = SelfTests();
    if (index >= tests.size()) return;
    const TSelfTest test = tests[index].Test;
    if (FiresInMessageLoop(test) || test == TSelfTest::ThreadRaise) {
        FireSelfTest(test);
        return;
    }
    // These fail before or outside the message loop: only a fresh start of
    // the program can show them.
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring args = std::wstring(L"--selftest=") + tests[index].Name;
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(Handle(), nullptr, exe, args.c_str(), nullptr, SW_SHOWNORMAL)) <= 32)
        SetStatus(L"The self-test could not be started.");
}

void TMainForm::Command(int id) {
    if (FSending && id != cmExit && id != cmAbout) return;
    switch (id) {
        case cmAddFiles: ChooseFiles(); break;
        case cmAddFolder: ChooseFolder(); break;
        case cmRefresh: RefreshFiles(); break;
        case cmSaveAnswer: SaveAnswer(); break;
        case cmExit: Close(); break;
        case cmProxy: ShowProxyDialog(); break;
        case cmSend: Send(); break;
        case cmAbout: ShowAbout(); break;
        default:
            if (id >= cmSelfTestFirst && id < cmSelfTestFirst + static_cast<int>(SelfTests().size()))
                RunSelfTest(static_cast<size_t>(id - cmSelfTestFirst));
    }
}

LRESULT TMainForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SELFTEST: FireSelfTest(FSelfTest); return 0;
        case WM_COMMAND:
            if (lp == 0) {
                Command(LOWORD(wp));
                return 0;
            }
            break;
        case WM_SIZE: Layout(); break;
        case WM_DROPFILES: {
            auto drop = reinterpret_cast<HDROP>(wp);
            std::vector<std::wstring> paths;
            const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < count; ++i) {
                std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
                path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
                paths.push_back(path);
            }
            DragFinish(drop);
            if (!FSending) AddPaths(paths);
            return 0;
        }
        case WM_GETMINMAXINFO: {
            const SIZE min = rtl::WindowSizeFor(Handle(), MainMinimumClientSize(FDpi));
            auto* info = reinterpret_cast<MINMAXINFO*>(lp);
            info->ptMinTrackSize.x = min.cx;
            info->ptMinTrackSize.y = min.cy;
            return 0;
        }
        case WM_SHOWWINDOW:
            if (wp && !FShown) {
                FShown = true;
                if (FStartMaximized) PostMessageW(Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
            }
            break;
        case WM_CLOSE:
            if (FSending) {
                // Stop the transfer first; the window closes once it has ended.
                FCancelRequested = true;
                FCloseAfterSend = true;
                SetStatus(L"Cancelling...");
                return 0;
            }
            SaveWindowPlacement(Handle());
            KeepDraft();
            break;
    }
    return TForm::WndProc(msg, wp, lp);
}

}  // namespace app
