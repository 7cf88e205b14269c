#include "http/httpuploader_platform.h"

namespace http {

TWinInetPlatform& TWinInetPlatform::Instance() {
    static TWinInetPlatform instance;
    return instance;
}

HINTERNET TWinInetPlatform::InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    return ::InternetOpenW(agent, accessType, proxy, bypass, flags);
}
BOOL TWinInetPlatform::InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    return ::InternetSetOptionW(handle, option, buffer, length);
}
INTERNET_STATUS_CALLBACK TWinInetPlatform::InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK cb) {
    return ::InternetSetStatusCallbackW(handle, cb);
}
HINTERNET TWinInetPlatform::InternetConnectW(HINTERNET session, LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                                             LPCWSTR password, DWORD service, DWORD flags, DWORD_PTR context) {
    return ::InternetConnectW(session, server, port, user, password, service, flags, context);
}
HINTERNET TWinInetPlatform::HttpOpenRequestW(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version,
                                             LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context) {
    return ::HttpOpenRequestW(connection, verb, object, version, referrer, acceptTypes, flags, context);
}
BOOL TWinInetPlatform::HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD length, DWORD modifiers) {
    return ::HttpAddRequestHeadersA(request, headers, length, modifiers);
}
BOOL TWinInetPlatform::HttpSendRequestExW(HINTERNET request, LPINTERNET_BUFFERSW in, LPINTERNET_BUFFERSW out,
                                          DWORD flags, DWORD_PTR context) {
    return ::HttpSendRequestExW(request, in, out, flags, context);
}
BOOL TWinInetPlatform::InternetWriteFile(HINTERNET request, LPCVOID buffer, DWORD length, LPDWORD written) {
    return ::InternetWriteFile(request, buffer, length, written);
}
BOOL TWinInetPlatform::HttpEndRequestW(HINTERNET request, LPINTERNET_BUFFERSW out, DWORD flags, DWORD_PTR context) {
    return ::HttpEndRequestW(request, out, flags, context);
}
BOOL TWinInetPlatform::HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD length,
                                      LPDWORD index) {
    return ::HttpQueryInfoW(request, infoLevel, buffer, length, index);
}
BOOL TWinInetPlatform::InternetReadFile(HINTERNET request, LPVOID buffer, DWORD length, LPDWORD read) {
    return ::InternetReadFile(request, buffer, length, read);
}
DWORD TWinInetPlatform::InternetErrorDlg(HWND parent, HINTERNET request, DWORD error, DWORD flags, LPVOID* data) {
    return ::InternetErrorDlg(parent, request, error, flags, data);
}
BOOL TWinInetPlatform::InternetCloseHandle(HINTERNET handle) { return ::InternetCloseHandle(handle); }
DWORD TWinInetPlatform::GetTickCount() { return ::GetTickCount(); }

}  // namespace http
