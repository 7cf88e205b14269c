// A zip archive of one file, written as it is read: a log of any size
// passes through a block of 64 KiB, deflated with zlib, into a file the
// archive goes to. Standard tools (unzip, Python's zipfile, Windows
// Explorer) open it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "rtl/Win.h"

namespace support {

struct TZipOfFile {
    uint32_t Crc32 = 0;
    uint32_t Size = 0;            // bytes of the file archived
    uint32_t CompressedSize = 0;  // bytes of its deflated data
    uint32_t ArchiveSize = 0;     // bytes of the whole archive
};

// The largest file an archive without the zip64 extension can hold.
constexpr uint64_t kMaxZipSourceSize = 0xFFFFFFFEu;

// Writes an archive with one entry, `entryName`, deflated, dated `modified`
// (in local time, as zip dates are), holding the bytes of `source` from its
// current position: `size` bytes, or fewer when the file ends sooner (a log
// cut short by its writer). `target` is an empty file open for writing and
// seeking. `onRead(bytesRead)` is called after each block and may raise to
// stop. Raises rtl::EInOutError with the system's code when reading or
// writing fails or the archive would need zip64.
TZipOfFile WriteZipOfFile(HANDLE source, uint64_t size, const std::wstring& entryName, const FILETIME& modified,
                          HANDLE target, const std::function<void(uint64_t)>& onRead = {});

}  // namespace support
