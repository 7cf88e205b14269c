// A scripted stand-in for WinInet: answers what the test sets up, records
// every call, and keeps a fake millisecond clock that each write advances.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "http/httpuploader_platform.h"

namespace testhttp {

class TScriptedPlatform : public http::IHTTPUploaderPlatform {
public:
    // --- script
    std::vector<DWORD> StatusAfterEnd{200};  // per send; the last one repeats
    std::vector<DWORD> StatusAfterSend;      // per send, before the body; 0 or missing: query fails
    std::string Headers = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
    std::string Body = "hello";
    bool HasContentLength = true;
    DWORD ErrorDlgAnswer = ERROR_CANCELLED;
    std::map<std::string, DWORD> Fail;  // call name -> last error it fails with
    DWORD EndRequestError = 0;
    std::function<DWORD(DWORD length)> WriteCostMs = [](DWORD) { return 1; };
    std::function<void(const char*, DWORD)> OnWrite;  // sees every write

    // --- record
    std::vector<std::string> Calls;
    std::vector<std::string> Bodies;  // one per send
    std::vector<DWORD> WriteSizes;
    std::vector<DWORD> Announced;
    std::wstring Agent, Host, Verb, Object, ProxyServer, ProxyName;
    DWORD Access = ~0u;
    INTERNET_PORT Port = 0;
    DWORD ConnectFlags = 0, RequestFlags = 0, ProxyFlags = 0, ProxyOptionCount = 0;
    std::string AddedHeader;
    std::vector<std::string> AddedHeaders;
    std::wstring ProxyUser, ProxyPassword;
    DWORD ProxyUserLength = 0, ProxyPasswordLength = 0;
    DWORD DialogError = ~0u, DialogFlags = 0;
    std::vector<std::string> Closed;
    DWORD Now = 1000000;

    int Sends() const { return static_cast<int>(Bodies.size()); }
    int OpenHandles() const { return FOpened - static_cast<int>(Closed.size()); }

    HINTERNET InternetOpenW(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR, DWORD) override {
        if (Failing("InternetOpen")) return nullptr;
        Agent = agent;
        Access = access;
        ProxyName = proxy ? proxy : L"(none)";
        return Open(kSession);
    }
    BOOL InternetSetOptionW(HINTERNET, DWORD option, LPVOID buffer, DWORD length) override {
        Calls.push_back("InternetSetOption " + std::to_string(option));
        if (option == INTERNET_OPTION_PER_CONNECTION_OPTION) {
            auto* list = static_cast<INTERNET_PER_CONN_OPTION_LISTW*>(buffer);
            ProxyOptionCount = list->dwOptionCount;
            for (DWORD i = 0; i < list->dwOptionCount; ++i) {
                if (list->pOptions[i].dwOption == INTERNET_PER_CONN_FLAGS) ProxyFlags = list->pOptions[i].Value.dwValue;
                if (list->pOptions[i].dwOption == INTERNET_PER_CONN_PROXY_SERVER)
                    ProxyServer = list->pOptions[i].Value.pszValue;
            }
        } else if (option == INTERNET_OPTION_PROXY_USERNAME) {
            ProxyUser = static_cast<const wchar_t*>(buffer);
            ProxyUserLength = length;
        } else if (option == INTERNET_OPTION_PROXY_PASSWORD) {
            ProxyPassword = static_cast<const wchar_t*>(buffer);
            ProxyPasswordLength = length;
        }
        return TRUE;
    }
    INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET, INTERNET_STATUS_CALLBACK) override {
        Calls.push_back("InternetSetStatusCallback");
        return nullptr;
    }
    HINTERNET InternetConnectW(HINTERNET, LPCWSTR server, INTERNET_PORT port, LPCWSTR, LPCWSTR, DWORD, DWORD flags,
                               DWORD_PTR) override {
        if (Failing("InternetConnect")) return nullptr;
        Host = server;
        Port = port;
        ConnectFlags = flags;
        return Open(kConnection);
    }
    HINTERNET HttpOpenRequestW(HINTERNET, LPCWSTR verb, LPCWSTR object, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD flags,
                               DWORD_PTR) override {
        if (Failing("HttpOpenRequest")) return nullptr;
        Verb = verb;
        Object = object;
        RequestFlags = flags;
        return Open(kRequest);
    }
    BOOL HttpAddRequestHeadersA(HINTERNET, LPCSTR headers, DWORD, DWORD modifiers) override {
        if (Failing("HttpAddRequestHeaders")) return FALSE;
        // The content type's header; every header in AddedHeaders.
        if (std::string(headers).rfind("Content-Type:", 0) == 0) AddedHeader = headers;
        AddedHeaders.push_back(headers);
        return modifiers == HTTP_ADDREQ_FLAG_ADD;
    }
    BOOL HttpSendRequestExW(HINTERNET, LPINTERNET_BUFFERSW in, LPINTERNET_BUFFERSW, DWORD flags, DWORD_PTR) override {
        Calls.push_back("HttpSendRequestEx");
        if (Failing("HttpSendRequestEx")) return FALSE;
        if (!in || in->dwStructSize != 40 || flags != HSR_INITIATE) return SetError(ERROR_INVALID_PARAMETER);
        Announced.push_back(in->dwBufferTotal);
        Bodies.emplace_back();
        FEnded = false;
        FRead = 0;
        return TRUE;
    }
    BOOL InternetWriteFile(HINTERNET, LPCVOID buffer, DWORD length, LPDWORD written) override {
        if (Failing("InternetWriteFile")) return FALSE;
        Now += WriteCostMs(length);
        Bodies.back().append(static_cast<const char*>(buffer), length);
        WriteSizes.push_back(length);
        if (OnWrite) OnWrite(static_cast<const char*>(buffer), length);
        *written = length;
        return TRUE;
    }
    BOOL HttpEndRequestW(HINTERNET, LPINTERNET_BUFFERSW, DWORD, DWORD_PTR) override {
        Calls.push_back("HttpEndRequest");
        FEnded = true;
        if (EndRequestError) return SetError(EndRequestError);
        return TRUE;
    }
    BOOL HttpQueryInfoW(HINTERNET, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD) override {
        size_t send = Bodies.empty() ? 0 : Bodies.size() - 1;
        switch (level) {
            case HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER: {
                if (FEnded && Failing("ReadStatusCode")) return FALSE;
                DWORD status = FEnded ? Pick(StatusAfterEnd, send) : Pick(StatusAfterSend, send);
                if (status == 0) return SetError(ERROR_HTTP_HEADER_NOT_FOUND);
                *static_cast<DWORD*>(buffer) = status;
                return TRUE;
            }
            case HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER:
                if (!HasContentLength) return SetError(ERROR_HTTP_HEADER_NOT_FOUND);
                *static_cast<DWORD*>(buffer) = static_cast<DWORD>(Body.size());
                return TRUE;
            case HTTP_QUERY_RAW_HEADERS_CRLF: {
                Calls.push_back("HttpQueryInfo raw " + std::to_string(*length));
                if (Failing("HttpQueryInfo")) return FALSE;
                std::wstring wide(Headers.begin(), Headers.end());
                DWORD need = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
                if (*length < need) {
                    *length = need;
                    return SetError(ERROR_INSUFFICIENT_BUFFER);
                }
                memcpy(buffer, wide.c_str(), need);
                *length = need - sizeof(wchar_t);
                return TRUE;
            }
        }
        return SetError(ERROR_INVALID_PARAMETER);
    }
    BOOL InternetReadFile(HINTERNET, LPVOID buffer, DWORD length, LPDWORD read) override {
        if (Failing("InternetReadFile")) return FALSE;
        DWORD n = static_cast<DWORD>(std::min<size_t>(length, Body.size() - FRead));
        memcpy(buffer, Body.data() + FRead, n);
        FRead += n;
        *read = n;
        return TRUE;
    }
    DWORD InternetErrorDlg(HWND, HINTERNET, DWORD error, DWORD flags, LPVOID*) override {
        DialogError = error;
        DialogFlags = flags;
        Calls.push_back("InternetErrorDlg");
        return ErrorDlgAnswer;
    }
    BOOL InternetCloseHandle(HINTERNET h) override {
        Closed.push_back(h == kSession ? "session" : h == kConnection ? "connection" : h == kRequest ? "request" : "?");
        return TRUE;
    }
    DWORD GetTickCount() override { return Now; }

private:
    static inline const HINTERNET kSession = reinterpret_cast<HINTERNET>(0x1001);
    static inline const HINTERNET kConnection = reinterpret_cast<HINTERNET>(0x2002);
    static inline const HINTERNET kRequest = reinterpret_cast<HINTERNET>(0x3003);

    HINTERNET Open(HINTERNET h) {
        ++FOpened;
        return h;
    }
    static BOOL SetError(DWORD code) {
        SetLastError(code);
        return FALSE;
    }
    bool Failing(const char* name) {
        Calls.push_back(name);
        auto it = Fail.find(name);
        if (it == Fail.end()) return false;
        SetLastError(it->second);
        return true;
    }
    static DWORD Pick(const std::vector<DWORD>& v, size_t i) {
        if (v.empty()) return 0;
        return v[std::min(i, v.size() - 1)];
    }
    int FOpened = 0;
    bool FEnded = false;
    size_t FRead = 0;
};

}  // namespace testhttp
