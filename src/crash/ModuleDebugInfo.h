// Debug information of one executable module: turns a code address into the
// compilation unit, the (mangled) procedure name, the source file and the
// source line, from TD32 data appended to the module file, in a .tds file
// beside it, or in a .tds file under the symbol folder.
//
// Lookups answer indexes into the module's names table (1-based) and -1 where
// nothing was found; GetName fetches the texts. The reader runs while the
// process is crashing, so every offset and count of the file is checked before
// use: corrupt data answers "nothing found", never a read outside the file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/Td32Format.h"
#include "rtl/Win.h"

namespace crash {

class TMMFileStream;
class TModuleDebugInfo;

// What the exception manager fills in from the lookups below.
struct TSourceInfo {
    TModuleDebugInfo* ModuleDebugInfo = nullptr;  // not owned
    std::wstring ModuleName;  // the compilation unit
    std::wstring FileName;    // source file as stored, possibly with a path
    std::wstring ProcName;    // after unmangling
    int32_t LineNumber = -1;
    int32_t LineOffset = 0;   // logical address of the line's first instruction
};

class TModuleDebugInfo {
public:
    // Loads at once; a module without debug information only leaves Loaded false.
    TModuleDebugInfo(const std::wstring& fileName, HMODULE instance);
    ~TModuleDebugInfo();
    TModuleDebugInfo(const TModuleDebugInfo&) = delete;
    TModuleDebugInfo& operator=(const TModuleDebugInfo&) = delete;

    // True when `address` lies in committed memory of this module's image.
    bool IsInCode(const void* address) const;
    // Logical addresses count from the module's load address plus 0x1000;
    // 0 stays 0.
    static uint32_t GetLogicalAddr(uint32_t address) { return address ? address - 0x1000 : 0; }
    uint32_t GetConvertedAddress(const void* address) const;

    bool SourceLine(const void* address, int32_t& srcFileNameIndex, int32_t& srcLineNum, int32_t& srcLineOffset);
    bool ProcName(const void* address, int32_t& moduleNameIndex, int32_t& procNameIndex);
    // Lookups by logical address (the call stack converts once itself).
    bool FindSourceLine(uint32_t logical, int32_t& srcFileNameIndex, int32_t& srcLineNum, int32_t& srcLineOffset);
    bool FindModuleProc(uint32_t logical, int32_t& moduleNameIndex, int32_t& procNameIndex);
    // The same, and where a procedure was found, the logical address of its
    // first byte (for "procedure + offset"); procStart is 0 otherwise.
    bool FindModuleProc(uint32_t logical, int32_t& moduleNameIndex, int32_t& procNameIndex, uint32_t& procStart);

    // Name number `index` of the names table; empty when there is none.
    std::wstring GetName(int32_t index);
    std::wstring Names(int32_t index) { return GetName(index); }

    // The bare file name of the module holding `address` (or of this module),
    // at most maxLen - 1 characters plus the terminating zero.
    void GetAddressModuleFileName(const void* address, wchar_t* dest, int32_t maxLen) const;

    uint32_t OfflineImageBase() const { return FOfflineImageBase; }
    void SetOfflineImageBase(uint32_t base) { FOfflineImageBase = base; }
    HMODULE Instance() const { return FInstance; }
    const std::wstring& ModuleName() const { return FName; }
    bool Loaded() const { return FLoaded; }
    bool IsDelphiModule() const { return FSignature == td32::kSignatureFB09; }
    uint32_t Signature() const { return FSignature; }
    const IMAGE_NT_HEADERS* ImageHeaders() const { return FPImgHdr; }
    int32_t NamesCount() const { return FNamesCount; }
    int32_t SubsectionCount() const { return FLoaded ? FTDSSubdir.sshRecordCount : 0; }
    // File position of entry i's data; 0 when i is out of range.
    uint32_t GetSubsectionOffset(int32_t i) const;
    // Bytes held after loading: the directory and one position per name.
    size_t HeldBytes() const;

    // Product version of a file's version resource as "a.b.c.d"; empty
    // when it has none.
    static std::wstring GetProductVersionText(const std::wstring& fileName);
    // Forgets the symbol folder read from the registry (for tests that set it).
    static void ForgetSymbolFolder();

private:
    bool LoadDebugInfo(const std::wstring& fileName);
    bool LoadFromFile(const std::wstring& path);
    bool LoadFromSymbolPath(const std::wstring& moduleFileName);
    bool LocateDebugData();
    bool ReadDebugHeader();
    bool ReadNames();
    void UnloadDebugInfo();
    int32_t FindProcNameIndex(uint32_t logical, uint16_t unit, uint32_t& procStart);
    // Maps the file from `offset` to its end in one view, which serves every
    // later read inside it.
    void MapToEnd(uint32_t offset);
    static constexpr uint32_t kTailView = 2u << 20;
    static constexpr uint32_t kMaxWholeView = 64u << 20;
    // File span of entry i's data when it lies wholly inside the file.
    bool SubsectionSpan(int32_t i, uint32_t& start, uint32_t& size) const;

    uint32_t FOfflineImageBase = 0x400000;
    std::unique_ptr<TMMFileStream> FMMFile;
    std::wstring FName;
    bool FLoaded = false;
    HMODULE FInstance = nullptr;
    const IMAGE_DOS_HEADER* FPDosHdr = nullptr;
    const IMAGE_NT_HEADERS* FPImgHdr = nullptr;
    uint32_t FSignature = 0;
    uint32_t FTDSTotalSize = 0;
    uint32_t FTDSOffset = 0;
    uint32_t FTDSDataSize = 0;
    td32::TDS_SubsectionHeader FTDSSubdir{};
    std::vector<td32::TDS_SubsectionEntry> FTDSEntries;
    int32_t FNamesCount = 0;
    std::vector<uint32_t> FNameIndexes;
};

}  // namespace crash
