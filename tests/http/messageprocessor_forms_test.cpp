// The GUI message processor: installed by its start-up step, it dispatches
// waiting window messages; after its shutdown step nothing is pumped.
#include <gtest/gtest.h>

#include "http/httpuploader_messageprocessor_forms.h"
#include "rtl/Forms.h"

using namespace http;

namespace {

int gDelivered = 0;
LRESULT CALLBACK CountingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 1) {
        ++gDelivered;
        return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

TEST(MessageProcessorFormsTest, StartupInstallsAPumpAndShutdownRemovesIt) {
    const bool ownForms = rtl::Application == nullptr;
    if (ownForms) rtl::FormsStartup();
    WNDCLASSW wc{};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QfHttpPumpProbe";
    RegisterClassW(&wc);
    HWND probe = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, probe);

    ASSERT_EQ(nullptr, HTTPUploader_MessageProcessor);
    HTTPUploaderMessageProcessorFormsStartup();
    THTTPUploader_MessageProcessor* installed = HTTPUploader_MessageProcessor;
    ASSERT_NE(nullptr, installed);
    HTTPUploaderMessageProcessorFormsStartup();
    EXPECT_EQ(installed, HTTPUploader_MessageProcessor);

    PostMessageW(probe, WM_APP + 1, 0, 0);
    PostMessageW(probe, WM_APP + 1, 0, 0);
    HTTPUploader_ProcessMessages();
    EXPECT_EQ(2, gDelivered);

    HTTPUploaderMessageProcessorFormsShutdown();
    EXPECT_EQ(nullptr, HTTPUploader_MessageProcessor);
    PostMessageW(probe, WM_APP + 1, 0, 0);
    HTTPUploader_ProcessMessages();  // nothing installed: no pumping, no error
    EXPECT_EQ(2, gDelivered);

    MSG msg;
    while (PeekMessageW(&msg, probe, 0, 0, PM_REMOVE)) {}
    DestroyWindow(probe);
    if (ownForms) rtl::FormsShutdown();
}

}  // namespace
