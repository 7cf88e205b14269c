#include "config/GlobalProxySettings.h"

#include <vector>

#include "config/Base64.h"
#include "config/Rc4.h"
#include "env/ErrorControlledRegistry.h"
#include "rtl/Win.h"

namespace config {

const wchar_t* const kProxySettingsKey = L"Software\\Quillfen\\Orvex Engine\\9.0";
const wchar_t* const kProxyServerValue = L"proxy server";
const wchar_t* const kProxyPortValue = L"proxy port";
const wchar_t* const kProxyLoginValue = L"proxy login";

namespace {

// Only the first four characters count: their UTF-16LE form is the 64-bit
// RC4 key. Changing them makes every stored login unreadable.
const wchar_t kPassPhrase[] = L"Kv9!Orvex-Engine/Proxy-Login#Quillfen:2f7Lq0Zx4Rw8Tn1Ym6Pc3Hd5Jb";
static_assert(sizeof(kPassPhrase) / sizeof(wchar_t) == 64 + 1, "the pass phrase has 64 characters");

const wchar_t kSeparator = L'\r';

template <class S>
void Wipe(S& s) {
    if (!s.empty()) SecureZeroMemory(s.data(), s.size() * sizeof(s[0]));
    s.clear();
}

// RC4 under the built-in key, from the start of the key stream every time.
void ApplyLoginCipher(std::string& bytes) {
    uint8_t key[8];
    for (int n = 0; n < 4; ++n) {
        key[2 * n] = static_cast<uint8_t>(kPassPhrase[n] & 0xFF);
        key[2 * n + 1] = static_cast<uint8_t>(kPassPhrase[n] >> 8);
    }
    TRc4 cipher(key, sizeof(key));
    SecureZeroMemory(key, sizeof(key));
    cipher.Apply(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
}

TProxySettings* gProxySettings = nullptr;

}  // namespace

std::wstring EncipherProxyLogin(const std::wstring& username, const std::wstring& password) {
    std::wstring plain = username + kSeparator + password;
    std::string bytes;
    bytes.reserve(plain.size() * 2);
    for (wchar_t c : plain) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    Wipe(plain);
    ApplyLoginCipher(bytes);
    return Base64Encode(bytes);
}

bool DecipherProxyLogin(const std::wstring& stored, std::wstring& username, std::wstring& password) {
    username.clear();
    password.clear();
    std::string bytes;
    if (!Base64Decode(stored, bytes)) return false;
    // An odd last byte is half a character: dropped.
    bytes.resize(bytes.size() / 2 * 2);
    ApplyLoginCipher(bytes);
    std::wstring plain;
    plain.reserve(bytes.size() / 2);
    for (size_t n = 0; n < bytes.size(); n += 2)
        plain += static_cast<wchar_t>(static_cast<uint8_t>(bytes[n]) | static_cast<uint8_t>(bytes[n + 1]) << 8);
    Wipe(bytes);
    size_t cut = plain.find(kSeparator);
    bool found = cut != std::wstring::npos;
    if (found) {
        username = plain.substr(0, cut);
        password = plain.substr(cut + 1);
    }
    Wipe(plain);
    return found;
}

TProxySettings::TProxySettings() { Refresh(); }

TProxySettings::~TProxySettings() { Wipe(FPassword); }

void TProxySettings::Refresh() {
    FServer.clear();
    FPort = 0;
    FUsername.clear();
    Wipe(FPassword);
    env::TRegistryErrorControlled reg;
    if (!reg.OpenKeyReadOnly(kProxySettingsKey)) return;
    if (reg.ValueExists(kProxyServerValue)) FServer = reg.ReadString(kProxyServerValue);
    if (reg.ValueExists(kProxyPortValue)) FPort = reg.ReadInteger(kProxyPortValue);
    if (reg.ValueExists(kProxyLoginValue)) {
        std::wstring stored = reg.ReadString(kProxyLoginValue);
        DecipherProxyLogin(stored, FUsername, FPassword);
    }
}

void TProxySettings::Save(const std::wstring& server, int32_t port, const std::wstring& username,
                          const std::wstring& password) {
    FServer = server;
    FPort = port;
    FUsername = username;
    FPassword = password;
    env::TRegistryErrorControlled reg;
    if (!reg.OpenKey(kProxySettingsKey, true)) return;
    reg.WriteString(kProxyServerValue, FServer);
    reg.WriteInteger(kProxyPortValue, FPort);
    reg.WriteString(kProxyLoginValue, EncipherProxyLogin(FUsername, FPassword));
}

TProxySettings& GetProxySettings() {
    if (!gProxySettings) gProxySettings = new TProxySettings;
    return *gProxySettings;
}

void DoneProxySettings() {
    TProxySettings* settings = gProxySettings;
    gProxySettings = nullptr;
    delete settings;
}

}  // namespace config
