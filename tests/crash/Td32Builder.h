// Builds TD32 debug information in memory, byte by byte, so that the reader
// can be tested on exactly the layouts (and the corruptions) a test needs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "crash/Td32Format.h"
#include "crash/Td32Writing.h"

namespace td32test {

using crash::td32::Bytes;
using crash::td32::Patch32;
using crash::td32::Put16;
using crash::td32::Put32;
using crash::td32::Put8;
using crash::td32::PutPacked;

inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

struct TSegment {
    uint16_t Flags;  // bit 0: code
    uint32_t Start;
    uint32_t Length;
};

// Module subsection: 28-byte header (segment count at 4, unit name at 8), segments.
inline Bytes ModuleSub(uint32_t nameIndex, const std::vector<TSegment>& segments) {
    Bytes b;
    Put32(b, 0);
    Put16(b, static_cast<uint32_t>(segments.size()));
    Put16(b, 0);
    Put32(b, nameIndex);
    b.resize(28, 0);
    for (const TSegment& s : segments) {
        Put16(b, 1);
        Put16(b, s.Flags);
        Put32(b, s.Start);
        Put32(b, s.Length);
    }
    return b;
}

inline Bytes NamesSub(const std::vector<std::string>& names) {
    Bytes b;
    Put32(b, static_cast<uint32_t>(names.size()));
    for (const std::string& n : names) {
        Put8(b, static_cast<uint32_t>(n.size()));
        b.insert(b.end(), n.begin(), n.end());
        Put8(b, 0);
    }
    return b;
}

struct TSymbol {
    uint16_t Type;  // S_LPROC32, S_GPROC32 or anything else
    uint32_t Start;
    uint32_t Length;
    uint32_t NameIndex;
};

// Full-form symbols: signature 1, then records of length, type and a 44-byte body.
inline Bytes SymbolsSub(const std::vector<TSymbol>& symbols, uint32_t signature = 1) {
    Bytes b;
    Put32(b, signature);
    for (const TSymbol& s : symbols) {
        Put16(b, 2 + 44);
        Put16(b, s.Type);
        Bytes body(44, 0);
        Patch32(body, 12, s.Length);
        Patch32(body, 24, s.Start);
        Patch32(body, 36, s.NameIndex);
        Append(b, body);
    }
    return b;
}

struct TLine {
    uint32_t Address;
    uint16_t Line;
};
struct TFileRange {
    uint32_t Start, End;  // inclusive
    std::vector<TLine> Lines;
};
struct TFile {
    uint32_t NameIndex;
    std::vector<TFileRange> Ranges;
};

// Full-form source lines: header, file offsets, top-level ranges and their
// segments, then per file its ranges and line blocks.
inline Bytes LinesSub(const std::vector<TFile>& files, const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
    Bytes b;
    Put16(b, static_cast<uint32_t>(files.size()));
    Put16(b, static_cast<uint32_t>(ranges.size()));
    size_t fileTable = b.size();
    for (size_t i = 0; i < files.size(); ++i) Put32(b, 0);
    for (auto& r : ranges) {
        Put32(b, r.first);
        Put32(b, r.second);
    }
    for (size_t i = 0; i < ranges.size(); ++i) Put16(b, 1);
    for (size_t f = 0; f < files.size(); ++f) {
        while (b.size() % 4) Put8(b, 0);
        Patch32(b, fileTable + 4 * f, static_cast<uint32_t>(b.size()));
        const TFile& file = files[f];
        Put16(b, static_cast<uint32_t>(file.Ranges.size()));
        Put32(b, file.NameIndex);
        size_t blockTable = b.size();
        for (size_t r = 0; r < file.Ranges.size(); ++r) Put32(b, 0);
        for (const TFileRange& r : file.Ranges) {
            Put32(b, r.Start);
            Put32(b, r.End);
        }
        for (size_t r = 0; r < file.Ranges.size(); ++r) {
            Patch32(b, blockTable + 4 * r, static_cast<uint32_t>(b.size()));
            Put16(b, 1);
            Put16(b, static_cast<uint32_t>(file.Ranges[r].Lines.size()));
            for (const TLine& l : file.Ranges[r].Lines) Put32(b, l.Address);
            for (const TLine& l : file.Ranges[r].Lines) Put16(b, l.Line);
        }
    }
    return b;
}

struct TRun {
    uint32_t Start, End, NameIndex;
    uint32_t FirstAddress;
    int32_t FirstLine;
    std::vector<std::pair<uint8_t, int8_t>> Steps;
};

// Compact source lines: version 1, count, 16-byte range entries, then the runs.
inline Bytes LineRunsSub(const std::vector<TRun>& runs, uint32_t version = 1) {
    Bytes b;
    Put32(b, version);
    Put32(b, static_cast<uint32_t>(runs.size()));
    size_t table = b.size();
    for (const TRun& r : runs) {
        Put32(b, r.Start);
        Put32(b, r.End);
        Put32(b, r.NameIndex);
        Put32(b, 0);
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        Patch32(b, table + 16 * i + 12, static_cast<uint32_t>(b.size()));
        Put32(b, static_cast<uint32_t>(runs[i].Steps.size()));
        Put32(b, runs[i].FirstAddress);
        Put32(b, static_cast<uint32_t>(runs[i].FirstLine));
        for (auto& s : runs[i].Steps) {
            Put8(b, s.first);
            Put8(b, static_cast<uint8_t>(s.second));
        }
    }
    return b;
}

// Compact procedures, plain ranges (kind 0).
inline Bytes ProcRangesSub(uint32_t firstName, const std::vector<std::pair<uint32_t, uint32_t>>& ranges,
                           uint32_t kind = 0, uint32_t version = 1) {
    Bytes b;
    Put32(b, version);
    Put32(b, kind);
    Put32(b, static_cast<uint32_t>(ranges.size()));
    Put32(b, firstName);
    for (auto& r : ranges) {
        Put32(b, r.first);
        Put32(b, r.second);
    }
    return b;
}

// Compact procedures, packed ranges (kind 2): base, then (start step, length) pairs.
inline Bytes PackedProcsSub(uint32_t firstName, uint32_t base,
                            const std::vector<std::pair<uint32_t, uint32_t>>& pairs) {
    Bytes b;
    Put32(b, 1);
    Put32(b, crash::td32::kProcPackedRanges);
    Put32(b, static_cast<uint32_t>(pairs.size()));
    Put32(b, firstName);
    Put32(b, base);
    for (auto& p : pairs) {
        PutPacked(b, p.first);
        PutPacked(b, p.second);
    }
    return b;
}

// The block: signature, directory offset, subsections, directory, trailer.
class TBlock {
public:
    uint32_t Signature = crash::td32::kSignatureFB0A;
    uint16_t HeaderSize = 16;
    uint16_t RecordSize = 12;

    TBlock& Add(uint16_t type, uint16_t unit, const Bytes& data) {
        FEntries.push_back({type, unit, static_cast<uint32_t>(8 + FBody.size()), static_cast<uint32_t>(data.size())});
        Append(FBody, data);
        while (FBody.size() % 4) Put8(FBody, 0);
        return *this;
    }

    // The block appended to `prefix` (a module's own bytes, or nothing for a .tds).
    Bytes Build(const Bytes& prefix = {}) const {
        Bytes b = prefix;
        size_t base = b.size();
        Put32(b, Signature);
        Put32(b, static_cast<uint32_t>(8 + FBody.size()));
        Append(b, FBody);
        Put16(b, HeaderSize);
        Put16(b, RecordSize);
        Put32(b, static_cast<uint32_t>(FEntries.size()));
        Put32(b, 0);
        Put32(b, 0);
        for (auto& e : FEntries) {
            Put16(b, e.sseType);
            Put16(b, e.sseModIndex);
            Put32(b, e.sseOffset);
            Put32(b, e.sseSize);
        }
        Put32(b, Signature);
        Put32(b, static_cast<uint32_t>(b.size() + 4 - base));
        return b;
    }

private:
    Bytes FBody;
    std::vector<crash::td32::TDS_SubsectionEntry> FEntries;
};

}  // namespace td32test
