// The upload engine driven by the scripted WinInet stand-in: body layout,
// verbs, ports, proxy options and login, progress, block sizes, cancel,
// failures of every step, and that every handle is closed on every path.
#include <gtest/gtest.h>

#include <algorithm>

#include "ScriptedPlatform.h"
#include "TestUtil.h"
#include "http/httpuploader.h"
#include "http/httpuploader_messageprocessor.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"

using namespace http;
using testhttp::TScriptedPlatform;
using testutil::CaptureRaise;

namespace {

std::wstring WriteFile(const testutil::TempDir& dir, const wchar_t* name, const std::string& content) {
    const std::wstring path = dir.Path() + name;
    EXPECT_TRUE(testutil::WriteBytes(path, content));
    return path;
}

std::string BoundaryOf(const TScriptedPlatform& net) {
    const std::string prefix = "Content-Type: multipart/form-data; boundary=";
    EXPECT_EQ(0u, net.AddedHeader.rfind(prefix, 0)) << net.AddedHeader;
    return net.AddedHeader.substr(prefix.size());
}

struct StatusLog {
    std::vector<std::wstring> Lines;
    void Hook(THTTPUploader& up) {
        up.OnStatus = [this](THTTPUploader&, const std::wstring& m, int64_t pos, int64_t total) {
            Lines.push_back(m + L" [" + std::to_wstring(pos) + L"/" + std::to_wstring(total) + L"]");
        };
    }
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        up.SetPlatform(net);
        up.Request().SetURL(L"http://upload.test/in?x=1");
    }
    void ExpectAllClosed() { EXPECT_EQ(0, net.OpenHandles()); }
    testutil::TempDir dir;
    TScriptedPlatform net;
    THTTPUploader up;
};

TEST_F(EngineTest, SendsFieldsThenFilesByteForByte) {
    std::wstring a = WriteFile(dir, L"a.bin", std::string("x\0y\r\n", 5));
    std::wstring empty = WriteFile(dir, L"empty.txt", "");
    up.Fields().Add("name", "value");
    up.Fields().Add("zero", "");
    up.Files().Add("f1", a, "");
    up.Files().Add("f2", empty, "text/plain");
    StatusLog log;
    log.Hook(up);
    up.Upload();

    const std::string b = BoundaryOf(net);
    ASSERT_EQ(39u, b.size());
    const std::string expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nvalue\r\n" +
                                 "--" + b + "\r\nContent-Disposition: form-data; name=\"zero\"\r\n\r\n\r\n" + "--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"a.bin\"\r\n" +
                                 "Content-Type: application/octet-stream\r\n\r\n" + std::string("x\0y\r\n", 5) +
                                 "\r\n" + "--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"f2\"; filename=\"empty.txt\"\r\n" +
                                 "Content-Type: text/plain\r\n\r\n\r\n" + "--" + b + "--\r\n";
    ASSERT_EQ(1, net.Sends());
    EXPECT_EQ(expected, net.Bodies[0]);
    EXPECT_EQ(expected.size(), net.Announced[0]);

    EXPECT_EQ(L"THTTPUploader/1.0", net.Agent);
    EXPECT_EQ(L"upload.test", net.Host);
    EXPECT_EQ(80, net.Port);
    EXPECT_EQ(L"POST", net.Verb);
    EXPECT_EQ(L"/in?x=1", net.Object);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT), net.RequestFlags);

    EXPECT_EQ(200, up.Response().StatusCode);
    EXPECT_EQ("hello", up.Response().MessageBodyAsString());
    EXPECT_EQ(net.Headers, up.Response().Headers());
    EXPECT_EQ((std::vector<std::string>{"request", "connection", "session"}), net.Closed);

    // Default texts of the file events go to OnStatus.
    const std::vector<std::wstring> expectedLog = {
        L"File " + a + L" beginning upload [0/0]",
        L"Uploading file a.bin (0 of 5 total bytes sent) [0/5]",
        L"Uploading file a.bin (5 of 5 total bytes sent) [5/5]",
        L"File a.bin complete [0/0]",
        L"File " + empty + L" beginning upload [0/0]",
        L"Uploading file empty.txt (0 of 0 total bytes sent) [5/5]",
        L"Uploading file empty.txt (0 of 0 total bytes sent) [5/5]",
        L"File empty.txt complete [0/0]",
        L"Downloading [0/5]",
        L"Downloading [5/5]",
    };
    // The fake clock moved 1 ms per write: no quarter second passed, so no
    // rate is known and no remaining time is printed.
    EXPECT_EQ(0u, up.CachedBytesPerSecond());
    EXPECT_EQ(expectedLog, log.Lines);
}

TEST_F(EngineTest, FilesWithoutFieldsArePosted) {
    up.Files().Add("f", WriteFile(dir, L"f.txt", "abc"), "text/plain");
    up.Upload();
    EXPECT_EQ(L"POST", net.Verb);
}

TEST_F(EngineTest, OnlyLowerCaseHttpsIsSecureAndAPortInTheHostIsHonoured) {
    up.Request().SetURL(L"https://secure.test/p");
    up.Upload();
    EXPECT_EQ(443, net.Port);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE), net.RequestFlags);

    // Upper case is plain HTTP, on the connection as on the request.
    up.Request().SetURL(L"HTTPS://secure.test/p");
    up.Upload();
    EXPECT_EQ(80, net.Port);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_FLAG_NO_CACHE_WRITE), net.RequestFlags);
    EXPECT_EQ(0u, net.ConnectFlags);

    up.Request().SetURL(L"https://127.0.0.1:8443/p");
    up.Upload();
    EXPECT_EQ(L"127.0.0.1", net.Host);
    EXPECT_EQ(8443, net.Port);
}

TEST(SplitHostPortTest, Table) {
    struct {
        const wchar_t* In;
        const wchar_t* Host;
        uint16_t Port;
    } cases[] = {
        {L"host", L"host", 0},       {L"host:8080", L"host", 8080}, {L"[::1]:99", L"::1", 99},
        {L"::1", L"::1", 0},         {L"host:", L"host:", 0},       {L"host:99999", L"host:99999", 0},
        {L"host:8a", L"host:8a", 0}, {L"host:0", L"host:0", 0},
    };
    for (auto& c : cases) {
        std::wstring host;
        uint16_t port = 1;
        SplitHostPort(c.In, host, port);
        EXPECT_EQ(c.Host, host) << rtl::ToAnsi(c.In);
        EXPECT_EQ(c.Port, port) << rtl::ToAnsi(c.In);
    }
}

// The proxy is the session's own, never the user's setting; stored
// credentials go with the first send.
TEST_F(EngineTest, TheProxyIsGivenToTheSessionAloneWithCredentialsBeforeTheFirstSend) {
    const struct {
        const wchar_t* Server;
        uint16_t Port;
        const wchar_t* User;
        const wchar_t* Url;
        DWORD Access;
        const wchar_t* Name;
        const char* Authorization;  // the header sent with the first request
    } cases[] = {
        {L"", 0, L"", L"http://h/", INTERNET_OPEN_TYPE_PRECONFIG, L"(none)", ""},  // the system's, as the browser's
        {L"proxy.test", 3128, L"", L"http://h/", INTERNET_OPEN_TYPE_PROXY, L"proxy.test:3128", ""},
        {L"proxy.test", 0, L"quill", L"http://h/", INTERNET_OPEN_TYPE_PROXY, L"proxy.test:0",
         "Proxy-Authorization: Basic cXVpbGw6czNjcmV0"},
        // Through a tunnel the header would reach the server: WinInet answers the proxy.
        {L"proxy.test", 0, L"quill", L"https://h/", INTERNET_OPEN_TYPE_PROXY, L"proxy.test:0", ""},
    };
    for (const auto& c : cases) {
        TScriptedPlatform net;
        up.SetPlatform(net);
        up.Request().SetURL(c.Url);
        up.Proxy().Server = c.Server;
        up.Proxy().Port = c.Port;
        up.Proxy().Username = c.User;
        up.Proxy().Password = L"s3cret";
        up.Upload();
        std::string authorization;
        for (const std::string& h : net.AddedHeaders)
            if (h.rfind("Proxy-Authorization:", 0) == 0) authorization = h;
        EXPECT_EQ(c.Authorization, authorization) << c.Name;
        EXPECT_EQ(c.Access, net.Access) << c.Name;
        EXPECT_EQ(c.Name, net.ProxyName);
        EXPECT_EQ(0u, net.ProxyOptionCount) << "the user's per-connection settings were written";
        const auto send = std::find(net.Calls.begin(), net.Calls.end(), "HttpSendRequestEx");
        const auto user = std::find(net.Calls.begin(), net.Calls.end(),
                                    "InternetSetOption " + std::to_string(INTERNET_OPTION_PROXY_USERNAME));
        EXPECT_EQ(*c.User != 0, user < send) << c.Name;
        EXPECT_EQ(c.User, net.ProxyUser);
    }
}

TEST_F(EngineTest, StoredCredentialsAreRetriedUntilFiveSendsThenThe407IsTheAnswer) {
    up.Proxy().Server = L"proxy.test";
    up.Proxy().Port = 3128;
    up.Proxy().Username = L"quill";
    up.Proxy().Password = L"s3cret";
    up.Fields().Add("a", "1");
    net.StatusAfterEnd = {407};
    net.Headers = "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n";
    up.Upload();
    EXPECT_EQ(5, net.Sends());
    EXPECT_EQ(407, up.Response().StatusCode);
    EXPECT_EQ(L"quill", net.ProxyUser);
    EXPECT_EQ(6u, net.ProxyUserLength);
    EXPECT_EQ(L"s3cret", net.ProxyPassword);
    EXPECT_EQ(7u, net.ProxyPasswordLength);
    for (const auto& body : net.Bodies) EXPECT_EQ(net.Bodies[0], body);  // same boundary each time
    ExpectAllClosed();
}

TEST_F(EngineTest, A407BeforeTheBodyIsResentWithoutWritingIt) {
    up.Proxy().Server = L"proxy.test";
    up.Proxy().Username = L"quill";
    up.Fields().Add("a", "1");
    net.StatusAfterSend = {407, 0};
    net.StatusAfterEnd = {200};
    up.Upload();
    ASSERT_EQ(2, net.Sends());
    EXPECT_EQ("", net.Bodies[0]);
    EXPECT_NE("", net.Bodies[1]);
    EXPECT_EQ(L"", net.ProxyPassword);  // an empty password is not set
    EXPECT_EQ(200, up.Response().StatusCode);
}

TEST_F(EngineTest, A407AlreadyReadBeforeTheBodyIsTheAnswerOnceTheAttemptsAreUsedUp) {
    up.Proxy().Server = L"proxy.test";
    up.Proxy().Username = L"quill";
    up.Fields().Add("a", "1");
    net.StatusAfterSend = {407};
    net.StatusAfterEnd = {200};  // never asked for: the request is not ended
    net.Body = "refused";
    up.Upload();
    EXPECT_EQ(5, net.Sends());
    for (const auto& body : net.Bodies) EXPECT_EQ("", body);
    EXPECT_EQ(407, up.Response().StatusCode);
    EXPECT_EQ("refused", up.Response().MessageBodyAsString());
}

// Before a body over 1 MiB goes through a proxy, a HEAD asks whether a
// login is wanted: a refusal is the answer and the body never goes out; the
// proxy's login is made on the HEAD, so the body goes once; any other answer
// lets the upload go on. A direct upload asks nothing first.
TEST_F(EngineTest, ALargeBodyThroughAProxyGoesOnlyAfterAHeadThatNoLoginRefused) {
    const std::wstring big = WriteFile(dir, L"big.bin", std::string(THTTPUploader::kProbeAbove, 'b'));
    const std::wstring small = WriteFile(dir, L"small.bin", "s");
    enum TRoute { Direct, Proxy, ProxyWithLogin };
    const struct {
        const std::wstring& File;
        TRoute Route;
        std::vector<DWORD> Statuses;  // per send
        int Status;
        const char* Sends;  // H: a HEAD, nothing written; B: the whole body
    } cases[] = {
        {big, Proxy, {401}, 401, "H"},
        {big, ProxyWithLogin, {407, 200, 200}, 200, "HHB"},
        {big, ProxyWithLogin, {407}, 407, "HHHHH"},
        {big, Proxy, {405, 200}, 200, "HB"},
        {small, Proxy, {401}, 401, "B"},
        {big, Direct, {401}, 401, "B"},
    };
    for (const auto& c : cases) {
        TScriptedPlatform net;
        THTTPUploader up;
        up.SetPlatform(net);
        up.Request().SetURL(L"http://upload.test/in");
        up.ShowUI = false;
        if (c.Route != Direct) up.Proxy().Server = L"proxy.test";
        if (c.Route == ProxyWithLogin) up.Proxy().Username = L"quill";
        up.Fields().Add("a", "1");
        up.Files().Add("f", c.File, "");
        net.StatusAfterEnd = c.Statuses;
        up.Upload();
        std::string sends;
        for (size_t i = 0; i < net.Bodies.size(); ++i)
            sends += net.Announced[i] == 0 && net.Bodies[i].empty()                     ? 'H'
                     : net.Announced[i] > 0 && net.Announced[i] == net.Bodies[i].size() ? 'B'
                                                                                        : '?';
        EXPECT_EQ(c.Sends, sends) << c.Status << " route " << c.Route;
        EXPECT_EQ(c.Status, up.Response().StatusCode);
        EXPECT_EQ(0, net.OpenHandles());
    }
}

TEST_F(EngineTest, WithoutStoredUserTheLoginDialogDecides) {
    net.StatusAfterEnd = {407, 200};
    net.ErrorDlgAnswer = ERROR_INTERNET_FORCE_RETRY;
    up.Upload();
    EXPECT_EQ(2, net.Sends());
    EXPECT_EQ(0u, net.DialogError);
    EXPECT_EQ(7u, net.DialogFlags);
    EXPECT_EQ(200, up.Response().StatusCode);

    TScriptedPlatform dismissed;
    dismissed.StatusAfterEnd = {407};
    dismissed.ErrorDlgAnswer = ERROR_CANCELLED;
    up.SetPlatform(dismissed);
    up.Upload();
    EXPECT_EQ(1, dismissed.Sends());
    EXPECT_EQ(407, up.Response().StatusCode);
}

TEST_F(EngineTest, WithoutStoredUserAndWithoutUIThe407Raises) {
    up.ShowUI = false;
    net.StatusAfterEnd = {407};
    auto raised = CaptureRaise([&] { up.Upload(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EHTTPUploader", raised->ClassName);
    EXPECT_EQ(L"Proxy login required but no UI specified, error = 0 ()", raised->Message);
    EXPECT_EQ(std::find(net.Calls.begin(), net.Calls.end(), "InternetErrorDlg"), net.Calls.end());
    ExpectAllClosed();
}

TEST_F(EngineTest, EndRequestForceRetrySendsAgainUpToTheLoginCap) {
    net.EndRequestError = ERROR_INTERNET_FORCE_RETRY;
    up.Fields().Add("a", "b");
    up.Upload();
    EXPECT_EQ(200, up.Response().StatusCode);
    ASSERT_EQ(static_cast<int>(THTTPUploader::kMaxProxyLoginSends), net.Sends());
    EXPECT_EQ(net.Bodies[0], net.Bodies.back());  // the whole body each time

    TScriptedPlatform broken;
    broken.EndRequestError = ERROR_INTERNET_CONNECTION_RESET;
    up.SetPlatform(broken);
    auto raised = CaptureRaise([&] { up.Upload(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(0u, raised->Message.rfind(L"HttpEndRequest failed, error = 12031 (", 0)) << rtl::ToAnsi(raised->Message);
    EXPECT_EQ(0, broken.OpenHandles());
}

TEST(EngineFailureTest, EveryStepRaisesItsStemAndClosesWhatWasOpened) {
    struct {
        const char* Call;
        const wchar_t* Stem;
        size_t HandlesOpened;
    } steps[] = {
        {"InternetOpen", L"InternetOpen failed", 0},
        {"InternetConnect", L"InternetConnect failed", 1},
        {"HttpOpenRequest", L"HttpOpenRequest failed", 2},
        {"HttpAddRequestHeaders", L"HttpAddRequestHeaders failed", 3},
        {"HttpSendRequestEx", L"HttpSendRequestEx failed", 3},
        {"InternetWriteFile", L"InternetWriteFile failed", 3},
        {"ReadStatusCode", L"ReadStatusCode failed", 3},
        {"HttpQueryInfo", L"HttpQueryInfo failed", 3},
        {"InternetReadFile", L"InternetReadFile failed", 3},
    };
    for (auto& step : steps) {
        TScriptedPlatform net;
        net.Fail[step.Call] = ERROR_INTERNET_CANNOT_CONNECT;
        // A refused write with an answer behind it is that answer (below).
        if (std::string(step.Call) == "InternetWriteFile") net.Fail["ReadStatusCode"] = ERROR_HTTP_HEADER_NOT_FOUND;
        THTTPUploader up;
        up.SetPlatform(net);
        up.Request().SetURL(L"http://h/p");
        up.Fields().Add("a", "b");
        auto raised = CaptureRaise([&] { up.Upload(); });
        ASSERT_TRUE(raised) << step.Call;
        EXPECT_EQ(L"EHTTPUploader", raised->ClassName);
        std::wstring prefix = std::wstring(step.Stem) + L", error = 12029 (";
        EXPECT_EQ(0u, raised->Message.rfind(prefix, 0)) << rtl::ToAnsi(raised->Message);
        EXPECT_EQ(step.HandlesOpened, net.Closed.size()) << step.Call;
        EXPECT_EQ(0, net.OpenHandles()) << step.Call;
    }
}

TEST_F(EngineTest, AWriteTheServerRefusedEndsWithTheAnswerItSentMeanwhile) {
    up.Files().Add("f", WriteFile(dir, L"big.bin", std::string(300000, 'b')), "");
    net.Fail["InternetWriteFile"] = 10054;
    net.StatusAfterEnd = {413};
    net.Headers = "HTTP/1.1 413 Payload Too Large\r\n\r\n";
    net.Body = "too large";
    up.Upload();
    EXPECT_EQ(413, up.Response().StatusCode);
    EXPECT_EQ("too large", up.Response().MessageBodyAsString());
    EXPECT_EQ(1, net.Sends());
    ExpectAllClosed();
}

TEST_F(EngineTest, AFileThatCannotBeSentFailsTheUploadBeforeAnythingGoesOut) {
    const std::wstring missing = dir.Path() + L"missing.bin";
    // Beyond what a 32-bit length announces; sparse, so it costs no space.
    const std::wstring huge = WriteFile(dir, L"huge.bin", "");
    {
        rtl::ScopedFileHandle h(CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        size.QuadPart = (int64_t{1} << 32) + 1;
        ASSERT_TRUE(SetFilePointerEx(h.Get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(h.Get()));
    }
    const struct {
        std::wstring Path, Message;
    } cases[] = {
        {missing, L"CreateFile failed for \"" + missing + L"\", error = 2 (" + UploadErrorText(2) + L")"},
        {huge, L"The file \"" + huge +
                   L"\" is too large to send: 4294967297 bytes, a request carries at most "
                   L"4294967295, error = 223 (" +
                   UploadErrorText(ERROR_FILE_TOO_LARGE) + L")"},
    };
    for (const auto& c : cases) {
        TScriptedPlatform net;
        up.SetPlatform(net);
        up.Fields().Clear();
        up.Files().Clear();
        up.Fields().Add("before", "not sent");
        up.Files().Add("f", c.Path, "");
        auto raised = CaptureRaise([&] { up.Upload(); });
        ASSERT_TRUE(raised);
        EXPECT_EQ(L"EHTTPUploader", raised->ClassName);
        EXPECT_EQ(c.Message, raised->Message);
        EXPECT_EQ(0, net.Sends());
        EXPECT_EQ(0, net.OpenHandles());
    }
    EXPECT_NE(L"", UploadErrorText(2));
}

// What another program does to a file while it is being sent: the request
// carries exactly the bytes it announced, or the upload fails naming the file.
TEST_F(EngineTest, TheAnnouncedLengthIsTheSentLengthWhateverTheFileDoes) {
    std::string content(100000, ' ');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 23);
    const struct {
        const char* What;
        int64_t NewSize;  // -1: left alone
        bool Fails;
    } cases[] = {{"left alone", -1, false}, {"written on", 150000, false}, {"cut short", 50000, true}};
    for (const auto& c : cases) {
        TScriptedPlatform net;
        up.SetPlatform(net);
        const std::wstring path = WriteFile(dir, L"log.txt", content);
        // Held open for writing the whole time, as by a program still logging.
        rtl::ScopedFileHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer.IsValid()) << c.What;
        bool changed = false;
        net.OnWrite = [&](const char*, DWORD) {
            if (changed || c.NewSize < 0) return;
            changed = true;
            LARGE_INTEGER at{};
            at.QuadPart = c.NewSize;
            SetFilePointerEx(writer.Get(), at, nullptr, FILE_BEGIN);
            SetEndOfFile(writer.Get());
        };
        up.Files().Clear();
        up.Files().Add("f", path, "");
        auto raised = CaptureRaise([&] { up.Upload(); });
        ASSERT_EQ(1, net.Sends()) << c.What;
        if (c.Fails) {
            ASSERT_TRUE(raised) << c.What;
            EXPECT_EQ(0u, raised->Message.rfind(L"The file \"" + path +
                                                    L"\" became shorter while it was sent: 100000 bytes announced, "
                                                    L"50000 there, error = 38 (",
                                                0))
                << rtl::ToAnsi(raised->Message);
        } else {
            EXPECT_FALSE(raised) << c.What << ": " << (raised ? rtl::ToAnsi(raised->Message) : "");
            EXPECT_EQ(net.Announced[0], net.Bodies[0].size()) << c.What;
            EXPECT_NE(std::string::npos, net.Bodies[0].find(content + "\r\n--")) << c.What;
        }
        writer.Reset();
        DeleteFileW(path.c_str());
    }
}

TEST_F(EngineTest, AnAnswerIsKeptUpToItsLimitUnlessItIsTakenAsItArrives) {
    for (uint32_t extra : {0u, 1u, 100000u}) {  // exactly the limit is not cut
        TScriptedPlatform net;
        up.SetPlatform(net);
        net.Body = std::string(THTTPUploader::kMaxAnswerInMemory + extra, 'a');
        up.Upload();
        EXPECT_EQ(extra > 0, up.Response().BodyCut) << extra;
        EXPECT_EQ(THTTPUploader::kMaxAnswerInMemory, up.Response().MessageBodyLength()) << extra;
    }

    TScriptedPlatform streamed;
    streamed.Body = std::string(THTTPUploader::kMaxAnswerInMemory + 100000, 'a');
    up.SetPlatform(streamed);
    size_t taken = 0;
    up.OnAnswerData = [&](THTTPUploader&, const char* data, uint32_t length) {
        taken += std::count(data, data + length, 'a');
    };
    up.Upload();
    EXPECT_EQ(streamed.Body.size(), taken);
    EXPECT_FALSE(up.Response().BodyCut);
    EXPECT_EQ(0u, up.Response().MessageBodyLength());
}

TEST_F(EngineTest, CancelDuringTheSecondFileCompletesItUnsuccessfullyAndSendsNothingMore) {
    const std::wstring one = WriteFile(dir, L"one.bin", "first");
    const std::wstring two = WriteFile(dir, L"two.bin", std::string(300000, 'b'));
    up.Files().Add("one", one, "");
    up.Files().Add("two", two, "");
    up.Files().Add("three", WriteFile(dir, L"three.bin", "third"), "");
    std::vector<std::wstring> events;
    int checksInSecond = 0;
    up.OnFileBegin = [&](THTTPUploader&, const std::wstring& f) { events.push_back(L"begin " + f); };
    up.OnFileComplete = [&](THTTPUploader&, const std::wstring& f, bool ok) {
        events.push_back(L"complete " + f + (ok ? L" true" : L" false"));
    };
    up.OnCheckCancel = [&](THTTPUploader&, bool& cancel) {
        EXPECT_FALSE(cancel);
        if (!events.empty() && events.back() == L"begin " + two) cancel = ++checksInSecond == 3;
    };
    auto raised = CaptureRaise([&] { up.Upload(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EHTTPUploaderCancel", raised->ClassName);
    EXPECT_EQ((std::vector<std::wstring>{L"begin " + one, L"complete " + one + L" true", L"begin " + two,
                                         L"complete " + two + L" false"}),
              events);
    EXPECT_EQ(std::string::npos, net.Bodies[0].find("three"));
    EXPECT_EQ(std::string::npos, net.Bodies[0].find(BoundaryOf(net) + "--"));
    // Ending the cut request would wait on a server still reading the body.
    EXPECT_EQ(net.Calls.end(), std::find(net.Calls.begin(), net.Calls.end(), "HttpEndRequest"));
    ExpectAllClosed();
}

struct Progress {
    uint32_t Sent, Size, FileSeconds, Overall, Total, OverallSeconds, Rate;
    DWORD Tick;
};

TEST_F(EngineTest, ProgressIsReportedAtMostOncePerQuarterSecondAndEndsAtFullSize) {
    const uint32_t size = 2 * 1024 * 1024;
    std::wstring path = WriteFile(dir, L"p.bin", std::string(size, 'p'));
    up.Files().Add("f", path, "");
    up.Files().Add("g", path, "");
    // 100 ms per write: block sizes double, and quarter seconds pass.
    net.WriteCostMs = [](DWORD n) { return n > 1000 ? 100 : 0; };
    std::vector<Progress> reports;
    up.OnFileProgress = [&](THTTPUploader&, const std::wstring&, uint32_t sent, uint32_t sz, uint32_t fs,
                            uint32_t overall, uint32_t total, uint32_t os, uint32_t rate) {
        reports.push_back({sent, sz, fs, overall, total, os, rate, net.Now});
    };
    up.Upload();

    ASSERT_GE(reports.size(), 4u);
    // First file: no rate known yet.
    EXPECT_EQ(0u, reports[0].Sent);
    EXPECT_EQ(kSecondsUnknown, reports[0].FileSeconds);
    EXPECT_EQ(kSecondsUnknown, reports[0].OverallSeconds);
    EXPECT_EQ(2 * size, reports[0].Total);
    size_t firstEnd = 0;
    while (reports[firstEnd].Sent != size) ++firstEnd;
    // Between the first and the last report of a file: one per quarter tick.
    for (size_t i = 2; i < firstEnd; ++i) EXPECT_NE(reports[i - 1].Tick / 250, reports[i].Tick / 250);
    for (size_t i = 1; i < firstEnd; ++i) {
        EXPECT_GT(reports[i].Rate, 0u);
        EXPECT_EQ((size - reports[i].Sent) / reports[i].Rate, reports[i].FileSeconds);
        EXPECT_EQ((2 * size - reports[i].Overall) / reports[i].Rate, reports[i].OverallSeconds);
    }
    EXPECT_EQ(size, reports[firstEnd].Overall);
    // Second file starts with an estimate from the first file's rate.
    const Progress& second = reports[firstEnd + 1];
    EXPECT_EQ(0u, second.Sent);
    EXPECT_EQ(size, second.Overall);
    EXPECT_EQ(up.CachedBytesPerSecond() > 0, true);
    EXPECT_EQ(size / reports[firstEnd].Rate, second.FileSeconds);
    EXPECT_EQ(2 * size / reports[firstEnd].Rate, second.OverallSeconds);
    EXPECT_EQ(2 * size, reports.back().Overall);
    EXPECT_EQ(size, reports.back().Sent);
}

TEST_F(EngineTest, FastWritesDoubleTheBlockUpTo1MiBAndSlowOnesHalveItDownTo8KiB) {
    const uint32_t size = 64 * 1024 * 1024;
    std::wstring path = WriteFile(dir, L"big.bin", std::string(size, 'z'));
    up.Files().Add("f", path, "");
    up.Upload();
    std::vector<DWORD> blocks;
    for (DWORD n : net.WriteSizes)
        if (n > 300) blocks.push_back(n);  // file data, not part headers
    std::vector<DWORD> expected;
    for (DWORD b = 32768; b < (1u << 20); b *= 2) expected.push_back(b);
    uint32_t left = size;
    for (DWORD b : expected) left -= b;
    while (left) {
        expected.push_back(std::min<uint32_t>(left, 1u << 20));
        left -= expected.back();
    }
    EXPECT_EQ(expected, blocks);

    TScriptedPlatform slow;
    slow.WriteCostMs = [](DWORD n) { return n >= 8192 ? 1300 : 0; };
    up.SetPlatform(slow);
    up.Files().SetItem(0, std::make_unique<THTTPUploaderFile>(
                              THTTPUploaderFile{"f", "a/b", WriteFile(dir, L"s.bin", std::string(100000, 's'))}));
    up.Upload();
    std::vector<DWORD> slowBlocks;
    for (DWORD n : slow.WriteSizes)
        if (n > 300) slowBlocks.push_back(n);
    EXPECT_EQ((std::vector<DWORD>{32768, 16384, 8192, 8192, 8192, 8192, 8192, 8192, 100000 - 32768 - 16384 - 6 * 8192}),
              slowBlocks);
}

TEST_F(EngineTest, DownloadReportsEveryBlockAndTotalZeroWithoutContentLength) {
    net.Body = std::string(200000, 'r');
    net.Body[7] = '\0';
    net.HasContentLength = false;
    StatusLog log;
    log.Hook(up);
    up.Upload();
    EXPECT_EQ(200000u, up.Response().MessageBodyLength());
    EXPECT_EQ(7u, up.Response().MessageBodyAsString().size());
    EXPECT_EQ(0, memcmp(net.Body.data(), up.Response().PMessageBody(), net.Body.size() + 1));
    EXPECT_EQ((std::vector<std::wstring>{L"Downloading [0/0]", L"Downloading [65536/0]", L"Downloading [131072/0]",
                                         L"Downloading [196608/0]", L"Downloading [200000/0]"}),
              log.Lines);
}

TEST_F(EngineTest, RawHeadersBufferGrowsToTheReportedSize) {
    net.Headers = "HTTP/1.1 200 OK\r\nContent-Disposition: attachment; filename=\"r.txt\"\r\n\r\n";
    up.Upload();
    EXPECT_EQ(net.Headers, up.Response().Headers());
    EXPECT_EQ("r.txt", up.Response().ContentDispositionFilename());
    std::vector<std::string> queries;
    for (auto& c : net.Calls)
        if (c.rfind("HttpQueryInfo raw", 0) == 0) queries.push_back(c);
    EXPECT_EQ((std::vector<std::string>{"HttpQueryInfo raw 10",
                                        "HttpQueryInfo raw " + std::to_string((net.Headers.size() + 1) * 2 + 1)}),
              queries);
}

class CountingProcessor : public THTTPUploader_MessageProcessor {
public:
    void ProcessMessages() override { ++Calls; }
    int Calls = 0;
};

TEST_F(EngineTest, MessageProcessorRunsBeforeTheBodyAndAfterEveryBlockOnlyWhenInstalled) {
    net.Body = std::string(150000, 'm');
    up.Files().Add("f", WriteFile(dir, L"m.bin", std::string(100000, 'm')), "");
    up.Upload();  // none installed: nothing to call, no error

    CountingProcessor processor;
    HTTPUploader_MessageProcessor = &processor;
    up.Upload();
    HTTPUploader_MessageProcessor = nullptr;
    EXPECT_EQ(1 + 3, processor.Calls);

    THTTPUploader_MessageProcessor abstract;
    auto raised = CaptureRaise([&] { abstract.ProcessMessages(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EAbstractError", raised->ClassName);
}

TEST_F(EngineTest, AnExceptionFromAnEventHandlerClosesEverything) {
    up.Files().Add("f", WriteFile(dir, L"e.bin", "e"), "");
    up.OnFileProgress = [](THTTPUploader&, const std::wstring&, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                           uint32_t, uint32_t) { rtl::RaiseNew<rtl::EAbort>(L"stop"); };
    bool completed = true;
    up.OnFileComplete = [&](THTTPUploader&, const std::wstring&, bool ok) { completed = ok; };
    auto raised = CaptureRaise([&] { up.Upload(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EAbort", raised->ClassName);
    EXPECT_FALSE(completed);
    ExpectAllClosed();
}

}  // namespace
