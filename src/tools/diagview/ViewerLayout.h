// Where the crash report viewer's controls go for a client size and a screen
// resolution: the report on top takes what is left, the files, description,
// contact, answer, status line and buttons below it keep their heights, and
// everything scales with the resolution (96 dots per inch is the design size).
#pragma once
#include <vector>

#include "rtl/WindowScale.h"

namespace diagview {

// Client size below which the layout would clip (the window's minimum).
SIZE ViewerMinimumClientSize(int dpi);
// The size the window opens with.
SIZE ViewerDefaultClientSize(int dpi);

// The place of every control (ids from DiagViewIds.h). Sizes below the
// minimum are laid out as the minimum.
std::vector<rtl::TControlPlace> ComputeViewerLayout(int clientWidth, int clientHeight, int dpi);

// The report's fixed-pitch font at a resolution; the caller deletes it.
int ReportFontHeight(int dpi);
HFONT CreateReportFont(int dpi);

}  // namespace diagview
