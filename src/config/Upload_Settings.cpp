#include "config/Upload_Settings.h"

#include "env/ErrorControlledRegistry.h"

namespace config {

const wchar_t* const kUploadSettingsKey = L"Software\\Quillfen\\Debug";
const wchar_t* const kDefaultUploadProtocol = L"https";
const wchar_t* const kDefaultUploadServer = L"upload.quillfen.com";

std::wstring ReadUploadSetting(const std::wstring& valueName, const std::wstring& defaultValue) {
    env::TRegistryErrorControlled reg;
    if (reg.OpenKeyReadOnly(kUploadSettingsKey) && reg.ValueExists(valueName)) return reg.ReadString(valueName);
    return defaultValue;
}

std::wstring GetUploadProtocol() { return ReadUploadSetting(L"Debug_UploadProtocol", kDefaultUploadProtocol); }

std::wstring GetUploadServer() { return ReadUploadSetting(L"Debug_UploadServer", kDefaultUploadServer); }

}  // namespace config
