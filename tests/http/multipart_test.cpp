// Pieces of the multipart body: boundary, name escaping, part headers.
#include <gtest/gtest.h>

#include <set>

#include "http/httpuploader_multipart.h"
#include "rtl/Text.h"

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
    {"plain", "plain"},      {"", ""},          {"with space;and=signs", "with space;and=signs"},
    {"caf\xe9", "caf\xe9"},  {"a\"b", "a%22b"}, {"x\r\nContent-Type: evil", "x%0D%0AContent-Type: evil"},
    {"\"\r\n", "%22%0D%0A"}, {"100%", "100%"},  // a percent sign alone stays: ordinary names go out unchanged
};

TEST(MultipartTest, EscapeQuotedTable) {
    for (const auto& c : kEscapeCases) EXPECT_EQ(c.Out, EscapeQuoted(c.In)) << c.In;
}

TEST(MultipartTest, TheNameOnTheWireIsTheFileNameAloneInUtf8) {
    const struct {
        const wchar_t* Path;
        std::string Name;
    } cases[] = {
        {L"C:\\a\\b\\c.txt", "c.txt"},
        {L"D:x.bin", "x.bin"},
        {L"/home/me/logs/a.log", "a.log"},  // as Wine and scripts write paths
        {L"plain", "plain"},
        {L"Z\u00FCrich \u6771\u4EAC.txt", "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC.txt"},
        {L"\U0001F600.png", "\xF0\x9F\x98\x80.png"},
        {L"half\xD800.txt", "half%ED%A0%80.txt"},  // no UTF-8 form: escaped, not lost
    };
    for (const auto& c : cases) EXPECT_EQ(c.Name, NameToUtf8(FileNameOf(c.Path))) << rtl::ToAnsi(c.Path);
}

TEST(MultipartTest, PartHeadersAreLaidOutByteForByte) {
    const std::string b = "---------------------------0123456789AB";
    EXPECT_EQ("--" + b + "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n",
              FieldHeader(b, THTTPUploaderField{"n", "v"}));
    EXPECT_EQ("--" + b +
                  "\r\nContent-Disposition: form-data; name=\"f%22\"; filename=\"a%22b.txt\"\r\n"
                  "Content-Type: text/plain\r\n\r\n",
              FileHeader(b, THTTPUploaderFile{"f\"", "text/plain", L"C:\\dir\\a\"b.txt"}));
    EXPECT_EQ("--" + b +
                  "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n"
                  "Content-Type: text/plain%0D%0AX-Injected: 1\r\n\r\n",
              FileHeader(b, THTTPUploaderFile{"f", "text/plain\r\nX-Injected: 1", L"x"}));
    EXPECT_EQ("--" + b +
                  "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.log.zip\"\r\n"
                  "Content-Type: application/zip\r\n\r\n",
              FileHeader(b, THTTPUploaderFile{"f", "application/zip", L"C:\\tmp\\orv1.tmp", L"x.log.zip"}));
    EXPECT_EQ("--" + b + "--\r\n", ClosingLine(b));
}
