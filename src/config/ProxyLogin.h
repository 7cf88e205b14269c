// The stored form of the proxy login: the user name, a carriage return and
// the password in UTF-16LE, enciphered with RC4 under a key built into the
// program and written as Base64. Obfuscation kept for compatibility with
// stored settings, not protection.
#pragma once
#include <string>
#include <string_view>

namespace config {

std::u16string EncipherProxyLogin16(std::u16string_view username, std::u16string_view password);

// Reverses EncipherProxyLogin16. Answers false, with both outputs empty, when
// the text is not Base64 or its deciphered text holds no carriage return
// (another key, damaged data); otherwise splits at the first carriage return.
bool DecipherProxyLogin16(std::u16string_view stored, std::u16string& username, std::u16string& password);

}  // namespace config
