// The two error classes of the upload client. EHTTPUploader names the step
// that failed and carries the WinInet (or system) error code; its message
// ends in ", error = <code> (<text>)", the text from wininet.dll's message
// table or else the system's (empty for code 0).
// EHTTPUploaderCancel has no text: callers tell it apart by its class.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/Exception.h"

namespace http {

class EHTTPUploader : public rtl::Exception {
    RTL_EXCEPTION_CLASS(EHTTPUploader)
public:
    EHTTPUploader(const std::wstring& msg, int errorCode);
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

class EHTTPUploaderCancel : public rtl::Exception {
    RTL_EXCEPTION_CLASS(EHTTPUploaderCancel)
public:
    EHTTPUploaderCancel() : rtl::Exception(std::wstring()) {}
};

// Text of `code` from the message table of the loaded wininet.dll only (not
// the system table), trailing control characters, blanks and dots removed;
// empty when the table has no such message or wininet.dll is not loaded.
std::wstring WinInetErrorText(uint32_t code);
// WinInet's text for `code`, else the system's, trimmed the same way; empty
// for 0 and for codes neither table knows.
std::wstring UploadErrorText(uint32_t code);

// The connection broke: reset, aborted, or ended without an answer.
bool IsBrokenConnection(int code);
// Worth another try: a broken connection, a server out of reach, a time-out.
bool IsTransientFailure(int code);

}  // namespace http
