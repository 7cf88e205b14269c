// The engine against real servers on 127.0.0.1 (tests/servers, started by
// the CTest fixture): every body is checked by the server with a strict
// layout reader and two independent multipart parsers.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "NetTestUtil.h"
#include "TestUtil.h"
#include "http/httpuploader.h"
#include "rtl/Text.h"
#include "rtl/Win.h"
#include <wincrypt.h>

using namespace http;
using testhttp::TServers;
using testhttp::TSummary;
using testutil::CaptureRaise;

namespace {

// Uploads; a raised exception fails the test with its class and message.
#define ASSERT_UPLOADS(u)                                                                    \
    do {                                                                                     \
        auto raised_ = CaptureRaise([&] { (u).Upload(); });                                  \
        ASSERT_FALSE(raised_) << rtl::ToAnsi(raised_->ClassName + L": " + raised_->Message); \
    } while (0)

// The user's own setting, which a session without a proxy of its own
// follows: no proxy. Nothing the uploader does may change it.
DWORD GlobalProxyFlags() {
    INTERNET_PER_CONN_OPTIONW option{};
    option.dwOption = INTERNET_PER_CONN_FLAGS;
    INTERNET_PER_CONN_OPTION_LISTW list{sizeof(list), nullptr, 1, 0, &option};
    DWORD size = sizeof(list);
    if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return ~0u;
    return option.Value.dwValue;
}

void SetNoGlobalProxy() {
    INTERNET_PER_CONN_OPTIONW option{};
    option.dwOption = INTERNET_PER_CONN_FLAGS;
    option.Value.dwValue = PROXY_TYPE_DIRECT;
    INTERNET_PER_CONN_OPTION_LISTW list{sizeof(list), nullptr, 1, 0, &option};
    InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
}

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(TServers::Get().Running())
            << "start the servers: tests/servers/serverctl.sh start <test dir>/servers";
        SetNoGlobalProxy();
        up.ShowUI = false;
    }
    void TearDown() override { EXPECT_EQ(static_cast<DWORD>(PROXY_TYPE_DIRECT), GlobalProxyFlags()); }

    const TServers& servers = TServers::Get();
    testutil::TempDir dir;
    THTTPUploader up;
};

TEST_F(NetworkTest, FieldsAndFilesOfZeroOneAndOneMiBArriveIntact) {
    const std::string mib = testhttp::Pattern(1 << 20, 7);
    up.Fields().Add("empty", "");
    up.Fields().Add("one", "x");
    up.Fields().Add("mib", mib);
    std::wstring f0 = dir.Path() + L"zero.bin", f1 = dir.Path() + L"one.txt", f2 = dir.Path() + L"mib.bin";
    testhttp::WritePatternFile(f0, 0, 1);
    uint32_t crc1 = testhttp::WritePatternFile(f1, 1, 2);
    uint32_t crc2 = testhttp::WritePatternFile(f2, 1 << 20, 3);
    up.Files().Add("f0", f0, "");
    up.Files().Add("f1", f1, "text/plain");
    up.Files().Add("f2", f2, "image/png");
    up.Request().SetURL(servers.Url("http", L"/upload?a=1"));
    ASSERT_UPLOADS(up);

    EXPECT_EQ(200, up.Response().StatusCode);
    TSummary s(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", s.Check);
    EXPECT_EQ("POST", s.Method);
    EXPECT_EQ("/upload?a=1", s.Path);
    EXPECT_EQ("THTTPUploader/1.0", s.Headers["user-agent"]);
    EXPECT_EQ(39u, s.Boundary.size());
    ASSERT_EQ(6, s.Parts);
    ASSERT_EQ(6u, s.Items.size());
    EXPECT_EQ("empty", s.Items[0].Name);
    EXPECT_EQ(0u, s.Items[0].Length);
    EXPECT_EQ(1u, s.Items[1].Length);
    EXPECT_EQ(testhttp::Crc32("x", 1), s.Items[1].Crc);
    EXPECT_EQ(mib.size(), s.Items[2].Length);
    EXPECT_EQ(testhttp::Crc32(mib.data(), mib.size()), s.Items[2].Crc);
    EXPECT_TRUE(s.Items[3].IsFile);
    EXPECT_EQ("zero.bin", s.Items[3].FileName);
    EXPECT_EQ("application/octet-stream", s.Items[3].ContentType);
    EXPECT_EQ(0u, s.Items[3].Length);
    EXPECT_EQ("one.txt", s.Items[4].FileName);
    EXPECT_EQ(crc1, s.Items[4].Crc);
    EXPECT_EQ("image/png", s.Items[5].ContentType);
    EXPECT_EQ(1u << 20, s.Items[5].Length);
    EXPECT_EQ(crc2, s.Items[5].Crc);
}

// Passes every call on to wininet.dll and records the length each send
// announced and each write with the two clock readings the engine took
// around it.
class TTimedWinInet : public IHTTPUploaderPlatform {
public:
    struct Write {
        DWORD Length, Before, After;
    };
    std::vector<Write> Writes;
    std::vector<DWORD> Announced;  // per send

    HINTERNET InternetOpenW(LPCWSTR a, DWORD b, LPCWSTR c, LPCWSTR d, DWORD e) override {
        return Real().InternetOpenW(a, b, c, d, e);
    }
    BOOL InternetSetOptionW(HINTERNET h, DWORD o, LPVOID b, DWORD l) override {
        return Real().InternetSetOptionW(h, o, b, l);
    }
    INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET h, INTERNET_STATUS_CALLBACK cb) override {
        return Real().InternetSetStatusCallbackW(h, cb);
    }
    HINTERNET InternetConnectW(HINTERNET s, LPCWSTR n, INTERNET_PORT p, LPCWSTR u, LPCWSTR w, DWORD v, DWORD f,
                               DWORD_PTR c) override {
        return Real().InternetConnectW(s, n, p, u, w, v, f, c);
    }
    HINTERNET HttpOpenRequestW(HINTERNET h, LPCWSTR v, LPCWSTR o, LPCWSTR ver, LPCWSTR r, LPCWSTR* a, DWORD f,
                               DWORD_PTR c) override {
        return Real().HttpOpenRequestW(h, v, o, ver, r, a, f, c);
    }
    BOOL HttpAddRequestHeadersA(HINTERNET h, LPCSTR s, DWORD l, DWORD m) override {
        return Real().HttpAddRequestHeadersA(h, s, l, m);
    }
    BOOL HttpSendRequestExW(HINTERNET h, LPINTERNET_BUFFERSW i, LPINTERNET_BUFFERSW o, DWORD f, DWORD_PTR c) override {
        Announced.push_back(i ? i->dwBufferTotal : ~0u);
        return Real().HttpSendRequestExW(h, i, o, f, c);
    }
    BOOL InternetWriteFile(HINTERNET h, LPCVOID b, DWORD l, LPDWORD w) override {
        // Only a write with a clock reading right before it and right after
        // it is a timed file block; 0 marks a missing reading.
        Writes.push_back({l, FTickFresh ? FLastTick : 0, 0});
        FTickFresh = false;
        FPending = true;
        return Real().InternetWriteFile(h, b, l, w);
    }
    BOOL HttpEndRequestW(HINTERNET h, LPINTERNET_BUFFERSW o, DWORD f, DWORD_PTR c) override {
        return Real().HttpEndRequestW(h, o, f, c);
    }
    BOOL HttpQueryInfoW(HINTERNET h, DWORD i, LPVOID b, LPDWORD l, LPDWORD x) override {
        return Real().HttpQueryInfoW(h, i, b, l, x);
    }
    BOOL InternetReadFile(HINTERNET h, LPVOID b, DWORD l, LPDWORD r) override {
        return Real().InternetReadFile(h, b, l, r);
    }
    DWORD InternetErrorDlg(HWND w, HINTERNET h, DWORD e, DWORD f, LPVOID* d) override {
        return Real().InternetErrorDlg(w, h, e, f, d);
    }
    BOOL InternetCloseHandle(HINTERNET h) override { return Real().InternetCloseHandle(h); }
    DWORD GetTickCount() override {
        FLastTick = Real().GetTickCount();
        if (FPending) Writes.back().After = FLastTick;
        FPending = false;
        FTickFresh = true;
        return FLastTick;
    }

private:
    static TWinInetPlatform& Real() { return TWinInetPlatform::Instance(); }
    DWORD FLastTick = 0;
    bool FPending = false, FTickFresh = false;
};

TEST_F(NetworkTest, SixtyFourMiBFieldAndFileArriveIntactWithBlocksSizedByWriteTime) {
    const uint32_t size = 64u << 20;
    const std::string field = testhttp::Pattern(size, 11);
    std::wstring path = dir.Path() + L"big.bin";
    uint32_t crc = testhttp::WritePatternFile(path, size, 12);
    up.Fields().Add("bigfield", field);
    up.Files().Add("bigfile", path, "");
    TTimedWinInet timed;
    up.SetPlatform(timed);
    up.Request().SetURL(servers.Url("http", L"/big"));
    std::vector<std::pair<uint32_t, DWORD>> reports;  // bytes sent, quarter second of the system's clock
    up.OnFileProgress = [&](THTTPUploader&, const std::wstring&, uint32_t sent, uint32_t, uint32_t, uint32_t, uint32_t,
                            uint32_t, uint32_t) {
        reports.push_back({sent, GetTickCount() / 250});
    };
    ASSERT_UPLOADS(up);
    TSummary s(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", s.Check);
    ASSERT_EQ(2u, s.Items.size());
    EXPECT_EQ(size, s.Items[0].Length);
    EXPECT_EQ(testhttp::Crc32(field.data(), field.size()), s.Items[0].Crc);
    EXPECT_EQ(size, s.Items[1].Length);
    EXPECT_EQ(crc, s.Items[1].Crc);

    // Progress by the system's clock: at most once a quarter second between
    // the first report and the last, which is at full size.
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(0u, reports.front().first);
    EXPECT_EQ(size, reports.back().first);
    for (size_t i = 2; i + 1 < reports.size(); ++i) EXPECT_LT(reports[i - 1].second, reports[i].second) << i;

    // The file's blocks: every size change follows the time the write
    // before it took, within the block size's bounds.
    std::vector<TTimedWinInet::Write> blocks;
    for (const auto& w : timed.Writes)
        if (w.After != 0 && w.Before != 0) blocks.push_back(w);
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_EQ(32768u, blocks[0].Length);
    uint64_t sum = 0;
    for (const auto& b : blocks) sum += b.Length;
    EXPECT_EQ(size, sum);
    for (size_t i = 0; i + 2 < blocks.size(); ++i) {  // the last block is what was left
        DWORD took = blocks[i].After - blocks[i].Before, now = blocks[i].Length, next = blocks[i + 1].Length;
        DWORD expected = took < 200                  ? std::min<DWORD>(now * 2, THTTPUploader::kMaxBlockSize)
                         : took > 1250 && now > 8192 ? std::max<DWORD>(now / 2, 8192)
                                                     : now;
        EXPECT_EQ(expected, next) << "block " << i << " took " << took << " ms";
    }
    DWORD largest = 0;
    for (const auto& b : blocks) largest = std::max(largest, b.Length);
    RecordProperty("largest_block", static_cast<int>(largest));
    std::printf("largest block %lu bytes over %u writes\n", largest, static_cast<unsigned>(blocks.size()));
}

TEST_F(NetworkTest, NothingToSendIsAGetWithTheContentTypeHeaderAndAnEmptyBody) {
    TTimedWinInet recorded;
    up.SetPlatform(recorded);
    up.Request().SetURL(servers.Url("http", L"/empty"));
    ASSERT_UPLOADS(up);
    EXPECT_EQ(std::vector<DWORD>{0}, recorded.Announced);
    EXPECT_TRUE(recorded.Writes.empty());
    TSummary s(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", s.Check);
    EXPECT_EQ("GET", s.Method);
    EXPECT_EQ(0, s.Parts);
    EXPECT_EQ(0u, s.Headers["content-type"].rfind("multipart/form-data; boundary=---------------------------", 0));
    EXPECT_EQ(39u, s.Boundary.size());

    // The verb chosen by the first call is kept, now with a field to send.
    up.Fields().Add("late", "field");
    ASSERT_UPLOADS(up);
    TSummary again(up.Response().MessageBodyAsString());
    EXPECT_EQ(L"GET", up.Request().Verb);
    EXPECT_EQ("GET", again.Method);
    EXPECT_EQ("ok", again.Check);
    EXPECT_EQ(1, again.Parts);
}

TEST_F(NetworkTest, NamesWithQuotesAndLineBreaksCannotInjectHeaders) {
    up.Fields().Add("a\"b", "1");
    up.Fields().Add("x\r\nContent-Type: text/evil\r\n\r\nnot-a-value", "2");
    std::wstring path = dir.Path() + L"plain.txt";
    testhttp::WritePatternFile(path, 3, 4);
    up.Files().Add("f\"\r\n", path, "text/plain");
    up.Request().SetURL(servers.Url("http", L"/names"));
    ASSERT_UPLOADS(up);
    TSummary s(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", s.Check);
    ASSERT_EQ(3u, s.Items.size());
    EXPECT_EQ("a%22b", s.Items[0].Name);
    EXPECT_EQ("x%0D%0AContent-Type: text/evil%0D%0A%0D%0Anot-a-value", s.Items[1].Name);
    EXPECT_EQ(1u, s.Items[1].Length);
    EXPECT_EQ("f%22%0D%0A", s.Items[2].Name);
    EXPECT_EQ("text/plain", s.Items[2].ContentType);
}

TEST_F(NetworkTest, ChosenStatusHeadersAndBodiesComeBackAsTheServerSentThem) {
    struct {
        std::wstring Query;
        int Status;
        uint32_t Length;
        bool HasLength;
        std::string FileName;
    } cases[] = {
        {L"?status=404&body=zero", 404, 5, true, ""},
        {L"?status=500&body=zero&nolength=1", 500, 5, false, ""},
        {L"?body=big:5000000", 200, 5000000, true, ""},
        {L"?body=big:3000000&nolength=1", 200, 3000000, false, ""},
        {L"?body=zero&disp=attachment%3B%20filename%3D%22report.txt%22", 200, 5, true, "report.txt"},
        {L"?body=zero&disp=attachment%3B%20filename%3DC%3A%5Cx%5Ca%3Fb.txt", 200, 5, true, "ab.txt"},
        {L"?body=zero&disp=attachment%3B%20filename*%3DUTF-8''x.txt", 200, 5, true, ""},
    };
    for (auto& c : cases) {
        THTTPUploader u;
        u.Request().SetURL(servers.Url("http", L"/answer" + c.Query));
        std::vector<int64_t> totals, positions;
        u.OnStatus = [&](THTTPUploader&, const std::wstring& m, int64_t pos, int64_t total) {
            if (m == L"Downloading") {
                positions.push_back(pos);
                totals.push_back(total);
            }
        };
        ASSERT_UPLOADS(u);
        const std::string q = rtl::ToAnsi(c.Query);
        EXPECT_EQ(c.Status, u.Response().StatusCode) << q;
        ASSERT_EQ(c.Length, u.Response().MessageBodyLength()) << q;
        if (c.Length == 5) {
            EXPECT_EQ(0, memcmp("ab\0cd\0", u.Response().PMessageBody(), 6)) << q;
            EXPECT_EQ("ab", u.Response().MessageBodyAsString());
        } else {
            for (uint32_t i = 0; i < c.Length; ++i)
                ASSERT_EQ(static_cast<char>(i & 0xFF), u.Response().PMessageBody()[i]) << q << " at " << i;
        }
        EXPECT_EQ(c.FileName, u.Response().ContentDispositionFilename()) << q;
        EXPECT_EQ(0u, u.Response().Headers().rfind("HTTP/1.", 0)) << q;
        EXPECT_NE(std::string::npos, u.Response().Headers().find("X-Check: ok")) << q;
        ASSERT_GE(positions.size(), 2u) << q;
        EXPECT_EQ(0, positions.front());
        EXPECT_EQ(c.Length, positions.back()) << q;
        for (int64_t t : totals) EXPECT_EQ(c.HasLength ? c.Length : 0, t) << q;
    }
}

// Adds the test CA to the Root store of this (test) Wine prefix.
void TrustTestCA() {
    std::string der = testutil::ReadFileBytes(TServers::Get().WinPath("ca"));
    ASSERT_FALSE(der.empty());
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    ASSERT_NE(nullptr, store);
    EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                 nullptr));
    CertCloseStore(store, 0);
}

TEST_F(NetworkTest, HttpsWithTheTrustedTestCASucceeds) {
    TrustTestCA();
    up.Request().SetURL(servers.Url("https", L"/secure", true));
    up.Fields().Add("secret", "value");
    ASSERT_UPLOADS(up);
    EXPECT_EQ(200, up.Response().StatusCode);
    TSummary s(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", s.Check);
    EXPECT_EQ(1, s.Parts);
}

TEST_F(NetworkTest, HttpsWithAnUntrustedCertificateFailsWithWinInetsCode) {
    up.Request().SetURL(servers.Url("https_bad", L"/secure", true));
    up.Fields().Add("secret", "value");
    std::optional<int> code;
    std::wstring message;
    rtl::Try([&] { up.Upload(); }, rtl::On<EHTTPUploader>([&](EHTTPUploader& e) {
                 code = e.ErrorCode();
                 message = e.Message;
             }));
    ASSERT_TRUE(code) << "the upload to a server with an untrusted certificate succeeded";
    EXPECT_EQ(ERROR_INTERNET_INVALID_CA, *code) << rtl::ToAnsi(message);
    // Wine's wininet.dll has no table text for 12045 (Windows has): then the
    // parentheses stay empty, as for any code the table lacks.
    std::wstring text = WinInetErrorText(ERROR_INTERNET_INVALID_CA);
    EXPECT_NE(std::wstring::npos, message.find(L", error = 12045 (" + text + L")")) << rtl::ToAnsi(message);
}

}  // namespace

namespace {

// A server that hangs, stops reading or drips: each ends within its
// time-out, and only a complete answer passes for one.
TEST_F(NetworkTest, AServerThatHangsOrDripsEndsWithinTheTimeOuts) {
    std::wstring big = dir.Path() + L"big.bin";
    testhttp::WritePatternFile(big, 32u << 20, 9);
    const struct {
        const wchar_t* Path;
        bool WithFile;
        int Status;           // 0: the upload fails
        const wchar_t* Stem;  // how its message begins
    } cases[] = {
        {L"/silent", false, 0, L"The server sent no answer"},
        {L"/stall", true, 0, L"InternetWriteFile failed"},
        {L"/drip?n=4", false, 200, L""},  // a byte a second: slow, never idle for long
    };
    for (const auto& c : cases) {
        THTTPUploader u;
        u.ShowUI = false;
        u.ConnectTimeout = u.TransferTimeout = 3;
        u.Request().SetURL(servers.Url("misbehaving", c.Path));
        u.Fields().Add("a", "b");
        if (c.WithFile) u.Files().Add("f", big, "");
        const DWORD start = GetTickCount();
        auto raised = CaptureRaise([&] { u.Upload(); });
        EXPECT_LT(GetTickCount() - start, 30000u) << rtl::ToAnsi(c.Path);
        if (c.Status) {
            ASSERT_FALSE(raised) << rtl::ToAnsi(c.Path) << ": " << rtl::ToAnsi(raised->Message);
            EXPECT_EQ(c.Status, u.Response().StatusCode);
            EXPECT_EQ("xxxx", u.Response().MessageBodyAsString());
        } else {
            ASSERT_TRUE(raised) << rtl::ToAnsi(c.Path) << " passed with " << u.Response().StatusCode;
            EXPECT_EQ(0u, raised->Message.rfind(c.Stem, 0)) << rtl::ToAnsi(raised->Message);
        }
    }
}

// Redirects and refusals of an upload are its answer: nothing is sent
// elsewhere, and what the server said is read.
TEST_F(NetworkTest, RedirectsAndRefusalsOfAnUploadAreItsAnswer) {
    std::wstring file = dir.Path() + L"f.bin";
    testhttp::WritePatternFile(file, 4u << 20, 8);
    const struct {
        const wchar_t* Path;
        int Status;
        const char* Body;
    } cases[] = {
        {L"/redirect?code=301", 301, ""}, {L"/redirect?code=302", 302, ""}, {L"/redirect?code=303", 303, ""},
        {L"/redirect?code=307", 307, ""}, {L"/redirect?code=308", 308, ""}, {L"/refuse", 413, "too large for us"},
    };
    for (const auto& c : cases) {
        THTTPUploader u;
        u.ShowUI = false;
        u.Request().SetURL(servers.Url("misbehaving", c.Path));
        u.Fields().Add("a", "b");
        u.Files().Add("f", file, "");
        auto raised = CaptureRaise([&] { u.Upload(); });
        ASSERT_FALSE(raised) << rtl::ToAnsi(c.Path) << ": " << rtl::ToAnsi(raised->Message);
        EXPECT_EQ(c.Status, u.Response().StatusCode) << rtl::ToAnsi(c.Path);
        EXPECT_EQ(c.Body, u.Response().MessageBodyAsString()) << rtl::ToAnsi(c.Path);
    }
}

// Through tinyproxy on 127.0.0.1: "proxy" is open, "proxy_auth" asks for
// BasicAuth quill:s3cret with 407 and closes without reading the body.
class ProxyTest : public NetworkTest {
protected:
    // Requests tinyproxy has taken so far (one log line each).
    int ProxyRequests(const std::string& proxy) {
        std::string log = testutil::ReadFileBytes(servers.WinPath("dir") + L"\\srv-" + rtl::FromAnsi(proxy) + L".log");
        int n = 0;
        for (size_t p = log.find("Request (file descriptor"); p != std::string::npos;
             p = log.find("Request (file descriptor", p + 1))
            ++n;
        return n;
    }
    void UseProxy(THTTPUploader& u, const std::string& proxy) {
        u.Proxy().Server = L"127.0.0.1";
        u.Proxy().Port = servers.Port(proxy);
        u.ShowUI = false;
        // The server closes each connection: Wine would otherwise reuse a
        // pooled direct connection even after the proxy setting changed.
        u.Request().SetURL(servers.Url("http", L"/proxied?nolength=1"));
    }
};

TEST_F(ProxyTest, EachUploadGoesThroughItsOwnProxyOrNone) {
    // Through the proxy, then without one, then through a closed port: each
    // session does what it was given, whatever the one before did.
    UseProxy(up, "proxy");
    up.Fields().Add("via", "proxy");
    ASSERT_UPLOADS(up);
    TSummary proxied(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", proxied.Check);
    EXPECT_NE(std::string::npos, proxied.Headers["via"].find("tinyproxy")) << "no Via header: not proxied";

    THTTPUploader direct;
    direct.Request().SetURL(up.Request().URL());
    direct.Fields().Add("via", "none");
    ASSERT_UPLOADS(direct);
    TSummary plain(direct.Response().MessageBodyAsString());
    EXPECT_EQ("ok", plain.Check);
    EXPECT_EQ(std::string::npos, plain.Headers["via"].find("tinyproxy"));

    THTTPUploader closed;
    UseProxy(closed, "proxy");
    closed.Proxy().Port = 1;  // nothing listens there
    closed.Fields().Add("via", "nowhere");
    auto raised = CaptureRaise([&] { closed.Upload(); });
    ASSERT_TRUE(raised) << "went direct instead of through the closed proxy: " << closed.Response().StatusCode;
    EXPECT_EQ(L"EHTTPUploader", raised->ClassName);
}

// tinyproxy answers 407 as soon as it has read the request head and closes
// the connection, so a body written after that meets a reset connection.
// The login paths are therefore taken with an empty body (a GET), where the
// answer is read without writing anything.
TEST_F(ProxyTest, WrongStoredCredentialsEndWithTheProxysRefusalAfterOneRequest) {
    UseProxy(up, "proxy_auth");
    up.Proxy().Username = L"quill";
    up.Proxy().Password = L"wrong";
    int before = ProxyRequests("proxy_auth");
    ASSERT_UPLOADS(up);
    // tinyproxy refuses a wrong login that came with the request as 401.
    EXPECT_EQ(401, up.Response().StatusCode) << up.Response().Headers() << up.Response().MessageBodyAsString();
    EXPECT_NE(std::string::npos, up.Response().Headers().find("tinyproxy"));
    EXPECT_EQ(1, ProxyRequests("proxy_auth") - before);
}

// A large body is announced by a HEAD first: without a login the proxy's
// refusal ends the upload before any of the body went out; with one the
// login is made on the HEAD and the body arrives whole.
TEST_F(ProxyTest, ALargeUploadThroughAProxyThatWantsALoginAsksFirst) {
    std::wstring path = dir.Path() + L"big.bin";
    testhttp::WritePatternFile(path, 16 << 20, 5);
    for (bool withCredentials : {false, true}) {
        THTTPUploader u;
        UseProxy(u, "proxy_auth");
        u.TransferTimeout = 10;
        if (withCredentials) {
            u.Proxy().Username = L"quill";
            u.Proxy().Password = L"s3cret";
        }
        u.Fields().Add("a", "b");
        u.Files().Add("f", path, "");
        const int before = ProxyRequests("proxy_auth");
        auto raised = CaptureRaise([&] { u.Upload(); });
        if (!withCredentials) {
            ASSERT_TRUE(raised) << "status " << u.Response().StatusCode;
            EXPECT_EQ(L"Proxy login required but no UI specified, error = 0 ()", raised->Message);
            EXPECT_EQ(1, ProxyRequests("proxy_auth") - before) << "more than the HEAD went to the proxy";
            continue;
        }
        ASSERT_FALSE(raised) << rtl::ToAnsi(raised->Message);
        EXPECT_EQ(200, u.Response().StatusCode);
        EXPECT_EQ(2, ProxyRequests("proxy_auth") - before);
        TSummary s(u.Response().MessageBodyAsString());
        EXPECT_EQ("ok", s.Check);
        EXPECT_NE(std::string::npos, s.Headers["via"].find("tinyproxy"));
        ASSERT_EQ(2u, s.Items.size());
        EXPECT_EQ(16u << 20, s.Items[1].Length);
    }
}

}  // namespace
