// TShellFolderDialog runs the shell's folder browse dialog and adds what the
// system dialog lacks: captions by the shell's language, start and root
// folders given as paths or symbolic names ("%CSIDL_PERSONAL%\Sub"), an own
// new-folder button for the classic dialog, a live path label, a remembered
// position, hiding with the minimised main window, following of shortcuts to
// folders, rules for enabling OK, and events for the caller.
#pragma once
#include <functional>
#include <string>

#include "rtl/Controls.h"
#include "rtl/Win.h"

#include <commctrl.h>
#include <shlobj.h>

#include "shell/CaptionList.h"
#include "shell/EnumSet.h"
#include "shell/ShellFolderNames.h"
#include "shell/ShellHandles.h"

namespace shell {

// What may be chosen.
enum TBrowseFor { bfAll, bfOnlyAncestors, bfOnlyComputers, bfOnlyDomains, bfOnlyFileSystem, bfOnlyPrinters };

enum TBrowseInfoFlags {
    bfShowPath,
    bfEditBox,
    bfIncludefiles,
    bfIncludeURLs,
    bfNewDialogStyle,
    bfUsageHint,
    bfHideNewFolderButton,
    bfDontBrowseShortcuts,
    bfHideMappedDrives,
    bfValidate
};
using TBrowseInfoFlagSet = TEnumSet<TBrowseInfoFlags>;

enum TExtraFlags {
    efAutoExpandTree,  // expand the folder the user clicked
    efUsePrettyCase    // pretty-case the returned path and display name
};
using TExtraFlagSet = TEnumSet<TExtraFlags>;

// The BIF_ flags of a browse target and a set of options.
UINT BrowseInfoFlags(TBrowseFor browseFor, TBrowseInfoFlagSet flags);

// Place and size of the own new-folder button for a screen resolution and
// the pixel width of its caption.
struct TNewFolderButtonMetrics {
    int Left;
    int Width;
    int Height;
};
TNewFolderButtonMetrics NewFolderButtonMetrics(int pixelsPerInch, int captionWidth);

class TShellFolderDialog;
using TBrowserInitializedEvent = std::function<void(TShellFolderDialog& sender, HWND dialog)>;
using TSelectionChangedEvent = std::function<void(TShellFolderDialog& sender, HWND dialog, LPCITEMIDLIST item,
                                                  const std::wstring& folder, TFolderAttributeSet attributes)>;
using TValidateFailedEvent = std::function<void(TShellFolderDialog& sender, HWND dialog, bool& closeDialog)>;
using TXPIncludeItemEvent = std::function<void(TShellFolderDialog& sender, HWND dialog, IShellFolder* folder,
                                               LPCITEMIDLIST parent, LPCITEMIDLIST item, const std::wstring& name,
                                               TFolderAttributeSet attributes, bool& includeItem)>;

// The component is also the dialog's item filter (IFolderFilter) on systems
// before major version 6. It is not reference-counted: its owner keeps it
// alive for longer than any dialog it runs.
//
// The dialog's owner window is ParentHandle, else the owner component's
// window when that is a windowed control, else the application's main form,
// else the application window. While it runs, minimising the main form hides
// it and restoring the main form shows it again.
class TShellFolderDialog : public rtl::TComponent, public IFolderFilter {
public:
    // `language`: the language the captions are chosen for; 0 means the
    // shell's language.
    explicit TShellFolderDialog(rtl::TComponent* owner = nullptr, LANGID language = 0);
    ~TShellFolderDialog() override;
    std::wstring ClassName() const override { return L"TShellFolderDialog"; }

    // Runs the dialog on `Folder`. True: the user chose an item, and
    // Folder, DisplayName, FolderAttributes and ImageIndex describe it.
    bool Execute();
    // Runs the dialog on `startList` (on `Folder` when null; the list stays
    // the caller's). `chosen` receives the chosen item, null when cancelled.
    bool Execute(LPCITEMIDLIST startList, ScopedPidl& chosen);

    // Requests to a running browse dialog.
    static void EnableOK(HWND dialog, bool value);
    static void SetSelectionPath(HWND dialog, const std::wstring& path);
    static void SetSelectionPIDL(HWND dialog, LPCITEMIDLIST item);
    // Expands the item in the dialog's tree; with `expand` False it selects
    // the item and collapses it.
    static void SetExpanded(HWND dialog, LPCITEMIDLIST item, bool expand);

    TBrowseFor BrowseFor() const { return FBrowseFor; }
    void SetBrowseFor(TBrowseFor value) { FBrowseFor = value; }
    TBrowseInfoFlagSet Flags() const { return FFlags; }
    void SetFlags(TBrowseInfoFlagSet value) { FFlags = value; }
    TExtraFlagSet ExtraFlags() const { return FExtraFlags; }
    void SetExtraFlags(TExtraFlagSet value) { FExtraFlags = value; }
    const std::wstring& Folder() const { return FFolder; }
    void SetFolder(const std::wstring& value) { FFolder = value; }
    const std::wstring& RootFolder() const { return FRootFolder; }
    void SetRootFolder(const std::wstring& value) { FRootFolder = value; }

    const TCaptionList& LabelCaptions() const { return FLabelCaptions; }
    void SetLabelCaptions(const TCaptionList& value);
    const TCaptionList& NewFolderCaptions() const { return FNewFolderCaptions; }
    void SetNewFolderCaptions(const TCaptionList& value);
    const TCaptionList& Titles() const { return FTitles; }
    void SetTitles(const TCaptionList& value);
    // The captions chosen from the lists for the component's language.
    const std::wstring& LabelCaption() const { return FLabelCaption; }
    const std::wstring& NewFolderCaption() const { return FNewFolderCaption; }
    const std::wstring& Title() const { return FTitle; }
    // After the properties were read from a stored form: recomputes the
    // captions.
    void Loaded();

    const std::wstring& LanguageId() const { return FLanguageId; }
    const std::wstring& PrimaryLanguageId() const { return FPrimaryLanguageId; }
    static std::wstring Version() { return L"10.00.00.00"; }

    HWND DialogHandle() const { return FDialog; }
    const std::wstring& DisplayName() const { return FDisplayName; }
    TFolderAttributeSet FolderAttributes() const { return FFolderAttributes; }
    int ImageIndex() const { return FImageIndex; }
    HWND ParentHandle() const { return FParentHandle; }
    void SetParentHandle(HWND value) { FParentHandle = value; }
    // While the dialog runs: the selected folder; assigning selects it.
    const std::wstring& SelectedFolder() const { return FSelectedFolder; }
    void SetSelectedFolder(const std::wstring& value);

    TBrowserInitializedEvent OnInitialized;
    TSelectionChangedEvent OnSelectionChanged;
    TValidateFailedEvent OnValidateFailed;
    TXPIncludeItemEvent OnXPIncludeItem;

    // IUnknown (not counted) and IFolderFilter.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ShouldShow(IShellFolder* folder, PCIDLIST_ABSOLUTE parent, PCUITEMID_CHILD item) override;
    HRESULT STDMETHODCALLTYPE GetEnumFlags(IShellFolder* folder, PCIDLIST_ABSOLUTE parent, HWND* window,
                                           DWORD* flags) override;

protected:
    virtual void DoInitialized(HWND dialog);
    virtual void DoSelectionChanged(HWND dialog, LPCITEMIDLIST item, const std::wstring& folder,
                                    TFolderAttributeSet attributes);
    virtual void DoValidateFailed(HWND dialog, bool& closeDialog);
    virtual void DoXPIncludeItem(HWND dialog, IShellFolder* folder, LPCITEMIDLIST parent, LPCITEMIDLIST item,
                                 const std::wstring& name, TFolderAttributeSet attributes, bool& includeItem);

private:
    static int CALLBACK BrowseCallback(HWND dialog, UINT msg, LPARAM param, LPARAM data);
    static LRESULT CALLBACK DialogSubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
    static LRESULT CALLBACK MainWindowSubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                                   DWORD_PTR data);

    int HandleCallback(HWND dialog, UINT msg, LPARAM param);
    void Initialized(HWND dialog);
    void SelectionChanged(HWND dialog, LPCITEMIDLIST item);
    int ValidateFailed(HWND dialog);
    void HandleDialogMessage(UINT msg, WPARAM wp, LPARAM lp);
    void HandleMainWindowMessage(UINT msg, WPARAM wp);
    void DialogShown();
    void NewFolderClicked();
    void SelectFolder(HWND dialog, const std::wstring& path);
    void SelectItem(HWND dialog, LPCITEMIDLIST item);
    bool SelectionIs(const std::wstring& path) const;
    void CreateNewFolderButton();
    void LayoutPathLabel();
    void UpdatePathLabel();
    void PositionDialog();
    void HookMainWindow();
    void RemoveHooks();
    void ResetRunState();
    void UpdateCaptions();
    HWND OwnerWindow() const;

    bool FComInitialized = false;
    TBrowseFor FBrowseFor = bfOnlyFileSystem;
    TBrowseInfoFlagSet FFlags{bfShowPath, bfNewDialogStyle};
    TExtraFlagSet FExtraFlags{efAutoExpandTree, efUsePrettyCase};
    std::wstring FFolder;
    std::wstring FRootFolder;
    TCaptionList FLabelCaptions;
    TCaptionList FNewFolderCaptions;
    TCaptionList FTitles;
    std::wstring FLabelCaption;
    std::wstring FNewFolderCaption;
    std::wstring FTitle;
    std::wstring FLanguageId;
    std::wstring FPrimaryLanguageId;
    std::wstring FDisplayName;
    TFolderAttributeSet FFolderAttributes;
    int FImageIndex = -1;
    HWND FParentHandle = nullptr;

    // Run-time state, valid while the dialog runs.
    bool FNewStyle = false;
    HWND FDialog = nullptr;
    HWND FTree = nullptr;
    HWND FPathLabel = nullptr;
    HWND FNewFolderButton = nullptr;
    HWND FHookedMainWindow = nullptr;
    bool FHiddenWithMainWindow = false;
    HTREEITEM FSelectedItem = nullptr;
    std::wstring FSelectedFolder;
    std::wstring FSelectedDisplayName;
    std::wstring FRestartFolder;
    bool FRestart = false;
    LPCITEMIDLIST FStartList = nullptr;
    ScopedPidl FShortcutTarget;  // selected once the selection notice is done
    bool FInitialized = false;
    bool FValidPath = false;
};

}  // namespace shell
