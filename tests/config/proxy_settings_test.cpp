// The proxy settings store against the registry of the test prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConfigTestUtil.h"
#include "TestUtil.h"
#include "config/Base64.h"
#include "config/GlobalProxySettings.h"
#include "env/ErrorControlledRegistry.h"

using namespace config;
using configtest::Describe;
using testutil::CaptureRaise;

namespace {

const wchar_t* kParentKey = L"Software\\Quillfen\\Orvex Engine";

class ProxySettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DoneProxySettings();
        env::TRegistryErrorControlled().DeleteKey(kParentKey);
    }
    void TearDown() override {
        DoneProxySettings();
        env::TRegistryErrorControlled().DeleteKey(kParentKey);
    }

    static std::wstring StoredLogin() {
        env::TRegistryErrorControlled reg;
        EXPECT_TRUE(reg.OpenKeyReadOnly(kProxySettingsKey));
        return reg.ReadString(kProxyLoginValue);
    }
    static void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        configtest::SetRawValue(kProxySettingsKey, name, type, data, size);
    }
};

TEST_F(ProxySettingsTest, NoKeyGivesEmptyValuesAndPortZero) {
    EXPECT_EQ(L"|0||", Describe(GetProxySettings()));
    env::TRegistryErrorControlled reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly(kProxySettingsKey)) << "reading must not create the key";
}

TEST_F(ProxySettingsTest, SaveRoundTripsThroughTheRegistry) {
    GetProxySettings().Save(L" proxy.example.net ", 3128, L"J\u00f6rg", L"p\u00e4ss w\u20acrd");
    env::TRegistryErrorControlled reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kProxySettingsKey));
    EXPECT_EQ(L" proxy.example.net ", reg.ReadString(kProxyServerValue));
    EXPECT_EQ(3128, reg.ReadInteger(kProxyPortValue));

    EXPECT_EQ(L" proxy.example.net |3128|J\u00f6rg|p\u00e4ss w\u20acrd", Describe(TProxySettings()));

    // The shared object is loaded once; a new one appears after shutdown.
    TProxySettings& shared = GetProxySettings();
    EXPECT_EQ(&shared, &GetProxySettings());
    TProxySettings other;
    other.Save(L"elsewhere", 8080, L"", L"");
    EXPECT_EQ(L" proxy.example.net ", GetProxySettings().Server());
    DoneProxySettings();
    EXPECT_EQ(L"elsewhere|8080||", Describe(GetProxySettings()));
}

TEST_F(ProxySettingsTest, StoredLoginLengths) {
    TProxySettings s;
    s.Save(L"host", 1, L"u", L"p");
    std::wstring stored = StoredLogin();
    EXPECT_EQ(8u, stored.size());
    EXPECT_EQ(std::wstring::npos, stored.find(L'='));
    std::string bytes;
    ASSERT_TRUE(Base64Decode(stored, bytes));
    EXPECT_EQ(6u, bytes.size());
    EXPECT_EQ(L"host|1|u|p", Describe(TProxySettings()));

    // Empty credentials still store the enciphered carriage return.
    s.Save(L"host", 1, L"", L"");
    stored = StoredLogin();
    ASSERT_EQ(4u, stored.size());
    EXPECT_EQ(L'=', stored[3]);
    EXPECT_NE(L'=', stored[2]);
    ASSERT_TRUE(Base64Decode(stored, bytes));
    EXPECT_EQ(2u, bytes.size());
    EXPECT_EQ(L"host|1||", Describe(TProxySettings()));
}

TEST_F(ProxySettingsTest, CarriageReturnsInCredentials) {
    TProxySettings s;
    s.Save(L"host", 1, L"user", L"line1\rline2\r");
    EXPECT_EQ(L"host|1|user|line1\rline2\r", Describe(TProxySettings()));

    s.Save(L"host", 1, L"ab\rcd", L"pw");
    EXPECT_EQ(L"host|1|ab|cd\rpw", Describe(TProxySettings()));
}

// Values written by earlier builds must stay readable: the stored form is
// fixed by the built-in key (these were computed outside this program).
TEST_F(ProxySettingsTest, StoredFormIsStable) {
    EXPECT_EQ(L"QyO+h6bf", EncipherProxyLogin(L"u", L"p"));
    EXPECT_EQ(L"OyM=", EncipherProxyLogin(L"", L""));
    EXPECT_EQ(L"RiPBh7nf1nMssCRN91rEUI2/cjNmT5qrONEU/U1yUmwBYrBWrseV0T8cOQM=",
              EncipherProxyLogin(L"proxyuser", L"s3cr\u00e9t\rline2"));
    std::wstring user, password;
    EXPECT_TRUE(DecipherProxyLogin(L"VyPRh9vfzXMxsFxN9FrWUA==", user, password));
    EXPECT_EQ(L"ab", user);
    EXPECT_EQ(L"cd\rpw", password);
}

TEST_F(ProxySettingsTest, UnreadableLoginsGiveEmptyCredentials) {
    std::wstring user = L"x", password = L"y";
    // Not Base64.
    EXPECT_FALSE(DecipherProxyLogin(L"not base64!", user, password));
    EXPECT_EQ(L"", user);
    EXPECT_EQ(L"", password);
    // Valid Base64 that deciphers to text without a carriage return.
    EXPECT_FALSE(DecipherProxyLogin(Base64Encode("enciphered elsewhere"), user, password));
    // An odd byte count: the half character at the end is dropped.
    std::string bytes;
    ASSERT_TRUE(Base64Decode(EncipherProxyLogin(L"a", L"b"), bytes));
    EXPECT_TRUE(DecipherProxyLogin(Base64Encode(bytes + "Z"), user, password));
    EXPECT_EQ(L"a", user);
    EXPECT_EQ(L"b", password);

    const wchar_t garbage[] = L"!!!!";
    SetRaw(kProxyLoginValue, REG_SZ, garbage, sizeof(garbage));
    const wchar_t server[] = L"kept";
    SetRaw(kProxyServerValue, REG_SZ, server, sizeof(server));
    TProxySettings read;
    EXPECT_EQ(L"kept|0||", Describe(read));
    EXPECT_EQ(std::vector<std::wstring>{L"proxy login"}, read.Unreadable());
}

// A value written with another type, or damaged, is named and left empty;
// the others still count, for the dialog and for every upload.
TEST_F(ProxySettingsTest, UnreadableValuesAreNamedAndTheOthersRead) {
    SetRaw(kProxyServerValue, REG_SZ, L"proxy", 12);
    const struct {
        DWORD Type;
        const void* Data;
        DWORD Size;
    } ports[] = {
        {REG_SZ, L"8", 4},                   // the size of an integer, but text
        {REG_SZ, L"8080", 10},               // too long to be read as an integer
        {REG_DWORD, "\xff\xff\xff\xff", 4},  // -1, no port
    };
    for (const auto& port : ports) {
        SetRaw(kProxyPortValue, port.Type, port.Data, port.Size);
        DoneProxySettings();
        EXPECT_EQ(L"proxy|0||", Describe(GetProxySettings())) << port.Size;
        EXPECT_EQ(std::vector<std::wstring>{L"proxy port"}, GetProxySettings().Unreadable());
    }
    GetProxySettings().Save(L"proxy", 3128, L"", L"");  // writes every value anew
    EXPECT_TRUE(GetProxySettings().Unreadable().empty());
    DWORD number = 1;
    SetRaw(kProxyServerValue, REG_DWORD, &number, sizeof(number));
    TProxySettings read;
    EXPECT_EQ(L"|3128||", Describe(read));
    EXPECT_EQ(std::vector<std::wstring>{L"proxy server"}, read.Unreadable());
}

TEST_F(ProxySettingsTest, KeyThatCannotBeCreatedRaisesAndKeepsTheOldValues) {
    // A lasting key cannot be created below a volatile one.
    HKEY parent;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kParentKey, 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &parent, nullptr));
    RegCloseKey(parent);
    TProxySettings& s = GetProxySettings();
    auto raised = CaptureRaise([&] { s.Save(L"new.host", 81, L"nu", L"np"); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"ERegistryException", raised->ClassName);
    EXPECT_EQ(0u, raised->Message.rfind(L"Failed to create key 'Software\\Quillfen\\Orvex Engine\\9.0'\r\n", 0))
        << testing::PrintToString(raised->Message);
    EXPECT_EQ(L"|0||", Describe(s));
    env::TRegistryErrorControlled reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly(kProxySettingsKey));
}

}  // namespace
