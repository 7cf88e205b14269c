// Base64 in the standard alphabet of RFC 4648 ("A".."Z", "a".."z", "0".."9",
// "+", "/"), padded with "=", without line breaks. The text side is UTF-16
// code units, as the registry stores it.
#pragma once
#include <climits>
#include <string>
#include <string_view>

namespace config {

// Bytes -> text, four characters for every started group of three bytes.
std::u16string Base64Encode16(const std::string& bytes);

// Text -> bytes. Answers false, leaving `bytes` empty, for text that is not
// valid Base64: a length that is not a multiple of four, a character
// outside the alphabet, or "=" anywhere but as the padding of the last group
// (RFC 4648, section 3.3: non-alphabet characters are rejected).
bool Base64Decode16(std::u16string_view text, std::string& bytes);

#if WCHAR_MAX == 0xFFFF
// The same for Windows text, whose wide characters are UTF-16 code units.
inline std::wstring Base64Encode(const std::string& bytes) {
    std::u16string text = Base64Encode16(bytes);
    return std::wstring(text.begin(), text.end());
}
inline bool Base64Decode(const std::wstring& text, std::string& bytes) {
    return Base64Decode16(std::u16string(text.begin(), text.end()), bytes);
}
#endif

}  // namespace config
