#include "config/GlobalProxySettings.h"

#include <algorithm>
#include <vector>

#include "config/ProxyLogin.h"
#include "config/Wipe.h"
#include "env/ErrorControlledRegistry.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
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
    FUnreadable.clear();
    env::TRegistryErrorControlled reg;
    if (!reg.OpenKeyReadOnly(kProxySettingsKey)) return;
    // Each value on its own: one that another program or an older build
    // wrote with another type, or damaged, leaves its field empty and is
    // named, and the others still count.
    auto read = [&](const wchar_t* name, const auto& body) {
        if (!reg.ValueExists(name)) return;
        bool readable = false;
        rtl::Try([&] { readable = body(); }, rtl::On<rtl::ERegistryException>([](rtl::ERegistryException&) {}));
        if (!readable) FUnreadable.push_back(name);
    };
    read(kProxyServerValue, [&] {
        FServer = reg.ReadString(kProxyServerValue);
        return true;
    });
    read(kProxyPortValue, [&] {
        int32_t port = reg.ReadInteger(kProxyPortValue);
        // 0 has always meant "no port"; what lies outside TCP's range
        // cannot have come from a user who meant a port.
        if (port < 0 || port > 65535) return false;
        FPort = port;
        return true;
    });
    read(kProxyLoginValue, [&] {
        std::wstring stored = reg.ReadString(kProxyLoginValue);
        return stored.empty() || DecipherProxyLogin(stored, FUsername, FPassword);
    });
}

void TProxySettings::Save(const std::wstring& server, int32_t port, const std::wstring& username,
                          const std::wstring& password) {
    std::wstring login = EncipherProxyLogin(username, password);
    env::TRegistryErrorControlled reg;
    if (!reg.OpenKey(kProxySettingsKey, true))
        reg.RaiseLastRegistryError(rtl::Format(L"Failed to create key '%ls'", kProxySettingsKey));
    // A field takes its new value once the registry holds it, so a write
    // that fails leaves the object saying what is stored.
    auto stored = [&](const wchar_t* name) {
        FUnreadable.erase(std::remove(FUnreadable.begin(), FUnreadable.end(), name), FUnreadable.end());
    };
    reg.WriteString(kProxyServerValue, server);
    FServer = server;
    stored(kProxyServerValue);
    reg.WriteInteger(kProxyPortValue, port);
    FPort = port;
    stored(kProxyPortValue);
    reg.WriteString(kProxyLoginValue, login);
    FUsername = username;
    FPassword = password;
    stored(kProxyLoginValue);
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
