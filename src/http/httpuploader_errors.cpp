#include "http/httpuploader_errors.h"

#include "rtl/Text.h"
#include "rtl/Win.h"

#include <wininet.h>

namespace http {

RTL_DEFINE_EXCEPTION_CLASS(EHTTPUploader, rtl::Exception)
RTL_DEFINE_EXCEPTION_CLASS(EHTTPUploaderCancel, rtl::Exception)

std::wstring WinInetErrorText(uint32_t code) {
    HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    if (!wininet) return {};
    wchar_t buf[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, wininet, code,
                             0 /* language neutral */, buf, 256, nullptr);
    if (n == 0 || n > 256) return {};
    std::wstring s(buf, n);
    while (!s.empty() && (s.back() <= L' ' || s.back() == L'.')) s.pop_back();
    return s;
}

std::wstring UploadErrorText(uint32_t code) {
    if (code == 0) return {};
    std::wstring s = WinInetErrorText(code);
    if (!s.empty()) return s;
    s = rtl::SysErrorMessage(code);
    while (!s.empty() && (s.back() <= L' ' || s.back() == L'.')) s.pop_back();
    return s;
}

bool IsBrokenConnection(int code) {
    return code == WSAECONNRESET || code == WSAECONNABORTED || code == ERROR_INTERNET_CONNECTION_ABORTED ||
           code == ERROR_INTERNET_CONNECTION_RESET || code == ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

bool IsTransientFailure(int code) {
    return IsBrokenConnection(code) || code == ERROR_INTERNET_TIMEOUT || code == ERROR_INTERNET_CANNOT_CONNECT ||
           code == WSAETIMEDOUT || code == WSAECONNREFUSED;
}

EHTTPUploader::EHTTPUploader(const std::wstring& msg, int errorCode)
    : rtl::Exception(msg + rtl::Format(L", error = %d (%ls)", errorCode,
                                       UploadErrorText(static_cast<uint32_t>(errorCode)).c_str())),
      FErrorCode(errorCode) {}

}  // namespace http
