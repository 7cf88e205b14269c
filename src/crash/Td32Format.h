// On-disk layout of TD32 debug information: the block appended to a module
// file or stored in a .tds file. Shared by the reader and by the build-time
// converter that writes it; all integers are little-endian.
//
//   file end - 8:  signature ("FB09" or "FB0A"), total size of the block
//   block base:    signature, offset of the subsection directory
//   directory:     16-byte header, then 12-byte entries (type, unit, offset, size)
#pragma once
#include <cstdint>

namespace crash::td32 {

constexpr uint32_t kSignatureFB09 = 0x39304246;  // "FB09": the Pascal compiler's linker
constexpr uint32_t kSignatureFB0A = 0x41304246;  // "FB0A": the C++ compiler's linker

enum : uint16_t {
    sstModule = 0x0120,      // one per unit: name and code segments
    sstAlignSym = 0x0125,    // symbols of one unit (full form)
    sstSrcModule = 0x0127,   // source lines (full form)
    sstNames = 0x0130,       // names table
    sstProcRanges = 0xF125,  // procedure ranges of one unit (compact form)
    sstLineRuns = 0xF127,    // source lines (compact form)
};

enum : uint16_t { S_LPROC32 = 0x0204, S_GPROC32 = 0x0205 };

enum : uint32_t { kProcPlainRanges = 0, kProcPackedRanges = 2 };

constexpr uint32_t kModuleHeaderSize = 28;   // then 12-byte segment records
constexpr uint32_t kSegmentRecordSize = 12;  // segment, flags (bit 0 = code), start, length
constexpr uint32_t kProcBodyRead = 44;       // bytes of a procedure record body that are read
constexpr uint32_t kProcLengthAt = 12;       // offsets inside that body
constexpr uint32_t kProcStartAt = 24;
constexpr uint32_t kProcNameAt = 36;

#pragma pack(push, 1)
struct TDS_SubsectionHeader {
    uint16_t sshHeaderSize;  // 16
    uint16_t sshRecordSize;  // 12
    int32_t sshRecordCount;
    uint8_t reserved[8];
};
struct TDS_SubsectionEntry {
    uint16_t sseType;
    uint16_t sseModIndex;  // the unit the subsection belongs to
    uint32_t sseOffset;    // from the block base
    uint32_t sseSize;
};
#pragma pack(pop)
static_assert(sizeof(TDS_SubsectionHeader) == 16 && sizeof(TDS_SubsectionEntry) == 12);

}  // namespace crash::td32
