// A read-only stream over an existing file that reads through a small view of
// the file mapped into memory: the debug information reader walks large
// debug files without loading them. One mapping object covers the whole file;
// only a window aligned to the allocation granularity around the requested
// bytes is mapped, reused while requests stay inside it.
//
// Requests that reach past the end of the file raise EMMFileError instead of
// touching memory beyond the view, so a corrupt offset can never fault.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/Exception.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

namespace crash {

class EMMFileError : public rtl::Exception {
    RTL_EXCEPTION_CLASS(EMMFileError)
    using rtl::Exception::Exception;
};

// Open modes in the runtime library's convention: the low two bits give the
// access, bits 4 to 7 the sharing.
enum : int32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
};

enum : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TMMFileStream {
public:
    // Opens the file and creates its mapping object; `mapName` names the
    // mapping with every backslash turned into an underscore (an existing
    // mapping of that name is shared).
    TMMFileStream(const std::wstring& fileName, int32_t mode, const std::wstring& mapName);
    ~TMMFileStream();
    TMMFileStream(const TMMFileStream&) = delete;
    TMMFileStream& operator=(const TMMFileStream&) = delete;

    // Copies `count` bytes at the position and advances it; answers `count`.
    int32_t Read(void* buffer, int32_t count);
    // Writing is not supported: only the position moves.
    int32_t Write(const void* buffer, int32_t count);
    // Origin soFromBeginning, soFromCurrent or soFromEnd; answers the new
    // position. Never maps and never checks the result against the size.
    int32_t Seek(int32_t offset, uint16_t origin);

    uint8_t ReadByte();
    uint16_t ReadWord();
    uint32_t ReadDword();
    void* ReadPointer();

    // Pointer to the byte at file offset `offset`, valid for `size` bytes
    // until the next read, MapData or UnMapData.
    const uint8_t* MapData(uint32_t offset, uint32_t size);
    void UnMapData();
    // Pointer to file offset `offset` inside the current view; maps nothing.
    const uint8_t* GetRawData(uint32_t offset) const;
    const uint8_t* RawData(uint32_t offset) const { return GetRawData(offset); }

    uint32_t Size() const { return FFileSize; }
    uint32_t Position() const { return FCurOffset; }
    void SetPosition(uint32_t pos) { FCurOffset = pos; }

    // The view, for callers that check how much is mapped.
    bool HasView() const { return FView != nullptr; }
    uint32_t ViewOffset() const { return FViewOfs; }
    uint32_t ViewSize() const { return FViewSize; }
    uint32_t Granularity() const { return FGranula; }
    // How many views were mapped so far (reuse shows as no change).
    uint32_t MapCount() const { return FMapCount; }
    const std::wstring& MappingName() const { return FMappingName; }

private:
    void EnsureView(uint32_t offset, uint32_t count);

    rtl::ScopedFileHandle FFile;
    uint32_t FMode = 0;
    uint32_t FFileSize = 0;
    uint32_t FCurOffset = 0;
    rtl::ScopedKernelObject FMapping;
    uint8_t* FView = nullptr;
    uint32_t FViewOfs = 0;
    uint32_t FViewSize = 0;
    uint32_t FGranula = 0;
    uint32_t FMapCount = 0;
    std::wstring FMappingName;
};

}  // namespace crash
