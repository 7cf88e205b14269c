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
    HWND lblStatus = nullptr;
};

// Shows the dialog modally over `owner` (may be null), filled from the
// shared settings; a stored value they could not read is named in the
// dialog's status line. OK reads the boxes with ReadProxyBoxes
// (ProxyAddress.h) and saves; text it refuses, or settings the registry
// does not take, are said in the status line and the dialog stays open.
// Answers IDOK once the settings were saved, IDCANCEL when the dialog was
// cancelled or closed.
int ShowOnlineUpdateSetup(HWND owner);

}  // namespace config
