#include "env/ErrorControlledRegistry.h"

#include <vector>

#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace env {

using rtl::ERegistryException;
using rtl::Format;

TRegistry::TRegistry() = default;
TRegistry::~TRegistry() = default;

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    FRootKey = root;
}

void TRegistry::CloseKey() { FCurrentKey.Reset(); }

bool TRegistry::Open(const std::wstring& key, bool canCreate, REGSAM access) {
    CloseKey();
    std::wstring path = key;
    while (!path.empty() && path.front() == L'\\') path.erase(0, 1);
    HKEY h = nullptr;
    if (canCreate) {
        FLastError =
            RegCreateKeyExW(FRootKey, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &h, nullptr);
    } else {
        FLastError = RegOpenKeyExW(FRootKey, path.c_str(), 0, access, &h);
    }
    if (FLastError != ERROR_SUCCESS) return false;
    FCurrentKey.Reset(h);
    return true;
}

bool TRegistry::OpenKey(const std::wstring& key, bool canCreate) { return Open(key, canCreate, KEY_ALL_ACCESS); }

bool TRegistry::OpenKeyReadOnly(const std::wstring& key) { return Open(key, false, KEY_READ); }

bool TRegistry::ValueExists(const std::wstring& name) {
    FLastError = RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr);
    return FLastError == ERROR_SUCCESS;
}

std::wstring TRegistry::ReadString(const std::wstring& name) {
    DWORD type = 0, size = 0;
    FLastError = RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (FLastError != ERROR_SUCCESS || size == 0) return {};
    // Room for a missing terminator, rounded up to whole characters.
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2, L'\0');
    DWORD got = size;
    FLastError =
        RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got);
    if (FLastError != ERROR_SUCCESS)
        rtl::RaiseNew<ERegistryException>(Format(L"Failed to get data for '%ls'", name.c_str()));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        rtl::RaiseNew<ERegistryException>(Format(L"Invalid data type for '%ls'", name.c_str()));
    size_t chars = got / sizeof(wchar_t);
    std::wstring result(buf.data(), chars);
    size_t zero = result.find(L'\0');
    if (zero != std::wstring::npos) result.resize(zero);
    return result;
}

int32_t TRegistry::ReadInteger(const std::wstring& name) {
    DWORD type = 0;
    int32_t value = 0;
    DWORD size = sizeof(value);
    FLastError =
        RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (FLastError != ERROR_SUCCESS)
        rtl::RaiseNew<ERegistryException>(Format(L"Failed to get data for '%ls'", name.c_str()));
    if (type != REG_DWORD) rtl::RaiseNew<ERegistryException>(Format(L"Invalid data type for '%ls'", name.c_str()));
    return value;
}

void TRegistry::WriteString(const std::wstring& name, const std::wstring& value) {
    FLastError =
        RegSetValueExW(FCurrentKey.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (FLastError != ERROR_SUCCESS)
        rtl::RaiseNew<ERegistryException>(Format(L"Failed to set data for '%ls'", name.c_str()));
}

void TRegistry::WriteInteger(const std::wstring& name, int32_t value) {
    FLastError = RegSetValueExW(FCurrentKey.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value));
    if (FLastError != ERROR_SUCCESS)
        rtl::RaiseNew<ERegistryException>(Format(L"Failed to set data for '%ls'", name.c_str()));
}

bool TRegistry::DeleteValue(const std::wstring& name) {
    FLastError = RegDeleteValueW(FCurrentKey.Get(), name.c_str());
    return FLastError == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const std::wstring& key) {
    CloseKey();
    FLastError = RegDeleteTreeW(FRootKey, key.c_str());
    if (FLastError == ERROR_SUCCESS) FLastError = RegDeleteKeyW(FRootKey, key.c_str());
    return FLastError == ERROR_SUCCESS || FLastError == ERROR_FILE_NOT_FOUND;
}

std::wstring TRegistry::LastErrorMsg() const {
    return FLastError == ERROR_SUCCESS ? std::wstring() : rtl::SysErrorMessage(static_cast<uint32_t>(FLastError));
}

void TRegistryErrorControlled::RaiseLastRegistryError(const std::wstring& msg) {
    std::wstring tail = LastErrorMsg() + L" (" + rtl::IntToHex(static_cast<uint32_t>(FLastError), 8) + L")";
    rtl::RaiseNew<ERegistryException>(msg.empty() ? tail : msg + L"\r\n" + tail);
}

}  // namespace env
