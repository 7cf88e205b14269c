// Helpers shared by the shell folder tests.
#pragma once
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "rtl/Win.h"
#include "shell/ShellHandles.h"

namespace shelltest {

inline std::wstring Upper(std::wstring s) {
    CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

inline bool IsDir(const std::wstring& p) {
    DWORD a = GetFileAttributesW(p.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Writes a shell link at `linkPath` to `target`.
inline void MakeLink(const std::wstring& linkPath, const std::wstring& target) {
    shell::TComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid()));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(target.c_str()));
    shell::TComPtr<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid()));
    ASSERT_HRESULT_SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

}  // namespace shelltest
