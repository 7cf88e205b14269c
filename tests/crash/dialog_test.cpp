// The error dialog driven for real: tabs by flags, the details toggle, the
// Terminate button and Esc.
#include <gtest/gtest.h>

#include "rtl/Win.h"

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "TestUtil.h"
#include "crash/ZudAvizi.h"
#include "crash/ZudAviziDlg.h"
#include "crash/ZudAviziDlgRes.h"

namespace {

using namespace crash;

struct DialogLook {
    int Tabs = -1;
    std::wstring FirstTab;
    int VisibleEdit = 0;
    bool DetailsVisible = false;
    bool TerminateVisible = false;
    int Height = 0;
    int HeightAfterDetails = 0;
    int HeightAfterTwice = 0;
    std::wstring CaptionAfterDetails;
    std::wstring Message;
};

HWND WaitForDialog(const wchar_t* title) {
    HWND dlg = nullptr;
    // Visible only once its initialisation (tabs, texts) has run.
    auto shown = [&] { return (dlg = FindWindowW(L"#32770", title)) != nullptr && IsWindowVisible(dlg); };
    return testutil::WaitUntil(shown, 20000, 100) ? dlg : nullptr;
}

// Saves what the window shows as a 24-bit BMP (for the record of the build).
void SaveWindowPicture(HWND wnd, const std::wstring& path) {
    RECT r{};
    GetWindowRect(wnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    DWORD stride = ((w * 3 + 3) & ~3), size = stride * h;
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof(fh) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                        sizeof(fh) + sizeof(BITMAPINFOHEADER)};
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(f, &fh, sizeof(fh), &written, nullptr);
    WriteFile(f, &bi.bmiHeader, sizeof(BITMAPINFOHEADER), &written, nullptr);
    WriteFile(f, bits, size, &written, nullptr);
    CloseHandle(f);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

int WindowHeight(HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return r.bottom - r.top;
}

std::wstring Text(HWND wnd) {
    wchar_t buf[256] = {};
    GetWindowTextW(wnd, buf, 256);
    return buf;
}

// Shows the dialog on this thread while another thread looks at it and
// closes it with `closingCommand`.
int32_t RunDialog(uint32_t flags, DialogLook& look, WORD closingCommand, const wchar_t* title) {
    rtl::TStringList stack, regs, custom;
    stack.Add(L"Call stack:");
    regs.Add(L"Registers:");
    custom.Add(L"custom line");
    std::thread driver([&] {
        HWND dlg = WaitForDialog(title);
        if (!dlg) return;
        HWND tabs = GetDlgItem(dlg, IDC_EXC_TABS);
        look.Tabs = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
        if (look.Tabs > 0) {
            wchar_t caption[64] = {};
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = caption;
            item.cchTextMax = 64;
            SendMessageW(tabs, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            look.FirstTab = caption;
        }
        for (int id : {IDC_EXC_CALLSTACK, IDC_EXC_REGISTERS, IDC_EXC_CUSTOMINFO})
            if (IsWindowVisible(GetDlgItem(dlg, id))) look.VisibleEdit = id;
        look.DetailsVisible = IsWindowVisible(GetDlgItem(dlg, IDC_EXC_DETAILS));
        look.TerminateVisible = IsWindowVisible(GetDlgItem(dlg, IDC_EXC_TERMINATE));
        look.Message = Text(GetDlgItem(dlg, IDC_EXC_MESSAGE));
        look.Height = WindowHeight(dlg);
        if (look.DetailsVisible) {
            SendMessageW(GetDlgItem(dlg, IDC_EXC_DETAILS), BM_CLICK, 0, 0);
            look.HeightAfterDetails = WindowHeight(dlg);
            look.CaptionAfterDetails = Text(GetDlgItem(dlg, IDC_EXC_DETAILS));
            if (look.HeightAfterDetails > look.Height) {  // the expanded dialog, for the record
                UpdateWindow(dlg);
                Sleep(300);
                SaveWindowPicture(dlg, testutil::ExeFolder() + L"error-dialog.bmp");
            }
            SendMessageW(GetDlgItem(dlg, IDC_EXC_DETAILS), BM_CLICK, 0, 0);
            look.HeightAfterTwice = WindowHeight(dlg);
        }
        PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(closingCommand, BN_CLICKED), 0);
    });
    int32_t result =
        ShowExceptionDialog(title, L"Something failed", L"Extra", flags, nullptr, nullptr, &custom, &regs, &stack);
    driver.join();
    return result;
}

TEST(ErrorDialog, AllTabsTheDetailsToggleAndEsc) {
    DialogLook look;
    int32_t result = RunDialog(cDlgFlagCallStack | cDlgFlagRegisters | cDlgFlagCustomInfo, look, IDCANCEL, L"All tabs");
    EXPECT_EQ(result, cDlgResultOk);  // Esc is never Terminate
    EXPECT_EQ(look.Tabs, 3);
    EXPECT_EQ(look.FirstTab, L"Call Stack");
    EXPECT_EQ(look.VisibleEdit, IDC_EXC_CALLSTACK);
    EXPECT_EQ(look.Message, L"Something failed");
    EXPECT_FALSE(look.TerminateVisible);
    ASSERT_TRUE(look.DetailsVisible);
    EXPECT_GT(look.HeightAfterDetails, look.Height);  // compact at start, expanded after Details
    EXPECT_EQ(look.CaptionAfterDetails, L"Compact <<");
    EXPECT_EQ(look.HeightAfterTwice, look.Height);
}

TEST(ErrorDialog, OneTabShowsItsEditAndTerminateEndsWithItsResult) {
    DialogLook look;
    int32_t result =
        RunDialog(cDlgFlagRegisters | cDlgFlagTerminate | cDlgFlagDetailed, look, IDC_EXC_TERMINATE, L"Registers only");
    EXPECT_EQ(result, cDlgResultTerminate);
    EXPECT_EQ(look.Tabs, 1);
    EXPECT_EQ(look.FirstTab, L"Registers");
    EXPECT_EQ(look.VisibleEdit, IDC_EXC_REGISTERS);
    EXPECT_TRUE(look.TerminateVisible);
    EXPECT_LT(look.HeightAfterDetails, look.Height);  // started expanded
}

TEST(ErrorDialog, WithoutTabsItStaysCompact) {
    DialogLook detailed, plain;
    EXPECT_EQ(RunDialog(cDlgFlagDetailed, detailed, IDC_EXC_OK, L"No tabs detailed"), cDlgResultOk);
    EXPECT_EQ(RunDialog(0, plain, IDC_EXC_OK, L"No tabs"), cDlgResultOk);
    EXPECT_EQ(detailed.Tabs, 0);
    EXPECT_FALSE(detailed.DetailsVisible);
    EXPECT_EQ(detailed.VisibleEdit, 0);
    EXPECT_EQ(detailed.Height, plain.Height);  // the detailed flag cannot expand it
}

}  // namespace
