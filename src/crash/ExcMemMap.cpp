#include "crash/ExcMemMap.h"

#include <cstring>

#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace crash {

RTL_DEFINE_EXCEPTION_CLASS(EMMFileError, rtl::Exception)

namespace {

struct TAccess {
    DWORD File;        // CreateFile desired access
    DWORD Protection;  // CreateFileMapping page protection
    DWORD View;        // MapViewOfFile access
};

TAccess AccessOf(int32_t mode) {
    if ((mode & 3) == fmOpenReadWrite) return {GENERIC_READ | GENERIC_WRITE, PAGE_READWRITE, FILE_MAP_WRITE};
    return {GENERIC_READ, PAGE_READONLY, FILE_MAP_READ};
}

DWORD ShareOf(int32_t mode) {
    switch (mode & 0xF0) {
        case fmShareDenyWrite: return FILE_SHARE_READ;
        case fmShareDenyRead: return FILE_SHARE_WRITE;
        case fmShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
        default: return 0;  // compatible, exclusive and undefined values share nothing
    }
}

std::wstring LastErrorText() { return rtl::SysErrorMessage(GetLastError()); }

}  // namespace

TMMFileStream::TMMFileStream(const std::wstring& fileName, int32_t mode, const std::wstring& mapName) {
    if ((mode & 3) == fmOpenWrite) rtl::RaiseNew<EMMFileError>(L"Invalid file mode: fmOpenWrite");
    if ((mode & 3) == 3) rtl::RaiseNew<EMMFileError>(rtl::Format(L"Invalid file mode: %d", mode));
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    FGranula = si.dwAllocationGranularity ? si.dwAllocationGranularity : 65536;
    FMode = static_cast<uint32_t>(mode);

    TAccess access = AccessOf(mode);
    FFile.Reset(CreateFileW(fileName.c_str(), access.File, ShareOf(mode), nullptr, OPEN_EXISTING, 0, nullptr));
    if (!FFile) rtl::RaiseNew<EMMFileError>(L"Can't open file " + fileName + L": " + LastErrorText());
    FFileSize = GetFileSize(FFile.Get(), nullptr);
    FCurOffset = 0;

    FMappingName = mapName;
    for (wchar_t& c : FMappingName)
        if (c == L'\\') c = L'_';
    FMapping.Reset(CreateFileMappingW(FFile.Get(), nullptr, access.Protection, 0, 0,
                                      FMappingName.empty() ? nullptr : FMappingName.c_str()));
    if (!FMapping) {
        std::wstring text = LastErrorText();
        FFile.Reset();  // a raise runs no destructor
        rtl::RaiseNew<EMMFileError>(L"Can't create file mapping for " + fileName + L": " + text);
    }
}

TMMFileStream::~TMMFileStream() {
    UnMapData();  // then the mapping, then the file, as members go
}

void TMMFileStream::EnsureView(uint32_t offset, uint32_t count) {
    uint64_t end = uint64_t(offset) + count;
    if (FView && offset >= FViewOfs && end <= uint64_t(FViewOfs) + FViewSize) return;
    // The view is clipped at the end of the file; a request beyond it would
    // read unmapped memory, so it is refused here instead.
    if (end > FFileSize)
        rtl::RaiseNew<EMMFileError>(
            rtl::Format(L"Can't read %u bytes at offset %u: the file has %u bytes", count, offset, FFileSize));
    UnMapData();
    FViewOfs = offset / FGranula * FGranula;
    uint64_t size = ((end - FViewOfs) / FGranula + 1) * FGranula;
    if (FViewOfs + size > FFileSize) size = FFileSize - FViewOfs;
    FViewSize = static_cast<uint32_t>(size);
    if (FViewSize == 0)  // an empty request exactly at the end of the file
        rtl::RaiseNew<EMMFileError>(
            rtl::Format(L"Can't read %u bytes at offset %u: the file has %u bytes", count, offset, FFileSize));
    DWORD viewAccess = AccessOf(static_cast<int32_t>(FMode)).View;
    FView = static_cast<uint8_t*>(MapViewOfFile(FMapping.Get(), viewAccess, 0, FViewOfs, FViewSize));
    if (!FView) rtl::RaiseNew<EMMFileError>(L"Can't create file view: " + LastErrorText());
    ++FMapCount;
}

int32_t TMMFileStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    EnsureView(FCurOffset, static_cast<uint32_t>(count));
    std::memcpy(buffer, GetRawData(FCurOffset), static_cast<size_t>(count));
    FCurOffset += static_cast<uint32_t>(count);
    return count;
}

int32_t TMMFileStream::Write(const void*, int32_t count) {
    FCurOffset += static_cast<uint32_t>(count);
    return count;
}

int32_t TMMFileStream::Seek(int32_t offset, uint16_t origin) {
    switch (origin) {
        case soFromBeginning: FCurOffset = static_cast<uint32_t>(offset); break;
        case soFromCurrent: FCurOffset += static_cast<uint32_t>(offset); break;
        case soFromEnd: FCurOffset = FFileSize + static_cast<uint32_t>(offset); break;
        default: break;
    }
    return static_cast<int32_t>(FCurOffset);
}

uint8_t TMMFileStream::ReadByte() {
    uint8_t v;
    Read(&v, 1);
    return v;
}

uint16_t TMMFileStream::ReadWord() {
    uint16_t v;
    Read(&v, 2);
    return v;
}

uint32_t TMMFileStream::ReadDword() {
    uint32_t v;
    Read(&v, 4);
    return v;
}

void* TMMFileStream::ReadPointer() { return reinterpret_cast<void*>(static_cast<uintptr_t>(ReadDword())); }

const uint8_t* TMMFileStream::MapData(uint32_t offset, uint32_t size) {
    EnsureView(offset, size);
    return GetRawData(offset);
}

void TMMFileStream::UnMapData() {
    if (FView) UnmapViewOfFile(FView);
    FView = nullptr;
}

const uint8_t* TMMFileStream::GetRawData(uint32_t offset) const { return FView + (offset - FViewOfs); }

}  // namespace crash
