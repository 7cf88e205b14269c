#include "config/Base64.h"

#include <cstdint>

namespace config {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
int SextetOf(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    return -1;
}

}  // namespace

std::wstring Base64Encode(const std::string& bytes) {
    std::wstring text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t n = 0; n < bytes.size(); n += 3) {
        size_t have = bytes.size() - n < 3 ? bytes.size() - n : 3;
        uint32_t group = static_cast<uint8_t>(bytes[n]) << 16;
        if (have > 1) group |= static_cast<uint8_t>(bytes[n + 1]) << 8;
        if (have > 2) group |= static_cast<uint8_t>(bytes[n + 2]);
        text += static_cast<wchar_t>(kAlphabet[(group >> 18) & 63]);
        text += static_cast<wchar_t>(kAlphabet[(group >> 12) & 63]);
        text += have > 1 ? static_cast<wchar_t>(kAlphabet[(group >> 6) & 63]) : L'=';
        text += have > 2 ? static_cast<wchar_t>(kAlphabet[group & 63]) : L'=';
    }
    return text;
}

bool Base64Decode(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0) return false;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t n = 0; n < text.size(); n += 4) {
        bool last = n + 4 == text.size();
        // Padding: at most two "=", only at the end of the last group.
        size_t pad = 0;
        if (last && text[n + 3] == L'=') pad = text[n + 2] == L'=' ? 2 : 1;
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
