#include "app/SendMemory.h"

#include <cwchar>
#include <initializer_list>
#include <utility>

#include "env/ErrorControlledRegistry.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace app {

const wchar_t* const kSendMemoryKey = L"Software\\Quillfen\\Orvex Engine\\9.0\\Support";

namespace {

const wchar_t* const kLastSendValue = L"Last send";
const wchar_t* const kDescriptionValue = L"Description";
const wchar_t* const kContactValue = L"Contact";

std::wstring ReadValue(const wchar_t* name) {
    std::wstring text;
    rtl::Try(
        [&] {
            env::TRegistry reg;
            if (reg.OpenKeyReadOnly(kSendMemoryKey) && reg.ValueExists(name)) text = reg.ReadString(name);
        },
        rtl::On<rtl::ERegistryException>([&](rtl::ERegistryException&) { text.clear(); }));
    return text;
}

// Stores each value as text; an empty one removes its value.
bool WriteValues(std::initializer_list<std::pair<const wchar_t*, std::wstring>> values) {
    bool written = false;
    rtl::Try(
        [&] {
            env::TRegistry reg;
            if (!reg.OpenKey(kSendMemoryKey, true)) return;
            for (const auto& [name, text] : values) {
                if (!text.empty())
                    reg.WriteString(name, text);
                else if (reg.ValueExists(name) && !reg.DeleteValue(name))
                    return;
            }
            written = true;
        },
        rtl::On<rtl::ERegistryException>([](rtl::ERegistryException&) {}));
    return written;
}

}  // namespace

std::wstring FormatUtcTime(const FILETIME& time) {
    SYSTEMTIME t{};
    if (!FileTimeToSystemTime(&time, &t)) return {};
    return rtl::Format(L"%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

bool ParseUtcTime(const std::wstring& text, FILETIME& time) {
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    int end = 0;
    if (swscanf(text.c_str(), L"%4u-%2u-%2uT%2u:%2u:%2uZ%n", &y, &mo, &d, &h, &mi, &s, &end) != 6 ||
        static_cast<size_t>(end) != text.size())
        return false;
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    // The conversion refuses a day or an hour that does not exist.
    return h < 24 && mi < 60 && s < 60 && SystemTimeToFileTime(&t, &time);
}

bool ReadLastSendTime(FILETIME& time) { return ParseUtcTime(ReadValue(kLastSendValue), time); }

bool WriteLastSendTime(const FILETIME& time) { return WriteValues({{kLastSendValue, FormatUtcTime(time)}}); }

TDraft ReadDraft() { return TDraft{ReadValue(kDescriptionValue), ReadValue(kContactValue)}; }

bool WriteDraft(const TDraft& draft) {
    return WriteValues({{kDescriptionValue, draft.Description}, {kContactValue, draft.Contact}});
}

}  // namespace app
