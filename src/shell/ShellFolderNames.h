// Names of places in the shell namespace and conversions between them:
// symbolic shell folder names ("%CSIDL_APPDATA%\Sub"), file-system paths and
// item identifier lists. Also path tidying, display names and attributes of
// shell items, and shortcuts that point at folders.
//
// The module binds a few shell entry points at run time and initialises COM
// on the main thread: the program calls InitShellFolderNames() once at
// start-up and DoneShellFolderNames() at shutdown.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/Win.h"
#include "shell/EnumSet.h"
#include "shell/ShellHandles.h"

namespace shell {

// Start-up step: initialises COM for the calling (main) thread, loads
// SHFolder.dll and binds SHGetFolderPathW from it, binds SHGetFolderLocation
// and SHBindToParent from the already loaded Shell32.dll. Anything missing
// stays unbound; nothing is reported.
void InitShellFolderNames();
// Shutdown step: unloads SHFolder.dll, forgets every binding and
// uninitialises COM.
void DoneShellFolderNames();

// Symbolic names by shell folder identifier, from -1 (the temporary-files
// folder) to 61. Identifiers without a shell constant hold "%%".
constexpr int FirstShellFolderId = -1;
constexpr int LastShellFolderId = 61;
const wchar_t* ShellFolderName(int id);  // null outside -1..61

enum TFolderAttributes {
    atBrowsable,
    atCanCopy,
    atCanDelete,
    atCanLink,
    atCanMoniker,
    atCanMove,
    atCanRename,
    atCompressed,
    atDropTarget,
    atEncrypted,
    atFileSysAncestor,
    atFileSystem,
    atFolder,
    atGhosted,
    atHasPropSheet,
    atHasSubFolder,
    atHidden,
    atHasStorage,
    atIsSlow,
    atLink,
    atNewContent,
    atNonEnumerated,
    atReadOnly,
    atRemovable,
    atShare,
    atStorage,
    atStorageAncestor,
    atStream
};
using TFolderAttributeSet = TEnumSet<TFolderAttributes>;

// The identifier of a symbolic name, compared without regard to case.
// Raises Exception "<name> is not a valid shellfoldername !" when unknown.
int ShellFolderNameToId(const std::wstring& name);

// The file-system path of a shell folder (no trailing backslash except for a
// drive root); empty when the folder has none. `create` asks the shell to
// create a missing folder. Raises Exception "<id> is not a valid shellfolder
// identifier !" outside -1..61.
std::wstring ShellFolderIdToPath(int id, bool create);

// Expands a leading symbolic name ("%CSIDL_PERSONAL%\Sub" -> the documents
// folder and "\Sub"); other paths stay as they are. With `create`, the
// resulting folder and its missing parents are created (raising EOSError
// when that fails).
std::wstring ExpandShellFolderPath(const std::wstring& path, bool create, bool addBackslash, bool prettyCase);

// The item identifier list of a path or symbolic name; null when the shell
// does not know it. `classic` selects the My Documents fallback for the
// classic-style browse dialog.
ScopedPidl PathToPIDL(const std::wstring& path, bool create, bool classic);

// The My Documents item: the desktop's item whose path is the documents
// folder; otherwise the parsed documents path (classic) or the shell's My
// Documents namespace item.
ScopedPidl MyDocumentsPIDL(bool classic);

struct TShellItemInfo {
    std::wstring Path;         // file-system path, or a network path; empty for virtual items
    std::wstring DisplayName;  // the name the shell shows (or an address for URL items)
    TFolderAttributeSet Attributes;
};
TShellItemInfo PIDLToPath(LPCITEMIDLIST pidl, bool prettyCase);

// When `pidl` is a shell link whose target is a folder: True and the target.
bool ResolveFolderShortcut(LPCITEMIDLIST pidl, ScopedPidl& target);

// A bare drive gets its root backslash ("C:" -> "C:\"), a root keeps it, any
// other path loses one trailing backslash.
std::wstring NormalizeFolderPath(const std::wstring& path);
std::wstring AddTrailingBackslash(const std::wstring& path);

// Capitalises each word of a path ("c:\program files" -> "C:\Program Files"
// with the blank as a separator) and lower-cases the extension. Texts with
// ":/" (addresses) are returned unchanged.
std::wstring PrettyCasePath(const std::wstring& text, bool spaceIsSeparator);

// The parent folder of an absolute item and its last item. `Child` points
// into the list that was passed in and is valid as long as that list is.
struct TParentFolder {
    TComPtr<IShellFolder> Folder;
    LPCITEMIDLIST Child = nullptr;
};
TParentFolder BindToParentFolder(LPCITEMIDLIST pidl);
// The same without SHBindToParent: binds the parent from the desktop folder,
// or takes the desktop itself for its own items.
TParentFolder BindToParentFolderFromDesktop(LPCITEMIDLIST pidl);

enum TDisplayNameForm { dnNormal = 0, dnForParsing = 1 };
std::wstring GetDisplayNameText(IShellFolder* folder, LPCITEMIDLIST child, TDisplayNameForm form);

// Member n is included exactly when all bits of its SFGAO_ flag are set.
TFolderAttributeSet AttributesFromShellFlags(uint32_t flags);
// The attributes of `child` in `folder` (every attribute queried).
TFolderAttributeSet GetItemAttributes(IShellFolder* folder, LPCITEMIDLIST child);

// Parses a path or a namespace name ("::{CLSID}") with the desktop folder.
ScopedPidl ParseShellPath(const std::wstring& text);

// The item list of a file-system path built as an enumeration of each folder
// on the way builds it (the way a browse dialog fills its tree); null when a
// part of the path is not found. Lists parsed from a path carry the same
// items, but some shells (Wine) store their time stamps differently.
ScopedPidl EnumeratedPIDL(const std::wstring& path);

// The desktop folder, or null when the shell cannot give it.
TComPtr<IShellFolder> DesktopFolder();

// Major version of the running system.
DWORD SystemMajorVersion();

// Creates a folder and its missing parents; raises EOSError when that fails.
void ForceFolder(const std::wstring& path);

}  // namespace shell
