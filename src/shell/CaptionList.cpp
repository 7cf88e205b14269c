#include "shell/CaptionList.h"

#include <vector>

#include "rtl/Text.h"

namespace shell {

namespace {

bool SameKey(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The keys of both default lists, in their order.
const wchar_t* const kDefaultKeys[] = {
    L"Default", L"0006", L"0007", L"0009", L"000C", L"0010", L"0013", L"0015", L"0016", L"0406", L"0407", L"0409",
    L"040C",    L"0410", L"0413", L"0415", L"0416", L"0807", L"0809", L"080C", L"0810", L"0C07", L"0C09", L"0C0C",
    L"1007",    L"1009", L"100C", L"1407", L"1409", L"140C", L"1809", L"180C", L"1C09", L"2009", L"2809", L"2C09"};

struct TLanguageCaptions {
    LANGID Primary;
    const wchar_t* Label;
    const wchar_t* NewFolder;
};
// "Default" has the English texts.
const TLanguageCaptions kCaptions[] = {
    {LANG_ENGLISH, L"Current folder:", L"New folder"},
    {LANG_DANISH, L"Valgt mappe:", L"Ny mappe"},
    {LANG_GERMAN, L"Ausgew\u00e4hlter Ordner:", L"Neuer Ordner"},
    {LANG_FRENCH, L"Dossier courant :", L"Nouveau dossier"},
    {LANG_ITALIAN, L"Cartella selezionata:", L"Nuova Cartella"},
    {LANG_DUTCH, L"Huidige map:", L"Nieuwe map"},
    {LANG_POLISH, L"Bie\u017c\u0105cy folder", L"Nowy folder"},
    {LANG_PORTUGUESE, L"Pasta Atual:", L"Nova Pasta"},
};

template <class Pick>
TCaptionList DefaultList(Pick pick) {
    TCaptionList list;
    for (const wchar_t* key : kDefaultKeys) {
        LANGID primary =
            SameKey(key, L"Default") ? LANG_ENGLISH : PrimaryLanguage(static_cast<LANGID>(wcstoul(key, nullptr, 16)));
        for (const TLanguageCaptions& c : kCaptions)
            if (c.Primary == primary) list.Add(key, pick(c));
    }
    return list;
}

}  // namespace

TCaptionList::TCaptionList(std::initializer_list<std::pair<std::wstring, std::wstring>> entries) : FEntries(entries) {}

void TCaptionList::Add(const std::wstring& key, const std::wstring& text) { FEntries.emplace_back(key, text); }

bool TCaptionList::Find(const std::wstring& key, std::wstring& text) const {
    for (const auto& [k, t] : FEntries)
        if (SameKey(k, key)) {
            text = t;
            return true;
        }
    return false;
}

std::wstring TCaptionList::AsText() const {
    std::wstring text;
    for (const auto& [k, t] : FEntries) text += k + L"=" + t + L"\r\n";
    return text;
}

std::wstring SelectCaption(const TCaptionList& list, const std::wstring& languageId,
                           const std::wstring& primaryLanguageId) {
    std::wstring caption;
    if (list.Empty()) return caption;
    if (list.Find(languageId, caption) || list.Find(primaryLanguageId, caption) || list.Find(L"Default", caption))
        return caption;
    return list.Text(0);
}

std::wstring LanguageKey(LANGID language) { return rtl::IntToHex(language, 4); }

LANGID PrimaryLanguage(LANGID language) { return static_cast<LANGID>(language & 0x3FF); }

LANGID ShellLanguage() {
    wchar_t path[MAX_PATH] = {};
    HMODULE shell32 = GetModuleHandleW(L"Shell32.dll");
    if (shell32 && GetModuleFileNameW(shell32, path, MAX_PATH)) {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(path, &ignored);
        std::vector<BYTE> data(size);
        struct Translation {
            WORD Language;
            WORD CodePage;
        }* translation = nullptr;
        UINT length = 0;
        if (size && GetFileVersionInfoW(path, 0, size, data.data()) &&
            VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                           &length) &&
            translation && length >= sizeof(Translation))
            return translation->Language;
    }
    return GetSystemDefaultLangID();
}

TCaptionList DefaultLabelCaptions() {
    return DefaultList([](const TLanguageCaptions& c) { return c.Label; });
}

TCaptionList DefaultNewFolderCaptions() {
    return DefaultList([](const TLanguageCaptions& c) { return c.NewFolder; });
}

}  // namespace shell
