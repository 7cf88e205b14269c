// httpupload: posts form fields and files to a URL as one multipart/form-data
// request with THTTPUploader, for scripts and support staff. Status events go
// to stderr, the answer's body to stdout (or a file), the status code last.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "http/httpuploader.h"
#include "http/httpuploader_headers.h"
#include "http/httpuploader_multipart.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "rtl/Win.h"

namespace {

enum TExitCode {
    exOk = 0,             // an answer arrived, whatever its HTTP status
    exUsage = 2,          // bad command line
    exUploadFailed = 3,   // EHTTPUploader: its message is printed
    exCancelled = 4,      // Ctrl+C
    exOutputFailed = 5,   // the body could not be written
    exHttpError = 6,      // --fail and a status of 400 or above
};

// "type/subtype" as content types are written: two tokens around one '/'.
bool LooksLikeContentType(const std::wstring& text) {
    size_t slash = text.find(L'/');
    if (slash == std::wstring::npos || slash == 0 || slash + 1 == text.size() ||
        text.find(L'/', slash + 1) != std::wstring::npos)
        return false;
    for (wchar_t c : text)
        if (!(iswalnum(c) || c == L'/' || wcschr(L"!#$&^_.+-", c))) return false;
    return true;
}

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

const char kHelp[] =
    "Usage: httpupload [options] URL\n"
    "\n"
    "Posts form fields and files to URL (http://host[:port]/path or https://...)\n"
    "as one multipart/form-data request through WinInet. Without fields and\n"
    "files it sends a GET.\n"
    "\n"
    "Options:\n"
    "  --field NAME=VALUE         a form field; may be repeated\n"
    "  --file FIELD=PATH[;TYPE]   a file to send under form field FIELD, with\n"
    "                             content type TYPE such as text/plain\n"
    "                             (application/octet-stream when left out); a\n"
    "                             path may hold ';' when no TYPE follows it;\n"
    "                             may be repeated\n"
    "  --proxy [http://]HOST:PORT send through this HTTP proxy, for this upload\n"
    "                             only (default: the system's proxy settings)\n"
    "  --proxy-user USER          proxy user name, sent with the first request\n"
    "  --proxy-password PASSWORD  proxy password (visible to other users of the\n"
    "                             machine: prefer one of the next two)\n"
    "  --proxy-password-env NAME  the proxy password from environment variable NAME\n"
    "  --proxy-password-stdin     the proxy password from the first line of\n"
    "                             standard input\n"
    "  --connect-timeout SECONDS  give up connecting after SECONDS (default 30)\n"
    "  --max-time SECONDS         give up when the whole exchange takes longer;\n"
    "                             a send or a read that moves nothing for 60 s\n"
    "                             (or SECONDS, when less) fails at any rate\n"
    "  --retry N                  try up to N times more (1, 2, 4 ... 30 s apart)\n"
    "                             when the server cannot be reached, the\n"
    "                             connection breaks or times out, or the answer\n"
    "                             is 500 or above\n"
    "  --fail                     exit with 6 when the answer's HTTP status is 400\n"
    "                             or above (its body is still written)\n"
    "  --no-ui                    never show the proxy login dialog; a proxy\n"
    "                             that asks for a login without --proxy-user\n"
    "                             then fails the upload\n"
    "  --output FILE              write the answer's body to FILE as it arrives\n"
    "                             (default: standard output)\n"
    "  --headers                  print the answer's raw header block to\n"
    "                             standard output, before any body\n"
    "  --help                     show this text\n"
    "\n"
    "Progress (bytes sent, rate, time left) and the other status events go to\n"
    "standard error, the HTTP status code last. Ctrl+C cancels the transfer.\n"
    "\n"
    "Exit codes: 0 an answer arrived (any HTTP status unless --fail), 2 bad\n"
    "command line, 3 the upload failed (the reason is printed), 4 cancelled,\n"
    "5 the body could not be written, 6 --fail and an HTTP status of 400 or\n"
    "above.\n";

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

struct TOptions {
    std::wstring Url;
    std::vector<std::pair<std::wstring, std::wstring>> Fields;
    struct File {
        std::wstring Field, Path, Type;
    };
    std::vector<File> Files;
    std::wstring ProxyHost, ProxyUser, ProxyPassword, Output;
    int ProxyPort = 0;
    uint32_t ConnectTimeout = 30, MaxTime = 0, Retries = 0;
    bool NoUI = false, Headers = false, Help = false, Fail = false;
};

// Answers an error text, empty when the command line is usable.
std::wstring ParseOptions(int argc, wchar_t** argv, TOptions& o) {
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto value = [&](std::wstring& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::wstring v;
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            o.Help = true;
        } else if (a == L"--no-ui") {
            o.NoUI = true;
        } else if (a == L"--headers") {
            o.Headers = true;
        } else if (a == L"--field") {
            if (!value(v) || v.find(L'=') == std::wstring::npos || v.find(L'=') == 0)
                return L"--field needs NAME=VALUE";
            o.Fields.push_back({v.substr(0, v.find(L'=')), v.substr(v.find(L'=') + 1)});
        } else if (a == L"--file") {
            size_t eq = 0;
            if (!value(v) || (eq = v.find(L'=')) == std::wstring::npos || eq == 0 || eq + 1 == v.size())
                return L"--file needs FIELD=PATH[;TYPE]";
            std::wstring path = v.substr(eq + 1), type;
            size_t semi = path.rfind(L';');
            if (semi != std::wstring::npos && LooksLikeContentType(path.substr(semi + 1))) {
                type = path.substr(semi + 1);
                path.erase(semi);
            }
            o.Files.push_back({v.substr(0, eq), path, type});
        } else if (a == L"--fail") {
            o.Fail = true;
        } else if (a == L"--retry") {
            wchar_t* end = nullptr;
            unsigned long n = value(v) ? wcstoul(v.c_str(), &end, 10) : 100;
            if (v.empty() || *end || n > 10 || !iswdigit(v[0])) return L"--retry needs a number from 0 to 10";
            o.Retries = static_cast<uint32_t>(n);
        } else if (a == L"--connect-timeout" || a == L"--max-time") {
            wchar_t* end = nullptr;
            unsigned long seconds = value(v) ? wcstoul(v.c_str(), &end, 10) : 0;
            if (v.empty() || *end || seconds == 0 || seconds > 86400 || iswspace(v[0]) || v[0] == L'-')
                return a + L" needs a number of seconds from 1 to 86400";
            (a == L"--max-time" ? o.MaxTime : o.ConnectTimeout) = static_cast<uint32_t>(seconds);
        } else if (a == L"--proxy") {
            size_t colon = 0;
            if (value(v) && v.rfind(L"http://", 0) == 0) v.erase(0, 7);
            if (!v.empty() && v.back() == L'/') v.pop_back();
            if (v.empty() || (colon = v.rfind(L':')) == std::wstring::npos || colon == 0)
                return L"--proxy needs HOST:PORT or http://HOST:PORT";
            wchar_t* end = nullptr;
            long port = wcstol(v.c_str() + colon + 1, &end, 10);
            if (*end || port <= 0 || port > 65535 || end == v.c_str() + colon + 1)
                return L"--proxy needs HOST:PORT with a port from 1 to 65535";
            o.ProxyHost = v.substr(0, colon);
            o.ProxyPort = static_cast<int>(port);
        } else if (a == L"--proxy-user") {
            if (!value(o.ProxyUser)) return L"--proxy-user needs a user name";
        } else if (a == L"--proxy-password") {
            if (!value(o.ProxyPassword)) return L"--proxy-password needs a password";
        } else if (a == L"--proxy-password-env") {
            if (!value(v) || v.empty()) return L"--proxy-password-env needs a variable name";
            std::vector<wchar_t> buffer(32768);
            DWORD n = GetEnvironmentVariableW(v.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0 || n >= buffer.size()) return L"--proxy-password-env: the environment has no " + v;
            o.ProxyPassword.assign(buffer.data(), n);
        } else if (a == L"--proxy-password-stdin") {
            o.ProxyPassword = ReadStdinLine();
        } else if (a == L"--output") {
            if (!value(o.Output) || o.Output.empty()) return L"--output needs a file name";
        } else if (a.rfind(L"--", 0) == 0) {
            return L"unknown option " + a;
        } else if (o.Url.empty()) {
            o.Url = a;
        } else {
            return L"more than one URL: " + a;
        }
    }
    if (o.Help) return {};
    if (o.Url.empty()) return L"no URL given";
    http::THTTPUploaderRequest probe;
    probe.SetURL(o.Url);
    if (probe.HostName.empty() || (probe.Protocol != L"http" && probe.Protocol != L"https"))
        return L"the URL must look like http://host/path or https://host/path: " + o.Url;
    if (!o.ProxyHost.empty() || o.ProxyUser.empty()) return {};
    return L"--proxy-user needs --proxy";
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
        WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), kHelp, sizeof(kHelp) - 1);
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
                           uint32_t fileSeconds, uint32_t overallSent, uint32_t overallTotal,
                           uint32_t overallSeconds, uint32_t rate) {
        size_t cut = fileName.find_last_of(L"\\:/");
        std::wstring name = cut == std::wstring::npos ? fileName : fileName.substr(cut + 1);
        Progress(rtl::Format(L"Uploading %ls: %ls of %ls, %ls/s, %ls (all files: %ls of %ls, %ls)", name.c_str(),
                        Size(sent).c_str(), Size(size).c_str(), Size(rate).c_str(), TimeLeft(fileSeconds).c_str(),
                        Size(overallSent).c_str(), Size(overallTotal).c_str(), TimeLeft(overallSeconds).c_str()));
    };
    up.OnFileComplete = [](http::THTTPUploader&, const std::wstring& fileName, bool successful) {
        size_t cut = fileName.find_last_of(L"\\:/");
        Err(L"File " + (cut == std::wstring::npos ? fileName : fileName.substr(cut + 1)) +
            (successful ? L" complete\n" : L" not sent completely\n"));
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
        rtl::Try([&] { up.Upload(); },
                 rtl::On<http::EHTTPUploaderCancel>([&](http::EHTTPUploaderCancel&) {
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
        Err(rtl::Format(L"httpupload: trying again in %u s (attempt %u of %u)\n", seconds, attempt + 2,
                        o.Retries + 1));
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
