// Where the main window's controls go for a client size and a screen
// resolution: lists and the answer share the height that is left, the
// buttons keep their size at the right, everything scales with the
// resolution (96 dots per inch is the design size).
#pragma once
#include <vector>

#include "rtl/WindowScale.h"

namespace app {

// Client size below which the layout would clip (the window's minimum).
SIZE MainMinimumClientSize(int dpi);
// The design size the window opens with.
SIZE MainDefaultClientSize(int dpi);

// The place of every control (ids from MainFormIds.h). Sizes below the
// minimum are laid out as the minimum.
std::vector<rtl::TControlPlace> ComputeMainLayout(int clientWidth, int clientHeight, int dpi);

}  // namespace app
