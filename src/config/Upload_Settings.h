// Where uploads go: the protocol and server host are built in, and each can be
// overridden per user under HKEY_CURRENT_USER\Software\Quillfen\Debug so that
// a test server can be used without another build. Read on every call.
#pragma once
#include <string>

namespace config {

extern const wchar_t* const kUploadSettingsKey;
extern const wchar_t* const kDefaultUploadProtocol;  // "https"
extern const wchar_t* const kDefaultUploadServer;    // host name only

// The string stored under `valueName` (exactly as stored, also when empty),
// or `defaultValue` when the key or value is missing. A value that is not a
// string raises ERegistryException ("Invalid data type for '%s'").
std::wstring ReadUploadSetting(const std::wstring& valueName, const std::wstring& defaultValue);

// "Debug_UploadProtocol", else "https".
std::wstring GetUploadProtocol();
// "Debug_UploadServer", else the built-in upload host.
std::wstring GetUploadServer();

}  // namespace config
