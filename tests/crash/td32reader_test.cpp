// The TD32 reader over bytes in memory: every lookup on a block with every
// subsection kind, behind a module's own bytes, and every cut of that block
// read without one request outside the data.
#include <gtest/gtest.h>

#include "Td32Builder.h"
#include "crash/Td32Reader.h"

using namespace td32test;
namespace td32 = crash::td32;

namespace {

Bytes AllKinds(const Bytes& prefix = {}) {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x100, 0x200}, {0, 0x400, 0x100}}));
    block.Add(td32::sstModule, 2, ModuleSub(2, {{1, 0x1000, 0x1000}}));
    block.Add(td32::sstAlignSym, 1, SymbolsSub({{td32::S_GPROC32, 0x100, 0x80, 3}, {td32::S_LPROC32, 0x180, 0x80, 4}}));
    block.Add(td32::sstProcRanges, 2, PackedProcsSub(5, 0x1000, {{0, 0x10}, {0x20, 8}}));
    block.Add(td32::sstSrcModule, 1, LinesSub({{7, {{0x100, 0x1FF, {{0x100, 1}, {0x120, 3}}}}}}, {{0x100, 0x2FF}}));
    block.Add(td32::sstLineRuns, 2, LineRunsSub({{0x1000, 0x1FFF, 8, 0x1000, 10, {{4, 1}, {6, 2}}}}));
    block.Add(td32::sstNames, 0, NamesSub({"u1", "u2", "@a$qv", "@b$qi", "@c$qv", "@d$qv", "a.cpp", "b.cpp"}));
    return block.Build(prefix);
}

// Counts requests outside the data instead of answering them.
class TCountingSource : public td32::TByteSource {
public:
    explicit TCountingSource(const td32test::Bytes& b) : FBytes(b) {}
    uint32_t Size() const override { return static_cast<uint32_t>(FBytes.size()); }
    const uint8_t* Bytes(uint32_t offset, uint32_t size) override {
        if (uint64_t(offset) + size > FBytes.size()) {
            ++Outside;
            return nullptr;
        }
        return FBytes.data() + offset;
    }
    int Outside = 0;

private:
    const td32test::Bytes& FBytes;
};

struct TLookup {
    uint32_t Address;
    const char* Unit;  // "" = no unit
    const char* Proc;  // "" = no procedure
    uint32_t ProcStart;
    const char* File;  // "" = no source line
    int32_t Line, LineOffset;
};

const TLookup kLookups[] = {
    {0x0FF, "", "", 0, "", -1, 0},
    {0x100, "u1", "@a$qv", 0x100, "a.cpp", 1, 0x100},
    {0x11F, "u1", "@a$qv", 0x100, "a.cpp", 1, 0x100},
    {0x120, "u1", "@a$qv", 0x100, "a.cpp", 3, 0x120},
    {0x1A0, "u1", "@b$qi", 0x180, "a.cpp", 3, 0x120},
    {0x250, "u1", "", 0, "", -1, 0},  // in the unit, no procedure, lines out of the file's range
    {0x450, "", "", 0, "", -1, 0},    // a data segment is no code
    {0x1000, "u2", "@c$qv", 0x1000, "b.cpp", 10, 0x1000},
    {0x1025, "u2", "@d$qv", 0x1020, "b.cpp", 13, 0x100A},
    {0x1FFF, "u2", "", 0, "b.cpp", 13, 0x100A},
    {0x2000, "", "", 0, "", -1, 0},
};

TEST(Td32Reader, EveryLookupOnEveryKind) {
    for (const Bytes& file : {AllKinds(), AllKinds(Bytes(300, 0xCC))}) {
        TCountingSource source(file);
        td32::TReader reader;
        ASSERT_TRUE(reader.Load(source));
        EXPECT_EQ(8, reader.NamesCount());
        for (const TLookup& l : kLookups) {
            SCOPED_TRACE(testing::Message() << std::hex << l.Address << " in a file of " << std::dec << file.size());
            int32_t unit, proc, fileIndex, line, lineOffset = 0;
            uint32_t procStart;
            EXPECT_EQ(*l.Unit != 0, reader.FindModuleProc(l.Address, unit, proc, procStart));
            EXPECT_EQ(l.Unit, reader.GetName(unit));
            EXPECT_EQ(l.Proc, reader.GetName(proc));
            EXPECT_EQ(l.ProcStart, procStart);
            EXPECT_EQ(*l.File != 0, reader.FindSourceLine(l.Address, fileIndex, line, lineOffset));
            EXPECT_EQ(l.File, reader.GetName(fileIndex));
            EXPECT_EQ(l.Line, line);
            EXPECT_EQ(l.LineOffset, static_cast<uint32_t>(lineOffset));
        }
        EXPECT_EQ(0, source.Outside);
    }
}

TEST(Td32Reader, EveryCutOfTheBlockStaysInside) {
    const Bytes whole = AllKinds();
    for (size_t keep = 0; keep < whole.size(); ++keep) {
        for (bool trailer : {false, true}) {
            Bytes cut(whole.begin(), whole.begin() + keep);
            if (trailer) cut.insert(cut.end(), whole.end() - 8, whole.end());
            TCountingSource source(cut);
            td32::TReader reader;
            reader.Load(source);
            int32_t a, b, c;
            uint32_t d;
            for (uint32_t address : {0x100u, 0x1A0u, 0x1025u}) {
                reader.FindModuleProc(address, a, b, d);
                reader.FindSourceLine(address, a, b, c);
            }
            for (int32_t i = 0; i <= reader.NamesCount(); ++i) reader.GetName(i);
            ASSERT_EQ(0, source.Outside) << keep << " bytes kept, trailer " << trailer;
        }
    }
}

}  // namespace
