// Checks of a window's layout table, shared by the tests of every window
// that lays itself out for the screen's resolution.
#pragma once
#include <string>
#include <vector>

#include "rtl/WindowScale.h"

namespace testutil {

// The place of control `id` (a failure when the table has none).
RECT PlaceOf(const std::vector<rtl::TControlPlace>& places, int id);

// Every control lies inside the client area and has a size, and no two
// overlap; `where` names the case in failures.
void ExpectInsideAndApart(const std::vector<rtl::TControlPlace>& places, SIZE client, const std::string& where);

// The controls of `form` (maybe another process's window) stand where
// `places` puts them.
void ExpectWindowFollows(HWND form, const std::vector<rtl::TControlPlace>& places);

}  // namespace testutil
