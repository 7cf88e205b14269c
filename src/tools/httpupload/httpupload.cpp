// httpupload: posts form fields and files to a URL as one multipart/form-data
// request with THTTPUploader, for scripts and support staff. Status events go
// to stderr, the answer's body to stdout (or a file), the status code last.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "http/httpuploader.h"
#include "http/httpuploader_headers.h"
#include "http/httpuploader_multipart.h"
#include "httpupload/OptionsText.h"
#include "rtl/FilePath.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "rtl/Win.h"

namespace {

enum TExitCode {
    exOk = 0,            // an answer arrived, whatever its HTTP status
    exUsage = 2,         // bad command line
    exUploadFailed = 3,  // EHTTPUploader: its message is printed
    exCancelled = 4,     // Ctrl+C
    exOutputFailed = 5,  // the body could not be written
    exHttpError = 6,     // --fail and a status of 400 or above
};

// The Location header of an answer's header block; empty without one.
std::wstring LocationOf(const std::string& headers) {
    std::string line;
    if (!http::FindHeaderLine(headers, "Location:", line)) return {};
    const size_t value = line.find_first_not_of(" \t", 9);
    return value == std::string::npos ? std::wstring() : rtl::FromUtf8(line.substr(value));
}

// The first line of standard input, without its line break.
std::wstring ReadStdinLine() {
    std::string line;
    char c;
    DWORD read = 0;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(in, &c, 1, &read, nullptr) && read == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return rtl::FromUtf8(line);
}

std::atomic<bool> gCancelRequested{false};
// The transfer saw the request at one of its checks and is ending.
std::atomic<bool> gCancelSeen{false};

// Runs on a thread of its own. The transfer stops at its next check and the
// program ends normally; a transfer blocked in a step of WinInet's (name
// lookup, connecting, waiting for the answer) would keep the user waiting,
// so after a quarter of a second the process ends here, as cancelled.
BOOL WINAPI OnConsoleCtrl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    gCancelRequested = true;
    for (int waited = 0; waited < 25 && !gCancelSeen; ++waited) Sleep(10);
    if (gCancelSeen) return TRUE;
    static const char kCancelled[] = "httpupload: cancelled\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kCancelled, sizeof(kCancelled) - 1, &written, nullptr);
    ExitProcess(exCancelled);
}

bool WriteAll(HANDLE h, const char* data, size_t length) {
    while (length > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1 << 20)), written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        length -= written;
    }
    return true;
}

// Status text: to a console as it is, to a pipe or file as UTF-8.
// A progress line a console shows in place: the next text starts below it.
bool gProgressLineOpen = false;

void Err(const std::wstring& text) {
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(h, &mode)) {
        const std::wstring out = (gProgressLineOpen ? L"\n" : L"") + text;
        gProgressLineOpen = false;
        WriteConsoleW(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    } else {
        std::string bytes = rtl::ToUtf8(text);
        WriteAll(h, bytes.data(), bytes.size());
    }
}

// Progress: on a console one line rewritten in place, in a log a line each.
void Progress(const std::wstring& line) {
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (!GetConsoleMode(h, &mode)) return Err(line + L"\n");
    // Blanks cover what a longer line before left.
    const std::wstring out = L"\r" + line + L"   ";
    WriteConsoleW(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    gProgressLineOpen = true;
}

std::wstring Size(uint64_t bytes) {
    if (bytes < 10 * 1024) return std::to_wstring(bytes) + L" B";
    if (bytes < 10 * 1024 * 1024) return std::to_wstring(bytes / 1024) + L" KiB";
    return std::to_wstring(bytes / (1024 * 1024)) + L" MiB";
}

std::wstring TimeLeft(uint32_t seconds) {
    if (seconds == http::kSecondsUnknown) return L"time left unknown";
    if (seconds < 120) return std::to_wstring(seconds) + L" s left";
    return std::to_wstring(seconds / 60) + L" min " + std::to_wstring(seconds % 60) + L" s left";
}

using TOptions = httpupload::TBasicOptions<std::wstring>;

// --proxy-password-env's variable: false when it is unset, empty or longer
// than an environment variable can be.
bool EnvironmentValue(const std::wstring& name, std::wstring& value) {
    std::vector<wchar_t> buffer(32768);
    DWORD n = GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return false;
    value.assign(buffer.data(), n);
    return true;
}

// Answers an error text, empty when the command line is usable.
std::wstring ParseOptions(int argc, wchar_t** argv, TOptions& o) {
    const std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    return httpupload::ParseOptionWords(args, o, {EnvironmentValue, ReadStdinLine});
}

// Where the answer goes as it arrives, so that no answer has to fit in
// memory: the header block first when asked, then the body to standard
// output or to the --output file, made when the answer begins (a request
// that gets no answer leaves no file behind).
class TAnswerWriter {
public:
    TAnswerWriter(const TOptions& o, http::THTTPUploader& up) : FOptions(o), FUp(up) {}

    // Before each attempt: when another may follow, an answer of 500 or
    // above is not written; what an attempt cut short wrote to the file is
    // written anew by the next.
    void Restart(bool holdBackServerErrors) {
        FHoldBack = holdBackServerErrors;
        FFile.Reset();
        FBegun = false;
    }
    bool HeldBack() const { return FHoldBack && FUp.Response().StatusCode >= 500; }

    void Write(const char* data, uint32_t length) {
        if (HeldBack()) return;
        Begin();
        if (FFailed) return;
        if (!WriteAll(FFile ? FFile.Get() : GetStdHandle(STD_OUTPUT_HANDLE), data, length) && FFile) Failed();
    }
    // After the answer: an answer without a body still gets its headers
    // printed and its (empty) file. False when the file could not be written.
    bool Finish() {
        if (HeldBack()) return true;
        Begin();
        return !FFailed;
    }

private:
    void Begin() {
        if (FBegun) return;
        FBegun = true;
        const std::string& headers = FUp.Response().Headers();
        if (FOptions.Headers) WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), headers.data(), headers.size());
        if (FOptions.Output.empty()) return;
        FFile.Reset(CreateFileW(FOptions.Output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!FFile) Failed();
    }
    void Failed() {
        Err(L"httpupload: cannot write " + FOptions.Output + L": " + rtl::SysErrorMessage(GetLastError()) + L"\n");
        FFailed = true;
    }

    const TOptions& FOptions;
    http::THTTPUploader& FUp;
    rtl::ScopedFileHandle FFile;
    bool FBegun = false, FFailed = false, FHoldBack = false;
};

int Run(int argc, wchar_t** argv) {
    TOptions o;
    std::wstring error = ParseOptions(argc, argv, o);
    if (o.Help) {
        WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), httpupload::kHelp, std::strlen(httpupload::kHelp));
        return exOk;
    }
    if (!error.empty()) {
        Err(L"httpupload: " + error + L"\nTry httpupload --help.\n");
        return exUsage;
    }

    http::THTTPUploader up;
    up.Request().SetURL(o.Url);
    // Names and values go on the wire as UTF-8, as browsers send form data.
    for (auto& f : o.Fields) up.Fields().Add(http::multipart::NameToUtf8(f.first), rtl::ToUtf8(f.second));
    for (auto& f : o.Files) up.Files().Add(http::multipart::NameToUtf8(f.Field), f.Path, rtl::ToUtf8(f.Type));
    up.Proxy().Server = o.ProxyHost;
    up.Proxy().Port = o.ProxyPort;
    up.Proxy().Username = o.ProxyUser;
    up.Proxy().Password = o.ProxyPassword;
    up.ShowUI = !o.NoUI;
    up.ConnectTimeout = o.MaxTime ? std::min(o.ConnectTimeout, o.MaxTime) : o.ConnectTimeout;
    if (o.MaxTime) up.TransferTimeout = std::min(up.TransferTimeout, o.MaxTime);

    up.OnStatus = [](http::THTTPUploader&, const std::wstring& message, int64_t position, int64_t total) {
        if (message == L"Downloading")
            Err(L"Downloading: " + Size(position) + (total > 0 ? L" of " + Size(total) : std::wstring()) + L"\n");
        else
            Err(message + L"\n");
    };
    up.OnFileProgress = [](http::THTTPUploader&, const std::wstring& fileName, uint32_t sent, uint32_t size,
                           uint32_t fileSeconds, uint32_t overallSent, uint32_t overallTotal, uint32_t overallSeconds,
                           uint32_t rate) {
        const std::wstring name = rtl::ExtractFileName(fileName);
        Progress(rtl::Format(L"Uploading %ls: %ls of %ls, %ls/s, %ls (all files: %ls of %ls, %ls)", name.c_str(),
                             Size(sent).c_str(), Size(size).c_str(), Size(rate).c_str(), TimeLeft(fileSeconds).c_str(),
                             Size(overallSent).c_str(), Size(overallTotal).c_str(), TimeLeft(overallSeconds).c_str()));
    };
    up.OnFileComplete = [](http::THTTPUploader&, const std::wstring& fileName, bool successful) {
        Err(L"File " + rtl::ExtractFileName(fileName) + (successful ? L" complete\n" : L" not sent completely\n"));
    };
    const DWORD started = GetTickCount();
    up.OnCheckCancel = [&](http::THTTPUploader&, bool& cancel) {
        cancel = gCancelRequested.load();
        if (cancel) gCancelSeen = true;
        if (o.MaxTime && GetTickCount() - started > o.MaxTime * 1000u)
            rtl::RaiseNew<http::EHTTPUploader>(L"Gave up after --max-time " + std::to_wstring(o.MaxTime) + L" s",
                                               ERROR_INTERNET_TIMEOUT);
    };
    TAnswerWriter answer(o, up);
    up.OnAnswerData = [&](http::THTTPUploader&, const char* data, uint32_t length) { answer.Write(data, length); };
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);

    int code = exOk;
    for (uint32_t attempt = 0;; ++attempt) {
        const bool last = attempt >= o.Retries;
        answer.Restart(!last);
        bool transient = false;
        code = exOk;
        rtl::Try([&] { up.Upload(); }, rtl::On<http::EHTTPUploaderCancel>([&](http::EHTTPUploaderCancel&) {
                     Err(L"httpupload: cancelled\n");
                     code = exCancelled;
                 }),
                 rtl::On<http::EHTTPUploader>([&](http::EHTTPUploader& e) {
                     Err(L"httpupload: " + e.Message + L"\n");
                     code = exUploadFailed;
                     transient = http::IsTransientFailure(e.ErrorCode());
                 }));
        if (code == exOk && up.Response().StatusCode >= 500) transient = true;
        if (last || !transient) break;
        const uint32_t seconds = std::min(1u << std::min(attempt, 5u), 30u);
        Err(rtl::Format(L"httpupload: trying again in %u s (attempt %u of %u)\n", seconds, attempt + 2, o.Retries + 1));
        for (uint32_t waited = 0; waited < seconds * 10 && !gCancelRequested; ++waited) Sleep(100);
        if (gCancelRequested) {
            gCancelSeen = true;
            Err(L"httpupload: cancelled\n");
            return exCancelled;
        }
    }
    if (code != exOk) return code;

    if (!answer.Finish()) code = exOutputFailed;
    if (code == exOk && o.Fail && up.Response().StatusCode >= 400) code = exHttpError;
    const int status = up.Response().StatusCode;
    if (status >= 300 && status < 400 && (up.Fields().Count() > 0 || up.Files().Count() > 0)) {
        const std::wstring location = LocationOf(up.Response().Headers());
        Err(L"httpupload: the server redirected the upload" + (location.empty() ? std::wstring() : L" to " + location) +
            L"; nothing was sent there\n");
    }
    Err(L"HTTP status " + std::to_wstring(up.Response().StatusCode) + L"\n");
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return rtl::RunGuarded([&] { return Run(argc, argv); });
}
