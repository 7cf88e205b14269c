#include "rtl/WindowScale.h"

#include <algorithm>
#include <cwchar>

namespace rtl {

int ScreenDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

SIZE WindowSizeFor(HWND wnd, SIZE client) {
    RECT r{0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&r, GetWindowLongW(wnd, GWL_STYLE), GetMenu(wnd) != nullptr, GetWindowLongW(wnd, GWL_EXSTYLE));
    return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT FitToWorkArea(const RECT& stored, const RECT& area, int minWidth, int minHeight) {
    const int areaW = area.right - area.left, areaH = area.bottom - area.top;
    int w = std::clamp(static_cast<int>(stored.right - stored.left), std::min(minWidth, areaW), areaW);
    int h = std::clamp(static_cast<int>(stored.bottom - stored.top), std::min(minHeight, areaH), areaH);
    int left = std::clamp(static_cast<int>(stored.left), static_cast<int>(area.left), static_cast<int>(area.right) - w);
    int top = std::clamp(static_cast<int>(stored.top), static_cast<int>(area.top), static_cast<int>(area.bottom) - h);
    return RECT{left, top, left + w, top + h};
}

void ApplyLayout(HWND parent, const std::vector<TControlPlace>& places) {
    for (const TControlPlace& place : places) {
        HWND child = GetDlgItem(parent, place.Id);
        if (!child) continue;
        MoveWindow(child, place.Rect.left, place.Rect.top, place.Rect.right - place.Rect.left,
                   place.Rect.bottom - place.Rect.top, TRUE);
    }
}

int WindowFontHeight(int dpi) { return MulDiv(9, dpi > 0 ? dpi : 96, 72); }

HFONT CreateWindowFont(int dpi) {
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof(ncm);
    LOGFONTW lf{};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
        lf = ncm.lfMessageFont;
    else
        wcscpy(lf.lfFaceName, L"Tahoma");
    lf.lfHeight = -WindowFontHeight(dpi);
    lf.lfWidth = 0;
    return CreateFontIndirectW(&lf);
}

}  // namespace rtl
