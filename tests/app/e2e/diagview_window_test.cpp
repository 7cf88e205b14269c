// The crash report viewer's layout at 96 and 144 dpi, and the real program
// laid out and lettered at 144.
#include <gtest/gtest.h>

#include "E2eDriver.h"
#include "app/LayoutCheck.h"
#include "diagview/DiagViewIds.h"
#include "diagview/ViewerLayout.h"

namespace {

using namespace diagview;
using testutil::PlaceOf;

int W(const RECT& r) { return r.right - r.left; }
int H(const RECT& r) { return r.bottom - r.top; }

TEST(ViewerLayout, ControlsStayInsideAndApartAndScaleWithTheResolution) {
    for (int dpi : {96, 144}) {
        const SIZE min = ViewerMinimumClientSize(dpi), def = ViewerDefaultClientSize(dpi);
        for (SIZE s : {min, def, SIZE{def.cx * 2, def.cy * 2}, SIZE{min.cx, def.cy}, SIZE{def.cx, min.cy + 1}}) {
            const std::string where = std::to_string(s.cx) + "x" + std::to_string(s.cy) + " " + std::to_string(dpi);
            testutil::ExpectInsideAndApart(ComputeViewerLayout(s.cx, s.cy, dpi), s, where);
        }
        testutil::ExpectInsideAndApart(ComputeViewerLayout(10, 10, dpi), min, "10x10, laid out as the minimum");
    }
    // 144 dpi is the 96 dpi design one and a half times, control by control.
    const auto at96 = ComputeViewerLayout(0, 0, 96), at144 = ComputeViewerLayout(0, 0, 144);
    ASSERT_EQ(at96.size(), at144.size());
    for (size_t i = 0; i < at96.size(); ++i)
        EXPECT_TRUE(W(at96[i].Rect) * 3 / 2 == W(at144[i].Rect) && H(at96[i].Rect) * 3 / 2 == H(at144[i].Rect))
            << "size of control " << at96[i].Id;
    // Growing the window gives the room to the report; Close stays at the right.
    const auto big = ComputeViewerLayout(1000, 900, 96);
    EXPECT_EQ(900 - ViewerMinimumClientSize(96).cy, H(PlaceOf(big, idReportText)) - H(PlaceOf(at96, idReportText)));
    EXPECT_EQ(1000 - 8, PlaceOf(big, idClose).right);
}

// `edit`, a multi-line edit control of another process, has the lines of `font` (which this deletes).
void ExpectLinesOf(HFONT font, HWND edit) {
    HDC dc = GetDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    DeleteObject(SelectObject(dc, old));
    ReleaseDC(nullptr, dc);
    const LRESULT second = SendMessageW(edit, EM_LINEINDEX, 1, 0);
    EXPECT_EQ(tm.tmHeight,
              HIWORD(SendMessageW(edit, EM_POSFROMCHAR, second, 0)) - HIWORD(SendMessageW(edit, EM_POSFROMCHAR, 0, 0)));
}

TEST(ViewerWindowDpi, TheWindowIsLaidOutForTheScreensResolution) {
    SetProcessDPIAware();  // the viewer's coordinates as they are, not scaled to 96 dpi
    e2e::TRegistryValue logPixels(L"Control Panel\\Desktop", L"LogPixels");
    ASSERT_TRUE(logPixels.SetDword(144));
    testutil::TempDir dir;  // no report: the report box says so, in two lines
    e2e::TProcess viewer(L"\"" + e2e::BuildFile(L"src\\tools\\diagview\\diagview.exe") + L"\" -c \"" + dir.Path() +
                         L"missing.log\"");
    const HWND wnd = e2e::WaitForTopWindow(viewer.Id(), kViewerTitle, 60000);
    ASSERT_NE(nullptr, wnd);
    // Its design size, or as much of it as the screen's work area holds.
    RECT rc{}, frame{}, work{};
    GetClientRect(wnd, &rc);
    GetWindowRect(wnd, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(rc.right == ViewerDefaultClientSize(144).cx || W(frame) == W(work)) << rc.right;
    EXPECT_TRUE(rc.bottom == ViewerDefaultClientSize(144).cy || H(frame) == H(work)) << rc.bottom;
    testutil::ExpectWindowFollows(wnd, ComputeViewerLayout(rc.right, rc.bottom, 144));
    ExpectLinesOf(CreateReportFont(144), GetDlgItem(wnd, idReportText));
    ASSERT_TRUE(e2e::SetTextOf(GetDlgItem(wnd, idDescription), L"one\r\ntwo"));
    ExpectLinesOf(rtl::CreateWindowFont(144), GetDlgItem(wnd, idDescription));
    // Made smaller than it can be, it stops at its minimum, laid out again.
    SetWindowPos(wnd, nullptr, 0, 0, 10, 10, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetClientRect(wnd, &rc);
    EXPECT_TRUE(rc.right == ViewerMinimumClientSize(144).cx && rc.bottom == ViewerMinimumClientSize(144).cy);
    testutil::ExpectWindowFollows(wnd, ComputeViewerLayout(rc.right, rc.bottom, 144));
    viewer.Close(wnd);
}

}  // namespace
