#include "shell/ShellFolderNames.h"

#include <shlwapi.h>

#include <array>

#include "env/DiagPaths.h"
#include "rtl/FilePath.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace shell {

namespace {

// Entry n + 1 names identifier n; identifiers without a CSIDL_ constant hold "%%".
constexpr std::array<const wchar_t*, 63> kShellFolderNames = {L"%CSIDL_TEMP%",
                                                              L"%CSIDL_DESKTOP%",
                                                              L"%CSIDL_INTERNET%",
                                                              L"%CSIDL_PROGRAMS%",
                                                              L"%CSIDL_CONTROLS%",
                                                              L"%CSIDL_PRINTERS%",
                                                              L"%CSIDL_PERSONAL%",
                                                              L"%CSIDL_FAVORITES%",
                                                              L"%CSIDL_STARTUP%",
                                                              L"%CSIDL_RECENT%",
                                                              L"%CSIDL_SENDTO%",
                                                              L"%CSIDL_BITBUCKET%",
                                                              L"%CSIDL_STARTMENU%",
                                                              L"%CSIDL_MYDOCUMENTS%",
                                                              L"%CSIDL_MYMUSIC%",
                                                              L"%CSIDL_MYVIDEO%",
                                                              L"%%",
                                                              L"%CSIDL_DESKTOPDIRECTORY%",
                                                              L"%CSIDL_DRIVES%",
                                                              L"%CSIDL_NETWORK%",
                                                              L"%CSIDL_NETHOOD%",
                                                              L"%CSIDL_FONTS%",
                                                              L"%CSIDL_TEMPLATES%",
                                                              L"%CSIDL_COMMON_STARTMENU%",
                                                              L"%CSIDL_COMMON_PROGRAMS%",
                                                              L"%CSIDL_COMMON_STARTUP%",
                                                              L"%CSIDL_COMMON_DESKTOPDIRECTORY%",
                                                              L"%CSIDL_APPDATA%",
                                                              L"%CSIDL_PRINTHOOD%",
                                                              L"%CSIDL_LOCAL_APPDATA%",
                                                              L"%CSIDL_ALTSTARTUP%",
                                                              L"%CSIDL_COMMON_ALTSTARTUP%",
                                                              L"%CSIDL_COMMON_FAVORITES%",
                                                              L"%CSIDL_INTERNET_CACHE%",
                                                              L"%CSIDL_COOKIES%",
                                                              L"%CSIDL_HISTORY%",
                                                              L"%CSIDL_COMMON_APPDATA%",
                                                              L"%CSIDL_WINDOWS%",
                                                              L"%CSIDL_SYSTEM%",
                                                              L"%CSIDL_PROGRAM_FILES%",
                                                              L"%CSIDL_MYPICTURES%",
                                                              L"%CSIDL_PROFILE%",
                                                              L"%CSIDL_SYSTEMX86%",
                                                              L"%CSIDL_PROGRAM_FILESX86%",
                                                              L"%CSIDL_PROGRAM_FILES_COMMON%",
                                                              L"%CSIDL_PROGRAM_FILES_COMMONX86%",
                                                              L"%CSIDL_COMMON_TEMPLATES%",
                                                              L"%CSIDL_COMMON_DOCUMENTS%",
                                                              L"%CSIDL_COMMON_ADMINTOOLS%",
                                                              L"%CSIDL_ADMINTOOLS%",
                                                              L"%CSIDL_CONNECTIONS%",
                                                              L"%%",
                                                              L"%%",
                                                              L"%%",
                                                              L"%CSIDL_COMMON_MUSIC%",
                                                              L"%CSIDL_COMMON_PICTURES%",
                                                              L"%CSIDL_COMMON_VIDEO%",
                                                              L"%CSIDL_RESOURCES%",
                                                              L"%CSIDL_RESOURCES_LOCALIZED%",
                                                              L"%CSIDL_COMMON_OEM_LINKS%",
                                                              L"%CSIDL_CDBURN_AREA%",
                                                              L"%%",
                                                              L"%CSIDL_COMPUTERSNEARME%"};

constexpr int kMyDocumentsId = 12;  // CSIDL_MYDOCUMENTS
constexpr int kPersonalId = 5;      // CSIDL_PERSONAL
constexpr uint32_t kAllAttributes = 0xFEFFFFFF;
constexpr SHGDNF kIncludeNonFileSystem = 0x2000;  // SHGDN_INCLUDE_NONFILESYS: virtual items get names too
const wchar_t kMyDocumentsNamespace[] = L"::{450d8fba-ad25-11d0-98a8-0800361b1103}";

// The SFGAO_ flag of each TFolderAttributes member, in member order.
constexpr std::array<uint32_t, 28> kAttributeFlags = {
    SFGAO_BROWSABLE,       SFGAO_CANCOPY,         SFGAO_CANDELETE,  SFGAO_CANLINK,    SFGAO_CANMONIKER,
    SFGAO_CANMOVE,         SFGAO_CANRENAME,       SFGAO_COMPRESSED, SFGAO_DROPTARGET, SFGAO_ENCRYPTED,
    SFGAO_FILESYSANCESTOR, SFGAO_FILESYSTEM,      SFGAO_FOLDER,     SFGAO_GHOSTED,    SFGAO_HASPROPSHEET,
    SFGAO_HASSUBFOLDER,    SFGAO_HIDDEN,          SFGAO_HASSTORAGE, SFGAO_ISSLOW,     SFGAO_LINK,
    SFGAO_NEWCONTENT,      SFGAO_NONENUMERATED,   SFGAO_READONLY,   SFGAO_REMOVABLE,  SFGAO_SHARE,
    SFGAO_STORAGE,         SFGAO_STORAGEANCESTOR, SFGAO_STREAM};

struct TBindings {
    bool ComInitialized = false;
    rtl::ScopedLibrary SHFolder;
    decltype(&::SHGetFolderPathW) GetFolderPath = nullptr;
    decltype(&::SHGetFolderLocation) GetFolderLocation = nullptr;
    decltype(&::SHBindToParent) BindToParent = nullptr;
};
TBindings gBindings;

std::wstring MapCase(const std::wstring& text, DWORD how) {
    if (text.empty()) return text;
    std::wstring out(text.size(), L'\0');
    int n = LCMapStringW(LOCALE_USER_DEFAULT, how, text.data(), static_cast<int>(text.size()), out.data(),
                         static_cast<int>(out.size()));
    return n == static_cast<int>(text.size()) ? out : text;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// "C:" or "\\server\share" at the start of a path; empty when there is none.
std::wstring DrivePart(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':' && iswalpha(path[0])) return path.substr(0, 2);
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
        size_t serverEnd = path.find(L'\\', 2);
        if (serverEnd == std::wstring::npos || serverEnd == 2 || serverEnd + 1 >= path.size()) return {};
        size_t shareEnd = path.find(L'\\', serverEnd + 1);
        if (shareEnd == serverEnd + 1) return {};
        return path.substr(0, shareEnd);
    }
    return {};
}

std::wstring PathOfPidl(LPCITEMIDLIST pidl) {
    wchar_t buf[MAX_PATH + 1] = {};
    if (!pidl || !SHGetPathFromIDListW(pidl, buf)) return {};
    return buf;
}

bool IsEmptyList(LPCITEMIDLIST pidl) { return !pidl || pidl->mkid.cb == 0; }

}  // namespace

void InitShellFolderNames() {
    if (!gBindings.ComInitialized) gBindings.ComInitialized = SUCCEEDED(CoInitialize(nullptr));
    gBindings.SHFolder.Reset(LoadLibraryW(L"SHFolder.dll"));
    gBindings.GetFolderPath =
        rtl::BindProc<decltype(&::SHGetFolderPathW)>(gBindings.SHFolder.Get(), "SHGetFolderPathW");
    HMODULE shell32 = GetModuleHandleW(L"Shell32.dll");
    gBindings.GetFolderLocation = rtl::BindProc<decltype(&::SHGetFolderLocation)>(shell32, "SHGetFolderLocation");
    gBindings.BindToParent = rtl::BindProc<decltype(&::SHBindToParent)>(shell32, "SHBindToParent");
}

void DoneShellFolderNames() {
    gBindings.GetFolderPath = nullptr;
    gBindings.GetFolderLocation = nullptr;
    gBindings.BindToParent = nullptr;
    gBindings.SHFolder.Reset();
    if (gBindings.ComInitialized) CoUninitialize();
    gBindings.ComInitialized = false;
}

const wchar_t* ShellFolderName(int id) {
    if (id < FirstShellFolderId || id > LastShellFolderId) return nullptr;
    return kShellFolderNames[static_cast<size_t>(id - FirstShellFolderId)];
}

int ShellFolderNameToId(const std::wstring& name) {
    const std::wstring upper = MapCase(name, LCMAP_UPPERCASE);
    for (int id = FirstShellFolderId; id <= LastShellFolderId; ++id)
        if (upper == MapCase(ShellFolderName(id), LCMAP_UPPERCASE)) return id;
    rtl::RaiseNew<rtl::Exception>(name + L" is not a valid shellfoldername !");
}

std::wstring ShellFolderIdToPath(int id, bool create) {
    if (id < FirstShellFolderId || id > LastShellFolderId)
        rtl::RaiseNew<rtl::Exception>(std::to_wstring(id) + L" is not a valid shellfolder identifier !");
    if (id == FirstShellFolderId) {
        wchar_t buf[MAX_PATH + 1] = {};
        DWORD n = GetTempPathW(MAX_PATH, buf);
        return NormalizeFolderPath(n > 0 && n <= MAX_PATH ? std::wstring(buf, n) : std::wstring());
    }
    std::wstring result;
    if (gBindings.GetFolderPath) {
        wchar_t buf[MAX_PATH + 1] = {};
        int csidl = id | (create ? CSIDL_FLAG_CREATE : 0);
        if (SUCCEEDED(gBindings.GetFolderPath(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) result = buf;
    }
    if (result.empty() && id == kMyDocumentsId) return ShellFolderIdToPath(kPersonalId, create);
    return result;
}

void ForceFolder(const std::wstring& path) {
    SetLastError(ERROR_SUCCESS);
    if (env::EnsureDirectory(path)) return;
    DWORD code = GetLastError();
    if (code == ERROR_SUCCESS) code = ERROR_CANNOT_MAKE;
    rtl::RaiseNew<rtl::EOSError>(L"Cannot create folder " + path + L": " + rtl::SysErrorMessage(code), code);
}

std::wstring ExpandShellFolderPath(const std::wstring& path, bool create, bool addBackslash, bool prettyCase) {
    std::wstring result = path;
    const std::wstring drive = DrivePart(path);
    if (!drive.empty() && rtl::DirectoryExists(drive + L"\\")) {
        if (create && !rtl::FileExists(path)) ForceFolder(path);
    } else if (!path.empty() && path[0] == L'%') {
        size_t close = path.find(L'%', 1);
        if (close != std::wstring::npos) {
            const int id = ShellFolderNameToId(path.substr(0, close + 1));
            const std::wstring base = ShellFolderIdToPath(id, create);
            std::wstring remainder = path.substr(close + 1, MAX_PATH);
            if (!remainder.empty() && remainder[0] == L'\\') remainder.erase(0, 1);
            // A folder without a file-system path has no sub-folders on disk;
            // the remainder alone would name a folder relative to the current
            // directory.
            result = base.empty() ? std::wstring() : NormalizeFolderPath(AddTrailingBackslash(base) + remainder);
            if (create && !result.empty() && !rtl::FileExists(result)) ForceFolder(result);
        }
    }
    if (addBackslash) result = AddTrailingBackslash(result);
    if (prettyCase) result = PrettyCasePath(result, true);
    return result;
}

TComPtr<IShellFolder> DesktopFolder() {
    TComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.Receive()))) desktop.Reset();
    return desktop;
}

ScopedPidl ParseShellPath(const std::wstring& text) {
    ScopedPidl pidl;
    TComPtr<IShellFolder> desktop = DesktopFolder();
    if (text.empty() || !desktop) return pidl;
    std::wstring buf = text;  // ParseDisplayName takes a writable string
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, buf.data(), nullptr, pidl.Receive(), nullptr))) pidl.Reset();
    return pidl;
}

ScopedPidl EnumeratedPIDL(const std::wstring& path) {
    const std::wstring drive = DrivePart(path);
    ScopedPidl current = ParseShellPath(AddTrailingBackslash(drive));
    TComPtr<IShellFolder> desktop = DesktopFolder();
    TComPtr<IShellFolder> folder;
    if (drive.empty() || !current || !desktop ||
        FAILED(desktop->BindToObject(current.Get(), nullptr, IID_IShellFolder, folder.ReceiveVoid())))
        return {};
    std::wstring walked = AddTrailingBackslash(drive);
    const std::wstring full = NormalizeFolderPath(path);
    const std::wstring rest = full.size() > walked.size() ? full.substr(walked.size()) : std::wstring();
    for (size_t start = 0; start < rest.size();) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        const std::wstring name = rest.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        walked = AddTrailingBackslash(walked) + name;
        TComPtr<IEnumIDList> items;
        if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                                items.Receive()) != S_OK ||
            !items)
            return {};
        ScopedPidl child;
        bool found = false;
        while (!found && items->Next(1, child.Receive(), nullptr) == S_OK)
            found = SameText(GetDisplayNameText(folder.Get(), child.Get(), dnForParsing), walked);
        if (!found) return {};
        current.Reset(ILCombine(current.Get(), child.Get()));
        TComPtr<IShellFolder> next;
        if (!current) return {};
        if (start < rest.size() &&
            FAILED(folder->BindToObject(child.Get(), nullptr, IID_IShellFolder, next.ReceiveVoid())))
            return {};
        folder = std::move(next);
    }
    return current;
}

ScopedPidl MyDocumentsPIDL(bool classic) {
    const std::wstring documents = ShellFolderIdToPath(kPersonalId, true);
    TComPtr<IShellFolder> desktop = DesktopFolder();
    TComPtr<IEnumIDList> items;
    if (desktop && !documents.empty() &&
        desktop->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, items.Receive()) ==
            S_OK &&
        items) {
        ScopedPidl child;
        while (items->Next(1, child.Receive(), nullptr) == S_OK) {
            // Children of the desktop are absolute lists as well.
            if (SameText(NormalizeFolderPath(PathOfPidl(child.Get())), documents)) return child;
        }
    }
    return ParseShellPath(classic ? documents : std::wstring(kMyDocumentsNamespace));
}

ScopedPidl PathToPIDL(const std::wstring& path, bool create, bool classic) {
    ScopedPidl pidl;
    if (path.empty()) return pidl;
    if (path.size() >= 2 && path.front() == L'%' && path.back() == L'%') {
        const int id = ShellFolderNameToId(path);
        if (id >= 0 && gBindings.GetFolderLocation &&
            FAILED(gBindings.GetFolderLocation(nullptr, id, nullptr, 0, pidl.Receive())))
            pidl.Reset();
        if (id >= 0 && !pidl && FAILED(SHGetSpecialFolderLocation(nullptr, id, pidl.Receive()))) pidl.Reset();
        if (!pidl && id == kMyDocumentsId) pidl = MyDocumentsPIDL(classic);
    }
    if (!pidl) pidl = ParseShellPath(ExpandShellFolderPath(path, create, true, true));
    return pidl;
}

TFolderAttributeSet AttributesFromShellFlags(uint32_t flags) {
    TFolderAttributeSet set;
    for (size_t i = 0; i < kAttributeFlags.size(); ++i)
        if ((flags & kAttributeFlags[i]) == kAttributeFlags[i]) set.Include(static_cast<TFolderAttributes>(i));
    return set;
}

TFolderAttributeSet GetItemAttributes(IShellFolder* folder, LPCITEMIDLIST child) {
    SFGAOF flags = kAllAttributes;
    if (!folder || FAILED(folder->GetAttributesOf(1, &child, &flags))) return {};
    return AttributesFromShellFlags(flags);
}

std::wstring GetDisplayNameText(IShellFolder* folder, LPCITEMIDLIST child, TDisplayNameForm form) {
    if (!folder) return {};
    STRRET name{};
    const SHGDNF flags = (form == dnForParsing ? SHGDN_FORPARSING : SHGDN_NORMAL) | kIncludeNonFileSystem;
    if (FAILED(folder->GetDisplayNameOf(child, flags, &name))) return {};
    // Copies an inline ANSI name, or takes a returned wide one and frees it.
    rtl::ScopedHandle<rtl::CoTaskMemTraits<wchar_t*>> text;
    if (FAILED(StrRetToStrW(&name, child, text.Receive())) || !text) return {};
    return text.Get();
}

TParentFolder BindToParentFolderFromDesktop(LPCITEMIDLIST pidl) {
    TParentFolder result;
    result.Folder = DesktopFolder();
    if (!pidl) return result;
    if (IsEmptyList(pidl)) {
        result.Child = pidl;
        return result;
    }
    result.Child = ILFindLastID(pidl);
    ScopedPidl parent(ILClone(pidl));
    if (parent && ILRemoveLastID(parent.Get()) && !IsEmptyList(parent.Get()) && result.Folder) {
        TComPtr<IShellFolder> folder;
        if (SUCCEEDED(result.Folder->BindToObject(parent.Get(), nullptr, IID_IShellFolder, folder.ReceiveVoid())) &&
            folder)
            result.Folder = std::move(folder);
    }
    return result;
}

TParentFolder BindToParentFolder(LPCITEMIDLIST pidl) {
    if (pidl && SystemMajorVersion() > 4 && gBindings.BindToParent) {
        TParentFolder result;
        LPCITEMIDLIST child = nullptr;
        if (SUCCEEDED(gBindings.BindToParent(pidl, IID_IShellFolder, result.Folder.ReceiveVoid(), &child)) &&
            result.Folder && child) {
            result.Child = child;
            return result;
        }
    }
    return BindToParentFolderFromDesktop(pidl);
}

TShellItemInfo PIDLToPath(LPCITEMIDLIST pidl, bool prettyCase) {
    TShellItemInfo info;
    if (!pidl) return info;
    // Some shells end folder paths with a backslash; ours never do (roots aside).
    info.Path = NormalizeFolderPath(PathOfPidl(pidl));
    info.DisplayName = info.Path;
    TParentFolder parent = BindToParentFolder(pidl);
    if (parent.Folder && parent.Child) {
        info.DisplayName = GetDisplayNameText(parent.Folder.Get(), parent.Child, dnNormal);
        if (info.Path.empty()) {
            std::wstring parsing = GetDisplayNameText(parent.Folder.Get(), parent.Child, dnForParsing);
            if (parsing.compare(0, 2, L"\\\\") == 0)
                info.Path = parsing;
            else if (parsing.find(L"://") != std::wstring::npos)
                info.DisplayName = parsing;
        }
        info.Attributes = GetItemAttributes(parent.Folder.Get(), parent.Child);
    }
    if (prettyCase) {
        info.Path = PrettyCasePath(info.Path, true);
        info.DisplayName = PrettyCasePath(info.DisplayName, true);
    }
    return info;
}

bool ResolveFolderShortcut(LPCITEMIDLIST pidl, ScopedPidl& target) {
    target.Reset();
    const std::wstring path = PathOfPidl(pidl);
    // Only files can be shell links; folders need not be tried.
    if (path.empty() || rtl::DirectoryExists(path)) return false;
    TComPtr<IShellLinkW> link;
    TComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) ||
        FAILED(file->Load(path.c_str(), STGM_READ)))
        return false;
    if (link->GetIDList(target.Receive()) != S_OK || !target) {
        target.Reset();
        return false;
    }
    TParentFolder parent = BindToParentFolder(target.Get());
    SFGAOF flags = SFGAO_FOLDER;
    if (!parent.Folder || FAILED(parent.Folder->GetAttributesOf(1, &parent.Child, &flags)) || !(flags & SFGAO_FOLDER)) {
        target.Reset();
        return false;
    }
    return true;
}

std::wstring NormalizeFolderPath(const std::wstring& path) {
    if (path.empty()) return path;
    const std::wstring drive = DrivePart(path);
    if (!drive.empty() && path == drive) return path + L"\\";
    if (!drive.empty() && path == drive + L"\\") return path;
    // A lone backslash is the root of the current drive; it stays a root.
    if (path.size() > 1 && path.back() == L'\\') return path.substr(0, path.size() - 1);
    return path;
}

std::wstring AddTrailingBackslash(const std::wstring& path) {
    if (path.empty() || path.back() == L'\\') return path;
    return path + L"\\";
}

std::wstring PrettyCasePath(const std::wstring& text, bool spaceIsSeparator) {
    if (text.find(L":/") != std::wstring::npos) return text;
    static const std::wstring kSeparators = L".,;-+*/?=()&!\\<>:_\"{|}[]%";
    const std::wstring upper = MapCase(text, LCMAP_UPPERCASE);
    const std::wstring lower = MapCase(text, LCMAP_LOWERCASE);
    std::wstring result = lower;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t prev = i > 0 ? text[i - 1] : 0;
        const bool afterSeparator =
            i == 0 || kSeparators.find(prev) != std::wstring::npos || (spaceIsSeparator && prev == L' ');
        if (afterSeparator) result[i] = upper[i];
    }
    // The extension: from the last dot after the last path delimiter.
    const size_t dot = text.find_last_of(L".\\:");
    if (dot != std::wstring::npos && text[dot] == L'.') result.replace(dot, std::wstring::npos, lower.substr(dot));
    return result;
}

DWORD SystemMajorVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&info) ? info.dwMajorVersion : 0;
#pragma GCC diagnostic pop
}

}  // namespace shell
