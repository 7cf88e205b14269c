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
#define ASSERT_UPLOADS(u)                                                                     \
    do {                                                                                      \
        auto raised_ = CaptureRaise([&] { (u).Upload(); });                                   \
        ASSERT_FALSE(raised_) << rtl::ToAnsi(raised_->ClassName + L": " + raised_->Message); \
    } while (0)

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Wine keeps the per-connection proxy options as the global setting; the
// tests put it back to a direct connection so none leaks into the next test.
void ResetGlobalProxySetting() {
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
        ASSERT_TRUE(TServers::Get().Running()) << "start the servers: tests/servers/serverctl.sh start <test dir>/servers";
        ResetGlobalProxySetting();
        up.ShowUI = false;
    }
    void TearDown() override { ResetGlobalProxySetting(); }

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

TEST_F(NetworkTest, NothingToSendIsAGetWithTheContentTypeHeaderAndAnEmptyBody) {
    up.Request().SetURL(servers.Url("http", L"/empty"));
    ASSERT_UPLOADS(up);
    TSummary s(up.Response().MessageBodyAsString());
    EXPECT_EQ("ok", s.Check);
    EXPECT_EQ("GET", s.Method);
    EXPECT_EQ(0, s.Parts);
    EXPECT_EQ(0u, s.Headers["content-type"].rfind("multipart/form-data; boundary=---------------------------", 0));

    // The verb chosen by the first call is kept, now with a field to send.
    up.Fields().Add("late", "field");
    ASSERT_UPLOADS(up);
    TSummary again(up.Response().MessageBodyAsString());
    EXPECT_EQ("GET", again.Method);
    EXPECT_EQ("ok", again.Check);
    EXPECT_EQ(1, again.Parts);
}

TEST_F(NetworkTest, UpperCaseHTTPSIsPlainHttp) {
    up.Request().SetURL(servers.Url("http", L"/plain"));
    up.Request().Protocol = L"HTTPS";
    up.Fields().Add("a", "b");
    ASSERT_UPLOADS(up);
    EXPECT_EQ(200, up.Response().StatusCode);
    EXPECT_EQ("ok", TSummary(up.Response().MessageBodyAsString()).Check);
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

TEST_F(NetworkTest, AFileThatCannotBeOpenedFailsWithCreateFileAndTheSystemCode) {
    up.Fields().Add("a", "b");
    up.Files().Add("f", dir.Path() + L"does-not-exist.bin", "");
    up.Request().SetURL(servers.Url("http", L"/missing"));
    auto raised = CaptureRaise([&] { up.Upload(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EHTTPUploader", raised->ClassName);
    EXPECT_EQ(L"CreateFile failed, error = 2 ()", raised->Message);
}

TEST_F(NetworkTest, CancelDuringTheSecondFileStopsTheTransfer) {
    std::wstring a = dir.Path() + L"a.bin", b = dir.Path() + L"b.bin", c = dir.Path() + L"c.bin";
    testhttp::WritePatternFile(a, 100000, 1);
    testhttp::WritePatternFile(b, 4 << 20, 2);
    testhttp::WritePatternFile(c, 100000, 3);
    up.Files().Add("a", a, "");
    up.Files().Add("b", b, "");
    up.Files().Add("c", c, "");
    std::vector<std::wstring> events;
    up.OnFileBegin = [&](THTTPUploader&, const std::wstring& f) { events.push_back(L"begin " + f); };
    up.OnFileComplete = [&](THTTPUploader&, const std::wstring& f, bool ok) {
        events.push_back(L"complete " + f + (ok ? L" ok" : L" failed"));
    };
    int checks = 0;
    up.OnCheckCancel = [&](THTTPUploader&, bool& cancel) {
        if (events.back() == L"begin " + b) cancel = ++checks > 1;
    };
    up.Request().SetURL(servers.Url("http", L"/cancel"));
    auto raised = CaptureRaise([&] { up.Upload(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EHTTPUploaderCancel", raised->ClassName);
    EXPECT_EQ((std::vector<std::wstring>{L"begin " + a, L"complete " + a + L" ok", L"begin " + b,
                                         L"complete " + b + L" failed"}),
              events);
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
            std::string expected = testhttp::Pattern(0, 0);
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

TEST_F(NetworkTest, ProgressComesAtMostOncePerQuarterSecondAndEndsAtFullSize) {
    std::wstring path = dir.Path() + L"p.bin";
    const uint32_t size = 24 << 20;
    testhttp::WritePatternFile(path, size, 9);
    up.Files().Add("p", path, "");
    up.Request().SetURL(servers.Url("http", L"/progress"));
    std::vector<std::pair<uint32_t, DWORD>> reports;  // bytes sent, quarter tick
    up.OnFileProgress = [&](THTTPUploader&, const std::wstring&, uint32_t sent, uint32_t, uint32_t, uint32_t,
                            uint32_t, uint32_t, uint32_t) { reports.push_back({sent, GetTickCount() / 250}); };
    ASSERT_UPLOADS(up);
    EXPECT_EQ("ok", TSummary(up.Response().MessageBodyAsString()).Check);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(0u, reports.front().first);
    EXPECT_EQ(size, reports.back().first);
    for (size_t i = 2; i + 1 < reports.size(); ++i) EXPECT_LT(reports[i - 1].second, reports[i].second) << i;
}

// Adds the test CA to the Root store of this (test) Wine prefix.
void TrustTestCA() {
    std::string der = testhttp::ReadWholeFile(TServers::Get().WinPath("ca"));
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
