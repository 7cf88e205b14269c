// The header block of a server's answer: whatever the server sends, a
// suggested file name is a bare name without folders or bytes a file name
// may not hold, and a header line before the block changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/httpuploader_headers.h"

namespace {

void Check(bool ok, const char* what, const std::string& name) {
    if (!ok) {
        std::fprintf(stderr, "headers: %s: \"%s\"\n", what, name.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string headers(reinterpret_cast<const char*>(data), size);
    std::string name = "unchanged";
    bool found = http::ParseContentDispositionFilename(headers, name);
    if (found) {
        for (unsigned char c : name) Check(c >= 32 && !std::strchr("/\\:\"*<>?|", c), "unsafe byte in the name", name);
    } else {
        Check(name == "unchanged", "name written although none was found", name);
    }
    std::string again = "unchanged";
    bool foundAgain = http::ParseContentDispositionFilename("X-Before: 1\r\n" + headers, again);
    Check(found == foundAgain && (!found || again == name), "a line before the block changed the answer", again);
    return 0;
}
