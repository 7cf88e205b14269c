// THTTPUploader: posts form fields and files as one multipart/form-data
// request over HTTP or HTTPS through WinInet and reads back the answer.
//
//   http::THTTPUploader up;
//   up.Request().SetURL(L"https://example.test/upload");
//   up.Fields().Add("comment", "hello");
//   up.Files().Add("report", L"C:\\temp\\report.zip", "application/zip");
//   up.Upload();                      // raises EHTTPUploader / EHTTPUploaderCancel
//   int status = up.Response().StatusCode;
//
// Upload blocks the calling thread; events and the virtual Do... operations
// are called on that thread from inside Upload.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/httpuploader_errors.h"
#include "http/httpuploader_model.h"
#include "http/httpuploader_platform.h"
#include "rtl/Controls.h"

namespace http {

class THTTPUploader;

using THTTPUploaderStatusSimpleEvent =
    std::function<void(THTTPUploader& sender, const std::wstring& message, int64_t position, int64_t total)>;
using THTTPUploaderStatusStringEvent = std::function<void(THTTPUploader& sender, const std::wstring& data)>;
using THTTPUploaderStatusFileCompleteEvent =
    std::function<void(THTTPUploader& sender, const std::wstring& fileName, bool successful)>;
using THTTPUploaderStatusFileProgressEvent =
    std::function<void(THTTPUploader& sender, const std::wstring& fileName, uint32_t fileBytesSent,
                       uint32_t localFileSize, uint32_t secondsToFileCompletion, uint32_t overallBytesSent,
                       uint32_t overallBytesTotal, uint32_t secondsToOverallCompletion, uint32_t bytesPerSecond)>;
using THTTPUploaderCheckCancelEvent = std::function<void(THTTPUploader& sender, bool& cancel)>;
using THTTPUploaderAnswerDataEvent = std::function<void(THTTPUploader& sender, const char* data, uint32_t length)>;
using THTTPUploaderStatusEvent = std::function<void(THTTPUploader& sender)>;
using THTTPUploaderStatusDwordEvent = std::function<void(THTTPUploader& sender, uint32_t data)>;

// Remaining time that cannot be estimated yet (no transfer rate known).
inline constexpr uint32_t kSecondsUnknown = 0xFFFFFFFF;

// An owned component: an owner, when given, destroys it with itself.
class THTTPUploader : public rtl::TComponent {
public:
    static constexpr const wchar_t* kDefaultAgent = L"THTTPUploader/1.0";
    static constexpr uint32_t kFirstBlockSize = 32768;
    static constexpr uint32_t kMinBlockSize = 8192;
    // A file block is read and then sent from the same buffer: one that
    // stays in the processor's caches between the two copies sends faster
    // than larger ones, and holds less.
    static constexpr uint32_t kMaxBlockSize = 1048576;
    static constexpr uint32_t kMaxProxyLoginSends = 5;
    // A request announces its length in 32 bits.
    static constexpr uint32_t kMaxContentLength = 0xFFFFFFFFu;
    // At most this much of an answer is kept in Response(); a longer one is
    // cut there (Response().BodyCut) unless OnAnswerData takes the body.
    static constexpr uint32_t kMaxAnswerInMemory = 16u << 20;
    // Before a body larger than this goes through a proxy, a HEAD asks
    // whether the proxy or the server behind it wants a login the upload
    // does not have: a 401, or a 407 that stays after the stored login, is
    // then the answer, and the body never goes out. The proxy's login is
    // made on the HEAD, so the body goes once. The HEAD's answer is awaited
    // for at most kProbeTimeout seconds.
    static constexpr uint32_t kProbeAbove = 1048576;
    static constexpr uint32_t kProbeTimeout = 10;

    explicit THTTPUploader(rtl::TComponent* owner = nullptr);
    ~THTTPUploader() override;
    std::wstring ClassName() const override { return L"THTTPUploader"; }
    THTTPUploader(const THTTPUploader&) = delete;
    THTTPUploader& operator=(const THTTPUploader&) = delete;

    THTTPUploaderRequest& Request() { return *FRequest; }
    THTTPUploaderResponse& Response() { return *FResponse; }
    THTTPUploaderFields& Fields() { return *FFields; }
    THTTPUploaderFiles& Files() { return *FFiles; }
    THTTPUploaderProxy& Proxy() { return *FProxy; }

    bool ShowUI = true;
    // Seconds that connecting may take, and that a send or a read of the
    // answer may go without moving a byte, before the upload fails with
    // WinInet's time-out error; 0 leaves WinInet's own limits.
    uint32_t ConnectTimeout = 30;
    uint32_t TransferTimeout = 60;

    THTTPUploaderStatusSimpleEvent OnStatus;
    THTTPUploaderStatusStringEvent OnFileBegin;
    THTTPUploaderStatusFileProgressEvent OnFileProgress;
    THTTPUploaderStatusFileCompleteEvent OnFileComplete;
    THTTPUploaderCheckCancelEvent OnCheckCancel;
    // When set, the answer's body goes here piece by piece as it arrives,
    // whatever its length, and Response() holds none of it.
    THTTPUploaderAnswerDataEvent OnAnswerData;
    // Connection-phase events: kept for callers that assign them; the
    // session's status callback ignores every notification, so the engine
    // never raises them.
    THTTPUploaderStatusStringEvent OnResolvingName, OnNameResolved, OnConnectingToServer, OnConnectedToServer;
    THTTPUploaderStatusEvent OnSendingRequest, OnReceivingResponse, OnClosingConnection, OnConnectionClosed;
    THTTPUploaderStatusDwordEvent OnRequestSent, OnResponseReceived;

    // The whole exchange; on return Response() holds the answer. An HTTP
    // error status is an ordinary result.
    void Upload();

    // Transfer rate of the last file sent (bytes per second), 0 before any.
    uint32_t CachedBytesPerSecond() const { return FCachedBytesPerSecond; }

    // Where the WinInet calls go; the default is wininet.dll itself. The
    // platform object is not owned and must outlive the uploads.
    void SetPlatform(IHTTPUploaderPlatform& platform) { FPlatform = &platform; }

protected:
    virtual void DoStatus(const std::wstring& message, int64_t position, int64_t total);
    virtual void DoFileBegin(const std::wstring& fileName);
    virtual void DoFileComplete(const std::wstring& fileName, bool successful);
    virtual void DoFileProgress(const std::wstring& fileName, uint32_t fileBytesSent, uint32_t localFileSize,
                                uint32_t secondsToFileCompletion, uint32_t overallBytesSent, uint32_t overallBytesTotal,
                                uint32_t secondsToOverallCompletion, uint32_t bytesPerSecond);
    virtual bool DoCheckCancel();

private:
    struct TTransfer;
    bool IsSecure() const { return FRequest->Protocol == L"https"; }
    // Opens the session and the connection to the server (or the proxy).
    void Connect(TTransfer& t);
    // Opens the request, with the stored proxy login and the time-outs.
    void OpenRequest(TTransfer& t, const std::wstring& verb, bool upload);
    // Whether a HEAD was refused for a login; Response() has its status then.
    bool RefusedAtProbe(TTransfer& t);
    // Sends the request (its body when `withBody`), logging in to the proxy
    // and sending again as it asks; answers the final status code.
    uint32_t Exchange(TTransfer& t, uint32_t contentLength, bool withBody);
    void SendBody(TTransfer& t);
    void SendField(TTransfer& t, const THTTPUploaderField& field);
    uint32_t OpenFiles(TTransfer& t);
    void SendFile(TTransfer& t, const THTTPUploaderFile& file, size_t index);
    void SendFileData(TTransfer& t, HANDLE fileHandle, const std::wstring& pathName, uint32_t size);
    void Write(TTransfer& t, const void* data, uint32_t length);
    void AddProxyAuthorization(TTransfer& t);
    void SetProxyCredentials(TTransfer& t);
    bool ProxyLogin(TTransfer& t);
    void DiscardAnswer(TTransfer& t);
    bool QueryStatusCode(TTransfer& t, uint32_t& status);
    void ReadHeaders(TTransfer& t);
    void ReadBody(TTransfer& t);

    std::unique_ptr<THTTPUploaderRequest> FRequest;
    std::unique_ptr<THTTPUploaderResponse> FResponse;
    std::unique_ptr<THTTPUploaderFields> FFields;
    std::unique_ptr<THTTPUploaderFiles> FFiles;
    std::unique_ptr<THTTPUploaderProxy> FProxy;
    uint32_t FCachedBytesPerSecond = 0;
    IHTTPUploaderPlatform* FPlatform;
};

// Splits "host:port" (or "[v6]:port"); without a port the port stays 0.
void SplitHostPort(const std::wstring& hostName, std::wstring& host, uint16_t& port);

}  // namespace http
