#include "config/Base64.h"

#include <cstdint>

namespace config {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
int SextetOf(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    if (c == u'+') return 62;
    if (c == u'/') return 63;
    return -1;
}

}  // namespace

std::u16string Base64Encode16(const std::string& bytes) {
    std::u16string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t n = 0; n < bytes.size(); n += 3) {
        size_t have = bytes.size() - n < 3 ? bytes.size() - n : 3;
        uint32_t group = static_cast<uint8_t>(bytes[n]) << 16;
        if (have > 1) group |= static_cast<uint8_t>(bytes[n + 1]) << 8;
        if (have > 2) group |= static_cast<uint8_t>(bytes[n + 2]);
        text += static_cast<char16_t>(kAlphabet[(group >> 18) & 63]);
        text += static_cast<char16_t>(kAlphabet[(group >> 12) & 63]);
        text += have > 1 ? static_cast<char16_t>(kAlphabet[(group >> 6) & 63]) : u'=';
        text += have > 2 ? static_cast<char16_t>(kAlphabet[group & 63]) : u'=';
    }
    return text;
}

bool Base64Decode16(std::u16string_view text, std::string& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0) return false;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t n = 0; n < text.size(); n += 4) {
        bool last = n + 4 == text.size();
        // Padding: at most two "=", only at the end of the last group.
        size_t pad = 0;
        if (last && text[n + 3] == u'=') pad = text[n + 2] == u'=' ? 2 : 1;
        uint32_t group = 0;
        for (size_t k = 0; k < 4 - pad; ++k) {
            int v = SextetOf(text[n + k]);
            if (v < 0) return false;
            group = group << 6 | static_cast<uint32_t>(v);
        }
        group <<= 6 * pad;
        out += static_cast<char>(group >> 16);
        if (pad < 2) out += static_cast<char>(group >> 8);
        if (pad < 1) out += static_cast<char>(group);
    }
    bytes.swap(out);
    return true;
}

}  // namespace config
