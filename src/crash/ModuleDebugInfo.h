// Debug information of one executable module: turns a code address into the
// compilation unit, the (mangled) procedure name, the source file and the
// source line, from TD32 data appended to the module file, in a .tds file
// beside it, or in a .tds file under the symbol folder.
//
// Lookups answer indexes into the module's names table (1-based) and -1 where
// nothing was found; GetName fetches the texts. The format itself is read by
// td32::TReader (Td32Reader.h) over the mapped file; this class finds the
// file, maps it and converts addresses of the running process.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/Td32Reader.h"
#include "rtl/Win.h"

namespace crash {

class TMMFileStream;
class TModuleDebugInfo;

// What the exception manager fills in from the lookups below.
struct TSourceInfo {
    TModuleDebugInfo* ModuleDebugInfo = nullptr;  // not owned
    std::wstring ModuleName;                      // the compilation unit
    std::wstring FileName;                        // source file as stored, possibly with a path
    std::wstring ProcName;                        // after unmangling
    int32_t LineNumber = -1;
    int32_t LineOffset = 0;  // logical address of the line's first instruction
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
    bool FindSourceLine(uint32_t logical, int32_t& srcFileNameIndex, int32_t& srcLineNum, int32_t& srcLineOffset) {
        return FReader.FindSourceLine(logical, srcFileNameIndex, srcLineNum, srcLineOffset);
    }
    bool FindModuleProc(uint32_t logical, int32_t& moduleNameIndex, int32_t& procNameIndex);
    // The same, and where a procedure was found, the logical address of its
    // first byte (for "procedure + offset"); procStart is 0 otherwise.
    bool FindModuleProc(uint32_t logical, int32_t& moduleNameIndex, int32_t& procNameIndex, uint32_t& procStart) {
        return FReader.FindModuleProc(logical, moduleNameIndex, procNameIndex, procStart);
    }

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
    bool Loaded() const { return FReader.Loaded(); }
    bool IsDelphiModule() const { return FReader.Signature() == td32::kSignatureFB09; }
    uint32_t Signature() const { return FReader.Signature(); }
    const IMAGE_NT_HEADERS* ImageHeaders() const { return FPImgHdr; }
    int32_t NamesCount() const { return FReader.NamesCount(); }
    int32_t SubsectionCount() const { return FReader.SubsectionCount(); }
    // File position of entry i's data; 0 when i is out of range.
    uint32_t GetSubsectionOffset(int32_t i) const { return FReader.GetSubsectionOffset(i); }
    // Bytes held after loading: the directory and one position per name.
    size_t HeldBytes() const { return FReader.HeldBytes(); }

    // Product version of a file's version resource as "a.b.c.d"; empty
    // when it has none.
    static std::wstring GetProductVersionText(const std::wstring& fileName);
    // Forgets the symbol folder read from the registry (for tests that set it).
    static void ForgetSymbolFolder();

private:
    bool LoadDebugInfo(const std::wstring& fileName);
    bool LoadFromFile(const std::wstring& path);
    bool LoadFromSymbolPath(const std::wstring& moduleFileName);
    void UnloadDebugInfo();
    // The file's tail is mapped first: it mostly holds the whole block.
    static constexpr uint32_t kTailView = 2u << 20;

    uint32_t FOfflineImageBase = 0x400000;
    std::unique_ptr<TMMFileStream> FMMFile;
    std::unique_ptr<td32::TByteSource> FSource;  // over FMMFile
    td32::TReader FReader;
    std::wstring FName;
    HMODULE FInstance = nullptr;
    const IMAGE_DOS_HEADER* FPDosHdr = nullptr;
    const IMAGE_NT_HEADERS* FPImgHdr = nullptr;
};

}  // namespace crash
