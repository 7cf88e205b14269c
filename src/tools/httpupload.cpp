// httpupload: posts form fields and files to a URL as one multipart/form-data
// request with THTTPUploader, for scripts and support staff. Status events go
// to stderr, the answer's body to stdout (or a file), the status code last.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "http/httpuploader.h"
#include "rtl/Halt.h"
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
};

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
    "                             content type TYPE (application/octet-stream\n"
    "                             when left out); may be repeated\n"
    "  --proxy HOST:PORT          send through this HTTP proxy (default: a\n"
    "                             direct connection, whatever the system says)\n"
    "  --proxy-user USER          proxy user name, sent when the proxy asks\n"
    "  --proxy-password PASSWORD  proxy password\n"
    "  --no-ui                    never show the proxy login dialog; a proxy\n"
    "                             that asks for a login without --proxy-user\n"
    "                             then fails the upload\n"
    "  --output FILE              write the answer's body to FILE (default:\n"
    "                             standard output)\n"
    "  --headers                  print the answer's raw header block to\n"
    "                             standard output, before any body\n"
    "  --help                     show this text\n"
    "\n"
    "Progress (bytes sent, rate, time left) and the other status events go to\n"
    "standard error, the HTTP status code last. Ctrl+C cancels the transfer.\n"
    "\n"
    "Exit codes: 0 an answer arrived (any HTTP status), 2 bad command line,\n"
    "3 the upload failed (the reason is printed), 4 cancelled, 5 the body\n"
    "could not be written.\n";

std::atomic<bool> gCancelRequested{false};

BOOL WINAPI OnConsoleCtrl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    gCancelRequested = true;
    return TRUE;  // the transfer stops at its next check and the program ends normally
}

void WriteAll(HANDLE h, const char* data, size_t length) {
    while (length > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1 << 20)), written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return;
        data += written;
        length -= written;
    }
}

// Status text: to a console as it is, to a pipe or file as UTF-8.
void Err(const std::wstring& text) {
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(h, &mode))
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    else {
        std::string bytes = rtl::ToUtf8(text);
        WriteAll(h, bytes.data(), bytes.size());
    }
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
    bool NoUI = false, Headers = false, Help = false;
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
            if (semi != std::wstring::npos) {
                type = path.substr(semi + 1);
                path.erase(semi);
            }
            o.Files.push_back({v.substr(0, eq), path, type});
        } else if (a == L"--proxy") {
            size_t colon = 0;
            if (!value(v) || (colon = v.rfind(L':')) == std::wstring::npos || colon == 0)
                return L"--proxy needs HOST:PORT";
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
    for (auto& f : o.Fields) up.Fields().Add(rtl::ToAnsi(f.first), rtl::ToAnsi(f.second));
    for (auto& f : o.Files) up.Files().Add(rtl::ToAnsi(f.Field), f.Path, rtl::ToAnsi(f.Type));
    up.Proxy().Server = o.ProxyHost;
    up.Proxy().Port = o.ProxyPort;
    up.Proxy().Username = o.ProxyUser;
    up.Proxy().Password = o.ProxyPassword;
    up.ShowUI = !o.NoUI;

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
        Err(rtl::Format(L"Uploading %ls: %ls of %ls, %ls/s, %ls (all files: %ls of %ls, %ls)\n", name.c_str(),
                        Size(sent).c_str(), Size(size).c_str(), Size(rate).c_str(), TimeLeft(fileSeconds).c_str(),
                        Size(overallSent).c_str(), Size(overallTotal).c_str(), TimeLeft(overallSeconds).c_str()));
    };
    up.OnFileComplete = [](http::THTTPUploader&, const std::wstring& fileName, bool successful) {
        size_t cut = fileName.find_last_of(L"\\:/");
        Err(L"File " + (cut == std::wstring::npos ? fileName : fileName.substr(cut + 1)) +
            (successful ? L" complete\n" : L" not sent completely\n"));
    };
    up.OnCheckCancel = [](http::THTTPUploader&, bool& cancel) { cancel = gCancelRequested.load(); };
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);

    int code = exOk;
    rtl::Try([&] { up.Upload(); },
             rtl::On<http::EHTTPUploaderCancel>([&](http::EHTTPUploaderCancel&) {
                 Err(L"httpupload: cancelled\n");
                 code = exCancelled;
             }),
             rtl::On<http::EHTTPUploader>([&](http::EHTTPUploader& e) {
                 Err(L"httpupload: " + e.Message + L"\n");
                 code = exUploadFailed;
             }));
    if (code != exOk) return code;

    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (o.Headers) WriteAll(out, up.Response().Headers().data(), up.Response().Headers().size());
    const char* body = up.Response().PMessageBody();
    if (!o.Output.empty()) {
        rtl::ScopedFileHandle file(CreateFileW(o.Output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        bool ok = file.IsValid() && (!body || (WriteFile(file.Get(), body, up.Response().MessageBodyLength(),
                                                         &written, nullptr) &&
                                               written == up.Response().MessageBodyLength()));
        if (!ok) {
            Err(L"httpupload: cannot write " + o.Output + L": " + rtl::SysErrorMessage(GetLastError()) + L"\n");
            code = exOutputFailed;
        }
    } else if (body) {
        WriteAll(out, body, up.Response().MessageBodyLength());
    }
    Err(L"HTTP status " + std::to_wstring(up.Response().StatusCode) + L"\n");
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return rtl::RunGuarded([&] { return Run(argc, argv); });
}
