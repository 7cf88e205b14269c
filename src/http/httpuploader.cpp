#include "http/httpuploader.h"

#include <cwctype>
#include <vector>

#include "http/httpuploader_messageprocessor.h"
#include "http/httpuploader_multipart.h"
#include "rtl/Raise.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace http {

namespace {

// The session's status callback: registered so that WinInet reports to us,
// and deliberately ignoring every notification.
void CALLBACK IgnoreStatus(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

[[noreturn]] void Fail(const wchar_t* step, DWORD code) {
    rtl::RaiseNew<EHTTPUploader>(step, static_cast<int>(code));
}
[[noreturn]] void FailLast(const wchar_t* step) { Fail(step, GetLastError()); }

// Closes one WinInet handle through the platform that opened it.
class TInternetHandle {
public:
    explicit TInternetHandle(IHTTPUploaderPlatform& platform) : FPlatform(platform) {}
    ~TInternetHandle() {
        if (FHandle) FPlatform.InternetCloseHandle(FHandle);
    }
    TInternetHandle(const TInternetHandle&) = delete;
    TInternetHandle& operator=(const TInternetHandle&) = delete;
    void Reset(HINTERNET h) { FHandle = h; }
    HINTERNET Get() const { return FHandle; }

private:
    IHTTPUploaderPlatform& FPlatform;
    HINTERNET FHandle = nullptr;
};

// 32-bit size of a file opened for reading, or 0 when it cannot be opened
// (its part fails later, when it is reached).
uint32_t FileSize32(const std::wstring& path) {
    rtl::ScopedFileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return 0;
    DWORD size = GetFileSize(f.Get(), nullptr);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

uint32_t SecondsLeft(uint32_t remaining, uint32_t rate) { return rate == 0 ? kSecondsUnknown : remaining / rate; }

}  // namespace

void SplitHostPort(const std::wstring& hostName, std::wstring& host, uint16_t& port) {
    host = hostName;
    port = 0;
    size_t colon = hostName.rfind(L':');
    if (colon == std::wstring::npos || colon + 1 >= hostName.size()) return;
    // "[v6]:port" has its colon right after the bracket; a bare v6 address
    // has several colons and no port.
    bool bracketed = !hostName.empty() && hostName[0] == L'[';
    if (bracketed ? hostName[colon - 1] != L']' : hostName.find(L':') != colon) return;
    uint32_t value = 0;
    for (size_t i = colon + 1; i < hostName.size(); ++i) {
        if (!iswdigit(hostName[i])) return;
        value = value * 10 + static_cast<uint32_t>(hostName[i] - L'0');
        if (value > 65535) return;
    }
    if (value == 0) return;
    host = bracketed ? hostName.substr(1, colon - 2) : hostName.substr(0, colon);
    port = static_cast<uint16_t>(value);
}

struct THTTPUploader::TTransfer {
    explicit TTransfer(IHTTPUploaderPlatform& p) : Platform(p), Session(p), Connection(p), Request(p) {}
    IHTTPUploaderPlatform& Platform;
    // Declared in opening order, so they close request, connection, session.
    TInternetHandle Session, Connection, Request;
    std::string Boundary;
    std::vector<uint32_t> FileSizes;
    uint32_t OverallSent = 0;
    uint32_t OverallTotal = 0;
    uint32_t Attempt = 1;
};

THTTPUploader::THTTPUploader(rtl::TComponent* owner)
    : rtl::TComponent(owner),
      FRequest(std::make_unique<THTTPUploaderRequest>()),
      FResponse(std::make_unique<THTTPUploaderResponse>()),
      FFields(std::make_unique<THTTPUploaderFields>()),
      FFiles(std::make_unique<THTTPUploaderFiles>()),
      FProxy(std::make_unique<THTTPUploaderProxy>()),
      FPlatform(&TWinInetPlatform::Instance()) {
    FRequest->Agent = kDefaultAgent;
}

THTTPUploader::~THTTPUploader() = default;

void THTTPUploader::DoStatus(const std::wstring& message, int64_t position, int64_t total) {
    if (OnStatus) OnStatus(*this, message, position, total);
}

void THTTPUploader::DoFileBegin(const std::wstring& fileName) {
    if (OnFileBegin)
        OnFileBegin(*this, fileName);
    else
        DoStatus(L"File " + fileName + L" beginning upload", 0, 0);
}

void THTTPUploader::DoFileComplete(const std::wstring& fileName, bool successful) {
    if (OnFileComplete)
        OnFileComplete(*this, fileName, successful);
    else
        DoStatus(L"File " + multipart::FileNameOf(fileName) + L" complete", 0, 0);
}

void THTTPUploader::DoFileProgress(const std::wstring& fileName, uint32_t fileBytesSent, uint32_t localFileSize,
                                   uint32_t secondsToFileCompletion, uint32_t overallBytesSent,
                                   uint32_t overallBytesTotal, uint32_t secondsToOverallCompletion,
                                   uint32_t bytesPerSecond) {
    if (OnFileProgress) {
        OnFileProgress(*this, fileName, fileBytesSent, localFileSize, secondsToFileCompletion, overallBytesSent,
                       overallBytesTotal, secondsToOverallCompletion, bytesPerSecond);
        return;
    }
    std::wstring suffix = secondsToFileCompletion == kSecondsUnknown
                              ? std::wstring()
                              : L", " + std::to_wstring(secondsToFileCompletion) + L" seconds remaining";
    // %d as the original format has it: sizes up to 2 GiB print as expected.
    DoStatus(rtl::Format(L"Uploading file %ls (%d of %d total bytes sent%ls)", multipart::FileNameOf(fileName).c_str(),
                         static_cast<int>(fileBytesSent), static_cast<int>(localFileSize), suffix.c_str()),
             overallBytesSent, overallBytesTotal);
}

bool THTTPUploader::DoCheckCancel() {
    bool cancel = false;
    if (OnCheckCancel) OnCheckCancel(*this, cancel);
    return cancel;
}

void THTTPUploader::Upload() {
    TTransfer t(*FPlatform);
    IHTTPUploaderPlatform& net = *FPlatform;
    const bool secure = FRequest->Protocol == L"https";

    t.Session.Reset(net.InternetOpenW(FRequest->Agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!t.Session.Get()) FailLast(L"InternetOpen failed");

    // Per-connection options of the default (LAN) connection: our own proxy
    // description or a direct connection, never the system's configuration.
    // A failure here is not fatal: the request may still get through.
    std::wstring proxyServer = L"http://" + FProxy->Server + L":" + std::to_wstring(FProxy->Port);
    INTERNET_PER_CONN_OPTIONW options[2]{};
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof(list);
    list.pszConnection = nullptr;
    list.pOptions = options;
    if (!FProxy->Server.empty()) {
        options[0].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
        options[0].Value.pszValue = proxyServer.data();
        options[1].dwOption = INTERNET_PER_CONN_FLAGS;
        options[1].Value.dwValue = PROXY_TYPE_PROXY;
        list.dwOptionCount = 2;
    } else {
        options[0].dwOption = INTERNET_PER_CONN_FLAGS;
        options[0].Value.dwValue = PROXY_TYPE_DIRECT;
        list.dwOptionCount = 1;
    }
    net.InternetSetOptionW(t.Session.Get(), INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));

    net.InternetSetStatusCallbackW(t.Session.Get(), IgnoreStatus);
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);

    // A port written after the host name ("host:8080") is honoured; without
    // one the protocol's default port is used.
    std::wstring host;
    uint16_t port = 0;
    SplitHostPort(FRequest->HostName, host, port);
    if (port == 0) port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    t.Connection.Reset(net.InternetConnectW(t.Session.Get(), host.c_str(), port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, context));
    if (!t.Connection.Get()) FailLast(L"InternetConnect failed");

    const bool hasParts = FFields->Count() > 0 || FFiles->Count() > 0;
    if (FRequest->Verb.empty()) FRequest->Verb = hasParts ? L"POST" : L"GET";

    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (secure ? INTERNET_FLAG_SECURE : 0);
    t.Request.Reset(net.HttpOpenRequestW(t.Connection.Get(), FRequest->Verb.c_str(), FRequest->UrlPath.c_str(),
                                         nullptr, nullptr, nullptr, flags, context));
    if (!t.Request.Get()) FailLast(L"HttpOpenRequest failed");

    t.Boundary = multipart::MakeBoundary();
    std::string contentType = "Content-Type: multipart/form-data; boundary=" + t.Boundary;
    if (!net.HttpAddRequestHeadersA(t.Request.Get(), contentType.c_str(), static_cast<DWORD>(-1),
                                    HTTP_ADDREQ_FLAG_ADD))
        FailLast(L"HttpAddRequestHeaders failed");

    // Content length, from the same pieces that SendBody writes.
    uint32_t contentLength = 0;
    for (int i = 0; i < FFields->Count(); ++i) {
        const THTTPUploaderField& f = FFields->GetItem(i);
        contentLength += static_cast<uint32_t>(multipart::FieldHeader(t.Boundary, f).size() + f.Value.size() + 2);
    }
    for (int i = 0; i < FFiles->Count(); ++i) {
        const THTTPUploaderFile& f = FFiles->GetItem(i);
        uint32_t size = FileSize32(f.PathName);
        t.FileSizes.push_back(size);
        t.OverallTotal += size;
        contentLength += static_cast<uint32_t>(multipart::FileHeader(t.Boundary, f).size()) + size + 2;
    }
    if (hasParts) contentLength += static_cast<uint32_t>(multipart::ClosingLine(t.Boundary).size());

    uint32_t status = 0;
    for (;;) {
        INTERNET_BUFFERSW buffers{};
        buffers.dwStructSize = sizeof(buffers);
        buffers.dwBufferTotal = contentLength;
        if (!net.HttpSendRequestExW(t.Request.Get(), &buffers, nullptr, HSR_INITIATE, context))
            FailLast(L"HttpSendRequestEx failed");

        // A proxy may refuse before it reads the body. When WinInet already
        // holds that answer (it reads it at once when no body is announced)
        // and we stop asking, the 407 is the answer: writing a body and
        // ending the request would only read past it.
        if (QueryStatusCode(t, status) && status == HTTP_STATUS_PROXY_AUTH_REQ) {
            if (!ProxyLogin(t)) break;
            DiscardAnswer(t);
            ++t.Attempt;
            continue;
        }

        t.OverallSent = 0;
        SendBody(t);

        if (!net.HttpEndRequestW(t.Request.Get(), nullptr, 0, context)) {
            DWORD error = GetLastError();
            if (error != ERROR_INTERNET_FORCE_RETRY) Fail(L"HttpEndRequest failed", error);
        }
        if (!QueryStatusCode(t, status)) FailLast(L"ReadStatusCode failed");
        if (status != HTTP_STATUS_PROXY_AUTH_REQ) break;
        if (!ProxyLogin(t)) break;
        DiscardAnswer(t);
        ++t.Attempt;
    }

    FResponse->StatusCode = static_cast<int>(status);
    ReadHeaders(t);
    ReadBody(t);
}

bool THTTPUploader::QueryStatusCode(TTransfer& t, uint32_t& status) {
    DWORD value = 0, length = sizeof(value);
    if (!t.Platform.HttpQueryInfoW(t.Request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length,
                                   nullptr))
        return false;
    status = value;
    return true;
}

// Answers whether to send the request again after a 407.
bool THTTPUploader::ProxyLogin(TTransfer& t) {
    if (!FProxy->Username.empty()) {
        t.Platform.InternetSetOptionW(t.Request.Get(), INTERNET_OPTION_PROXY_USERNAME, FProxy->Username.data(),
                                      static_cast<DWORD>(FProxy->Username.size() + 1));
        if (!FProxy->Password.empty())
            t.Platform.InternetSetOptionW(t.Request.Get(), INTERNET_OPTION_PROXY_PASSWORD, FProxy->Password.data(),
                                          static_cast<DWORD>(FProxy->Password.size() + 1));
        return t.Attempt < kMaxProxyLoginSends;
    }
    if (ShowUI) {
        DWORD answer = t.Platform.InternetErrorDlg(
            GetActiveWindow(), t.Request.Get(), ERROR_SUCCESS,
            FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
            nullptr);
        return answer == ERROR_INTERNET_FORCE_RETRY;
    }
    Fail(L"Proxy login required but no UI specified", 0);
}

// Reads the rest of a refused answer before the request is sent again, as
// WinInet expects: otherwise the old body could be taken for the new answer.
void THTTPUploader::DiscardAnswer(TTransfer& t) {
    char buffer[4096];
    DWORD read = 0;
    for (int blocks = 0; blocks < 256; ++blocks)
        if (!t.Platform.InternetReadFile(t.Request.Get(), buffer, sizeof(buffer), &read) || read == 0) return;
}

void THTTPUploader::Write(TTransfer& t, const void* data, uint32_t length) {
    DWORD written = 0;
    if (!t.Platform.InternetWriteFile(t.Request.Get(), data, length, &written)) FailLast(L"InternetWriteFile failed");
}

void THTTPUploader::SendBody(TTransfer& t) {
    for (int i = 0; i < FFields->Count(); ++i) SendField(t, FFields->GetItem(i));
    for (int i = 0; i < FFiles->Count(); ++i) SendFile(t, FFiles->GetItem(i));
    if (FFields->Count() > 0 || FFiles->Count() > 0) {
        std::string closing = multipart::ClosingLine(t.Boundary);
        Write(t, closing.data(), static_cast<uint32_t>(closing.size()));
    }
}

void THTTPUploader::SendField(TTransfer& t, const THTTPUploaderField& field) {
    std::string header = multipart::FieldHeader(t.Boundary, field);
    Write(t, header.data(), static_cast<uint32_t>(header.size()));
    if (!field.Value.empty()) Write(t, field.Value.data(), static_cast<uint32_t>(field.Value.size()));
    Write(t, multipart::kCRLF, 2);
}

void THTTPUploader::SendFile(TTransfer& t, const THTTPUploaderFile& file) {
    std::string header = multipart::FileHeader(t.Boundary, file);
    Write(t, header.data(), static_cast<uint32_t>(header.size()));
    rtl::ScopedFileHandle handle(CreateFileW(file.PathName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) FailLast(L"CreateFile failed");
    DoFileBegin(file.PathName);
    rtl::Try([&] { SendFileData(t, handle.Get(), file.PathName); },
             rtl::OnAny([&](rtl::Exception&) {
                 handle.Reset();
                 DoFileComplete(file.PathName, false);
                 rtl::ReRaise();
             }));
    handle.Reset();
    DoFileComplete(file.PathName, true);
    Write(t, multipart::kCRLF, 2);
}

void THTTPUploader::SendFileData(TTransfer& t, HANDLE fileHandle, const std::wstring& pathName) {
    IHTTPUploaderPlatform& net = t.Platform;
    const uint32_t size = GetFileSize(fileHandle, nullptr);
    uint32_t fileSent = 0;
    uint32_t rate = FCachedBytesPerSecond;
    const uint32_t startTick = net.GetTickCount() / 250;
    uint32_t lastReportTick = startTick;
    uint32_t blockSize = kFirstBlockSize;
    std::unique_ptr<char[]> block(new char[blockSize]);

    uint32_t fileSeconds = SecondsLeft(size, rate);
    uint32_t overallSeconds = SecondsLeft(t.OverallTotal, rate);
    DoFileProgress(pathName, 0, size, fileSeconds, t.OverallSent, t.OverallTotal, overallSeconds, rate);

    for (;;) {
        if (DoCheckCancel()) rtl::RaiseNew<EHTTPUploaderCancel>();
        DWORD read = 0;
        if (!ReadFile(fileHandle, block.get(), blockSize, &read, nullptr)) FailLast(L"ReadFile failed");
        if (read == 0) break;

        DWORD before = net.GetTickCount();
        Write(t, block.get(), read);
        DWORD took = net.GetTickCount() - before;

        // Aim for writes of 200 to 1250 ms: short enough for timely progress
        // and cancel checks, long enough to keep per-call overhead small.
        uint32_t newSize = blockSize;
        if (took < 200)
            newSize = blockSize * 2 > kMaxBlockSize ? kMaxBlockSize : blockSize * 2;
        else if (took > 1250 && blockSize > kMinBlockSize)
            newSize = blockSize / 2 < kMinBlockSize ? kMinBlockSize : blockSize / 2;
        if (newSize != blockSize) {
            blockSize = newSize;
            block.reset(new char[blockSize]);
        }

        fileSent += read;
        t.OverallSent += read;

        uint32_t nowTick = net.GetTickCount() / 250;
        if (nowTick != lastReportTick) {
            rate = static_cast<uint32_t>(static_cast<uint64_t>(fileSent) * 4 / (nowTick - startTick));
            fileSeconds = SecondsLeft(size - fileSent, rate);
            overallSeconds = SecondsLeft(t.OverallTotal - t.OverallSent, rate);
            DoFileProgress(pathName, fileSent, size, fileSeconds, t.OverallSent, t.OverallTotal, overallSeconds, rate);
            lastReportTick = nowTick;
        }
    }
    FCachedBytesPerSecond = rate;
    DoFileProgress(pathName, size, size, fileSeconds, t.OverallSent, t.OverallTotal, overallSeconds, rate);
}

void THTTPUploader::ReadHeaders(TTransfer& t) {
    std::vector<char> buffer(10);
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (t.Platform.HttpQueryInfoW(t.Request.Get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr)) {
            std::wstring text(reinterpret_cast<const wchar_t*>(buffer.data()), length / sizeof(wchar_t));
            FResponse->SetHeaders(rtl::ToAnsi(text));
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) Fail(L"HttpQueryInfo failed", error);
        buffer.assign(static_cast<size_t>(length) + 1, 0);
    }
}

void THTTPUploader::ReadBody(TTransfer& t) {
    HTTPUploader_ProcessMessages();
    FResponse->ClearBody();
    DWORD contentLength = 0, length = sizeof(contentLength);
    if (!t.Platform.HttpQueryInfoW(t.Request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                   &contentLength, &length, nullptr))
        contentLength = 0;
    DoStatus(L"Downloading", 0, contentLength);
    std::vector<char> buffer(65536);
    for (;;) {
        if (DoCheckCancel()) rtl::RaiseNew<EHTTPUploaderCancel>();
        DWORD read = 0;
        if (!t.Platform.InternetReadFile(t.Request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read))
            FailLast(L"InternetReadFile failed");
        if (read == 0) break;
        FResponse->AppendBody(buffer.data(), read);
        DoStatus(L"Downloading", FResponse->MessageBodyLength(), contentLength);
        HTTPUploader_ProcessMessages();
    }
}

}  // namespace http
