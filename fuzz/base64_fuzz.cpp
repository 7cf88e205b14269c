// Base64 both ways: any bytes come back unchanged, and any text is either
// refused (leaving nothing) or decodes to bytes that encode and decode again
// to themselves.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/Base64.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "base64: %s\n", what);
        std::abort();
    }
}

void DecodeText(const std::u16string& text) {
    std::string bytes = "junk";
    if (!config::Base64Decode16(text, bytes)) {
        Check(bytes.empty(), "refused text left bytes behind");
        return;
    }
    Check(text.size() % 4 == 0, "accepted a length that is not a multiple of four");
    size_t pad = text.empty() ? 0 : (text.back() == u'=') + (text.size() >= 2 && text[text.size() - 2] == u'=');
    Check(bytes.size() == text.size() / 4 * 3 - pad, "decoded length does not match the text");
    std::string again;
    Check(config::Base64Decode16(config::Base64Encode16(bytes), again) && again == bytes, "no round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::u16string text = config::Base64Encode16(bytes);
    Check(text.size() == (size + 2) / 3 * 4, "encoded length");
    std::string back;
    Check(config::Base64Decode16(text, back) && back == bytes, "bytes did not come back");

    // The input as text: one byte per character (reaches the alphabet), and
    // as UTF-16LE code units (reaches every other character).
    DecodeText(std::u16string(bytes.begin(), bytes.end()));
    std::u16string units;
    for (size_t n = 0; n + 1 < size; n += 2) units += static_cast<char16_t>(data[n] | data[n + 1] << 8);
    DecodeText(units);
    return 0;
}
