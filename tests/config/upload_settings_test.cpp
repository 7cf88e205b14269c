// Upload endpoint overrides in the registry of the test prefix.
#include <gtest/gtest.h>

#include "ConfigTestUtil.h"
#include "TestUtil.h"
#include "config/Upload_Settings.h"
#include "env/ErrorControlledRegistry.h"

using namespace config;
using testutil::CaptureRaise;

namespace {

class UploadSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { env::TRegistryErrorControlled().DeleteKey(kUploadSettingsKey); }
    void TearDown() override { env::TRegistryErrorControlled().DeleteKey(kUploadSettingsKey); }

    static void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        configtest::SetRawValue(kUploadSettingsKey, name, type, data, size);
    }
    static void SetString(const wchar_t* name, const std::wstring& value) {
        SetRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
};

TEST_F(UploadSettingsTest, NoKeyGivesTheBuiltInEndpoint) {
    EXPECT_EQ(L"https", GetUploadProtocol());
    EXPECT_EQ(kDefaultUploadServer, GetUploadServer());
    // A host name only: no scheme, port or path.
    EXPECT_EQ(std::wstring::npos, GetUploadServer().find_first_of(L":/"));
    EXPECT_EQ(L"fallback", ReadUploadSetting(L"Debug_UploadProtocol", L"fallback"));
}

TEST_F(UploadSettingsTest, OverridesAreReturnedExactlyAsStoredOnEveryCall) {
    SetString(L"Debug_UploadProtocol", L"http");
    SetString(L"Debug_UploadServer", L"127.0.0.1");
    EXPECT_EQ(L"http", GetUploadProtocol());
    EXPECT_EQ(L"127.0.0.1", GetUploadServer());
    // Not cached, and not normalised: the engine compares case-sensitively.
    SetString(L"Debug_UploadProtocol", L"HTTPS");
    EXPECT_EQ(L"HTTPS", GetUploadProtocol());
    // Only the value that exists overrides.
    env::TRegistryErrorControlled reg;
    ASSERT_TRUE(reg.OpenKey(kUploadSettingsKey, false));
    ASSERT_TRUE(reg.DeleteValue(L"Debug_UploadServer"));
    EXPECT_EQ(kDefaultUploadServer, GetUploadServer());
    EXPECT_EQ(L"HTTPS", GetUploadProtocol());
}

TEST_F(UploadSettingsTest, EmptyServerValueIsEmptyNotTheDefault) {
    SetString(L"Debug_UploadServer", L"");
    EXPECT_EQ(L"", GetUploadServer());
    SetRaw(L"Debug_UploadServer", REG_SZ, L"", 0);  // no terminator stored either
    EXPECT_EQ(L"", GetUploadServer());
}

TEST_F(UploadSettingsTest, ValueOfTheWrongTypeRaises) {
    DWORD number = 443;
    SetRaw(L"Debug_UploadProtocol", REG_DWORD, &number, sizeof(number));
    auto raised = CaptureRaise([] { GetUploadProtocol(); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"ERegistryException", raised->ClassName);
    EXPECT_EQ(L"Invalid data type for 'Debug_UploadProtocol'", raised->Message);
    // The other value is unaffected.
    EXPECT_EQ(kDefaultUploadServer, GetUploadServer());
}

}  // namespace
