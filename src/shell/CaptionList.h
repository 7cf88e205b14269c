// Captions by language: ordered "key=text" entries whose keys are four-digit
// upper-case hexadecimal language identifiers ("0407") or "Default".
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "rtl/Win.h"

namespace shell {

class TCaptionList {
public:
    TCaptionList() = default;
    TCaptionList(std::initializer_list<std::pair<std::wstring, std::wstring>> entries);

    void Add(const std::wstring& key, const std::wstring& text);
    void Clear() { FEntries.clear(); }
    size_t Count() const { return FEntries.size(); }
    bool Empty() const { return FEntries.empty(); }
    const std::wstring& Key(size_t i) const { return FEntries[i].first; }
    const std::wstring& Text(size_t i) const { return FEntries[i].second; }

    // The text under `key` (compared without regard to case).
    bool Find(const std::wstring& key, std::wstring& text) const;

    // All entries as "key=text" lines, each ended by CR LF.
    std::wstring AsText() const;

private:
    std::vector<std::pair<std::wstring, std::wstring>> FEntries;
};

// The caption for a language: the text under the language identifier, else
// under the primary language identifier, else under "Default", else the
// first entry's text; empty for an empty list.
std::wstring SelectCaption(const TCaptionList& list, const std::wstring& languageId,
                           const std::wstring& primaryLanguageId);

// "0407" for German (Germany): four upper-case hexadecimal digits.
std::wstring LanguageKey(LANGID language);
// The primary language of an identifier: its low 10 bits (0x0C07 -> 0x0007).
LANGID PrimaryLanguage(LANGID language);

// The first language of the translation table in Shell32.dll's version
// resource; the system's default language when that cannot be read.
LANGID ShellLanguage();

TCaptionList DefaultLabelCaptions();
TCaptionList DefaultNewFolderCaptions();

}  // namespace shell
