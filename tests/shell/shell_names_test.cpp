#include <gtest/gtest.h>

#include <shlobj.h>

#include "ShellTestUtil.h"
#include "TestUtil.h"
#include "shell/ShellFolderNames.h"

using namespace shell;
using namespace shelltest;
using testutil::CaptureRaise;

namespace {

std::wstring SystemFolder(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf)) ? buf : L"";
}

// The temporary folder without its trailing backslash.
std::wstring TempFolder() {
    wchar_t buf[MAX_PATH];
    std::wstring t(buf, GetTempPathW(MAX_PATH, buf));
    return t.substr(0, t.size() - 1);
}

TEST(ShellFolderNameTable, NamesMatchTheShellConstants) {
    const struct {
        const wchar_t* Name;
        int Id;
    } cases[] = {
        {L"%CSIDL_TEMP%", -1},
        {L"%CSIDL_DESKTOP%", CSIDL_DESKTOP},
        {L"%CSIDL_PERSONAL%", CSIDL_PERSONAL},
        {L"%CSIDL_MYDOCUMENTS%", 12},  // the SDK now defines CSIDL_MYDOCUMENTS as CSIDL_PERSONAL
        {L"%CSIDL_MYVIDEO%", CSIDL_MYVIDEO},
        {L"%CSIDL_DESKTOPDIRECTORY%", CSIDL_DESKTOPDIRECTORY},
        {L"%CSIDL_APPDATA%", CSIDL_APPDATA},
        {L"%CSIDL_COMMON_APPDATA%", CSIDL_COMMON_APPDATA},
        {L"%CSIDL_PROGRAM_FILES_COMMONX86%", CSIDL_PROGRAM_FILES_COMMONX86},
        {L"%CSIDL_CONNECTIONS%", CSIDL_CONNECTIONS},
        {L"%CSIDL_COMMON_MUSIC%", CSIDL_COMMON_MUSIC},
        {L"%CSIDL_RESOURCES_LOCALIZED%", CSIDL_RESOURCES_LOCALIZED},
        {L"%CSIDL_CDBURN_AREA%", CSIDL_CDBURN_AREA},
        {L"%CSIDL_COMPUTERSNEARME%", CSIDL_COMPUTERSNEARME},
        // Written in any case.
        {L"%csidl_appdata%", CSIDL_APPDATA},
        {L"%Csidl_Program_Files%", CSIDL_PROGRAM_FILES},
        // The first identifier without a constant.
        {L"%%", 15},
    };
    for (const auto& c : cases) EXPECT_EQ(c.Id, ShellFolderNameToId(c.Name)) << c.Name;

    int placeholders = 0;
    for (int id = FirstShellFolderId; id <= LastShellFolderId; ++id)
        if (std::wstring(ShellFolderName(id)) == L"%%") ++placeholders;
    EXPECT_EQ(5, placeholders);
    for (int id : {15, 50, 51, 52, 60}) EXPECT_STREQ(L"%%", ShellFolderName(id));
    EXPECT_EQ(nullptr, ShellFolderName(-2));
    EXPECT_EQ(nullptr, ShellFolderName(62));
}

TEST(ShellFolderNameTable, UnknownNamesAndIdentifiersRaise) {
    auto raised = CaptureRaise([] { ShellFolderNameToId(L"%CSIDL_NOWHERE%"); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"Exception", raised->ClassName);
    EXPECT_EQ(L"%CSIDL_NOWHERE% is not a valid shellfoldername !", raised->Message);

    raised = CaptureRaise([] { ShellFolderIdToPath(62, false); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"62 is not a valid shellfolder identifier !", raised->Message);
    raised = CaptureRaise([] { ShellFolderIdToPath(-2, false); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"-2 is not a valid shellfolder identifier !", raised->Message);
    // A symbolic name in a path is checked as well.
    raised = CaptureRaise([] { ExpandShellFolderPath(L"%CSIDL_NOWHERE%\\x", false, false, false); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"%CSIDL_NOWHERE% is not a valid shellfoldername !", raised->Message);
}

TEST(ShellFolderIdToPath, AsksTheShell) {
    EXPECT_EQ(TempFolder(), ShellFolderIdToPath(-1, false));
    const std::wstring documents = SystemFolder(CSIDL_PERSONAL);
    ASSERT_FALSE(documents.empty());
    EXPECT_EQ(documents, ShellFolderIdToPath(CSIDL_PERSONAL, false));
    EXPECT_EQ(SystemFolder(CSIDL_APPDATA), ShellFolderIdToPath(CSIDL_APPDATA, false));
    // My Documents is the documents folder, asked for directly or by fallback.
    EXPECT_EQ(Upper(documents), Upper(ShellFolderIdToPath(12, false)));
    // Virtual folders and identifiers without a constant have no path.
    EXPECT_EQ(L"", ShellFolderIdToPath(CSIDL_DRIVES, false));
    EXPECT_EQ(L"", ShellFolderIdToPath(15, false));
}

TEST(ShellFolderModule, BindingsFollowStartUpAndShutdown) {
    DoneShellFolderNames();
    EXPECT_EQ(L"", ShellFolderIdToPath(CSIDL_PERSONAL, false));
    InitShellFolderNames();
    EXPECT_EQ(SystemFolder(CSIDL_PERSONAL), ShellFolderIdToPath(CSIDL_PERSONAL, false));
}

TEST(ExpandShellFolderPath, ExpandsSymbolicNamesWithOneBackslash) {
    const std::wstring documents = ShellFolderIdToPath(CSIDL_PERSONAL, false);
    EXPECT_EQ(documents + L"\\Sub", ExpandShellFolderPath(L"%CSIDL_PERSONAL%\\Sub", false, false, false));
    EXPECT_EQ(documents + L"\\Sub", ExpandShellFolderPath(L"%CSIDL_PERSONAL%Sub", false, false, false));
    EXPECT_EQ(documents + L"\\Sub\\", ExpandShellFolderPath(L"%csidl_personal%\\Sub\\", false, true, false));
    EXPECT_EQ(documents, ExpandShellFolderPath(L"%CSIDL_PERSONAL%", false, false, false));
    EXPECT_EQ(documents + L"\\", ExpandShellFolderPath(L"%CSIDL_PERSONAL%\\", false, true, false));
    EXPECT_EQ(PrettyCasePath(documents + L"\\my sub\\", true),
              ExpandShellFolderPath(L"%CSIDL_PERSONAL%\\my sub", false, true, true));
    // Not a symbolic name, or no closing "%": unchanged.
    EXPECT_EQ(L"%nothing", ExpandShellFolderPath(L"%nothing", false, false, false));
    EXPECT_EQ(L"relative\\path", ExpandShellFolderPath(L"relative\\path", false, false, false));
    EXPECT_EQ(L"relative\\path\\", ExpandShellFolderPath(L"relative\\path", true, true, false));
    EXPECT_FALSE(IsDir(L"relative"));
    // A virtual folder has no sub-folders on disk: nothing relative to the
    // current directory is named (or created).
    EXPECT_EQ(L"", ExpandShellFolderPath(L"%CSIDL_DRIVES%\\stray", true, false, false));
    EXPECT_FALSE(IsDir(L"stray"));
}

TEST(ExpandShellFolderPath, CreatesMissingFolders) {
    testutil::TempDir temp;
    const std::wstring name = temp.Path().substr(TempFolder().size() + 1);  // "qf-test-...\"
    const std::wstring viaName = L"%CSIDL_TEMP%\\" + name + L"made\\by name";
    EXPECT_EQ(temp.Path() + L"made\\by name", ExpandShellFolderPath(viaName, true, false, false));
    EXPECT_TRUE(IsDir(temp.Path() + L"made\\by name"));

    const std::wstring direct = temp.Path() + L"direct\\a\\b";
    EXPECT_EQ(direct, ExpandShellFolderPath(direct, false, false, false));
    EXPECT_FALSE(IsDir(direct));
    EXPECT_EQ(direct + L"\\", ExpandShellFolderPath(direct, true, true, false));
    EXPECT_TRUE(IsDir(direct));

    // A file of that name is left alone; a folder that cannot be made raises.
    const std::wstring file = temp.Path() + L"file.txt";
    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(file, ExpandShellFolderPath(file, true, false, false));
    auto raised = CaptureRaise([&] { ExpandShellFolderPath(file + L"\\below", true, false, false); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EOSError", raised->ClassName);
    EXPECT_EQ(0u, raised->Message.find(L"Cannot create folder " + file + L"\\below: "));
}

TEST(NormalizeFolderPath, RootsKeepTheirBackslashOthersLoseOne) {
    const struct {
        const wchar_t* In;
        const wchar_t* Out;
    } cases[] = {
        {L"", L""},
        {L"C:", L"C:\\"},
        {L"C:\\", L"C:\\"},
        {L"C:\\Windows\\", L"C:\\Windows"},
        {L"C:\\Windows", L"C:\\Windows"},
        {L"C:\\a\\\\", L"C:\\a\\"},
        {L"\\\\server\\share", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\dir\\", L"\\\\server\\share\\dir"},
        {L"\\", L"\\"},
        {L"relative\\", L"relative"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.Out, NormalizeFolderPath(c.In)) << c.In;
    EXPECT_EQ(L"", AddTrailingBackslash(L""));
    EXPECT_EQ(L"C:\\", AddTrailingBackslash(L"C:"));
    EXPECT_EQ(L"C:\\x\\", AddTrailingBackslash(L"C:\\x\\"));
}

TEST(PrettyCasePath, CapitalisesWordsAndLowersTheExtension) {
    const struct {
        const wchar_t* In;
        bool Space;
        const wchar_t* Out;
    } cases[] = {
        {L"c:\\program files\\my app\\readme.TXT", true, L"C:\\Program Files\\My App\\Readme.txt"},
        {L"c:\\program files\\my app\\readme.TXT", false, L"C:\\Program files\\My app\\Readme.txt"},
        {L"C:\\PROGRAM FILES", true, L"C:\\Program Files"},
        {L"%csidl_personal%\\sub", true, L"%Csidl_Personal%\\Sub"},
        {L"x-ray_one(two)[three]{four}", false, L"X-Ray_One(Two)[Three]{Four}"},
        {L"c:\\\u00e4rger\\\u00f6l", true, L"C:\\\u00c4rger\\\u00d6l"},
        {L"c:\\dir.EXT\\name", true, L"C:\\Dir.Ext\\Name"},
        {L"http://www.Example.com/a b", true, L"http://www.Example.com/a b"},
        {L"ftp:/x y", true, L"ftp:/x y"},
        {L"", true, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.Out, PrettyCasePath(c.In, c.Space)) << c.In;
}

TEST(AttributesFromShellFlags, AMemberNeedsAllBitsOfItsFlag) {
    EXPECT_EQ((TFolderAttributeSet{atFolder, atFileSystem}), AttributesFromShellFlags(SFGAO_FOLDER | SFGAO_FILESYSTEM));
    EXPECT_EQ((TFolderAttributeSet{atCanMoniker, atHasStorage, atStream}), AttributesFromShellFlags(0x400000));
    EXPECT_EQ((TFolderAttributeSet{atCanCopy}), AttributesFromShellFlags(SFGAO_CANCOPY | 0x01000000));
    EXPECT_TRUE(AttributesFromShellFlags(0).Empty());
    TFolderAttributeSet all = AttributesFromShellFlags(0xFFFFFFFF);
    for (int a = atBrowsable; a <= atStream; ++a) EXPECT_TRUE(all.Contains(static_cast<TFolderAttributes>(a))) << a;
}

class ShellNamespaceTest : public ::testing::Test {
protected:
    testutil::TempDir Temp;
    std::wstring Folder() const { return NormalizeFolderPath(Temp.Path()); }
};

TEST_F(ShellNamespaceTest, FileSystemFoldersMakeTheRoundTrip) {
    CreateDirectoryW((Temp.Path() + L"inner dir").c_str(), nullptr);
    const std::wstring path = Temp.Path() + L"inner dir";
    ScopedPidl pidl = PathToPIDL(path, false, false);
    ASSERT_TRUE(pidl);
    TShellItemInfo info = PIDLToPath(pidl.Get(), false);
    EXPECT_EQ(Upper(path), Upper(info.Path));
    EXPECT_EQ(L"inner dir", info.DisplayName);
    EXPECT_TRUE(info.Attributes.Contains(atFolder));
    EXPECT_TRUE(info.Attributes.Contains(atFileSystem));

    info = PIDLToPath(pidl.Get(), true);
    EXPECT_EQ(PrettyCasePath(info.Path, true), info.Path);
    EXPECT_EQ(L"Inner Dir", info.DisplayName);

    // Both ways to the parent folder give the same item.
    for (auto bind : {BindToParentFolder, BindToParentFolderFromDesktop}) {
        TParentFolder parent = bind(pidl.Get());
        ASSERT_TRUE(parent.Folder);
        EXPECT_EQ(Upper(path), Upper(GetDisplayNameText(parent.Folder.Get(), parent.Child, dnForParsing)));
        EXPECT_EQ(L"inner dir", GetDisplayNameText(parent.Folder.Get(), parent.Child, dnNormal));
        EXPECT_TRUE(GetItemAttributes(parent.Folder.Get(), parent.Child).Contains(atFolder));
    }
}

TEST_F(ShellNamespaceTest, SymbolicAndVirtualPlaces) {
    ScopedPidl documents = PathToPIDL(L"%CSIDL_PERSONAL%", false, false);
    ASSERT_TRUE(documents);
    EXPECT_EQ(Upper(ShellFolderIdToPath(CSIDL_PERSONAL, false)), Upper(PIDLToPath(documents.Get(), false).Path));
    for (bool classic : {true, false}) {
        ScopedPidl myDocuments = PathToPIDL(L"%CSIDL_MYDOCUMENTS%", false, classic);
        ASSERT_TRUE(myDocuments);
        EXPECT_EQ(Upper(ShellFolderIdToPath(CSIDL_PERSONAL, false)), Upper(PIDLToPath(myDocuments.Get(), false).Path));
        ScopedPidl fallback = MyDocumentsPIDL(classic);
        ASSERT_TRUE(fallback);
        EXPECT_EQ(Upper(ShellFolderIdToPath(CSIDL_PERSONAL, false)), Upper(PIDLToPath(fallback.Get(), false).Path));
    }
    // A symbolic name with a sub-folder goes through the expansion.
    ScopedPidl sub = PathToPIDL(L"%CSIDL_TEMP%\\" + Temp.Path().substr(TempFolder().size() + 1), false, false);
    ASSERT_TRUE(sub);
    EXPECT_EQ(Upper(Folder()), Upper(PIDLToPath(sub.Get(), false).Path));

    ScopedPidl drives = PathToPIDL(L"%CSIDL_DRIVES%", false, false);
    ASSERT_TRUE(drives);
    TShellItemInfo info = PIDLToPath(drives.Get(), false);
    EXPECT_EQ(L"", info.Path);
    EXPECT_NE(L"", info.DisplayName);
    EXPECT_FALSE(info.Attributes.Contains(atFileSystem));
    EXPECT_TRUE(info.Attributes.Contains(atFolder));
    ScopedPidl parsed = ParseShellPath(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(ILIsEqual(drives.Get(), parsed.Get()));
}

TEST_F(ShellNamespaceTest, MissingFoldersAreCreatedOnRequest) {
    EXPECT_FALSE(PathToPIDL(L"", true, false));
    const std::wstring missing = Temp.Path() + L"not\\there";
    EXPECT_FALSE(PathToPIDL(missing, false, false));
    EXPECT_FALSE(IsDir(missing));
    ScopedPidl made = PathToPIDL(missing, true, false);
    EXPECT_TRUE(made);
    EXPECT_TRUE(IsDir(missing));
    EXPECT_EQ(Upper(missing), Upper(PIDLToPath(made.Get(), false).Path));
}

TEST_F(ShellNamespaceTest, ShortcutsToFoldersAreFollowed) {
    const std::wstring target = Temp.Path() + L"target";
    const std::wstring textFile = Temp.Path() + L"note.txt";
    CreateDirectoryW(target.c_str(), nullptr);
    CloseHandle(CreateFileW(textFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    MakeLink(Temp.Path() + L"to folder.lnk", target);
    MakeLink(Temp.Path() + L"to file.lnk", textFile);

    ScopedPidl toFolder = ParseShellPath(Temp.Path() + L"to folder.lnk");
    ASSERT_TRUE(toFolder);
    ScopedPidl resolved;
    ASSERT_TRUE(ResolveFolderShortcut(toFolder.Get(), resolved));
    ASSERT_TRUE(resolved);
    EXPECT_EQ(Upper(target), Upper(PIDLToPath(resolved.Get(), false).Path));

    for (const std::wstring& notToAFolder : {Temp.Path() + L"to file.lnk", textFile, target}) {
        ScopedPidl pidl = ParseShellPath(notToAFolder);
        ASSERT_TRUE(pidl);
        EXPECT_FALSE(ResolveFolderShortcut(pidl.Get(), resolved)) << PIDLToPath(pidl.Get(), false).Path.size();
        EXPECT_FALSE(resolved);
    }
}

}  // namespace
