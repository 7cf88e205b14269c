#include "support/SupportUpload.h"

#include "config/GlobalProxySettings.h"
#include "config/Upload_Settings.h"
#include "config/Wipe.h"
#include "env/Version.h"
#include "http/httpuploader.h"
#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "support/UploadFiles.h"

#include <wininet.h>

namespace support {

const wchar_t* const kSupportUploadPath = L"/support/upload";
const wchar_t* const kSupportProgramName = L"Orvex Diagnostics";

namespace {

// Whether the bytes are valid UTF-8 (an answer may come in the ANSI code page).
bool IsUtf8(const std::string& bytes) {
    return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

const wchar_t* const kProxyLoginNeeded =
    L"The proxy server refused the request because it needs a login. Enter the proxy user name and password with "
    L"Proxy....";

// The upload client's text when a proxy asked for a login it was not given.
bool IsProxyLoginFailure(const std::wstring& technical) { return technical.rfind(L"Proxy login required", 0) == 0; }

}  // namespace

TSupportEndpoint GetSupportEndpoint() {
    return TSupportEndpoint{config::GetUploadProtocol(), config::GetUploadServer(), kSupportUploadPath};
}

std::wstring FormatByteSize(uint64_t bytes) {
    if (bytes < 1024) return std::to_wstring(bytes) + (bytes == 1 ? L" byte" : L" bytes");
    static const wchar_t* const units[] = {L"KB", L"MB", L"GB", L"TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    // Round first, so 1023.96 KB reads "1.0 MB" and not "1024.0 KB".
    while (unit < 3 && value >= 1023.95) {
        value /= 1024.0;
        ++unit;
    }
    return rtl::Format(L"%.1f %ls", value, units[unit]);
}

std::wstring FormatProgress(const TSendProgress& p) {
    if (p.Compressing) return FormatByteSize(p.Sent) + L" of " + FormatByteSize(p.Total) + L" done";
    std::wstring text = FormatByteSize(p.Sent) + L" of " + FormatByteSize(p.Total) + L" sent";
    if (p.OriginalTotal) text += L" (" + FormatByteSize(p.OriginalTotal) + L" before compression)";
    if (p.BytesPerSecond > 0) text += L", " + FormatByteSize(p.BytesPerSecond) + L"/s";
    if (p.SecondsLeft != 0xFFFFFFFF && p.Sent < p.Total) {
        const uint32_t s = p.SecondsLeft;
        if (s >= 3600)
            text += rtl::Format(L", %u h %u min left", s / 3600, s % 3600 / 60);
        else if (s >= 60)
            text += rtl::Format(L", %u min %u s left", s / 60, s % 60);
        else
            text += rtl::Format(L", %u s left", s);
    }
    return text;
}

std::wstring AnswerText(const std::string& body, size_t maxChars) {
    std::wstring decoded = IsUtf8(body) ? rtl::FromUtf8(body) : rtl::FromAnsi(body);
    const bool cut = decoded.size() > maxChars;
    if (cut) decoded.resize(maxChars);
    std::wstring text;
    text.reserve(decoded.size() + decoded.size() / 16);
    for (size_t i = 0; i < decoded.size(); ++i) {
        const wchar_t c = decoded[i];
        if (c == L'\n' && (i == 0 || decoded[i - 1] != L'\r'))
            text += L"\r\n";
        else
            text += c == L'\0' ? L' ' : c;
    }
    if (cut) text += L"\r\n[The answer is longer; only its beginning is shown.]";
    return text;
}

std::wstring DescribeUploadFailure(const std::wstring& technical, int errorCode) {
    switch (errorCode) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return L"The server's name could not be found. Check the network connection and the proxy settings.";
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_TIMEOUT:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_DISCONNECTED:
        case ERROR_INTERNET_SERVER_UNREACHABLE:
        case ERROR_INTERNET_PROXY_SERVER_UNREACHABLE:
            return L"No connection to the server could be made. Check the network connection and the proxy "
                   L"settings, then try again.";
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        case 12175:  // ERROR_INTERNET_DECODING_FAILED: the secure channel could not be set up
            return L"The server's certificate is not trusted, so nothing was sent. The connection may be "
                   L"intercepted, or the computer's date or certificates are out of date.";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return L"A file could not be read, so nothing was sent. Check that it still exists and is not in use.";
    }
    if (IsProxyLoginFailure(technical)) return kProxyLoginNeeded;
    return L"The files could not be sent.";
}

namespace {

// The uploader's progress and cancel hooks, forwarded to the sender's,
// under the names the files go by.
class TSenderUploader : public http::THTTPUploader {
public:
    TSenderUploader(TSupportSender& sender, const TUploadFiles& files) : FSender(sender), FFiles(files) {}

protected:
    void DoFileProgress(const std::wstring& fileName, uint32_t, uint32_t, uint32_t, uint32_t overallBytesSent,
                        uint32_t overallBytesTotal, uint32_t secondsToOverallCompletion,
                        uint32_t bytesPerSecond) override {
        if (!FSender.OnProgress) return;
        TSendProgress p;
        p.FileName = rtl::ExtractFileName(fileName);
        for (const TUploadFile& f : FFiles.Files())
            if (f.Path == fileName) p.FileName = f.SendName;
        if (FFiles.AnyCompressed()) p.OriginalTotal = FFiles.OriginalSize();
        p.Sent = overallBytesSent;
        p.Total = overallBytesTotal;
        p.BytesPerSecond = bytesPerSecond;
        p.SecondsLeft = secondsToOverallCompletion;
        FSender.OnProgress(p);
    }
    bool DoCheckCancel() override { return FSender.OnCheckCancel && FSender.OnCheckCancel(); }

private:
    TSupportSender& FSender;
    const TUploadFiles& FFiles;
};

// The route's proxy, when the settings name one, for an upload.
void UseProxy(http::THTTPUploader& up, const TSendRoute& route) {
    if (route.ProxyServer.empty()) return;
    up.Proxy().Server = route.ProxyServer;
    up.Proxy().Port = route.ProxyPort > 0 ? route.ProxyPort : 80;
    up.Proxy().Username = route.ProxyUsername;
    up.Proxy().Password = route.ProxyPassword;
}

// A connection that broke while the body was being written.
// A proxy that wants a login can answer 407 and close the connection while
// the body is still being written; the write then fails with a reset and the
// answer is lost. A request without a body through the same proxy tells
// whether that was the reason.
bool ProxyWantsLogin(const TSendRoute& route) {
    if (route.ProxyServer.empty()) return false;
    bool wantsLogin = false;
    rtl::Try(
        [&] {
            http::THTTPUploader probe;
            probe.ShowUI = false;
            probe.Request().SetURL(route.URL);
            UseProxy(probe, route);
            probe.Upload();
            wantsLogin = probe.Response().StatusCode == HTTP_STATUS_PROXY_AUTH_REQ;
        },
        rtl::On<http::EHTTPUploader>([&](http::EHTTPUploader& e) { wantsLogin = IsProxyLoginFailure(e.Message); }));
    return wantsLogin;
}

const wchar_t* const kProxyLoginRefused =
    L"The proxy server refused the login (407). Check the proxy user name and password with Proxy....";

}  // namespace

std::vector<TAddedField> AddedFields(const std::wstring& program) {
    return {{"program", program}, {"version", env::GetProgramVersionText()}};
}

std::wstring DescribeAddedFields(const std::wstring& program) {
    std::wstring text;
    for (const TAddedField& field : AddedFields(program))
        text += (text.empty() ? L"" : L"; ") + rtl::FromAnsi(field.Name) + L": " + field.Value;
    return text;
}

TSendRoute::~TSendRoute() { config::Wipe(ProxyPassword); }

TSendRoute ReadSendRoute() {
    TSendRoute route;
    rtl::Try(
        [&] {
            route.URL = GetSupportEndpoint().URL();
            const config::TProxySettings& proxy = config::GetProxySettings();
            route.ProxyServer = proxy.Server();
            route.ProxyPort = proxy.Port();
            route.ProxyUsername = proxy.Username();
            route.ProxyPassword = proxy.Password();
        },
        rtl::On<rtl::ERegistryException>([&](rtl::ERegistryException& e) { route.SettingsError = e.Message; }));
    return route;
}

TSendResult CancelledSendResult() {
    TSendResult result;
    result.Outcome = TSendOutcome::Cancelled;
    result.Message = L"Sending was cancelled.";
    return result;
}

TSendResult TSupportSender::Send(const TSupportPackage& package) { return Send(package, ReadSendRoute()); }

TSendResult TSupportSender::Send(const TSupportPackage& package, const TSendRoute& route) {
    TSendResult result;
    if (!route.SettingsError.empty()) {
        result.Message = L"The upload or proxy settings could not be read, so nothing was sent.";
        result.Detail = route.SettingsError;
        return result;
    }
    rtl::Try(
        [&] {
            // Large logs are compressed first; a cancel meanwhile ends the
            // send like a cancel during the upload, and the archives go.
            const TUploadFiles files(package.Files, [&](const std::wstring& name, uint64_t read, uint64_t size) {
                if (OnCheckCancel && OnCheckCancel()) rtl::RaiseNew<http::EHTTPUploaderCancel>();
                if (!OnProgress) return;
                TSendProgress p;
                p.FileName = name;
                p.Sent = read;
                p.Total = size;
                p.Compressing = true;
                OnProgress(p);
            });
            TSenderUploader up(*this, files);
            up.ShowUI = false;  // the proxy login comes from the stored settings, never a system prompt
            up.Request().SetURL(route.URL);
            UseProxy(up, route);
            up.Fields().Add("description", rtl::ToUtf8(package.Description));
            up.Fields().Add("contact", rtl::ToUtf8(package.Contact));
            for (const TAddedField& field : AddedFields(Program)) up.Fields().Add(field.Name, rtl::ToUtf8(field.Value));
            int n = 0;
            for (const TUploadFile& file : files.Files())
                up.Files().Add("file" + std::to_string(++n), file.Path, file.ContentType, file.SendName);
            up.Upload();

            result.StatusCode = up.Response().StatusCode;
            result.Headers = up.Response().Headers();
            if (up.Response().PMessageBody())
                result.Body.assign(up.Response().PMessageBody(), up.Response().MessageBodyLength());
            result.SuggestedFileName = up.Response().ContentDispositionFilename();
            if (result.StatusCode >= 200 && result.StatusCode < 300) {
                result.Outcome = TSendOutcome::Delivered;
                result.Message = rtl::Format(L"Sent. The server answered %d.", result.StatusCode);
            } else if (result.StatusCode == HTTP_STATUS_PROXY_AUTH_REQ) {
                result.Outcome = TSendOutcome::Failed;
                result.Message = up.Proxy().Username.empty() ? kProxyLoginNeeded : kProxyLoginRefused;
            } else {
                result.Outcome = TSendOutcome::Rejected;
                result.Message =
                    rtl::Format(L"The server did not accept the files: it answered %d.", result.StatusCode);
                result.Retryable = result.StatusCode >= 500;
            }
        },
        rtl::On<http::EHTTPUploaderCancel>([&](http::EHTTPUploaderCancel&) { result = CancelledSendResult(); }),
        rtl::On<http::EHTTPUploader>([&](http::EHTTPUploader& e) {
            result.Outcome = TSendOutcome::Failed;
            result.Message = DescribeUploadFailure(e.Message, e.ErrorCode());
            result.Retryable = http::IsTransientFailure(e.ErrorCode());
            result.Detail = e.Message;
            if (http::IsBrokenConnection(e.ErrorCode()) && ProxyWantsLogin(route))
                result.Message = route.ProxyUsername.empty() ? kProxyLoginNeeded : kProxyLoginRefused;
        }));
    return result;
}

}  // namespace support
