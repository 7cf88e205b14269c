#include "config/GlobalProxySettings.h"

#include <vector>

#include "config/ProxyLogin.h"
#include "config/Wipe.h"
#include "env/ErrorControlledRegistry.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace config {

const wchar_t* const kProxySettingsKey = L"Software\\Quillfen\\Orvex Engine\\9.0";
const wchar_t* const kProxyServerValue = L"proxy server";
const wchar_t* const kProxyPortValue = L"proxy port";
const wchar_t* const kProxyLoginValue = L"proxy login";

namespace {

TProxySettings* gProxySettings = nullptr;

}  // namespace

std::wstring EncipherProxyLogin(const std::wstring& username, const std::wstring& password) {
    std::u16string user(username.begin(), username.end()), pass(password.begin(), password.end());
    std::u16string stored = EncipherProxyLogin16(user, pass);
    Wipe(user);
    Wipe(pass);
    return std::wstring(stored.begin(), stored.end());
}

bool DecipherProxyLogin(const std::wstring& stored, std::wstring& username, std::wstring& password) {
    std::u16string user, pass;
    bool found = DecipherProxyLogin16(std::u16string(stored.begin(), stored.end()), user, pass);
    username.assign(user.begin(), user.end());
    password.assign(pass.begin(), pass.end());
    Wipe(user);
    Wipe(pass);
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
    std::wstring login = EncipherProxyLogin(username, password);
    env::TRegistryErrorControlled reg;
    if (!reg.OpenKey(kProxySettingsKey, true))
        reg.RaiseLastRegistryError(rtl::Format(L"Failed to create key '%ls'", kProxySettingsKey));
    // A field takes its new value once the registry holds it, so a write
    // that fails leaves the object saying what is stored.
    reg.WriteString(kProxyServerValue, server);
    FServer = server;
    reg.WriteInteger(kProxyPortValue, port);
    FPort = port;
    reg.WriteString(kProxyLoginValue, login);
    FUsername = username;
    FPassword = password;
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
