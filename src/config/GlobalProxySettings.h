// The user's HTTP proxy (server, port, user name, password), kept per user in
// the registry under HKEY_CURRENT_USER\Software\Quillfen\Orvex Engine\9.0 and
// held in memory by one shared object.
//
// User name and password are stored together as one value, "proxy login":
// the user name, a carriage return and the password in UTF-16LE, enciphered
// with RC4 under a key built into the program and written as Base64. This is
// obfuscation kept for compatibility with stored settings, not protection:
// anyone who can read the user's registry and this program can recover them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace config {

class TProxySettings {
public:
    // Loads the stored values (Refresh).
    TProxySettings();
    // Overwrites the password in memory.
    ~TProxySettings();
    TProxySettings(const TProxySettings&) = delete;
    TProxySettings& operator=(const TProxySettings&) = delete;

    // Reloads all four values from the registry. A missing key or value
    // leaves empty text and port 0. A value that cannot be read (another
    // type, data that fails to be read, a port outside 0 to 65535, a login
    // that does not decipher) leaves its field empty or 0 and is named in
    // Unreadable(); the readable values still count. Raises nothing for what
    // the registry holds. Uploads take a port of 0 with a server as HTTP's
    // port 80 (UseProxySettings in support/SupportUpload.cpp), as they always
    // did: the user chose to go through that server, and going direct
    // instead would pass by a proxy the network may require.
    void Refresh();

    // Writes the four values to the registry, creating the key when missing,
    // and keeps each one in the object once it is stored. Raises
    // ERegistryException when the key cannot be opened or created ("Failed
    // to create key '%s'" and the system's reason; the object keeps its old
    // values) or a value cannot be written ("Failed to set data for '%s'";
    // the values written before it are new, the others old, in the registry
    // and in the object alike).
    void Save(const std::wstring& server, int32_t port, const std::wstring& username, const std::wstring& password);

    // The names of the stored values the last Refresh could not read (for
    // the login, kProxyLoginValue), less those saved since; empty when all
    // were read.
    const std::vector<std::wstring>& Unreadable() const { return FUnreadable; }

    const std::wstring& Server() const { return FServer; }
    int32_t Port() const { return FPort; }
    const std::wstring& Username() const { return FUsername; }
    const std::wstring& Password() const { return FPassword; }

private:
    std::wstring FServer;
    int32_t FPort = 0;
    std::wstring FUsername;
    std::wstring FPassword;
    std::vector<std::wstring> FUnreadable;
};

// The registry key and value names of the stored settings.
extern const wchar_t* const kProxySettingsKey;
extern const wchar_t* const kProxyServerValue;
extern const wchar_t* const kProxyPortValue;
extern const wchar_t* const kProxyLoginValue;

// The shared settings; the first call creates them, which loads them from the
// registry.
TProxySettings& GetProxySettings();

// Shutdown step of this module: clears the shared reference, then destroys
// the shared settings when they were created.
void DoneProxySettings();

// The stored form of "proxy login" for a user name and password
// (ProxyLogin.h has the format).
std::wstring EncipherProxyLogin(const std::wstring& username, const std::wstring& password);

// Reverses EncipherProxyLogin. Answers false, with both outputs empty, when
// the text is not Base64 or its deciphered text holds no carriage return
// (another key, damaged data); otherwise splits at the first carriage return.
bool DecipherProxyLogin(const std::wstring& stored, std::wstring& username, std::wstring& password);

}  // namespace config
