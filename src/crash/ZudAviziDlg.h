// The default error dialog: the error icon, the message, OK, an optional
// Terminate button and an expandable details area whose tabs show the call
// stack, the registers and custom information as monospaced read-only text.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/StringList.h"
#include "rtl/Win.h"

namespace crash {

// Dialog results.
constexpr int32_t cDlgResultOk = 0;
constexpr int32_t cDlgResultTerminate = 0x10000;

// Runs dialog template 2000 of the program's own module modally over
// `owner` and answers its result. Absent lists show empty texts. `flags`
// are the dialog flags (cDlgFlag... in ZudAvizi.h).
int32_t ShowExceptionDialog(const std::wstring& title, const std::wstring& message, const std::wstring& customTabTitle,
                            uint32_t flags, HICON icon, HWND owner, const rtl::TStringList* customInfo,
                            const rtl::TStringList* registers, const rtl::TStringList* callStack);

}  // namespace crash
