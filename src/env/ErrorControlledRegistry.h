// Registry access: one open key at a time under a chosen root. Open
// operations answer a Boolean and record the code in LastError; reads and
// writes raise ERegistryException with fixed texts.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

namespace env {

class TRegistry {
public:
    TRegistry();
    virtual ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return FRootKey; }
    void SetRootKey(HKEY root);

    bool OpenKey(const std::wstring& key, bool canCreate);
    bool OpenKeyReadOnly(const std::wstring& key);
    void CloseKey();
    HKEY CurrentKey() const { return FCurrentKey.Get(); }

    bool ValueExists(const std::wstring& name);
    std::wstring ReadString(const std::wstring& name);
    int32_t ReadInteger(const std::wstring& name);
    void WriteString(const std::wstring& name, const std::wstring& value);
    void WriteInteger(const std::wstring& name, int32_t value);
    bool DeleteValue(const std::wstring& name);
    // Deletes a key (and everything under it) below the root.
    bool DeleteKey(const std::wstring& key);

    // Result code of the last registry call made through this object.
    LONG LastError() const { return FLastError; }
    // The system's text for LastError, empty when LastError is 0.
    std::wstring LastErrorMsg() const;

protected:
    LONG FLastError = ERROR_SUCCESS;

private:
    bool Open(const std::wstring& key, bool canCreate, REGSAM access);
    HKEY FRootKey = HKEY_CURRENT_USER;
    rtl::ScopedRegKey FCurrentKey;
};

class TRegistryErrorControlled : public TRegistry {
public:
    // Raises ERegistryException: [msg CR LF] system text " (" 8 hex digits ")".
    [[noreturn]] void RaiseLastRegistryError(const std::wstring& msg);
};

}  // namespace env
