// Windows laid out for the screen's resolution: layouts are designed at 96
// dots per inch and scaled, texts use the system's message font at 9 points,
// and a layout is a table of control ids and their places.
#pragma once
#include <vector>

#include "rtl/Win.h"

namespace rtl {

struct TControlPlace {
    int Id;
    RECT Rect;
};

// Lengths designed at 96 dots per inch, scaled to a resolution (taken as 96
// when it is not known).
struct TDesignScale {
    explicit TDesignScale(int dpi) : Dpi(dpi > 0 ? dpi : 96) {}
    int S(int designPixels) const { return MulDiv(designPixels, Dpi, 96); }
    int Dpi;
};

// The screen's resolution in dots per inch (96 when it cannot be read).
int ScreenDpi();

// The outer size of the window (frame, and menu bar when it has one) around a client area.
SIZE WindowSizeFor(HWND wnd, SIZE client);

// The window rectangle `stored` moved and shrunk so that it lies inside
// `workArea` and is at least `minWidth` x `minHeight`.
RECT FitToWorkArea(const RECT& stored, const RECT& workArea, int minWidth, int minHeight);

// Moves every child of `parent` named in `places` (by its id) to its place.
void ApplyLayout(HWND parent, const std::vector<TControlPlace>& places);

// Font height in pixels for the windows' text at a resolution (9 points).
int WindowFontHeight(int dpi);
// The system's message font face at that height; the caller deletes it.
HFONT CreateWindowFont(int dpi);

}  // namespace rtl
