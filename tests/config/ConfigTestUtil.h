// Helpers shared by the tests of the settings modules.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "config/GlobalProxySettings.h"
#include "rtl/Win.h"

namespace configtest {

// Writes a value of any type under HKEY_CURRENT_USER\key, creating the key.
inline void SetRawValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(h);
}

// "server|port|user name|password": one comparison shows all four values.
inline std::wstring Describe(const config::TProxySettings& s) {
    return s.Server() + L"|" + std::to_wstring(s.Port()) + L"|" + s.Username() + L"|" + s.Password();
}

}  // namespace configtest
