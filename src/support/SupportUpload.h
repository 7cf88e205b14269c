// Sending diagnostic files to the maker's support server: one multipart
// request with the user's description, a contact address, the program's
// version and the chosen files, through the user's proxy settings. Shared
// by the main window and the diagnostics program, so both send the same way.
// Errors a user can meet (no network, a proxy that refuses, an untrusted
// certificate, an unreadable file, a cancel) come back as a result with a
// clear message; they are never raised to the caller.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace support {

// Where support uploads go: the endpoint settings' protocol and server and
// a fixed path.
struct TSupportEndpoint {
    std::wstring Protocol;
    std::wstring Server;
    std::wstring Path;
    std::wstring URL() const { return Protocol + L"://" + Server + Path; }
};
extern const wchar_t* const kSupportUploadPath;  // "/support/upload"
// Reads the endpoint settings now (they can change while the program runs).
TSupportEndpoint GetSupportEndpoint();

struct TSupportPackage {
    std::wstring Description;
    std::wstring Contact;
    std::vector<std::wstring> Files;  // full paths
};

struct TSendProgress {
    std::wstring FileName;  // the file being sent, without its folder
    uint64_t Sent = 0;
    uint64_t Total = 0;  // the bytes of the files as they are sent
    uint32_t BytesPerSecond = 0;
    uint32_t SecondsLeft = 0xFFFFFFFF;  // unknown
    // Set while a log is compressed before the upload: Sent and Total then
    // count the bytes of FileName read and its size.
    bool Compressing = false;
    // The files' own sizes when some go compressed, else 0.
    uint64_t OriginalTotal = 0;
};
// "1.5 MB of 4.0 MB sent, 320 KB/s, 8 s left" (rate and time once known);
// "1.5 MB of 4.0 MB sent (40.0 MB before compression), ..." when logs go
// compressed; "12.0 MB of 40.0 MB done" while one is compressed.
std::wstring FormatProgress(const TSendProgress& progress);
// "512 bytes", "1.5 KB", "20.0 MB", "1.2 GB".
std::wstring FormatByteSize(uint64_t bytes);

enum class TSendOutcome {
    Delivered,  // the server accepted the package (2xx)
    Rejected,   // the server answered with another status
    Cancelled,  // the user cancelled
    Failed      // no answer: network, proxy, certificate or file error
};

struct TSendResult {
    TSendOutcome Outcome = TSendOutcome::Failed;
    int StatusCode = 0;
    std::string Headers;
    std::string Body;
    std::string SuggestedFileName;  // from the answer's Content-Disposition
    std::wstring Message;           // what happened, for the user
    std::wstring Detail;            // the technical text, when there is one
    // The same send may well go through later: the network failed or broke
    // off, or the server answered with a server error (500 and above).
    bool Retryable = false;
};

// The server's answer body as text for an edit control: UTF-8 (or the ANSI
// code page when it is not UTF-8), line ends as CR LF, NUL bytes shown as
// spaces, and at most `maxChars` characters with a note that it was cut.
std::wstring AnswerText(const std::string& body, size_t maxChars = 256 * 1024);

// The user-facing text of an upload client error (its message and WinInet
// or system error code).
std::wstring DescribeUploadFailure(const std::wstring& technical, int errorCode);

// Where a send goes and through which proxy, read from the settings once:
// a send on another thread then never reads them while the window changes
// them. The password is wiped with the route.
struct TSendRoute {
    std::wstring URL;
    std::wstring ProxyServer;  // empty: the system's proxy settings
    int32_t ProxyPort = 0;
    std::wstring ProxyUsername;
    std::wstring ProxyPassword;
    std::wstring SettingsError;  // set when the settings could not be read

    TSendRoute() = default;
    TSendRoute(const TSendRoute&) = default;
    TSendRoute& operator=(const TSendRoute&) = default;
    ~TSendRoute();
};
// Reads the endpoint and the stored proxy now; never raises.
TSendRoute ReadSendRoute();

// The result of a send the user cancelled.
TSendResult CancelledSendResult();

// The program name sent with a package unless a sender names another.
extern const wchar_t* const kSupportProgramName;  // "Orvex Diagnostics"

struct TAddedField {
    std::string Name;
    std::wstring Value;
};
// The fields that go with every package after the description and the
// contact: the program's name and version.
std::vector<TAddedField> AddedFields(const std::wstring& program);
// "program: Orvex Diagnostics; version: 9.0.0.1", for the user to see
// before sending.
std::wstring DescribeAddedFields(const std::wstring& program);

class TSupportSender {
public:
    // Called from inside Send on the calling thread, per block sent.
    std::function<void(const TSendProgress&)> OnProgress;
    // Asked per block; true ends the upload as cancelled.
    std::function<bool()> OnCheckCancel;
    // The program name sent with the package ("Orvex Diagnostics" by default).
    std::wstring Program = kSupportProgramName;

    // Block until the answer arrived or the upload ended; the first reads
    // the route itself.
    TSendResult Send(const TSupportPackage& package);
    TSendResult Send(const TSupportPackage& package, const TSendRoute& route);
};

}  // namespace support
