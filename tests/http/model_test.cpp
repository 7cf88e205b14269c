// The upload model in memory: URL splitting, the owned lists, the
// Content-Disposition parser (as a table), the response body and the
// messages of EHTTPUploader.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "http/httpuploader_errors.h"
#include "http/httpuploader_model.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "rtl/Win.h"
#include <wininet.h>

using namespace http;
using testutil::CaptureRaise;

TEST(RequestTest, SetURLSplitsAndURLJoinsAgain) {
    THTTPUploaderRequest r;
    r.SetURL(L"https://upload.example.test/a/b?c=1");
    EXPECT_EQ(L"https", r.Protocol);
    EXPECT_EQ(L"upload.example.test", r.HostName);
    EXPECT_EQ(L"/a/b?c=1", r.UrlPath);
    EXPECT_EQ(L"https://upload.example.test/a/b?c=1", r.URL());

    r.SetURL(L"http://127.0.0.1:8080/x");  // the port stays with the host
    EXPECT_EQ(L"127.0.0.1:8080", r.HostName);
    EXPECT_EQ(L"/x", r.UrlPath);
}

TEST(RequestTest, MalformedURLsChangeNothingOrOnlyTheProtocol) {
    THTTPUploaderRequest r;
    r.SetURL(L"http://host/path");
    r.SetURL(L"no separator/at/all");
    EXPECT_EQ(L"http", r.Protocol);
    EXPECT_EQ(L"host", r.HostName);
    EXPECT_EQ(L"/path", r.UrlPath);
    r.SetURL(L"ftp://otherhost");
    EXPECT_EQ(L"ftp", r.Protocol);
    EXPECT_EQ(L"host", r.HostName);
    EXPECT_EQ(L"/path", r.UrlPath);
}

TEST(ListsTest, AddAnswersIndexesAndItemsCanBeReplaced) {
    THTTPUploaderFields fields;
    EXPECT_EQ(0, fields.Add("a", "1"));
    EXPECT_EQ(1, fields.Add("b", std::string("\0x", 2)));
    EXPECT_EQ(2, fields.Count());
    EXPECT_EQ(std::string("\0x", 2), fields.GetItem(1).Value);
    fields.SetItem(0, std::make_unique<THTTPUploaderField>(THTTPUploaderField{"c", "3"}));
    EXPECT_EQ("c", fields.GetItem(0).Name);

    THTTPUploaderFiles files;
    EXPECT_EQ(0, files.Add("f", L"C:\\x.bin", ""));
    EXPECT_EQ(1, files.Add("g", L"C:\\y.txt", "text/plain"));
    EXPECT_EQ("application/octet-stream", files.GetItem(0).ContentType);
    EXPECT_EQ("text/plain", files.GetItem(1).ContentType);
    EXPECT_EQ(L"C:\\x.bin", files.GetItem(0).PathName);
}

TEST(ListsTest, IndexOutsideTheListRaisesListError) {
    THTTPUploaderFields fields;
    fields.Add("a", "1");
    for (int bad : {-1, 1}) {
        auto raised = CaptureRaise([&] { fields.GetItem(bad); });
        ASSERT_TRUE(raised);
        EXPECT_EQ(L"EListError", raised->ClassName);
        EXPECT_EQ(L"List index out of bounds (" + std::to_wstring(bad) + L")", raised->Message);
    }
    THTTPUploaderFiles files;
    auto raised = CaptureRaise([&] { files.SetItem(0, std::make_unique<THTTPUploaderFile>()); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"List index out of bounds (0)", raised->Message);
}

TEST(ProxyTest, DescribeAddsThePortOnlyWhenPositive) {
    THTTPUploaderProxy p;
    p.Server = L"proxy.example.test";
    EXPECT_EQ(L"proxy.example.test", p.Describe(false));
    p.Port = 3128;
    EXPECT_EQ(L"proxy.example.test:3128", p.Describe(false));
    EXPECT_EQ(L"proxy.example.test:3128", p.Describe(true));
}

// header block -> file name taken ("-" when none is taken)
struct DispositionCase {
    const char* Headers;
    const char* Expected;
};
const DispositionCase kDispositionCases[] = {
    {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment; filename=\"report.txt\"\r\n\r\n", "report.txt"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment; filename=C:\\x\\a?b.txt\r\n", "ab.txt"},
    {"HTTP/1.1 200 OK\r\ncontent-disposition: attachment; filename=low.txt\r\n", "low.txt"},
    {"HTTP/1.1 200 OK\nContent-Disposition: attachment;filename = spaced.txt extra\n", "spaced.txt"},
    {"HTTP/1.1 200 OK\rContent-Disposition: inline; size=3; filename=semi.txt;x=1\r", "semi.txt"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment; filename*=UTF-8''x.txt\r\n", "-"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment; FileName=upper.txt\r\n", "-"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment; filename=\"open.txt\r\n", "-"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment\r\n", "-"},
    {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", "-"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: a; filename=\"../../etc/<pass>|*\"\r\n", "pass"},
    {"HTTP/1.1 200 OK\r\nContent-Disposition: a; filename=\"d:evil\x01\x1f.exe\"\r\n", "evil.exe"},
    // Only the first Content-Disposition line counts.
    {"Content-Disposition: inline\r\nContent-Disposition: a; filename=second.txt\r\n", "-"},
};

TEST(ResponseTest, ContentDispositionTable) {
    for (const auto& c : kDispositionCases) {
        THTTPUploaderResponse r;
        r.SetHeaders("HTTP/1.1 200 OK\r\nContent-Disposition: a; filename=before.txt\r\n");
        r.SetHeaders(c.Headers);
        EXPECT_EQ(c.Headers, r.Headers());
        std::string expected = std::string(c.Expected) == "-" ? "before.txt" : c.Expected;
        EXPECT_EQ(expected, r.ContentDispositionFilename()) << c.Headers;
    }
}

TEST(ResponseTest, BodyKeepsEveryByteAndATrailingZero) {
    THTTPUploaderResponse r;
    EXPECT_EQ(nullptr, r.PMessageBody());
    EXPECT_EQ(0u, r.MessageBodyLength());
    EXPECT_EQ("", r.MessageBodyAsString());
    r.AppendBody("ab\0c", 4);
    r.AppendBody("d", 1);
    EXPECT_EQ(5u, r.MessageBodyLength());
    EXPECT_EQ("ab", r.MessageBodyAsString());
    ASSERT_NE(nullptr, r.PMessageBody());
    EXPECT_EQ(0, memcmp("ab\0cd\0", r.PMessageBody(), 6));
    r.ClearBody();
    EXPECT_EQ(nullptr, r.PMessageBody());
}

TEST(ErrorsTest, MessageCarriesCodeAndWinInetText) {
    // The product links wininet.dll; make sure it is loaded here too.
    ASSERT_NE(nullptr, LoadLibraryW(L"wininet.dll"));
    std::wstring text = WinInetErrorText(ERROR_INTERNET_CANNOT_CONNECT);
    ASSERT_NE(L"", text) << "wininet.dll has no message table entry for 12029";
    EXPECT_NE(L'.', text.back());
    EXPECT_GT(text.back(), L' ');

    auto raised = CaptureRaise([] { rtl::RaiseNew<EHTTPUploader>(L"InternetConnect failed", 12029); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EHTTPUploader", raised->ClassName);
    EXPECT_EQ(L"InternetConnect failed, error = 12029 (" + text + L")", raised->Message);

    // Codes outside WinInet's table take the system's text.
    EXPECT_EQ(L"", WinInetErrorText(ERROR_FILE_NOT_FOUND));
    const std::wstring system = rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_NE(L"", system);
    EHTTPUploader e(L"CreateFile failed", 2);
    EXPECT_EQ(L"CreateFile failed, error = 2 (" + UploadErrorText(2) + L")", e.Message);
    EXPECT_EQ(0u, system.rfind(UploadErrorText(2), 0));
    EXPECT_NE(L'.', UploadErrorText(2).back());
    EXPECT_EQ(2, e.ErrorCode());
    EXPECT_EQ(L"Proxy login required but no UI specified, error = 0 ()",
              EHTTPUploader(L"Proxy login required but no UI specified", 0).Message);
}

TEST(ErrorsTest, CancelHasNoTextAndIsItsOwnClass) {
    auto raised = CaptureRaise([] { rtl::RaiseNew<EHTTPUploaderCancel>(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EHTTPUploaderCancel", raised->ClassName);
    EXPECT_EQ(L"", raised->Message);
    EXPECT_FALSE(EHTTPUploaderCancel().Is<EHTTPUploader>());
}
