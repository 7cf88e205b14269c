#include "crash/ModuleDebugInfo.h"

#include <cstring>

#include "crash/ExcMemMap.h"
#include "env/ErrorControlledRegistry.h"
#include "env/OwnMemory.h"
#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace crash {

namespace {

// Blocks larger than this share of the address space keep the stream's
// small windows.
constexpr uint32_t kMaxWholeView = 64u << 20;

void MapToEnd(TMMFileStream& file, uint32_t offset) {
    // One view of the whole debug block serves the loading and every later
    // lookup: mapping and unmapping a window per subsection visited costs
    // far more than the search itself. A view inside the current one maps
    // nothing; a view the system refuses leaves the small windows. The view
    // shares the file's pages; nothing is copied.
    uint32_t size = file.Size();
    if (offset >= size || size - offset > kMaxWholeView) return;
    rtl::Try([&] { file.MapData(offset, size - offset); }, rtl::OnAny([&](rtl::Exception&) {}));
}

// The symbol folder from the registry: read once per process, "!" when none.
std::wstring gSymbolFolder;

// The module file through its mapped stream. Requests the reader checked
// lie in the file; a view the system refuses raises EMMFileError.
class TMappedSource : public td32::TByteSource {
public:
    explicit TMappedSource(TMMFileStream& file) : FFile(file) {}
    uint32_t Size() const override { return FFile.Size(); }
    const uint8_t* Bytes(uint32_t offset, uint32_t size) override {
        if (uint64_t(offset) + size > FFile.Size()) return nullptr;
        return FFile.MapData(offset, size);
    }
    void BlockAt(uint32_t offset) override { MapToEnd(FFile, offset); }

private:
    TMMFileStream& FFile;
};

}  // namespace

TModuleDebugInfo::TModuleDebugInfo(const std::wstring& fileName, HMODULE instance)
    : FName(fileName), FInstance(instance) {
    if (instance) {
        FPDosHdr = reinterpret_cast<const IMAGE_DOS_HEADER*>(instance);
        LONG lfanew = 0;
        if (env::ReadOwnMemory(&FPDosHdr->e_lfanew, &lfanew, sizeof(lfanew)))
            FPImgHdr = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const uint8_t*>(instance) + lfanew);
    }
    LoadDebugInfo(fileName);
}

TModuleDebugInfo::~TModuleDebugInfo() { UnloadDebugInfo(); }

void TModuleDebugInfo::UnloadDebugInfo() {
    FReader.Unload();
    FSource.reset();
    FMMFile.reset();
}

bool TModuleDebugInfo::LoadDebugInfo(const std::wstring& fileName) {
    UnloadDebugInfo();
    if (LoadFromFile(fileName)) return true;
    if (LoadFromFile(rtl::ChangeFileExt(fileName, L".TDS"))) return true;
    return LoadFromSymbolPath(fileName);
}

bool TModuleDebugInfo::LoadFromFile(const std::wstring& path) {
    UnloadDebugInfo();
    if (!rtl::FileExists(path)) return false;
    bool ok = false;
    rtl::Try(
        [&] {
            wchar_t full[MAX_PATH * 2];
            DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
            std::wstring fullPath = (n > 0 && n < MAX_PATH * 2) ? std::wstring(full, n) : path;
            FMMFile = std::make_unique<TMMFileStream>(path, fmOpenRead | fmShareDenyNone, L"ZudAvizi." + fullPath);
            // The debug block ends the file and is mostly far smaller than
            // the code and other debug formats before it: a view of the
            // file's tail usually holds all of it.
            uint32_t size = FMMFile->Size();
            MapToEnd(*FMMFile, size > kTailView ? size - kTailView : 0);
            FSource = std::make_unique<TMappedSource>(*FMMFile);
            ok = FReader.Load(*FSource);
        },
        rtl::OnAny([&](rtl::Exception&) { ok = false; }));
    // A failed attempt keeps nothing open.
    if (!ok && !FReader.Loaded()) UnloadDebugInfo();
    return ok;
}

bool TModuleDebugInfo::LoadFromSymbolPath(const std::wstring& moduleFileName) {
    if (gSymbolFolder.empty()) {
        std::wstring folder;
        env::TRegistryErrorControlled reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        if (reg.OpenKeyReadOnly(L"Software\\Quillfen\\Exception") && reg.ValueExists(L"SymbolPath"))
            folder = reg.ReadString(L"SymbolPath");
        if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
        gSymbolFolder = folder.empty() ? L"!" : folder;
    }
    if (gSymbolFolder == L"!") return false;
    std::wstring candidate = gSymbolFolder + GetProductVersionText(moduleFileName) + L"\\" +
                             rtl::ChangeFileExt(rtl::ExtractFileName(moduleFileName), L".tds");
    return LoadFromFile(candidate);
}

void TModuleDebugInfo::ForgetSymbolFolder() { gSymbolFolder.clear(); }

std::wstring TModuleDebugInfo::GetProductVersionText(const std::wstring& fileName) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(fileName.c_str(), &handle);
    if (!size) return L"";
    std::vector<uint8_t> data(size);
    if (!GetFileVersionInfoW(fileName.c_str(), 0, size, data.data())) return L"";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed || len < sizeof(*fixed))
        return L"";
    return rtl::Format(L"%u.%u.%u.%u", fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
                       fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
}

bool TModuleDebugInfo::IsInCode(const void* address) const {
    MEMORY_BASIC_INFORMATION mbi;
    return VirtualQuery(address, &mbi, sizeof(mbi)) == sizeof(mbi) &&
           mbi.AllocationBase == reinterpret_cast<void*>(FInstance) && mbi.State == MEM_COMMIT;
}

uint32_t TModuleDebugInfo::GetConvertedAddress(const void* address) const {
    uint32_t a = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    if (!FInstance) return GetLogicalAddr(a - FOfflineImageBase);
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(address, &mbi, sizeof(mbi)) == sizeof(mbi) && mbi.State == MEM_COMMIT)
        return GetLogicalAddr(a - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mbi.AllocationBase)));
    return GetLogicalAddr(a);
}

bool TModuleDebugInfo::SourceLine(const void* address, int32_t& srcFileNameIndex, int32_t& srcLineNum,
                                  int32_t& srcLineOffset) {
    return FindSourceLine(GetConvertedAddress(address), srcFileNameIndex, srcLineNum, srcLineOffset);
}

bool TModuleDebugInfo::ProcName(const void* address, int32_t& moduleNameIndex, int32_t& procNameIndex) {
    return FindModuleProc(GetConvertedAddress(address), moduleNameIndex, procNameIndex);
}

std::wstring TModuleDebugInfo::GetName(int32_t index) {
    std::string bytes = FReader.GetName(index);
    return bytes.empty() ? std::wstring() : rtl::FromAnsi(bytes);
}

bool TModuleDebugInfo::FindModuleProc(uint32_t a, int32_t& moduleNameIndex, int32_t& procNameIndex) {
    uint32_t procStart;
    return FReader.FindModuleProc(a, moduleNameIndex, procNameIndex, procStart);
}

void TModuleDebugInfo::GetAddressModuleFileName(const void* address, wchar_t* dest, int32_t maxLen) const {
    if (!dest || maxLen <= 0) return;
    wchar_t path[261] = {};
    DWORD n = 0;
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(address, &mbi, sizeof(mbi)) == sizeof(mbi) && mbi.State == MEM_COMMIT)
        n = GetModuleFileNameW(static_cast<HMODULE>(mbi.AllocationBase), path, 261);
    if (n == 0) n = GetModuleFileNameW(FInstance, path, 261);
    path[n < 261 ? n : 260] = 0;
    const wchar_t* name = wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    size_t len = wcslen(name);
    if (len > static_cast<size_t>(maxLen - 1)) len = static_cast<size_t>(maxLen - 1);
    std::memcpy(dest, name, len * sizeof(wchar_t));
    dest[len] = 0;
}

}  // namespace crash
