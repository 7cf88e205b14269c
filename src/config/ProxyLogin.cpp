#include "config/ProxyLogin.h"

#include <cstdint>

#include "config/Base64.h"
#include "config/Rc4.h"
#include "config/Wipe.h"

namespace config {

namespace {

// Only the first four characters count: their UTF-16LE form is the 64-bit
// RC4 key. Changing them makes every stored login unreadable.
const char16_t kPassPhrase[] = u"Kv9!Orvex-Engine/Proxy-Login#Quillfen:2f7Lq0Zx4Rw8Tn1Ym6Pc3Hd5Jb";
static_assert(sizeof(kPassPhrase) / sizeof(char16_t) == 64 + 1, "the pass phrase has 64 characters");

const char16_t kSeparator = u'\r';

// RC4 under the built-in key, from the start of the key stream every time.
void ApplyLoginCipher(std::string& bytes) {
    uint8_t key[8];
    for (int n = 0; n < 4; ++n) {
        key[2 * n] = static_cast<uint8_t>(kPassPhrase[n] & 0xFF);
        key[2 * n + 1] = static_cast<uint8_t>(kPassPhrase[n] >> 8);
    }
    TRc4 cipher(key, sizeof(key));
    WipeBytes(key, sizeof(key));
    cipher.Apply(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

std::u16string EncipherProxyLogin16(std::u16string_view username, std::u16string_view password) {
    std::u16string plain;
    plain.reserve(username.size() + 1 + password.size());
    plain.append(username).append(1, kSeparator).append(password);
    std::string bytes;
    bytes.reserve(plain.size() * 2);
    for (char16_t c : plain) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    Wipe(plain);
    ApplyLoginCipher(bytes);
    std::u16string stored = Base64Encode16(bytes);
    Wipe(bytes);
    return stored;
}

bool DecipherProxyLogin16(std::u16string_view stored, std::u16string& username, std::u16string& password) {
    username.clear();
    password.clear();
    std::string bytes;
    if (!Base64Decode16(stored, bytes)) return false;
    // An odd last byte is half a character: dropped.
    bytes.resize(bytes.size() / 2 * 2);
    ApplyLoginCipher(bytes);
    std::u16string plain;
    plain.reserve(bytes.size() / 2);
    for (size_t n = 0; n < bytes.size(); n += 2)
        plain += static_cast<char16_t>(static_cast<uint8_t>(bytes[n]) | static_cast<uint8_t>(bytes[n + 1]) << 8);
    Wipe(bytes);
    size_t cut = plain.find(kSeparator);
    bool found = cut != std::u16string::npos;
    if (found) {
        username = plain.substr(0, cut);
        password = plain.substr(cut + 1);
    }
    Wipe(plain);
    return found;
}

}  // namespace config
