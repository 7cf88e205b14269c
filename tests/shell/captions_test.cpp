#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rtl/Text.h"
#include "shell/CaptionList.h"
#include "shell/ShellFolderDialog.h"

using namespace shell;

namespace {

TEST(CaptionLookup, LanguageThenPrimaryThenDefaultThenFirstEntry) {
    const TCaptionList list{{L"Default", L"default"}, {L"0007", L"primary"}, {L"0c07", L"exact"}};
    EXPECT_EQ(L"exact", SelectCaption(list, L"0C07", L"0007"));
    EXPECT_EQ(L"primary", SelectCaption(list, L"0407", L"0007"));
    EXPECT_EQ(L"default", SelectCaption(list, L"0C0A", L"000A"));
    const TCaptionList noDefault{{L"0013", L"first"}, {L"0016", L"second"}};
    EXPECT_EQ(L"first", SelectCaption(noDefault, L"0C0A", L"000A"));
    EXPECT_EQ(L"", SelectCaption(TCaptionList(), L"0409", L"0009"));
}

TEST(CaptionLookup, LanguageKeys) {
    EXPECT_EQ(L"0C07", LanguageKey(0x0C07));
    EXPECT_EQ(L"0007", LanguageKey(PrimaryLanguage(0x0C07)));
    EXPECT_EQ(L"000A", LanguageKey(PrimaryLanguage(0x0C0A)));
    EXPECT_EQ(0x0016, PrimaryLanguage(0x0416));
    // The shell's language comes from its version resource; either way it names a language.
    EXPECT_NE(0, PrimaryLanguage(ShellLanguage()));
}

TEST(CaptionLookup, DefaultListsCoverTheirLanguagesInOrder) {
    for (const TCaptionList& list : {DefaultLabelCaptions(), DefaultNewFolderCaptions()}) {
        ASSERT_EQ(36u, list.Count());
        EXPECT_EQ(L"Default", list.Key(0));
        EXPECT_EQ(L"0006", list.Key(1));
        EXPECT_EQ(L"0416", list.Key(16));
        EXPECT_EQ(L"2C09", list.Key(35));
        // Every key's text is its primary language's text.
        for (size_t i = 1; i < list.Count(); ++i) {
            std::wstring primaryText;
            ASSERT_TRUE(
                list.Find(LanguageKey(PrimaryLanguage(static_cast<LANGID>(wcstoul(list.Key(i).c_str(), nullptr, 16)))),
                          primaryText));
            EXPECT_EQ(primaryText, list.Text(i)) << list.Key(i);
        }
    }
    std::wstring text;
    ASSERT_TRUE(DefaultLabelCaptions().Find(L"0c0c", text));
    EXPECT_EQ(L"Dossier courant :", text);
    ASSERT_TRUE(DefaultNewFolderCaptions().Find(L"0415", text));
    EXPECT_EQ(L"Nowy folder", text);
}

TEST(FolderDialogCaptions, ChosenByTheComponentsLanguage) {
    TShellFolderDialog austrian(nullptr, 0x0C07);
    EXPECT_EQ(L"0C07", austrian.LanguageId());
    EXPECT_EQ(L"0007", austrian.PrimaryLanguageId());
    EXPECT_EQ(L"Ausgew\u00e4hlter Ordner:", austrian.LabelCaption());
    EXPECT_EQ(L"Neuer Ordner", austrian.NewFolderCaption());
    EXPECT_EQ(L"", austrian.Title());

    // Spanish is in no list: neither 0C0A nor 000A, so "Default".
    TShellFolderDialog spanish(nullptr, 0x0C0A);
    EXPECT_EQ(L"Current folder:", spanish.LabelCaption());
    EXPECT_EQ(L"New folder", spanish.NewFolderCaption());

    // Changing a list recomputes its caption.
    spanish.SetLabelCaptions({{L"0010", L"Italiano"}, {L"000a", L"Carpeta actual:"}});
    EXPECT_EQ(L"Carpeta actual:", spanish.LabelCaption());
    spanish.SetTitles({{L"0409", L"Choose"}});
    EXPECT_EQ(L"Choose", spanish.Title());
    spanish.SetNewFolderCaptions({});
    EXPECT_EQ(L"", spanish.NewFolderCaption());

    TShellFolderDialog shellLanguage;
    EXPECT_EQ(LanguageKey(ShellLanguage()), shellLanguage.LanguageId());
}

TEST(FolderDialogDefaults, PropertiesAndBrowseFlags) {
    TShellFolderDialog dialog;
    EXPECT_EQ(bfOnlyFileSystem, dialog.BrowseFor());
    EXPECT_EQ((TBrowseInfoFlagSet{bfShowPath, bfNewDialogStyle}), dialog.Flags());
    EXPECT_EQ((TExtraFlagSet{efAutoExpandTree, efUsePrettyCase}), dialog.ExtraFlags());
    EXPECT_EQ(L"", dialog.Folder());
    EXPECT_EQ(L"", dialog.RootFolder());
    EXPECT_EQ(L"10.00.00.00", dialog.Version());
    EXPECT_EQ(nullptr, dialog.DialogHandle());

    EXPECT_EQ(0x45u, BrowseInfoFlags(dialog.BrowseFor(), dialog.Flags()));
    EXPECT_EQ(0u, BrowseInfoFlags(bfAll, {}));
    EXPECT_EQ(0x1000u | 0x4000u | 0x8000u, BrowseInfoFlags(bfOnlyComputers, {bfIncludefiles, bfHideMappedDrives}));
    EXPECT_EQ(0x2008u, BrowseInfoFlags(bfOnlyAncestors, {}) | BrowseInfoFlags(bfOnlyPrinters, {}));
    EXPECT_EQ(0x2u | 0x10u | 0x20u | 0x80u | 0x100u | 0x200u | 0x400u,
              BrowseInfoFlags(bfOnlyDomains, {bfEditBox, bfValidate, bfIncludeURLs, bfUsageHint, bfHideNewFolderButton,
                                              bfDontBrowseShortcuts}));
}

TEST(NewFolderButton, SizesFollowThePixelsPerInch) {
    const struct {
        int Ppi, CaptionWidth;
        TNewFolderButtonMetrics Expected;
    } cases[] = {
        {96, 40, {12, 75, 23}},                             // narrow caption: the minimum width
        {96, 100, {12, 112, 23}},                           // wide caption: its width plus 12
        {72, 10, {12, 75, 23}},   {120, 10, {15, 94, 28}},  // minimum 75 * 120 / 96, rounded
        {144, 10, {17, 113, 35}}, {192, 200, {20, 212, 41}},
        {110, 0, {14, 86, 26}},  // any other resolution scales 12, 75, 23
    };
    for (const auto& c : cases) {
        TNewFolderButtonMetrics m = NewFolderButtonMetrics(c.Ppi, c.CaptionWidth);
        EXPECT_EQ(c.Expected.Left, m.Left) << c.Ppi;
        EXPECT_EQ(c.Expected.Width, m.Width) << c.Ppi;
        EXPECT_EQ(c.Expected.Height, m.Height) << c.Ppi;
    }
}

TEST(FolderFilter, AddsShareableItemsAndAsksTheEvent) {
    testutil::TempDir temp;
    CreateDirectoryW((temp.Path() + L"keep").c_str(), nullptr);
    CreateDirectoryW((temp.Path() + L"skip").c_str(), nullptr);
    TShellFolderDialog dialog;
    IFolderFilter* filter = nullptr;
    ASSERT_HRESULT_SUCCEEDED(dialog.QueryInterface(IID_IFolderFilter, reinterpret_cast<void**>(&filter)));
    ASSERT_EQ(static_cast<IFolderFilter*>(&dialog), filter);

    DWORD flags = SHCONTF_FOLDERS;
    EXPECT_HRESULT_SUCCEEDED(filter->GetEnumFlags(nullptr, nullptr, nullptr, &flags));
    EXPECT_EQ(static_cast<DWORD>(SHCONTF_FOLDERS | 0x100), flags);

    ScopedPidl keep = ParseShellPath(temp.Path() + L"keep");
    ScopedPidl skip = ParseShellPath(temp.Path() + L"skip");
    TParentFolder keepParent = BindToParentFolder(keep.Get());
    TParentFolder skipParent = BindToParentFolder(skip.Get());
    ASSERT_TRUE(keepParent.Folder && skipParent.Folder);
    // Without a handler every item is shown.
    EXPECT_EQ(S_OK, filter->ShouldShow(skipParent.Folder.Get(), nullptr, skipParent.Child));

    std::vector<std::wstring> asked;
    dialog.OnXPIncludeItem = [&](TShellFolderDialog&, HWND, IShellFolder*, LPCITEMIDLIST, LPCITEMIDLIST,
                                 const std::wstring& name, TFolderAttributeSet attributes, bool& include) {
        asked.push_back(name);
        EXPECT_TRUE(include);
        EXPECT_TRUE(attributes.Contains(atFolder));
        include = name.find(L"skip") == std::wstring::npos;
    };
    EXPECT_EQ(S_OK, filter->ShouldShow(keepParent.Folder.Get(), nullptr, keepParent.Child));
    EXPECT_EQ(S_FALSE, filter->ShouldShow(skipParent.Folder.Get(), nullptr, skipParent.Child));
    ASSERT_EQ(2u, asked.size());
    EXPECT_EQ(temp.Path() + L"keep", asked[0]);
}

}  // namespace
