// The proxy dialog "Configure HTTP Proxy": shows the shared proxy settings
// (server, port, user name, password) and saves all four on OK.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/Win.h"

namespace config {

// The dialog's data, kept in the window's DWLP_USER from WM_INITDIALOG on.
struct TfrmOnlineUpdateSetup {
    HWND Handle = nullptr;
    HWND editProxy = nullptr;
    HWND editPort = nullptr;
    HWND editUsername = nullptr;
    HWND editPassword = nullptr;
};

// Shows the dialog modally over `owner` (may be null). Loads the shared
// settings first, so a failure to read them raises to the caller before any
// window exists. Answers IDOK when the settings were saved, IDCANCEL when the
// dialog was cancelled or closed.
int ShowOnlineUpdateSetup(HWND owner);

// The port box's text as a number: optional blanks around an optionally
// signed decimal integer in 32-bit range; anything else is 0.
int32_t PortFromText(const std::wstring& text);

}  // namespace config
