// Pieces of the multipart body: boundary, name escaping, part headers.
#include <gtest/gtest.h>

#include <set>

#include "http/httpuploader_multipart.h"

using namespace http;
using namespace http::multipart;

TEST(MultipartTest, BoundaryIs27HyphensAnd12UpperHexDigits) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string b = MakeBoundary();
        ASSERT_EQ(39u, b.size());
        EXPECT_EQ(std::string(27, '-'), b.substr(0, 27));
        for (char c : b.substr(27)) EXPECT_TRUE(isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << b;
        seen.insert(b);
    }
    EXPECT_GT(seen.size(), 45u);
}

// name as given -> name as written between the quotes
struct EscapeCase {
    const char* In;
    const char* Out;
};
const EscapeCase kEscapeCases[] = {
    {"plain", "plain"},
    {"", ""},
    {"with space;and=signs", "with space;and=signs"},
    {"caf\xe9", "caf\xe9"},
    {"a\"b", "a%22b"},
    {"x\r\nContent-Type: evil", "x%0D%0AContent-Type: evil"},
    {"\"\r\n", "%22%0D%0A"},
    {"100%", "100%"},  // a percent sign alone stays: ordinary names go out unchanged
};

TEST(MultipartTest, EscapeQuotedTable) {
    for (const auto& c : kEscapeCases) EXPECT_EQ(c.Out, EscapeQuoted(c.In)) << c.In;
}

TEST(MultipartTest, FileNameOfCutsAtBackslashOrColonOnly) {
    EXPECT_EQ(L"c.txt", FileNameOf(L"C:\\a\\b\\c.txt"));
    EXPECT_EQ(L"x.bin", FileNameOf(L"D:x.bin"));
    EXPECT_EQ(L"a/b.txt", FileNameOf(L"a/b.txt"));
    EXPECT_EQ(L"plain", FileNameOf(L"plain"));
}

TEST(MultipartTest, PartHeadersAreLaidOutByteForByte) {
    const std::string b = "---------------------------0123456789AB";
    EXPECT_EQ("--" + b + "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n",
              FieldHeader(b, THTTPUploaderField{"n", "v"}));
    EXPECT_EQ("--" + b +
                  "\r\nContent-Disposition: form-data; name=\"f%22\"; filename=\"a%22b.txt\"\r\n"
                  "Content-Type: text/plain\r\n\r\n",
              FileHeader(b, THTTPUploaderFile{"f\"", "text/plain", L"C:\\dir\\a\"b.txt"}));
    EXPECT_EQ("--" + b + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n"
                         "Content-Type: text/plain%0D%0AX-Injected: 1\r\n\r\n",
              FileHeader(b, THTTPUploaderFile{"f", "text/plain\r\nX-Injected: 1", L"x"}));
    EXPECT_EQ("--" + b + "--\r\n", ClosingLine(b));
}
