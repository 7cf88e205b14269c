// The operations the upload engine needs from the platform, one method per
// WinInet call it makes (plus the tick counter that times its writes). The
// product uses TWinInetPlatform, a plain pass-through; tests hand the engine
// a scripted implementation where they need answers that a real server or
// Wine's WinInet cannot give. Methods keep WinInet's signatures and
// conventions: failures answer FALSE or null and leave the thread's last
// error set.
#pragma once
#include "rtl/Win.h"
#include <wininet.h>

namespace http {

class IHTTPUploaderPlatform {
public:
    virtual ~IHTTPUploaderPlatform() = default;

    virtual HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) = 0;
    virtual BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) = 0;
    virtual INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK cb) = 0;
    virtual HINTERNET InternetConnectW(HINTERNET session, LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                                       LPCWSTR password, DWORD service, DWORD flags, DWORD_PTR context) = 0;
    virtual HINTERNET HttpOpenRequestW(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version,
                                       LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context) = 0;
    virtual BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD length, DWORD modifiers) = 0;
    virtual BOOL HttpSendRequestExW(HINTERNET request, LPINTERNET_BUFFERSW in, LPINTERNET_BUFFERSW out, DWORD flags,
                                    DWORD_PTR context) = 0;
    virtual BOOL InternetWriteFile(HINTERNET request, LPCVOID buffer, DWORD length, LPDWORD written) = 0;
    virtual BOOL HttpEndRequestW(HINTERNET request, LPINTERNET_BUFFERSW out, DWORD flags, DWORD_PTR context) = 0;
    virtual BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD length, LPDWORD index) = 0;
    virtual BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD length, LPDWORD read) = 0;
    virtual DWORD InternetErrorDlg(HWND parent, HINTERNET request, DWORD error, DWORD flags, LPVOID* data) = 0;
    virtual BOOL InternetCloseHandle(HINTERNET handle) = 0;
    // Milliseconds since an arbitrary start; wraps like GetTickCount.
    virtual DWORD GetTickCount() = 0;
};

// The real thing: every call goes straight to wininet.dll.
class TWinInetPlatform final : public IHTTPUploaderPlatform {
public:
    static TWinInetPlatform& Instance();

    HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) override;
    BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) override;
    INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK cb) override;
    HINTERNET InternetConnectW(HINTERNET session, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, LPCWSTR password,
                               DWORD service, DWORD flags, DWORD_PTR context) override;
    HINTERNET HttpOpenRequestW(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                               LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context) override;
    BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD length, DWORD modifiers) override;
    BOOL HttpSendRequestExW(HINTERNET request, LPINTERNET_BUFFERSW in, LPINTERNET_BUFFERSW out, DWORD flags,
                            DWORD_PTR context) override;
    BOOL InternetWriteFile(HINTERNET request, LPCVOID buffer, DWORD length, LPDWORD written) override;
    BOOL HttpEndRequestW(HINTERNET request, LPINTERNET_BUFFERSW out, DWORD flags, DWORD_PTR context) override;
    BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD length, LPDWORD index) override;
    BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD length, LPDWORD read) override;
    DWORD InternetErrorDlg(HWND parent, HINTERNET request, DWORD error, DWORD flags, LPVOID* data) override;
    BOOL InternetCloseHandle(HINTERNET handle) override;
    DWORD GetTickCount() override;
};

}  // namespace http
