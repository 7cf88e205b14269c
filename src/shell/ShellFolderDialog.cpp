#include "shell/ShellFolderDialog.h"

#include <shlwapi.h>

#include <optional>

#include "env/DiagPaths.h"
#include "rtl/Application.h"
#include "rtl/FilePath.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "shell/InputBox.h"

namespace shell {

namespace {

// Controls of the system browse dialog.
constexpr int kTreeId = 14145;             // the folder tree (classic style)
constexpr int kTitleId = 14146;            // the label caption above the tree
constexpr int kStatusId = 14147;           // the status text, reused as the path label
constexpr int kSystemNewFolderId = 14150;  // the system's own new-folder button (new style)
const wchar_t kNameSpaceControlClass[] = L"SHBrowseForFolder ShellNameSpace Control";

constexpr int kOwnNewFolderId = 255;
// Posted to the dialog itself after it was moved or restored: the position
// is remembered and the path label redrawn once the move is complete.
constexpr UINT kRepositionedMessage = 6657;
// Posted to the dialog itself to select the target of a chosen shortcut.
constexpr UINT kFollowShortcutMessage = WM_APP + 0x51;
constexpr UINT_PTR kSubclassId = 1;

// Where the last dialog of this process was; the next one opens there.
std::optional<RECT> gLastDialogRect;

HWND MainFormWindow() {
    return rtl::Application && rtl::Application->MainForm() ? rtl::Application->MainForm()->Handle() : nullptr;
}

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct TClassSearch {
    const wchar_t* ClassName;
    HWND Found;
};

BOOL CALLBACK MatchClass(HWND wnd, LPARAM data) {
    auto* search = reinterpret_cast<TClassSearch*>(data);
    wchar_t name[64];
    if (GetClassNameW(wnd, name, 64) && lstrcmpiW(name, search->ClassName) == 0) {
        search->Found = wnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindChildOfClass(HWND parent, const wchar_t* className) {
    TClassSearch search{className, nullptr};
    EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The folder tree: inside the namespace control in the new style, a direct
// child in the classic one.
HWND FindTree(HWND dialog) {
    if (HWND nameSpace = FindWindowExW(dialog, nullptr, kNameSpaceControlClass, nullptr))
        if (HWND tree = FindWindowExW(nameSpace, nullptr, WC_TREEVIEWW, nullptr)) return tree;
    if (HWND tree = GetDlgItem(dialog, kTreeId)) return tree;
    return FindChildOfClass(dialog, WC_TREEVIEWW);
}

// The dialog's status text: its control, or else its first empty static.
HWND FindStatusText(HWND dialog) {
    if (HWND status = GetDlgItem(dialog, kStatusId)) return status;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16];
        if (GetClassNameW(child, name, 16) && lstrcmpiW(name, L"Static") == 0 && GetWindowTextLengthW(child) == 0)
            return child;
    }
    return nullptr;
}

// Reads each folder from the drive root down to `path` once. Wine's item
// lists carry a folder time that moves on the first read after a change
// (the file system's relatime rule): a dialog builds a tree item from its
// parent's listing and then reads the folder itself, so lists made later no
// longer match that item. Read before the tree is built, the times stay.
void SettleFolderTimes(const std::wstring& path) {
    for (size_t pos = 0;; ++pos) {
        pos = path.find(L'\\', pos);
        const std::wstring folder = pos == std::wstring::npos ? path : path.substr(0, pos + 1);
        WIN32_FIND_DATAW data;
        const rtl::ScopedFind find(FindFirstFileW((AddTrailingBackslash(folder) + L"*").c_str(), &data));
        if (find) {
            while (FindNextFileW(find.Get(), &data)) {}
        }
        if (pos == std::wstring::npos) break;
    }
}

// The primary button went down since the last query and is up again.
bool PrimaryButtonClicked() {
    const int button = GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
    const SHORT state = GetAsyncKeyState(button);
    return (state & 1) && !(state & 0x8000);
}

}  // namespace

UINT BrowseInfoFlags(TBrowseFor browseFor, TBrowseInfoFlagSet flags) {
    static constexpr UINT kBrowseFor[] = {0,
                                          BIF_RETURNFSANCESTORS,
                                          BIF_BROWSEFORCOMPUTER,
                                          BIF_DONTGOBELOWDOMAIN,
                                          BIF_RETURNONLYFSDIRS,
                                          BIF_BROWSEFORPRINTER};
    static constexpr UINT kFlags[] = {BIF_STATUSTEXT,     BIF_EDITBOX, BIF_BROWSEINCLUDEFILES, BIF_BROWSEINCLUDEURLS,
                                      BIF_NEWDIALOGSTYLE, BIF_UAHINT,  BIF_NONEWFOLDERBUTTON,  BIF_NOTRANSLATETARGETS,
                                      BIF_SHAREABLE,      BIF_VALIDATE};
    UINT result = kBrowseFor[browseFor];
    for (size_t i = 0; i < std::size(kFlags); ++i)
        if (flags.Contains(static_cast<TBrowseInfoFlags>(i))) result |= kFlags[i];
    return result;
}

TNewFolderButtonMetrics NewFolderButtonMetrics(int ppi, int captionWidth) {
    TNewFolderButtonMetrics m;
    switch (ppi) {
        case 72:
        case 96: m = {12, 75, 23}; break;
        case 120: m = {15, 93, 28}; break;
        case 144: m = {17, 112, 35}; break;
        case 192: m = {20, 150, 41}; break;
        default: m = {MulDiv(12, ppi, 96), MulDiv(75, ppi, 96), MulDiv(23, ppi, 96)}; break;
    }
    const int minWidth = ppi == 72 ? 75 : MulDiv(75, ppi, 96);
    m.Width = std::max(captionWidth + 12, minWidth);
    return m;
}

TShellFolderDialog::TShellFolderDialog(rtl::TComponent* owner, LANGID language) : rtl::TComponent(owner) {
    FComInitialized = SUCCEEDED(CoInitialize(nullptr));
    if (language == 0) language = ShellLanguage();
    FLanguageId = LanguageKey(language);
    FPrimaryLanguageId = LanguageKey(PrimaryLanguage(language));
    FLabelCaptions = DefaultLabelCaptions();
    FNewFolderCaptions = DefaultNewFolderCaptions();
    UpdateCaptions();
}

TShellFolderDialog::~TShellFolderDialog() {
    if (FComInitialized) CoUninitialize();
}

void TShellFolderDialog::UpdateCaptions() {
    FLabelCaption = SelectCaption(FLabelCaptions, FLanguageId, FPrimaryLanguageId);
    FNewFolderCaption = SelectCaption(FNewFolderCaptions, FLanguageId, FPrimaryLanguageId);
    FTitle = SelectCaption(FTitles, FLanguageId, FPrimaryLanguageId);
}

void TShellFolderDialog::Loaded() { UpdateCaptions(); }

void TShellFolderDialog::SetLabelCaptions(const TCaptionList& value) {
    if (value.AsText() == FLabelCaptions.AsText()) return;
    FLabelCaptions = value;
    UpdateCaptions();
}

void TShellFolderDialog::SetNewFolderCaptions(const TCaptionList& value) {
    if (value.AsText() == FNewFolderCaptions.AsText()) return;
    FNewFolderCaptions = value;
    UpdateCaptions();
}

void TShellFolderDialog::SetTitles(const TCaptionList& value) {
    if (value.AsText() == FTitles.AsText()) return;
    FTitles = value;
    UpdateCaptions();
}

void TShellFolderDialog::SetSelectedFolder(const std::wstring& value) {
    FSelectedFolder = value;
    if (FDialog && IsWindow(FDialog)) SelectFolder(FDialog, value);
}

void TShellFolderDialog::SelectFolder(HWND dialog, const std::wstring& path) {
    // By item list: some shells (Wine) match the path form of the request
    // with the case of each name, and our paths are pretty-cased.
    if (ScopedPidl item = ParseShellPath(path))
        SelectItem(dialog, item.Get());
    else
        SetSelectionPath(dialog, path);
}

bool TShellFolderDialog::SelectionIs(const std::wstring& path) const {
    return lstrcmpiW(NormalizeFolderPath(FSelectedFolder).c_str(), path.c_str()) == 0;
}

void TShellFolderDialog::SelectItem(HWND dialog, LPCITEMIDLIST item) {
    // The dialog reports the new selection through the callback while the
    // request is being sent.
    SetSelectionPIDL(dialog, item);
    const std::wstring path = PIDLToPath(item, false).Path;
    if (path.empty() || SelectionIs(path)) return;
    // Item lists carry the time stamps of the folders on their way, and some
    // shells (Wine) compare them byte for byte with the items of the tree: a
    // list parsed from a path, or made before a folder on the way changed,
    // may name nothing in it. A list built the way the tree was built does.
    if (ScopedPidl enumerated = EnumeratedPIDL(path)) SetSelectionPIDL(dialog, enumerated.Get());
}

void TShellFolderDialog::EnableOK(HWND dialog, bool value) { SendMessageW(dialog, BFFM_ENABLEOK, 0, value); }

void TShellFolderDialog::SetSelectionPath(HWND dialog, const std::wstring& path) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
}

void TShellFolderDialog::SetSelectionPIDL(HWND dialog, LPCITEMIDLIST item) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(item));
}

void TShellFolderDialog::SetExpanded(HWND dialog, LPCITEMIDLIST item, bool expand) {
    if (expand) {
        // First parameter False: the second is an item list, not a path.
        SendMessageW(dialog, BFFM_SETEXPANDED, FALSE, reinterpret_cast<LPARAM>(item));
        return;
    }
    // The dialog has no collapse request: select the item and collapse it in the tree.
    SetSelectionPIDL(dialog, item);
    if (HWND tree = FindTree(dialog))
        if (HTREEITEM selected = TreeView_GetSelection(tree)) TreeView_Expand(tree, selected, TVE_COLLAPSE);
}

HWND TShellFolderDialog::OwnerWindow() const {
    if (FParentHandle && IsWindow(FParentHandle)) return FParentHandle;
    if (auto* control = dynamic_cast<rtl::TWinControl*>(Owner()))
        if (IsWindow(control->Handle())) return control->Handle();
    if (HWND main = MainFormWindow(); main && IsWindow(main)) return main;
    return rtl::Application ? rtl::Application->Handle() : nullptr;
}

bool TShellFolderDialog::Execute() {
    ScopedPidl chosen;
    return Execute(nullptr, chosen);
}

void TShellFolderDialog::ResetRunState() {
    FInitialized = false;
    FNewFolderButton = nullptr;
    FTree = nullptr;
    FSelectedItem = nullptr;
    FPathLabel = nullptr;
    FSelectedDisplayName.clear();
    FRestart = false;
    FHiddenWithMainWindow = false;
    FShortcutTarget.Reset();
}

bool TShellFolderDialog::Execute(LPCITEMIDLIST startList, ScopedPidl& chosen) {
    chosen.Reset();
    FNewStyle = SystemMajorVersion() > 4 && FFlags.Contains(bfNewDialogStyle);
    ScopedPidl folderList;
    if (!startList) {
        folderList = PathToPIDL(FFolder, true, !FNewStyle);
        const std::wstring path = PIDLToPath(folderList.Get(), false).Path;
        if (!path.empty()) {
            SettleFolderTimes(path);
            if (ScopedPidl settled = ParseShellPath(path)) folderList = std::move(settled);
        }
        startList = folderList.Get();
    }
    ScopedPidl root = PathToPIDL(FRootFolder, true, !FNewStyle);

    wchar_t displayName[MAX_PATH + 1] = {};
    BROWSEINFOW info{};
    info.hwndOwner = OwnerWindow();
    info.pidlRoot = root.Get();
    info.pszDisplayName = displayName;
    info.lpszTitle = FLabelCaption.c_str();
    info.ulFlags = BrowseInfoFlags(FBrowseFor, FFlags);
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(this);

    FSelectedFolder = FFolder;
    FRestartFolder.clear();
    FStartList = startList;
    do {
        ResetRunState();
        chosen.Reset(SHBrowseForFolderW(&info));
        RemoveHooks();
        FDialog = nullptr;
    } while (FRestart);
    FStartList = nullptr;

    if (!chosen) return false;
    TShellItemInfo item = PIDLToPath(chosen.Get(), FExtraFlags.Contains(efUsePrettyCase));
    FFolder = item.Path;
    FDisplayName = item.DisplayName;
    FFolderAttributes = item.Attributes;
    FImageIndex = info.iImage;
    return true;
}

int CALLBACK TShellFolderDialog::BrowseCallback(HWND dialog, UINT msg, LPARAM param, LPARAM data) {
    auto* self = reinterpret_cast<TShellFolderDialog*>(data);
    return rtl::TryResult<int>(0, [&] { return self->HandleCallback(dialog, msg, param); });
}

int TShellFolderDialog::HandleCallback(HWND dialog, UINT msg, LPARAM param) {
    switch (msg) {
        case BFFM_INITIALIZED: Initialized(dialog); break;
        case BFFM_SELCHANGED:
            if (param) SelectionChanged(dialog, reinterpret_cast<LPCITEMIDLIST>(param));
            break;
        case BFFM_VALIDATEFAILEDA:
        case BFFM_VALIDATEFAILEDW: return ValidateFailed(dialog);
        case BFFM_IUNKNOWN:
            if (param && SystemMajorVersion() < 6) {
                TComPtr<IFolderFilterSite> site;
                if (SUCCEEDED(
                        reinterpret_cast<IUnknown*>(param)->QueryInterface(IID_IFolderFilterSite, site.ReceiveVoid())))
                    site->SetFilter(static_cast<IFolderFilter*>(this));
            }
            break;
    }
    return 0;
}

void TShellFolderDialog::Initialized(HWND dialog) {
    FDialog = dialog;
    FTree = FindTree(dialog);
    HookMainWindow();
    if (FFlags.Contains(bfShowPath)) LayoutPathLabel();
    PositionDialog();
    if (!FTitle.empty()) SetWindowTextW(dialog, FTitle.c_str());
    SetWindowSubclass(dialog, DialogSubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    FInitialized = true;
    if (FStartList) {
        SelectItem(dialog, std::exchange(FStartList, nullptr));
    } else if (!FRestartFolder.empty()) {
        SelectFolder(dialog, FRestartFolder);
        FRestartFolder.clear();
    }
    if (FTree)
        if (HTREEITEM selected = TreeView_GetSelection(FTree)) {
            TreeView_EnsureVisible(FTree, selected);
            TreeView_Expand(FTree, selected, TVE_EXPAND);
        }
    DoInitialized(dialog);
}

void TShellFolderDialog::SelectionChanged(HWND dialog, LPCITEMIDLIST item) {
    if (!FFlags.Contains(bfDontBrowseShortcuts)) {
        ScopedPidl target;
        if (ResolveFolderShortcut(item, target)) {
            // Selecting from inside the selection notice fails in some
            // shells (Wine); the dialog moves on once the notice is done.
            FShortcutTarget = std::move(target);
            PostMessageW(dialog, kFollowShortcutMessage, 0, 0);
            return;
        }
    }
    const TShellItemInfo info = PIDLToPath(item, FExtraFlags.Contains(efUsePrettyCase));
    FSelectedFolder = info.Path;
    FSelectedDisplayName = info.DisplayName;
    if (FTree) FSelectedItem = TreeView_GetSelection(FTree);
    if (FExtraFlags.Contains(efAutoExpandTree) && FSelectedItem && PrimaryButtonClicked())
        TreeView_Expand(FTree, FSelectedItem, TVE_EXPAND);
    if (!FSelectedFolder.empty()) FSelectedDisplayName = FSelectedFolder;
    if (FFlags.Contains(bfShowPath) && FInitialized) UpdatePathLabel();

    FValidPath = !FSelectedFolder.empty();
    bool ok = FBrowseFor == bfOnlyFileSystem ? FValidPath : true;
    if (FBrowseFor == bfOnlyAncestors && !info.Attributes.Contains(atFileSysAncestor)) ok = false;
    EnableOK(dialog, ok);
    if (FNewFolderButton) EnableWindow(FNewFolderButton, FValidPath);
    DoSelectionChanged(dialog, item, FSelectedFolder, info.Attributes);
}

int TShellFolderDialog::ValidateFailed(HWND dialog) {
    bool closeDialog = false;
    if (!OnValidateFailed) {
        MessageBeep(MB_OK);
        return 1;
    }
    DoValidateFailed(dialog, closeDialog);
    return closeDialog ? 0 : 1;
}

void TShellFolderDialog::PositionDialog() {
    if (!FDialog) return;
    RECT r{};
    GetWindowRect(FDialog, &r);
    POINT to;
    if (gLastDialogRect) {
        to = {gLastDialogRect->left, gLastDialogRect->top};
    } else {
        to = {(GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2,
              (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2};
    }
    SetWindowPos(FDialog, nullptr, to.x, to.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TShellFolderDialog::LayoutPathLabel() {
    HWND label = FindStatusText(FDialog);
    HWND anchor = nullptr;
    if (FNewStyle) anchor = FindWindowExW(FDialog, nullptr, kNameSpaceControlClass, nullptr);
    if (!anchor && FFlags.Contains(bfEditBox)) anchor = FindWindowExW(FDialog, nullptr, WC_EDITW, nullptr);
    if (!anchor) anchor = FTree;
    if (!label || !anchor) return;

    LONG_PTR style = GetWindowLongPtrW(label, GWL_STYLE);
    SetWindowLongPtrW(label, GWL_STYLE, (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | SS_LEFTNOWORDWRAP);
    EnableWindow(label, TRUE);
    ShowWindow(label, SW_SHOW);

    const RECT a = ChildRect(anchor);
    HWND title = GetDlgItem(FDialog, kTitleId);
    const int titleTop = title ? ChildRect(title).top : a.top;
    const int top = (titleTop + a.top) / 2;
    SetWindowPos(label, nullptr, a.left, top, a.right - a.left + 8, a.top - top, SWP_NOZORDER | SWP_NOACTIVATE);
    FPathLabel = label;
}

void TShellFolderDialog::UpdatePathLabel() {
    if (!FPathLabel) return;
    RECT r{};
    GetClientRect(FPathLabel, &r);
    // PathCompactPath works in a MAX_PATH buffer.
    wchar_t text[MAX_PATH] = {};
    lstrcpynW(text, FSelectedDisplayName.c_str(), MAX_PATH);
    HDC dc = GetDC(FPathLabel);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(FPathLabel, WM_GETFONT, 0, 0)));
    PathCompactPathW(dc, text, static_cast<UINT>(std::max<LONG>(r.right - 8, 0)));
    SelectObject(dc, old);
    ReleaseDC(FPathLabel, dc);
    SetWindowTextW(FPathLabel, text);
}

void TShellFolderDialog::HookMainWindow() {
    HWND main = MainFormWindow();
    if (main && IsWindow(main) &&
        SetWindowSubclass(main, MainWindowSubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        FHookedMainWindow = main;
}

void TShellFolderDialog::RemoveHooks() {
    if (FHookedMainWindow) RemoveWindowSubclass(FHookedMainWindow, MainWindowSubclassProc, kSubclassId);
    FHookedMainWindow = nullptr;
    if (FDialog && IsWindow(FDialog)) RemoveWindowSubclass(FDialog, DialogSubclassProc, kSubclassId);
}

LRESULT CALLBACK TShellFolderDialog::MainWindowSubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                                            DWORD_PTR data) {
    auto* self = reinterpret_cast<TShellFolderDialog*>(data);
    rtl::TryResult<bool>(false, [&] {
        self->HandleMainWindowMessage(msg, wp);
        return true;
    });
    return DefSubclassProc(wnd, msg, wp, lp);
}

void TShellFolderDialog::HandleMainWindowMessage(UINT msg, WPARAM wp) {
    if (msg != WM_SIZE || !FDialog) return;
    // Hide and show as the system does for owned windows: the dialog is told
    // why, and SetWindowPos changes the visibility without a show request.
    const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    if (wp == SIZE_MINIMIZED && IsWindowVisible(FDialog)) {
        SendMessageW(FDialog, WM_SHOWWINDOW, FALSE, SW_PARENTCLOSING);
        SetWindowPos(FDialog, nullptr, 0, 0, 0, 0, flags | SWP_HIDEWINDOW);
        FHiddenWithMainWindow = true;
    } else if ((wp == SIZE_RESTORED || wp == SIZE_MAXIMIZED) && FHiddenWithMainWindow) {
        SendMessageW(FDialog, WM_SHOWWINDOW, TRUE, SW_PARENTOPENING);
        SetWindowPos(FDialog, nullptr, 0, 0, 0, 0, flags | SWP_SHOWWINDOW);
        FHiddenWithMainWindow = false;
    }
}

LRESULT CALLBACK TShellFolderDialog::DialogSubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                                        DWORD_PTR data) {
    auto* self = reinterpret_cast<TShellFolderDialog*>(data);
    rtl::TryResult<bool>(false, [&] {
        self->HandleDialogMessage(msg, wp, lp);
        return true;
    });
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(wnd, DialogSubclassProc, id);
    return DefSubclassProc(wnd, msg, wp, lp);
}

void TShellFolderDialog::HandleDialogMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SHOWWINDOW:
            if (wp && lp == 0) DialogShown();
            break;
        case WM_SIZE:
        case WM_MOVE:
            if ((msg == WM_MOVE || wp == SIZE_RESTORED) && IsWindowVisible(FDialog) && FFlags.Contains(bfShowPath))
                PostMessageW(FDialog, kRepositionedMessage, 0, 0);
            break;
        case kRepositionedMessage: {
            RECT r{};
            if (GetWindowRect(FDialog, &r)) gLastDialogRect = r;
            UpdatePathLabel();
            break;
        }
        case kFollowShortcutMessage:
            if (ScopedPidl target = std::move(FShortcutTarget)) SelectItem(FDialog, target.Get());
            break;
        case WM_COMMAND:
            if (!FNewStyle && LOWORD(wp) == kOwnNewFolderId && HIWORD(wp) == BN_CLICKED) NewFolderClicked();
            break;
        case WM_DESTROY:
            if (!FNewStyle && FNewFolderButton) DestroyWindow(std::exchange(FNewFolderButton, nullptr));
            break;
    }
}

void TShellFolderDialog::DialogShown() {
    PositionDialog();
    if (FNewStyle) {
        HWND button = GetDlgItem(FDialog, kSystemNewFolderId);
        if (button && SystemMajorVersion() == 5 && FFlags.Contains(bfHideNewFolderButton)) {
            EnableWindow(button, FALSE);
            ShowWindow(button, SW_HIDE);
        }
    } else if (!FFlags.Contains(bfHideNewFolderButton)) {
        if (!FNewFolderButton) CreateNewFolderButton();
        if (FNewFolderButton) {
            EnableWindow(FNewFolderButton, FValidPath);
            ShowWindow(FNewFolderButton, SW_SHOW);
        }
    }
}

void TShellFolderDialog::CreateNewFolderButton() {
    HWND first = FindWindowExW(FDialog, nullptr, WC_BUTTONW, nullptr);
    if (!first) return;
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(first, WM_GETFONT, 0, 0));
    HDC dc = GetDC(nullptr);
    const int ppi = GetDeviceCaps(dc, LOGPIXELSY);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    SIZE text{};
    GetTextExtentPoint32W(dc, FNewFolderCaption.c_str(), static_cast<int>(FNewFolderCaption.size()), &text);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);

    const TNewFolderButtonMetrics m = NewFolderButtonMetrics(ppi, text.cx);
    FNewFolderButton = CreateWindowExW(
        0, WC_BUTTONW, FNewFolderCaption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON,
        m.Left, ChildRect(first).top, m.Width, m.Height, FDialog,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOwnNewFolderId)), GetModuleHandleW(nullptr), nullptr);
    if (FNewFolderButton && font) SendMessageW(FNewFolderButton, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void TShellFolderDialog::NewFolderClicked() {
    // The button is enabled only for a folder with a path; a name alone would
    // land in the current directory.
    if (FSelectedFolder.empty()) return;
    std::wstring name = InputBox(FDialog, FNewFolderCaption, L"", L"");
    if (name.empty()) return;
    FRestart = true;
    if (name[0] != L'\\' && FSelectedFolder.back() != L'\\') name = L"\\" + name;
    FRestartFolder = FSelectedFolder + name;
    if (env::EnsureDirectory(FRestartFolder) && rtl::DirectoryExists(FRestartFolder)) {
        SettleFolderTimes(FRestartFolder);
    } else {
        // Reopen where the user was.
        FRestartFolder = FSelectedFolder;
        FInitialized = false;
        MessageBoxW(FDialog, rtl::SysErrorMessage(ERROR_CANNOT_MAKE).c_str(), FNewFolderCaption.c_str(),
                    MB_OK | MB_ICONERROR);
    }
    // Esc closes the dialog; the restart opens it again on the new folder.
    PostMessageW(FDialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(FDialog, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001));
}

HRESULT STDMETHODCALLTYPE TShellFolderDialog::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFolderFilter)) {
        *object = static_cast<IFolderFilter*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TShellFolderDialog::ShouldShow(IShellFolder* folder, PCIDLIST_ABSOLUTE parent,
                                                         PCUITEMID_CHILD item) {
    return rtl::TryResult<HRESULT>(S_OK, [&]() -> HRESULT {
        if (!OnXPIncludeItem) return S_OK;
        bool include = true;
        const std::wstring name = GetDisplayNameText(folder, item, dnForParsing);
        DoXPIncludeItem(FDialog, folder, parent, item, name, GetItemAttributes(folder, item), include);
        return include ? S_OK : S_FALSE;
    });
}

HRESULT STDMETHODCALLTYPE TShellFolderDialog::GetEnumFlags(IShellFolder*, PCIDLIST_ABSOLUTE, HWND*, DWORD* flags) {
    if (!flags) return E_POINTER;
    *flags |= 0x100;  // SHCONTF_SHAREABLE
    return S_OK;
}

void TShellFolderDialog::DoInitialized(HWND dialog) {
    if (OnInitialized) OnInitialized(*this, dialog);
}

void TShellFolderDialog::DoSelectionChanged(HWND dialog, LPCITEMIDLIST item, const std::wstring& folder,
                                            TFolderAttributeSet attributes) {
    if (OnSelectionChanged) OnSelectionChanged(*this, dialog, item, folder, attributes);
}

void TShellFolderDialog::DoValidateFailed(HWND dialog, bool& closeDialog) {
    if (OnValidateFailed) OnValidateFailed(*this, dialog, closeDialog);
}

void TShellFolderDialog::DoXPIncludeItem(HWND dialog, IShellFolder* folder, LPCITEMIDLIST parent, LPCITEMIDLIST item,
                                         const std::wstring& name, TFolderAttributeSet attributes, bool& includeItem) {
    if (OnXPIncludeItem) OnXPIncludeItem(*this, dialog, folder, parent, item, name, attributes, includeItem);
}

}  // namespace shell
