#include "crash/ModuleDebugInfo.h"

#include <cstring>

#include "crash/ExcMemMap.h"
#include "env/ErrorControlledRegistry.h"
#include "env/OwnMemory.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace crash {

using namespace td32;

namespace {

// A mapped span of one subsection; every read is checked against its size
// first (64-bit sums, so no offset or count can wrap around).
struct TBytes {
    const uint8_t* P = nullptr;
    uint32_t N = 0;

    bool Has(uint64_t offset, uint64_t length) const { return offset + length <= N; }
    uint8_t U8(uint32_t o) const { return P[o]; }
    uint16_t U16(uint32_t o) const {
        uint16_t v;
        std::memcpy(&v, P + o, 2);
        return v;
    }
    uint32_t U32(uint32_t o) const {
        uint32_t v;
        std::memcpy(&v, P + o, 4);
        return v;
    }
    // A packed number: bit 0 clear = 1 byte (7 bits); bits 0,1 = 1,0 = 2 bytes
    // (14 bits); both set = 4 bytes (30 bits). False when it runs off the span.
    bool Packed(uint32_t& pos, uint32_t& value) const {
        if (!Has(pos, 1)) return false;
        uint8_t b = P[pos];
        if (!(b & 1)) {
            value = b >> 1;
            pos += 1;
        } else if (!(b & 2)) {
            if (!Has(pos, 2)) return false;
            value = U16(pos) >> 2;
            pos += 2;
        } else {
            if (!Has(pos, 4)) return false;
            value = U32(pos) >> 2;
            pos += 4;
        }
        return true;
    }
};

// The symbol folder from the registry: read once per process, "!" when none.
std::wstring gSymbolFolder;

bool FileExists(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ChangeFileExt(const std::wstring& path, const std::wstring& ext) {
    size_t dot = path.find_last_of(L".\\/:");
    if (dot != std::wstring::npos && path[dot] == L'.') return path.substr(0, dot) + ext;
    return path + ext;
}

bool Inside(uint32_t a, uint32_t start, uint32_t endInclusive) { return start <= a && a <= endInclusive; }

// Searches one full-form line subsection (see Td32Format.h for the layout).
bool SearchFullLines(const TBytes& d, uint32_t a, int32_t& fileIndex, int32_t& lineNum, int32_t& lineOffset) {
    if (!d.Has(0, 4)) return false;
    uint32_t files = d.U16(0), ranges = d.U16(2);
    uint32_t rangeTable = 4 + 4 * files;
    if (!d.Has(rangeTable, 8ull * ranges)) return false;
    for (uint32_t s = 0; s < ranges; ++s) {
        if (!Inside(a, d.U32(rangeTable + 8 * s), d.U32(rangeTable + 8 * s + 4))) continue;
        for (uint32_t f = 0; f < files; ++f) {
            uint32_t fo = d.U32(4 + 4 * f);
            if (!d.Has(fo, 6)) continue;
            uint32_t fileRanges = d.U16(fo);
            uint32_t name = d.U32(fo + 2);
            uint32_t blocks = fo + 6, starts = blocks + 4 * fileRanges;
            if (!d.Has(blocks, 12ull * fileRanges)) continue;
            for (uint32_t r = 0; r < fileRanges; ++r) {
                if (!Inside(a, d.U32(starts + 8 * r), d.U32(starts + 8 * r + 4))) continue;
                uint32_t bo = d.U32(blocks + 4 * r);
                if (!d.Has(bo, 4)) continue;
                int32_t m = d.U16(bo + 2);
                if (m == 0 || !d.Has(bo + 4ull, 6ull * m)) continue;
                uint32_t addrs = bo + 4, lines = addrs + 4 * m;
                // Bisection for the last entry that starts at or below the address.
                int32_t lo = 0, hi = m - 1;
                while (lo < hi - 1) {
                    int32_t mid = (lo + hi) / 2;
                    if (d.U32(addrs + 4 * mid) > a) hi = mid;
                    else lo = mid;
                }
                int32_t chosen = d.U32(addrs + 4 * hi) <= a ? hi : lo;
                lineOffset = static_cast<int32_t>(d.U32(addrs + 4 * chosen));
                lineNum = d.U16(lines + 2 * chosen);
                if (lineNum == 0) {  // no source line here: try the next range
                    lineNum = -1;
                    continue;
                }
                fileIndex = static_cast<int32_t>(name);
                return true;
            }
        }
    }
    return false;
}

// Searches one compact line subsection: ranges, each with a run of
// (address step, line step) pairs from a first address and line.
bool SearchLineRuns(const TBytes& d, uint32_t a, int32_t& fileIndex, int32_t& lineNum, int32_t& lineOffset) {
    if (!d.Has(0, 8) || d.U32(0) != 1) return false;
    uint32_t count = d.U32(4);
    for (uint32_t k = 0; k < count; ++k) {
        uint64_t e = 8 + 16ull * k;
        if (!d.Has(e, 16)) return false;
        uint32_t at = static_cast<uint32_t>(e);
        if (!Inside(a, d.U32(at), d.U32(at + 4))) continue;
        uint32_t run = d.U32(at + 12);
        if (!d.Has(run, 12)) return false;
        uint32_t steps = d.U32(run);
        uint32_t address = d.U32(run + 4);
        int32_t line = static_cast<int32_t>(d.U32(run + 8));
        for (uint32_t j = 0; j < steps; ++j) {
            uint64_t p = run + 12 + 2ull * j;
            if (!d.Has(p, 2)) break;  // a cut run ends where the data ends
            uint8_t step = d.U8(static_cast<uint32_t>(p));
            int8_t lineStep = static_cast<int8_t>(d.U8(static_cast<uint32_t>(p + 1)));
            if (uint64_t(address) + step > a) break;
            address += step;
            line += lineStep;
        }
        lineNum = line;
        lineOffset = static_cast<int32_t>(address);
        fileIndex = static_cast<int32_t>(d.U32(at + 8));
        return true;
    }
    return false;
}

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
    FMMFile.reset();
    FTDSEntries = {};
    FNameIndexes = {};
    FNamesCount = 0;
    FLoaded = false;
}

bool TModuleDebugInfo::LoadDebugInfo(const std::wstring& fileName) {
    UnloadDebugInfo();
    if (LoadFromFile(fileName)) return true;
    if (LoadFromFile(ChangeFileExt(fileName, L".TDS"))) return true;
    return LoadFromSymbolPath(fileName);
}

bool TModuleDebugInfo::LoadFromFile(const std::wstring& path) {
    UnloadDebugInfo();
    if (!FileExists(path)) return false;
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
            MapToEnd(size > kTailView ? size - kTailView : 0);
            ok = LocateDebugData();
        },
        rtl::OnAny([&](rtl::Exception&) { ok = false; }));
    // A failed attempt keeps nothing open.
    if (!ok && !FLoaded) UnloadDebugInfo();
    return ok;
}

bool TModuleDebugInfo::LocateDebugData() {
    uint32_t size = FMMFile->Size();
    if (size >= 8) {
        FMMFile->Seek(-8, soFromEnd);
        uint32_t signature = FMMFile->ReadDword();
        if (signature == kSignatureFB09 || signature == kSignatureFB0A) {
            FTDSTotalSize = FMMFile->ReadDword();
            if (FTDSTotalSize >= 8 && FTDSTotalSize <= size) {
                MapToEnd(size - FTDSTotalSize);
                FMMFile->Seek(static_cast<int32_t>(size - FTDSTotalSize), soFromBeginning);
                return ReadDebugHeader();
            }
        }
    }
    UnloadDebugInfo();
    return false;
}

bool TModuleDebugInfo::ReadDebugHeader() {
    uint32_t signature = FMMFile->ReadDword();
    if (signature != kSignatureFB09 && signature != kSignatureFB0A) return false;
    FSignature = signature;
    FTDSOffset = FMMFile->Position() - 4;
    FTDSDataSize = FMMFile->ReadDword();
    uint64_t dir = uint64_t(FTDSOffset) + FTDSDataSize;
    uint32_t size = FMMFile->Size();
    if (dir + sizeof(TDS_SubsectionHeader) > size) return false;
    FMMFile->Seek(static_cast<int32_t>(dir), soFromBeginning);
    FMMFile->Read(&FTDSSubdir, sizeof(FTDSSubdir));
    if (FTDSSubdir.sshHeaderSize != sizeof(TDS_SubsectionHeader) || FTDSSubdir.sshRecordSize != sizeof(TDS_SubsectionEntry))
        return false;
    // The entries must lie in the file: an absurd count is refused before
    // anything is allocated for it.
    int32_t count = FTDSSubdir.sshRecordCount;
    if (count < 0 || dir + sizeof(TDS_SubsectionHeader) + uint64_t(count) * sizeof(TDS_SubsectionEntry) > size)
        return false;
    FTDSEntries.resize(static_cast<size_t>(count));
    if (count) FMMFile->Read(FTDSEntries.data(), count * static_cast<int32_t>(sizeof(TDS_SubsectionEntry)));
    bool names = ReadNames();
    FLoaded = true;
    return names;
}

bool TModuleDebugInfo::SubsectionSpan(int32_t i, uint32_t& start, uint32_t& size) const {
    if (i < 0 || static_cast<size_t>(i) >= FTDSEntries.size() || !FMMFile) return false;
    const TDS_SubsectionEntry& e = FTDSEntries[static_cast<size_t>(i)];
    uint64_t begin = uint64_t(FTDSOffset) + e.sseOffset;
    if (begin + e.sseSize > FMMFile->Size()) return false;
    start = static_cast<uint32_t>(begin);
    size = e.sseSize;
    return true;
}

void TModuleDebugInfo::MapToEnd(uint32_t offset) {
    // One view of the whole debug block serves the loading and every later
    // lookup: mapping and unmapping a window per subsection visited costs
    // far more than the search itself. A view inside the current one maps
    // nothing; blocks too large for a comfortable share of the address
    // space, or a view the system refuses, keep the stream's small windows.
    // The view shares the file's pages; nothing is copied.
    uint32_t size = FMMFile->Size();
    if (offset >= size || size - offset > kMaxWholeView) return;
    rtl::Try([&] { FMMFile->MapData(offset, size - offset); }, rtl::OnAny([&](rtl::Exception&) {}));
}

uint32_t TModuleDebugInfo::GetSubsectionOffset(int32_t i) const {
    if (i < 0 || static_cast<size_t>(i) >= FTDSEntries.size()) return 0;
    return FTDSEntries[static_cast<size_t>(i)].sseOffset + FTDSOffset;
}

bool TModuleDebugInfo::ReadNames() {
    int32_t found = -1;
    for (int32_t i = static_cast<int32_t>(FTDSEntries.size()) - 1; i >= 0; --i)
        if (FTDSEntries[static_cast<size_t>(i)].sseType == sstNames) {
            found = i;
            break;
        }
    uint32_t start, size;
    if (found < 0 || !SubsectionSpan(found, start, size) || size < 4) return false;
    FMMFile->Seek(static_cast<int32_t>(start), soFromBeginning);
    uint32_t count = FMMFile->ReadDword();
    // Each name takes at least two bytes (length and terminator), which
    // bounds the table by the subsection whatever the count says.
    uint32_t end = start + size;
    FNameIndexes.reserve(count < size / 2 ? count : size / 2);
    uint32_t pos = start + 4;
    for (uint32_t k = 0; k < count && pos < end; ++k) {
        uint32_t length = *FMMFile->MapData(pos, 1);
        if (uint64_t(pos) + 1 + length > end) break;  // a name cut off by the end of the table
        FNameIndexes.push_back(pos);
        pos += length + 2;
    }
    FNamesCount = static_cast<int32_t>(FNameIndexes.size());
    return true;
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
                             ChangeFileExt(rtl::ExtractFileName(moduleFileName), L".tds");
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
    if (index < 1 || index > FNamesCount || FNameIndexes.empty() || !FMMFile) return L"";
    uint32_t pos = FNameIndexes[static_cast<size_t>(index - 1)];
    uint32_t length = *FMMFile->MapData(pos, 1);
    if (length == 0) return L"";
    std::string bytes(reinterpret_cast<const char*>(FMMFile->MapData(pos + 1, length)), length);
    return rtl::FromAnsi(bytes);
}

bool TModuleDebugInfo::FindModuleProc(uint32_t a, int32_t& moduleNameIndex, int32_t& procNameIndex) {
    uint32_t procStart;
    return FindModuleProc(a, moduleNameIndex, procNameIndex, procStart);
}

bool TModuleDebugInfo::FindModuleProc(uint32_t a, int32_t& moduleNameIndex, int32_t& procNameIndex,
                                      uint32_t& procStart) {
    moduleNameIndex = -1;
    procNameIndex = -1;
    procStart = 0;
    if (!FLoaded) return false;
    bool found = false;
    for (size_t i = 0; i < FTDSEntries.size() && !found; ++i) {
        if (FTDSEntries[i].sseType != sstModule) continue;
        uint32_t start, size;
        if (!SubsectionSpan(static_cast<int32_t>(i), start, size) || size < kModuleHeaderSize) continue;
        TBytes d{FMMFile->MapData(start, size), size};
        int32_t segments = static_cast<int16_t>(d.U16(4));
        uint32_t unitName = d.U32(8);
        for (int32_t s = 0; s < segments; ++s) {
            uint64_t rec = kModuleHeaderSize + uint64_t(kSegmentRecordSize) * s;
            if (!d.Has(rec, kSegmentRecordSize)) break;  // only records inside the subsection count
            uint32_t r = static_cast<uint32_t>(rec);
            uint32_t segStart = d.U32(r + 4), segLength = d.U32(r + 8);
            if ((d.U16(r + 2) & 1) && segStart <= a && a < uint64_t(segStart) + segLength) {
                moduleNameIndex = static_cast<int32_t>(unitName);
                procNameIndex = FindProcNameIndex(a, FTDSEntries[i].sseModIndex, procStart);
                found = true;
                break;
            }
        }
    }
    return found;
}

int32_t TModuleDebugInfo::FindProcNameIndex(uint32_t a, uint16_t unit, uint32_t& procStart) {
    int32_t result = -1;
    procStart = 0;
    if (!FLoaded) return -1;
    for (size_t i = 0; i < FTDSEntries.size(); ++i) {
        const TDS_SubsectionEntry& e = FTDSEntries[i];
        if (e.sseModIndex != unit || (e.sseType != sstAlignSym && e.sseType != sstProcRanges)) continue;
        uint32_t start, size;
        if (!SubsectionSpan(static_cast<int32_t>(i), start, size) || size < 4) continue;
        TBytes d{FMMFile->MapData(start, size), size};
        if (e.sseType == sstAlignSym) {
            if (d.U32(0) != 1) continue;
            // Records: 16-bit length (of what follows it), 16-bit type, body.
            for (uint32_t p = 4; uint64_t(p) + 4 <= size; p += uint32_t(d.U16(p)) + 2) {
                uint16_t type = d.U16(p + 2);
                if ((type == S_LPROC32 || type == S_GPROC32) && d.Has(p + 4ull, kProcBodyRead)) {
                    uint32_t body = p + 4;
                    uint32_t length = d.U32(body + kProcLengthAt), start = d.U32(body + kProcStartAt);
                    if (start <= a && a < uint64_t(start) + length) {
                        procStart = start;
                        return static_cast<int32_t>(d.U32(body + kProcNameAt));
                    }
                }
            }
            continue;
        }
        // Compact form: version, kind, count, first name index, then ranges.
        if (!d.Has(0, 16) || d.U32(0) != 1) continue;
        uint32_t kind = d.U32(4), count = d.U32(8), first = d.U32(12);
        if (kind == kProcPlainRanges) {
            for (uint32_t k = 0; k < count; ++k) {
                uint64_t r = 16 + 8ull * k;
                if (!d.Has(r, 8)) break;
                if (Inside(a, d.U32(static_cast<uint32_t>(r)), d.U32(static_cast<uint32_t>(r + 4)))) {
                    result = static_cast<int32_t>(first + k);
                    procStart = d.U32(static_cast<uint32_t>(r));
                    break;
                }
            }
        } else if (kind == kProcPackedRanges) {
            // Ascending (start step, length) pairs from a base address; the
            // first procedure above the address ends the search.
            result = -1;
            if (!d.Has(16, 4)) continue;
            uint32_t running = d.U32(16), pos = 20;
            for (uint32_t k = 0; k < count; ++k) {
                uint32_t step, length;
                if (!d.Packed(pos, step) || !d.Packed(pos, length)) break;
                running += step;
                if (a < running) break;
                if (length && a <= running + length - 1) {
                    result = static_cast<int32_t>(first + k);
                    procStart = running;
                    break;
                }
            }
        } else {
            procStart = 0;
            return -1;
        }
    }
    if (result < 0) procStart = 0;  // a later subsection took back an earlier answer
    return result;
}

bool TModuleDebugInfo::FindSourceLine(uint32_t a, int32_t& srcFileNameIndex, int32_t& srcLineNum,
                                      int32_t& srcLineOffset) {
    srcFileNameIndex = -1;
    srcLineNum = -1;
    if (!FLoaded) return false;
    bool found = false;
    for (size_t i = 0; i < FTDSEntries.size() && !found; ++i) {
        uint16_t type = FTDSEntries[i].sseType;
        if (type != sstSrcModule && type != sstLineRuns) continue;
        uint32_t start, size;
        if (!SubsectionSpan(static_cast<int32_t>(i), start, size) || size == 0) continue;
        TBytes d{FMMFile->MapData(start, size), size};
        found = type == sstSrcModule ? SearchFullLines(d, a, srcFileNameIndex, srcLineNum, srcLineOffset)
                                     : SearchLineRuns(d, a, srcFileNameIndex, srcLineNum, srcLineOffset);
    }
    return found;
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

size_t TModuleDebugInfo::HeldBytes() const {
    return FTDSEntries.size() * sizeof(TDS_SubsectionEntry) + FNameIndexes.size() * sizeof(uint32_t);
}

}  // namespace crash
