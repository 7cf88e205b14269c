// The main window's place on the desktop, remembered per user under
// HKEY_CURRENT_USER\Software\Quillfen\Orvex Engine\9.0\Main Window.
#pragma once
#include "rtl/Win.h"

namespace app {

extern const wchar_t* const kWindowPlacementKey;

// Stores the window's normal (restored) rectangle and whether it is
// maximised. Registry failures are ignored: the place is a convenience.
void SaveWindowPlacement(HWND window);

// Places the window where it was; answers false (leaving it alone) when
// nothing usable is stored. `show` receives SW_SHOWMAXIMIZED when it was
// maximised, else SW_SHOWNORMAL.
bool RestoreWindowPlacement(HWND window, int minWidth, int minHeight, int& show);

}  // namespace app
