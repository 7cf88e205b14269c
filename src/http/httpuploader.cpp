#include "http/httpuploader.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "http/httpuploader_messageprocessor.h"
#include "http/httpuploader_multipart.h"
#include "rtl/Raise.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

#include <wincrypt.h>

namespace http {

namespace {

// The session's status callback: registered so that WinInet reports to us,
// and deliberately ignoring every notification.
void CALLBACK IgnoreStatus(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

[[noreturn]] void Fail(const std::wstring& step, DWORD code) {
    rtl::RaiseNew<EHTTPUploader>(step, static_cast<int>(code));
}
[[noreturn]] void FailLast(const wchar_t* step) {
    const DWORD code = GetLastError();
    Fail(step, code);
}
// A failed file call, naming the file.
[[noreturn]] void FailOnFile(const wchar_t* step, const std::wstring& path) {
    const DWORD code = GetLastError();
    Fail(std::wstring(step) + L" for \"" + path + L"\"", code);
}

// Closes one WinInet handle through the platform that opened it.
class TInternetHandle {
public:
    explicit TInternetHandle(IHTTPUploaderPlatform& platform) : FPlatform(platform) {}
    ~TInternetHandle() {
        if (FHandle) FPlatform.InternetCloseHandle(FHandle);
    }
    TInternetHandle(const TInternetHandle&) = delete;
    TInternetHandle& operator=(const TInternetHandle&) = delete;
    void Reset(HINTERNET h = nullptr) {
        if (FHandle) FPlatform.InternetCloseHandle(FHandle);
        FHandle = h;
    }
    HINTERNET Get() const { return FHandle; }

private:
    IHTTPUploaderPlatform& FPlatform;
    HINTERNET FHandle = nullptr;
};

// Opens a file to be sent, shared with every other use: a log that another
// process still writes, renames or deletes can be sent as it is now.
rtl::ScopedFileHandle OpenForSending(const std::wstring& path) {
    rtl::ScopedFileHandle f(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!f) FailOnFile(L"CreateFile failed", path);
    return f;
}

// A time-out option in milliseconds on one handle; 0 seconds keeps WinInet's.
void SetTimeout(HINTERNET handle, IHTTPUploaderPlatform& net, DWORD option, uint32_t seconds) {
    if (seconds == 0) return;
    DWORD ms = seconds > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : seconds * 1000;
    net.InternetSetOptionW(handle, option, &ms, sizeof(ms));
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
    // Every file, opened before anything is sent, and the size announced
    // for it: exactly that many bytes of it are sent.
    std::vector<rtl::ScopedFileHandle> Files;
    std::vector<uint32_t> FileSizes;
    uint32_t OverallSent = 0;
    // The error of a write the server did not take; no more is written then.
    DWORD WriteError = 0;
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
    t.Boundary = multipart::MakeBoundary();
    // Files that cannot be sent, or a body larger than a request can
    // announce, fail the upload before anything goes out.
    const uint32_t contentLength = OpenFiles(t);
    Connect(t);

    const bool hasParts = FFields->Count() > 0 || FFiles->Count() > 0;
    if (FRequest->Verb.empty()) FRequest->Verb = hasParts ? L"POST" : L"GET";
    // Only through a proxy: a direct upload after a HEAD to the same server
    // may be given the HEAD's kept-alive connection after the server closed
    // it, and Wine's WinInet then fails the upload instead of connecting
    // again.
    if (hasParts && contentLength > kProbeAbove && !FProxy->Server.empty() && RefusedAtProbe(t)) {
        ReadHeaders(t);
        ReadBody(t);
        return;
    }
    OpenRequest(t, FRequest->Verb, hasParts);
    std::string contentType = "Content-Type: multipart/form-data; boundary=" + t.Boundary;
    if (!t.Platform.HttpAddRequestHeadersA(t.Request.Get(), contentType.c_str(), static_cast<DWORD>(-1),
                                           HTTP_ADDREQ_FLAG_ADD))
        FailLast(L"HttpAddRequestHeaders failed");

    FResponse->StatusCode = static_cast<int>(Exchange(t, contentLength, true));
    ReadHeaders(t);
    ReadBody(t);
}

void THTTPUploader::Connect(TTransfer& t) {
    IHTTPUploaderPlatform& net = t.Platform;
    // The proxy belongs to this session alone: it is given to the session
    // when it opens and never written to the user's settings, which other
    // programs share. Without one the system's settings apply, as they do
    // for the browser.
    const std::wstring proxy =
        FProxy->Server.empty() ? std::wstring() : FProxy->Server + L":" + std::to_wstring(FProxy->Port);
    t.Session.Reset(net.InternetOpenW(FRequest->Agent.c_str(),
                                      proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY,
                                      proxy.empty() ? nullptr : proxy.c_str(), nullptr, 0));
    if (!t.Session.Get()) FailLast(L"InternetOpen failed");
    SetTimeout(t.Session.Get(), net, INTERNET_OPTION_CONNECT_TIMEOUT, ConnectTimeout);
    SetTimeout(t.Session.Get(), net, INTERNET_OPTION_SEND_TIMEOUT, TransferTimeout);
    SetTimeout(t.Session.Get(), net, INTERNET_OPTION_RECEIVE_TIMEOUT, TransferTimeout);
    net.InternetSetStatusCallbackW(t.Session.Get(), IgnoreStatus);

    // A port written after the host name ("host:8080") is honoured; without
    // one the protocol's default port is used.
    std::wstring host;
    uint16_t port = 0;
    SplitHostPort(FRequest->HostName, host, port);
    if (port == 0) port = IsSecure() ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    t.Connection.Reset(net.InternetConnectW(t.Session.Get(), host.c_str(), port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(this)));
    if (!t.Connection.Get()) FailLast(L"InternetConnect failed");
}

void THTTPUploader::OpenRequest(TTransfer& t, const std::wstring& verb, bool upload) {
    IHTTPUploaderPlatform& net = t.Platform;
    // A redirect of an upload is the answer: WinInet would follow it with a
    // request of another kind or without the body, and the final answer
    // would then pass for the upload's.
    const bool secure = IsSecure();
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (secure ? INTERNET_FLAG_SECURE : 0) |
                  (upload ? INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
    t.Request.Reset(net.HttpOpenRequestW(t.Connection.Get(), verb.c_str(), FRequest->UrlPath.c_str(), nullptr, nullptr,
                                         nullptr, flags, reinterpret_cast<DWORD_PTR>(this)));
    if (!t.Request.Get()) FailLast(L"HttpOpenRequest failed");
    // Stored credentials go with the first request instead of after the
    // proxy's first refusal.
    if (!FProxy->Server.empty()) {
        SetProxyCredentials(t);
        if (!secure) AddProxyAuthorization(t);
    }
    // The time-outs again on the request: WinInet keeps them per handle.
    SetTimeout(t.Request.Get(), net, INTERNET_OPTION_CONNECT_TIMEOUT, ConnectTimeout);
    SetTimeout(t.Request.Get(), net, INTERNET_OPTION_SEND_TIMEOUT, TransferTimeout);
    SetTimeout(t.Request.Get(), net, INTERNET_OPTION_RECEIVE_TIMEOUT, TransferTimeout);
}

bool THTTPUploader::RefusedAtProbe(TTransfer& t) {
    uint32_t status = 0;
    rtl::Try(
        [&] {
            OpenRequest(t, L"HEAD", true);
            // Its connection is not kept for the upload: a server or a
            // WinInet that takes the length of a HEAD's answer for a body
            // still to come would otherwise read the upload's answer as it.
            if (!t.Platform.HttpAddRequestHeadersA(t.Request.Get(), "Connection: close", static_cast<DWORD>(-1),
                                                   HTTP_ADDREQ_FLAG_ADD))
                FailLast(L"HttpAddRequestHeaders failed");
            // A server that keeps a HEAD waiting is asked no further.
            const uint32_t wait = TransferTimeout == 0 ? kProbeTimeout : std::min(TransferTimeout, kProbeTimeout);
            SetTimeout(t.Request.Get(), t.Platform, INTERNET_OPTION_RECEIVE_TIMEOUT, wait);
            status = Exchange(t, 0, false);
        },
        // A server that drops or garbles the answer to a HEAD, or gives none
        // in time, may still take the upload. Failures the upload would meet
        // as well (no connection, a login nobody can give) end it here.
        rtl::On<EHTTPUploader>([&](EHTTPUploader& e) {
            if (!IsBrokenConnection(e.ErrorCode()) && e.ErrorCode() != ERROR_INTERNET_TIMEOUT &&
                e.ErrorCode() != WSAETIMEDOUT)
                rtl::ReRaise();
        }));
    if (status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ) {
        FResponse->StatusCode = static_cast<int>(status);
        return true;
    }
    t.Request.Reset();
    t.Attempt = 1;
    return false;
}

uint32_t THTTPUploader::Exchange(TTransfer& t, uint32_t contentLength, bool withBody) {
    IHTTPUploaderPlatform& net = t.Platform;
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
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
        t.WriteError = 0;
        if (withBody) SendBody(t);
        // A server that stops reading (413, 401) may have answered why: that
        // answer is the result; without one the write's error is.
        if (t.WriteError) {
            net.HttpEndRequestW(t.Request.Get(), nullptr, 0, context);
            if (!QueryStatusCode(t, status) || status < 100) Fail(L"InternetWriteFile failed", t.WriteError);
            break;
        }

        if (!net.HttpEndRequestW(t.Request.Get(), nullptr, 0, context)) {
            DWORD error = GetLastError();
            if (error != ERROR_INTERNET_FORCE_RETRY) Fail(L"HttpEndRequest failed", error);
            // WinInet asks for the request again: an authentication exchange
            // it carries out itself (NTLM, Negotiate) goes on with the next
            // send, up to the same number of sends as a login.
            if (t.Attempt < kMaxProxyLoginSends) {
                DiscardAnswer(t);
                ++t.Attempt;
                continue;
            }
        }
        if (!QueryStatusCode(t, status)) FailLast(L"ReadStatusCode failed");
        // A connection that ended or went quiet without a status line is no
        // answer at all.
        if (status < 100) Fail(L"The server sent no answer", ERROR_HTTP_INVALID_SERVER_RESPONSE);
        if (status != HTTP_STATUS_PROXY_AUTH_REQ) break;
        if (!ProxyLogin(t)) break;
        DiscardAnswer(t);
        ++t.Attempt;
    }
    return status;
}

uint32_t THTTPUploader::OpenFiles(TTransfer& t) {
    // The content length, from the same pieces that SendBody writes.
    uint64_t length = 0;
    for (int i = 0; i < FFields->Count(); ++i) {
        const THTTPUploaderField& f = FFields->GetItem(i);
        length += multipart::FieldHeader(t.Boundary, f).size() + f.Value.size() + 2;
    }
    for (int i = 0; i < FFiles->Count(); ++i) {
        const THTTPUploaderFile& f = FFiles->GetItem(i);
        t.Files.push_back(OpenForSending(f.PathName));
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(t.Files.back().Get(), &size)) FailOnFile(L"GetFileSize failed", f.PathName);
        if (static_cast<uint64_t>(size.QuadPart) > kMaxContentLength)
            Fail(L"The file \"" + f.PathName + L"\" is too large to send: " + std::to_wstring(size.QuadPart) +
                     L" bytes, a request carries at most " + std::to_wstring(kMaxContentLength),
                 ERROR_FILE_TOO_LARGE);
        t.FileSizes.push_back(static_cast<uint32_t>(size.QuadPart));
        length += multipart::FileHeader(t.Boundary, f).size() + static_cast<uint64_t>(size.QuadPart) + 2;
    }
    if (FFields->Count() > 0 || FFiles->Count() > 0) length += multipart::ClosingLine(t.Boundary).size();
    if (length > kMaxContentLength)
        Fail(L"The upload is too large: " + std::to_wstring(length) + L" bytes, a request carries at most " +
                 std::to_wstring(kMaxContentLength),
             ERROR_FILE_TOO_LARGE);
    t.OverallTotal = 0;
    for (uint32_t size : t.FileSizes) t.OverallTotal += size;
    return static_cast<uint32_t>(length);
}

bool THTTPUploader::QueryStatusCode(TTransfer& t, uint32_t& status) {
    DWORD value = 0, length = sizeof(value);
    if (!t.Platform.HttpQueryInfoW(t.Request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length,
                                   nullptr))
        return false;
    status = value;
    return true;
}

void THTTPUploader::AddProxyAuthorization(TTransfer& t) {
    if (FProxy->Username.empty()) return;
    const std::string login = rtl::ToUtf8(FProxy->Username + L":" + FProxy->Password);
    DWORD length = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const auto* bytes = reinterpret_cast<const BYTE*>(login.data());
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(login.size()), flags, nullptr, &length)) return;
    std::string encoded(length, '\0');
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(login.size()), flags, encoded.data(), &length)) return;
    encoded.resize(length);
    const std::string header = "Proxy-Authorization: Basic " + encoded;
    t.Platform.HttpAddRequestHeadersA(t.Request.Get(), header.c_str(), static_cast<DWORD>(-1),
                                      HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
}

void THTTPUploader::SetProxyCredentials(TTransfer& t) {
    if (FProxy->Username.empty()) return;
    t.Platform.InternetSetOptionW(t.Request.Get(), INTERNET_OPTION_PROXY_USERNAME, FProxy->Username.data(),
                                  static_cast<DWORD>(FProxy->Username.size() + 1));
    if (!FProxy->Password.empty())
        t.Platform.InternetSetOptionW(t.Request.Get(), INTERNET_OPTION_PROXY_PASSWORD, FProxy->Password.data(),
                                      static_cast<DWORD>(FProxy->Password.size() + 1));
}

// Answers whether to send the request again after a 407.
bool THTTPUploader::ProxyLogin(TTransfer& t) {
    if (!FProxy->Username.empty()) {
        SetProxyCredentials(t);
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
    if (t.WriteError) return;
    if (!t.Platform.InternetWriteFile(t.Request.Get(), data, length, &written)) t.WriteError = GetLastError();
}

void THTTPUploader::SendBody(TTransfer& t) {
    for (int i = 0; i < FFields->Count(); ++i) SendField(t, FFields->GetItem(i));
    for (int i = 0; i < FFiles->Count(); ++i) SendFile(t, FFiles->GetItem(i), static_cast<size_t>(i));
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

void THTTPUploader::SendFile(TTransfer& t, const THTTPUploaderFile& file, size_t index) {
    std::string header = multipart::FileHeader(t.Boundary, file);
    Write(t, header.data(), static_cast<uint32_t>(header.size()));
    HANDLE handle = t.Files[index].Get();
    // A request sent again (after a proxy's login question) sends the file
    // from its start.
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) FailOnFile(L"SetFilePointer failed", file.PathName);
    DoFileBegin(file.PathName);
    rtl::Try([&] { SendFileData(t, handle, file.PathName, t.FileSizes[index]); }, rtl::OnAny([&](rtl::Exception&) {
                 DoFileComplete(file.PathName, false);
                 rtl::ReRaise();
             }));
    // A file the server stopped taking was not sent completely.
    DoFileComplete(file.PathName, t.WriteError == 0);
    Write(t, multipart::kCRLF, 2);
}

void THTTPUploader::SendFileData(TTransfer& t, HANDLE fileHandle, const std::wstring& pathName, uint32_t size) {
    IHTTPUploaderPlatform& net = t.Platform;
    uint32_t fileSent = 0;
    uint32_t rate = FCachedBytesPerSecond;
    const uint32_t startTick = net.GetTickCount() / 250;
    uint32_t lastReportTick = startTick;
    uint32_t blockSize = kFirstBlockSize;
    std::unique_ptr<char[]> block(new char[blockSize]);

    uint32_t fileSeconds = SecondsLeft(size, rate);
    uint32_t overallSeconds = SecondsLeft(t.OverallTotal, rate);
    DoFileProgress(pathName, 0, size, fileSeconds, t.OverallSent, t.OverallTotal, overallSeconds, rate);

    // Exactly the announced bytes: what the file holds beyond them (a log
    // written on) stays for the next upload; a file that lost bytes cannot
    // fill its part, and the request is given up.
    while (fileSent < size && !t.WriteError) {
        if (DoCheckCancel()) rtl::RaiseNew<EHTTPUploaderCancel>();
        DWORD read = 0;
        const DWORD want = size - fileSent < blockSize ? size - fileSent : blockSize;
        if (!ReadFile(fileHandle, block.get(), want, &read, nullptr)) FailOnFile(L"ReadFile failed", pathName);
        if (read == 0)
            Fail(rtl::Format(L"The file \"%ls\" became shorter while it was sent: %u bytes announced, %u there",
                             pathName.c_str(), size, fileSent),
                 ERROR_HANDLE_EOF);

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
    if (!t.Platform.HttpQueryInfoW(t.Request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &contentLength,
                                   &length, nullptr))
        contentLength = 0;
    DoStatus(L"Downloading", 0, contentLength);
    std::vector<char> buffer(65536);
    uint64_t received = 0;
    for (;;) {
        if (DoCheckCancel()) rtl::RaiseNew<EHTTPUploaderCancel>();
        DWORD read = 0;
        if (!t.Platform.InternetReadFile(t.Request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read))
            FailLast(L"InternetReadFile failed");
        if (read == 0) break;
        received += read;
        if (OnAnswerData) {
            OnAnswerData(*this, buffer.data(), read);
        } else {
            // Kept in memory up to the limit; the rest is not read at all.
            const uint32_t room = kMaxAnswerInMemory - FResponse->MessageBodyLength();
            FResponse->AppendBody(buffer.data(), read < room ? read : room);
            if (read > room) {
                FResponse->BodyCut = true;
                DoStatus(rtl::Format(L"The answer was cut after %u bytes", kMaxAnswerInMemory), received,
                         contentLength);
                break;
            }
        }
        DoStatus(L"Downloading", static_cast<int64_t>(received), contentLength);
        HTTPUploader_ProcessMessages();
    }
}

}  // namespace http
