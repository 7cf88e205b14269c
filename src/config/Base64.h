// Base64 in the standard alphabet of RFC 4648 ("A".."Z", "a".."z", "0".."9",
// "+", "/"), padded with "=", without line breaks.
#pragma once
#include <string>

namespace config {

// Bytes -> text, four characters for every started group of three bytes.
std::wstring Base64Encode(const std::string& bytes);

// Text -> bytes. Answers false, leaving `bytes` empty, for text that is not
// valid Base64: a length that is not a multiple of four, a character
// outside the alphabet, or "=" anywhere but as the padding of the last group
// (RFC 4648, section 3.3: non-alphabet characters are rejected).
bool Base64Decode(const std::wstring& text, std::string& bytes);

}  // namespace config
