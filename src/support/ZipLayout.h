// The records of a zip archive as PKWARE's APPNOTE.TXT lays them out
// (sections 4.3.7, 4.3.12 and 4.3.16): little-endian, no padding. The
// archive writer and the tests' reader both use these definitions.
#pragma once
#include <cstdint>

namespace support::zip {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;    // "PK\3\4"
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;  // "PK\1\2"
constexpr uint32_t kEndRecordSignature = 0x06054B50;      // "PK\5\6"
constexpr uint16_t kVersionDeflate = 20;                  // 2.0: deflate
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagUtf8Name = 1 << 11;  // bit 11: name in UTF-8, else code page 437
// Sizes and offsets of 0xFFFFFFFF mean "see the zip64 extra field", which we
// do not write: an archive without it holds less than that.
constexpr uint32_t kZip32Limit = 0xFFFFFFFFu;

#pragma pack(push, 1)
// Before each entry's data; followed by the name and the extra field.
struct TLocalHeader {
    uint32_t Signature;
    uint16_t VersionNeeded;
    uint16_t Flags;
    uint16_t Method;
    uint16_t ModTime;  // MS-DOS: hour << 11 | minute << 5 | second / 2
    uint16_t ModDate;  // MS-DOS: (year - 1980) << 9 | month << 5 | day
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t NameLength;
    uint16_t ExtraLength;
};
// One per entry in the central directory; followed by name, extra field
// and comment.
struct TCentralHeader {
    uint32_t Signature;
    uint16_t VersionMadeBy;  // high byte 0: MS-DOS attributes
    uint16_t VersionNeeded;
    uint16_t Flags;
    uint16_t Method;
    uint16_t ModTime;
    uint16_t ModDate;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t NameLength;
    uint16_t ExtraLength;
    uint16_t CommentLength;
    uint16_t DiskStart;
    uint16_t InternalAttributes;
    uint32_t ExternalAttributes;
    uint32_t LocalHeaderOffset;
};
// Ends the archive; followed by the archive's comment.
struct TEndRecord {
    uint32_t Signature;
    uint16_t Disk;
    uint16_t CentralDirectoryDisk;
    uint16_t DiskEntries;
    uint16_t TotalEntries;
    uint32_t CentralDirectorySize;
    uint32_t CentralDirectoryOffset;
    uint16_t CommentLength;
};
#pragma pack(pop)
static_assert(sizeof(TLocalHeader) == 30 && sizeof(TCentralHeader) == 46 && sizeof(TEndRecord) == 22);

}  // namespace support::zip
