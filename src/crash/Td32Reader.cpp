#include "crash/Td32Reader.h"

#include <cstring>

namespace crash::td32 {

namespace {

// The bytes of one subsection; every read is checked against its size
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
                    if (d.U32(addrs + 4 * mid) > a)
                        hi = mid;
                    else
                        lo = mid;
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

bool TReader::ReadDword(uint32_t offset, uint32_t& value) {
    const uint8_t* p = FSource->Bytes(offset, 4);
    if (!p) return false;
    std::memcpy(&value, p, 4);
    return true;
}

void TReader::Unload() {
    FSource = nullptr;
    FEntries = {};
    FNameIndexes = {};
    FNamesCount = 0;
    FLoaded = false;
}

bool TReader::Load(TByteSource& source) {
    Unload();
    FSource = &source;
    uint32_t size = source.Size(), signature = 0, total = 0;
    if (size >= 8 && ReadDword(size - 8, signature) && (signature == kSignatureFB09 || signature == kSignatureFB0A) &&
        ReadDword(size - 4, total) && total >= 8 && total <= size) {
        FBlockOffset = size - total;
        source.BlockAt(FBlockOffset);
        return ReadDebugHeader();
    }
    Unload();
    return false;
}

bool TReader::ReadDebugHeader() {
    uint32_t signature = 0;
    if (!ReadDword(FBlockOffset, signature) || (signature != kSignatureFB09 && signature != kSignatureFB0A))
        return false;
    FSignature = signature;
    if (!ReadDword(FBlockOffset + 4, FDataSize)) return false;
    uint64_t dir = uint64_t(FBlockOffset) + FDataSize;
    uint32_t size = FSource->Size();
    if (dir + sizeof(TDS_SubsectionHeader) > size) return false;
    const uint8_t* header = FSource->Bytes(static_cast<uint32_t>(dir), sizeof(TDS_SubsectionHeader));
    if (!header) return false;
    std::memcpy(&FDirectory, header, sizeof(FDirectory));
    if (FDirectory.sshHeaderSize != sizeof(TDS_SubsectionHeader) ||
        FDirectory.sshRecordSize != sizeof(TDS_SubsectionEntry))
        return false;
    // The entries must lie in the file: an absurd count is refused before
    // anything is allocated for it.
    int32_t count = FDirectory.sshRecordCount;
    uint64_t entries = dir + sizeof(TDS_SubsectionHeader);
    if (count < 0 || entries + uint64_t(count) * sizeof(TDS_SubsectionEntry) > size) return false;
    if (count) {
        uint32_t bytes = static_cast<uint32_t>(count) * sizeof(TDS_SubsectionEntry);
        const uint8_t* p = FSource->Bytes(static_cast<uint32_t>(entries), bytes);
        if (!p) return false;
        FEntries.resize(static_cast<size_t>(count));
        std::memcpy(FEntries.data(), p, bytes);
    }
    bool names = ReadNames();
    FLoaded = true;
    return names;
}

bool TReader::SubsectionSpan(size_t i, uint32_t& start, uint32_t& size) const {
    if (i >= FEntries.size() || !FSource) return false;
    const TDS_SubsectionEntry& e = FEntries[i];
    uint64_t begin = uint64_t(FBlockOffset) + e.sseOffset;
    if (begin + e.sseSize > FSource->Size()) return false;
    start = static_cast<uint32_t>(begin);
    size = e.sseSize;
    return true;
}

uint32_t TReader::GetSubsectionOffset(int32_t i) const {
    if (i < 0 || static_cast<size_t>(i) >= FEntries.size()) return 0;
    return FEntries[static_cast<size_t>(i)].sseOffset + FBlockOffset;
}

size_t TReader::HeldBytes() const {
    return FEntries.size() * sizeof(TDS_SubsectionEntry) + FNameIndexes.size() * sizeof(uint32_t);
}

bool TReader::ReadNames() {
    size_t found = FEntries.size();
    for (size_t i = FEntries.size(); i-- > 0;)
        if (FEntries[i].sseType == sstNames) {
            found = i;
            break;
        }
    uint32_t start, size, count;
    if (!SubsectionSpan(found, start, size) || size < 4 || !ReadDword(start, count)) return false;
    // Each name takes at least two bytes (length and terminator), which
    // bounds the table by the subsection whatever the count says.
    const uint8_t* table = FSource->Bytes(start, size);
    if (!table) return false;
    uint32_t end = size;
    FNameIndexes.reserve(count < size / 2 ? count : size / 2);
    uint32_t pos = 4;
    for (uint32_t k = 0; k < count && pos < end; ++k) {
        uint32_t length = table[pos];
        if (uint64_t(pos) + 1 + length > end) break;  // a name cut off by the end of the table
        FNameIndexes.push_back(start + pos);
        pos += length + 2;
    }
    FNamesCount = static_cast<int32_t>(FNameIndexes.size());
    return true;
}

std::string TReader::GetName(int32_t index) {
    if (index < 1 || index > FNamesCount || FNameIndexes.empty() || !FSource) return {};
    uint32_t pos = FNameIndexes[static_cast<size_t>(index - 1)];
    const uint8_t* p = FSource->Bytes(pos, 1);
    if (!p || *p == 0) return {};
    uint32_t length = *p;
    p = FSource->Bytes(pos + 1, length);
    return p ? std::string(reinterpret_cast<const char*>(p), length) : std::string();
}

bool TReader::FindModuleProc(uint32_t a, int32_t& moduleNameIndex, int32_t& procNameIndex, uint32_t& procStart) {
    moduleNameIndex = -1;
    procNameIndex = -1;
    procStart = 0;
    if (!FLoaded) return false;
    bool found = false;
    for (size_t i = 0; i < FEntries.size() && !found; ++i) {
        if (FEntries[i].sseType != sstModule) continue;
        uint32_t start, size;
        if (!SubsectionSpan(i, start, size) || size < kModuleHeaderSize) continue;
        TBytes d{FSource->Bytes(start, size), size};
        if (!d.P) continue;
        int32_t segments = static_cast<int16_t>(d.U16(4));
        uint32_t unitName = d.U32(8);
        for (int32_t s = 0; s < segments; ++s) {
            uint64_t rec = kModuleHeaderSize + uint64_t(kSegmentRecordSize) * s;
            if (!d.Has(rec, kSegmentRecordSize)) break;  // only records inside the subsection count
            uint32_t r = static_cast<uint32_t>(rec);
            uint32_t segStart = d.U32(r + 4), segLength = d.U32(r + 8);
            if ((d.U16(r + 2) & 1) && segStart <= a && a < uint64_t(segStart) + segLength) {
                moduleNameIndex = static_cast<int32_t>(unitName);
                procNameIndex = FindProcNameIndex(a, FEntries[i].sseModIndex, procStart);
                found = true;
                break;
            }
        }
    }
    return found;
}

int32_t TReader::FindProcNameIndex(uint32_t a, uint16_t unit, uint32_t& procStart) {
    int32_t result = -1;
    procStart = 0;
    if (!FLoaded) return -1;
    for (size_t i = 0; i < FEntries.size(); ++i) {
        const TDS_SubsectionEntry& e = FEntries[i];
        if (e.sseModIndex != unit || (e.sseType != sstAlignSym && e.sseType != sstProcRanges)) continue;
        uint32_t start, size;
        if (!SubsectionSpan(i, start, size) || size < 4) continue;
        TBytes d{FSource->Bytes(start, size), size};
        if (!d.P) continue;
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

bool TReader::FindSourceLine(uint32_t a, int32_t& srcFileNameIndex, int32_t& srcLineNum, int32_t& srcLineOffset) {
    srcFileNameIndex = -1;
    srcLineNum = -1;
    if (!FLoaded) return false;
    bool found = false;
    for (size_t i = 0; i < FEntries.size() && !found; ++i) {
        uint16_t type = FEntries[i].sseType;
        if (type != sstSrcModule && type != sstLineRuns) continue;
        uint32_t start, size;
        if (!SubsectionSpan(i, start, size) || size == 0) continue;
        TBytes d{FSource->Bytes(start, size), size};
        if (!d.P) continue;
        found = type == sstSrcModule ? SearchFullLines(d, a, srcFileNameIndex, srcLineNum, srcLineOffset)
                                     : SearchLineRuns(d, a, srcFileNameIndex, srcLineNum, srcLineOffset);
    }
    return found;
}

}  // namespace crash::td32
