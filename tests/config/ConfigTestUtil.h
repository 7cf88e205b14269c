// Helpers shared by the tests of the settings modules.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "config/GlobalProxySettings.h"
#include "rtl/Win.h"

#include <sddl.h>

namespace configtest {

// Writes a value of any type under HKEY_CURRENT_USER\key, creating the key.
inline void SetRawValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(h);
}

// Denies everyone (with deny false: allows again) writing values into, and
// creating keys below, HKEY_CURRENT_USER\key; Wine checks a key's access
// list as Windows does.
inline bool DenyKeyWrites(const wchar_t* key, bool deny) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, WRITE_DAC, &h) != ERROR_SUCCESS) return false;
    // 0x6: KEY_SET_VALUE | KEY_CREATE_SUB_KEY; KA: KEY_ALL_ACCESS; WD: everyone.
    PSECURITY_DESCRIPTOR sd = nullptr;
    bool done = ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    deny ? L"D:(D;;0x6;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &sd, nullptr) &&
                RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
    LocalFree(sd);
    RegCloseKey(h);
    return done;
}

// "server|port|user name|password": one comparison shows all four values.
inline std::wstring Describe(const config::TProxySettings& s) {
    return s.Server() + L"|" + std::to_wstring(s.Port()) + L"|" + s.Username() + L"|" + s.Password();
}

}  // namespace configtest
