#include "env/Version.h"

#include "rtl/Text.h"

namespace env {

static TFileVersion gProgramVersion;

TFileVersion ReadModuleFileVersion(HMODULE module) {
    TFileVersion v;
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (!res) return v;
    HGLOBAL loaded = LoadResource(module, res);
    DWORD size = SizeofResource(module, res);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data) return v;
    // VS_VERSIONINFO: a header, the key L"VS_VERSION_INFO", padding to 32 bits,
    // then VS_FIXEDFILEINFO; find it by its signature rather than by layout.
    for (DWORD off = 0; off + sizeof(VS_FIXEDFILEINFO) <= size; off += 4) {
        auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(data + off);
        if (fixed->dwSignature == 0xFEEF04BD) {
            v.MS = fixed->dwFileVersionMS;
            v.LS = fixed->dwFileVersionLS;
            break;
        }
    }
    return v;
}

void InitVersionInfo(HMODULE module) {
    gProgramVersion = ReadModuleFileVersion(module ? module : GetModuleHandleW(nullptr));
}

std::wstring FormatVersion(const TFileVersion& v) {
    return rtl::Format(L"%u.%u.%u.%u", v.MS >> 16, v.MS & 0xFFFF, v.LS >> 16, v.LS & 0xFFFF);
}

std::wstring GetProgramVersionText() { return FormatVersion(gProgramVersion); }

}  // namespace env
