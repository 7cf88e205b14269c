#include "tdsinfo/Module.h"

#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "tdsinfo/Console.h"

namespace tdsinfo {

namespace {

// The preferred load address from the module's PE header (0x400000 when unreadable).
uint32_t ImageBaseOf(const std::wstring& path) {
    uint32_t base = 0x400000;
    const rtl::ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return base;
    const HANDLE h = file.Get();
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS32 nt{};
    DWORD got = 0;
    if (ReadFile(h, &dos, sizeof(dos), &got, nullptr) && got == sizeof(dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(h, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(h, &nt, sizeof(nt), &got, nullptr) && got == sizeof(nt) && nt.Signature == IMAGE_NT_SIGNATURE &&
        nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        base = nt.OptionalHeader.ImageBase;
    return base;
}

}  // namespace

std::unique_ptr<crash::TModuleDebugInfo> OpenModule(const TOptions& o) {
    if (GetFileAttributesW(o.Module.c_str()) == INVALID_FILE_ATTRIBUTES) {
        PrintErr("tdsinfo: cannot find " + rtl::ToAnsi(o.Module) + "\n");
        return nullptr;
    }
    auto info = std::make_unique<crash::TModuleDebugInfo>(o.Module, nullptr);
    info->SetOfflineImageBase(o.BaseGiven ? o.Base : ImageBaseOf(o.Module));
    return info;
}

void PrintStats(const crash::TModuleDebugInfo& info, const TOptions& o) {
    Print(rtl::ToAnsi(rtl::Format(
        L"module: %ls\nloaded: %hs\nsignature: %hs\nsubsections: %d\nnames: %d\n"
        L"held after loading: %u bytes\nimage base: 0x%ls\n",
        o.Module.c_str(), info.Loaded() ? "yes" : "no", info.IsDelphiModule() ? "FB09" : (info.Loaded() ? "FB0A" : "-"),
        info.SubsectionCount(), info.NamesCount(), static_cast<unsigned>(info.HeldBytes()),
        rtl::IntToHex(info.OfflineImageBase(), 8).c_str())));
}

}  // namespace tdsinfo
