#include "app/WindowScale.h"

#include <cwchar>

namespace app {

int ScreenDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

SIZE WindowSizeFor(HWND wnd, SIZE client) {
    RECT r{0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&r, GetWindowLongW(wnd, GWL_STYLE), TRUE, GetWindowLongW(wnd, GWL_EXSTYLE));
    return SIZE{r.right - r.left, r.bottom - r.top};
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

}  // namespace app
