// What the main window keeps for the next send, per user, under
// HKEY_CURRENT_USER\Software\Quillfen\Orvex Engine\9.0\Support: when the
// last send the server accepted began, and the description and contact
// typed but not sent yet. Registry failures are ignored on reading (nothing
// is remembered) and answered false on writing.
#pragma once
#include <string>

#include "rtl/Win.h"

namespace app {

extern const wchar_t* const kSendMemoryKey;

// The start of the last accepted send, as UTC; false when none is stored
// or the stored text is not a time.
bool ReadLastSendTime(FILETIME& time);
bool WriteLastSendTime(const FILETIME& time);

// "2026-12-09T20:30:15Z" and back; false for any other text.
std::wstring FormatUtcTime(const FILETIME& time);
bool ParseUtcTime(const std::wstring& text, FILETIME& time);

struct TDraft {
    std::wstring Description;
    std::wstring Contact;
};
TDraft ReadDraft();
// Stores the draft; an empty field removes its value.
bool WriteDraft(const TDraft& draft);

}  // namespace app
