#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "Td32Builder.h"
#include "TestUtil.h"
#include "crash/ModuleDebugInfo.h"

using namespace td32test;
using crash::TModuleDebugInfo;
namespace td32 = crash::td32;

namespace {

void WriteBytes(const std::wstring& path, const Bytes& data) {
    ASSERT_TRUE(testutil::WriteBytes(path, std::string(data.begin(), data.end())));
}

// Bytes that stand for a module's own content before the appended block.
Bytes ModuleBytes(size_t n = 300) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13);
    b[0] = 'M';
    b[1] = 'Z';
    return b;
}

// Names: 1 unit, 2 other unit, 3 file, 4..6 procedures, 7 second file.
TBlock SampleBlock() {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x100, 0x100}, {0, 0x300, 0x100}, {1, 0x500, 0x10}}));
    block.Add(td32::sstModule, 2, ModuleSub(2, {{1, 0x1000, 0x1000}}));
    block.Add(td32::sstAlignSym, 1,
              SymbolsSub({{td32::S_GPROC32, 0x100, 0x40, 4},
                          {0x0001, 0x140, 0x40, 99},  // not a procedure start
                          {td32::S_LPROC32, 0x180, 0x20, 5}}));
    block.Add(td32::sstProcRanges, 2, ProcRangesSub(6, {{0x1000, 0x10FF}}));
    block.Add(
        td32::sstSrcModule, 1,
        LinesSub({{3, {{0x100, 0x1FF, {{0x100, 10}, {0x110, 11}, {0x110, 12}, {0x130, 14}}}}}}, {{0x100, 0x1FF}}));
    block.Add(td32::sstLineRuns, 2, LineRunsSub({{0x1000, 0x10FF, 7, 0x1000, 100, {{8, 1}, {8, 2}}}}));
    block.Add(td32::sstNames, 0,
              NamesSub({"UnitOne", "UnitTwo", "one.cpp", "@first$qv", "@second$qi", "@third$qv", "two.cpp"}));
    return block;
}

class DebugInfoTest : public ::testing::Test {
protected:
    std::unique_ptr<TModuleDebugInfo> Load(const Bytes& data, const wchar_t* name = L"app.exe") {
        std::wstring path = FDir.Path() + name;
        WriteBytes(path, data);
        return std::make_unique<TModuleDebugInfo>(path, nullptr);
    }
    std::wstring Path(const wchar_t* name) const { return FDir.Path() + name; }

    // Logical address -> (unit, procedure) and (file, line, offset).
    struct TAnswer {
        bool ProcFound;
        int32_t Unit, Proc;
        bool LineFound;
        int32_t File, Line, Offset;
    };
    static TAnswer Ask(TModuleDebugInfo& info, uint32_t logical) {
        TAnswer r{};
        r.Offset = -7;
        r.ProcFound = info.FindModuleProc(logical, r.Unit, r.Proc);
        r.LineFound = info.FindSourceLine(logical, r.File, r.Line, r.Offset);
        return r;
    }

    testutil::TempDir FDir;
};

TEST_F(DebugInfoTest, ModuleWithoutDebugInformation) {
    auto info = Load(ModuleBytes());
    EXPECT_FALSE(info->Loaded());
    int32_t a = 0, b = 0, c = 0;
    EXPECT_FALSE(info->SourceLine(reinterpret_cast<void*>(0x401100), a, b, c));
    EXPECT_EQ(-1, a);
    EXPECT_EQ(-1, b);
    EXPECT_FALSE(info->ProcName(reinterpret_cast<void*>(0x401100), a, b));
    EXPECT_EQ(-1, a);
    EXPECT_EQ(-1, b);
    EXPECT_EQ(L"", info->GetName(1));
    EXPECT_EQ(L"", info->GetName(-1));
}

TEST_F(DebugInfoTest, BlockAppendedToTheModule) {
    auto info = Load(SampleBlock().Build(ModuleBytes()));
    ASSERT_TRUE(info->Loaded());
    EXPECT_FALSE(info->IsDelphiModule());
    EXPECT_EQ(7, info->NamesCount());
    EXPECT_EQ(L"UnitOne", info->GetName(1));
    EXPECT_EQ(L"two.cpp", info->GetName(7));
    EXPECT_EQ(L"", info->GetName(0));
    EXPECT_EQ(L"", info->GetName(8));
    EXPECT_EQ(300u + 8u, info->GetSubsectionOffset(0));
    EXPECT_EQ(0u, info->GetSubsectionOffset(7));
    EXPECT_EQ(7u * 12u + 7u * 4u, info->HeldBytes());

    // Full-form symbols: the procedure record that holds the address.
    TAnswer r = Ask(*info, 0x120);
    EXPECT_TRUE(r.ProcFound);
    EXPECT_EQ(1, r.Unit);
    EXPECT_EQ(4, r.Proc);
    EXPECT_TRUE(r.LineFound);
    EXPECT_EQ(3, r.File);
    EXPECT_EQ(12, r.Line);  // two entries at 0x110: the later one counts
    EXPECT_EQ(0x110, r.Offset);
    EXPECT_EQ(5, Ask(*info, 0x19F).Proc);
    // Only procedure starts are searched: 0x150 lies in a record of another type.
    r = Ask(*info, 0x150);
    EXPECT_TRUE(r.ProcFound);
    EXPECT_EQ(1, r.Unit);
    EXPECT_EQ(-1, r.Proc);
    EXPECT_EQ(14, r.Line);

    // A segment without the code flag holds nothing; the third segment does.
    EXPECT_FALSE(Ask(*info, 0x350).ProcFound);
    r = Ask(*info, 0x50F);
    EXPECT_TRUE(r.ProcFound);
    EXPECT_EQ(-1, r.Proc);
    EXPECT_FALSE(Ask(*info, 0x510).ProcFound);

    // The other unit: compact procedures and compact lines.
    r = Ask(*info, 0x1009);
    EXPECT_EQ(2, r.Unit);
    EXPECT_EQ(6, r.Proc);
    EXPECT_EQ(7, r.File);
    EXPECT_EQ(101, r.Line);
    EXPECT_EQ(0x1008, r.Offset);

    // Run-time addresses of a module that is not loaded count from 0x400000.
    int32_t unit, proc;
    EXPECT_TRUE(info->ProcName(reinterpret_cast<void*>(0x400000 + 0x1000 + 0x120), unit, proc));
    EXPECT_EQ(4, proc);
    info->SetOfflineImageBase(0x10000000);
    EXPECT_TRUE(info->ProcName(reinterpret_cast<void*>(0x10000000 + 0x1000 + 0x19F), unit, proc));
    EXPECT_EQ(5, proc);
    EXPECT_EQ(L"@second$qi", info->GetName(proc));
}

TEST_F(DebugInfoTest, TdsFileBesideTheModule) {
    WriteBytes(Path(L"tool.TDS"), SampleBlock().Build());
    auto info = Load(ModuleBytes(), L"tool.exe");
    ASSERT_TRUE(info->Loaded());
    EXPECT_FALSE(info->IsDelphiModule());
    EXPECT_EQ(4, Ask(*info, 0x100).Proc);

    TBlock fb09 = SampleBlock();
    fb09.Signature = td32::kSignatureFB09;
    WriteBytes(Path(L"old.tds"), fb09.Build());
    auto old = Load(ModuleBytes(), L"old.dll");
    ASSERT_TRUE(old->Loaded());
    EXPECT_TRUE(old->IsDelphiModule());
}

TEST_F(DebugInfoTest, WrongDirectoryHeaderSizesMeanNoDebugInformation) {
    for (auto sizes : {std::pair<uint16_t, uint16_t>{16, 16}, {12, 12}, {20, 12}}) {
        TBlock block = SampleBlock();
        block.HeaderSize = sizes.first;
        block.RecordSize = sizes.second;
        auto info = Load(block.Build(ModuleBytes()));
        EXPECT_FALSE(info->Loaded());
        EXPECT_FALSE(Ask(*info, 0x100).ProcFound);
        EXPECT_EQ(L"", info->GetName(1));
    }
    // A block signature that differs from the trailer's is not accepted either.
    Bytes data = SampleBlock().Build(ModuleBytes());
    data[300] = 'X';
    EXPECT_FALSE(Load(data)->Loaded());
}

TEST_F(DebugInfoTest, TheLastNamesSubsectionWins) {
    TBlock block;
    block.Add(td32::sstNames, 0, NamesSub({"early"}));
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0, 0x10}}));
    block.Add(td32::sstNames, 0, NamesSub({"late", "\xE9t\xE9"}));
    auto info = Load(block.Build(ModuleBytes()));
    ASSERT_TRUE(info->Loaded());
    EXPECT_EQ(L"late", info->GetName(1));
    EXPECT_EQ(L"\u00e9t\u00e9", info->GetName(2));  // ANSI code page 1252
    EXPECT_EQ(2, info->NamesCount());
}

TEST_F(DebugInfoTest, AddressAtTheModuleBaseConvertsToZero) {
    auto info = Load(SampleBlock().Build(ModuleBytes()));
    EXPECT_EQ(0u, info->GetConvertedAddress(reinterpret_cast<void*>(0x400000)));
    EXPECT_EQ(0x234u, info->GetConvertedAddress(reinterpret_cast<void*>(0x401234)));
    EXPECT_EQ(0u, TModuleDebugInfo::GetLogicalAddr(0));
    EXPECT_EQ(0xFFFFF001u, TModuleDebugInfo::GetLogicalAddr(1u));  // unsigned 32-bit arithmetic

    // A loaded module counts from its allocation base.
    HMODULE self = GetModuleHandleW(nullptr);
    wchar_t selfPath[MAX_PATH];
    GetModuleFileNameW(self, selfPath, MAX_PATH);
    TModuleDebugInfo loaded(selfPath, self);
    EXPECT_EQ(0u, loaded.GetConvertedAddress(self));
    const uint8_t* code = reinterpret_cast<const uint8_t*>(self) + 0x1000 + 0x42;
    EXPECT_EQ(0x42u, loaded.GetConvertedAddress(code));
    EXPECT_TRUE(loaded.IsInCode(code));
    EXPECT_FALSE(loaded.IsInCode(&selfPath));  // the stack is not part of the image
    ASSERT_NE(nullptr, loaded.ImageHeaders());
    EXPECT_EQ(IMAGE_NT_SIGNATURE, loaded.ImageHeaders()->Signature);

    wchar_t name[8];
    loaded.GetAddressModuleFileName(code, name, 8);
    EXPECT_EQ(L"crash_t", std::wstring(name));
    wchar_t kernel[64];
    const uint8_t* kernelCode = reinterpret_cast<const uint8_t*>(GetModuleHandleW(L"kernel32.dll")) + 0x1000;
    loaded.GetAddressModuleFileName(kernelCode, kernel, 64);
    EXPECT_EQ(L"kernel32.dll", std::wstring(kernel));
}

TEST_F(DebugInfoTest, FullFormBisection) {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x10, 0x30}}));
    block.Add(td32::sstSrcModule, 1,
              LinesSub({{2, {{0x10, 0x3F, {{0x10, 5}, {0x20, 6}, {0x30, 9}}}}}}, {{0x10, 0x3F}}));
    block.Add(td32::sstNames, 0, NamesSub({"u", "f.cpp"}));
    auto info = Load(block.Build(ModuleBytes()));
    struct {
        uint32_t Address;
        int32_t Line, Offset;
    } const cases[] = {{0x10, 5, 0x10}, {0x1F, 5, 0x10}, {0x20, 6, 0x20}, {0x2F, 6, 0x20},
                       {0x30, 9, 0x30}, {0x35, 9, 0x30}, {0x3F, 9, 0x30}};
    for (auto& c : cases) {
        TAnswer r = Ask(*info, c.Address);
        EXPECT_TRUE(r.LineFound) << c.Address;
        EXPECT_EQ(c.Line, r.Line) << c.Address;
        EXPECT_EQ(c.Offset, r.Offset) << c.Address;
        EXPECT_EQ(2, r.File);
    }
    TAnswer r = Ask(*info, 0x40);
    EXPECT_FALSE(r.LineFound);
    EXPECT_EQ(-1, r.File);
    EXPECT_EQ(-1, r.Line);
    EXPECT_EQ(-7, r.Offset);  // untouched when no entry was chosen
}

TEST_F(DebugInfoTest, LineZeroIsNeverAnswered) {
    TBlock block;
    // File 2 claims 0x100..0x1FF but its entry there has line 0; file 3 has
    // the real line in a later range. A third subsection is never reached.
    block.Add(td32::sstSrcModule, 1,
              LinesSub({{2, {{0x100, 0x1FF, {{0x100, 0}}}, {0x200, 0x2FF, {{0x200, 0}}}}},
                        {3, {{0x100, 0x17F, {{0x100, 7}}}}}},
                       {{0x100, 0x2FF}}));
    block.Add(td32::sstSrcModule, 1, LinesSub({{4, {{0x200, 0x2FF, {{0x200, 33}}}}}}, {{0x200, 0x2FF}}));
    block.Add(td32::sstNames, 0, NamesSub({"u", "a.cpp", "b.cpp", "c.cpp"}));
    auto info = Load(block.Build(ModuleBytes()));
    TAnswer r = Ask(*info, 0x150);
    EXPECT_TRUE(r.LineFound);
    EXPECT_EQ(3, r.File);
    EXPECT_EQ(7, r.Line);
    // Only line 0 in the first subsection: the search goes on to the next one.
    r = Ask(*info, 0x250);
    EXPECT_TRUE(r.LineFound);
    EXPECT_EQ(4, r.File);
    EXPECT_EQ(33, r.Line);
    // Line 0 and nothing else: no line, but the offset of the entry seen.
    r = Ask(*info, 0x190);
    EXPECT_FALSE(r.LineFound);
    EXPECT_EQ(-1, r.Line);
    EXPECT_EQ(-1, r.File);
    EXPECT_EQ(0x100, r.Offset);
}

TEST_F(DebugInfoTest, CompactLineRuns) {
    TBlock block;
    block.Add(td32::sstLineRuns, 1, LineRunsSub({{0x300, 0x3FF, 9, 0x300, 1, {}}}, 2));  // wrong version: skipped
    block.Add(td32::sstLineRuns, 1,
              LineRunsSub({{0x100, 0x1FF, 2, 0x100, 10, {{4, 1}, {6, 2}}},
                           {0x100, 0x1FF, 3, 0x100, 500, {}},  // never used: the first match wins
                           {0x200, 0x2FF, 3, 0x200, 20, {{0x10, -5}}}}));
    block.Add(td32::sstNames, 0, NamesSub({"u", "a.cpp", "b.cpp"}));
    auto info = Load(block.Build(ModuleBytes()));
    struct {
        uint32_t Address;
        int32_t File, Line, Offset;
    } const cases[] = {{0x100, 2, 10, 0x100}, {0x103, 2, 10, 0x100}, {0x104, 2, 11, 0x104}, {0x109, 2, 11, 0x104},
                       {0x10A, 2, 13, 0x10A}, {0x1FF, 2, 13, 0x10A}, {0x20F, 3, 20, 0x200}, {0x210, 3, 15, 0x210}};
    for (auto& c : cases) {
        TAnswer r = Ask(*info, c.Address);
        EXPECT_TRUE(r.LineFound) << c.Address;
        EXPECT_EQ(c.File, r.File) << c.Address;
        EXPECT_EQ(c.Line, r.Line) << c.Address;
        EXPECT_EQ(c.Offset, r.Offset) << c.Address;
    }
    EXPECT_FALSE(Ask(*info, 0x350).LineFound);
}

TEST_F(DebugInfoTest, CompactProceduresPacked) {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x1000, 0x1000}}));
    block.Add(td32::sstProcRanges, 1, PackedProcsSub(10, 0x1000, {{0, 0x10}, {0x20, 8}}));
    block.Add(td32::sstNames, 0, NamesSub({"u"}));
    auto info = Load(block.Build(ModuleBytes()));
    EXPECT_EQ(10, Ask(*info, 0x1000).Proc);
    EXPECT_EQ(10, Ask(*info, 0x100F).Proc);
    EXPECT_EQ(-1, Ask(*info, 0x1010).Proc);  // between the procedures
    EXPECT_EQ(11, Ask(*info, 0x1020).Proc);
    EXPECT_EQ(11, Ask(*info, 0x1027).Proc);
    EXPECT_EQ(-1, Ask(*info, 0x1028).Proc);
    EXPECT_TRUE(Ask(*info, 0x1028).ProcFound);  // the unit was found
}

// A procedure's start comes with it in each of the three encodings; 0 where
// no procedure holds the address.
TEST_F(DebugInfoTest, ProcedureStart) {
    auto sample = Load(SampleBlock().Build(ModuleBytes()));
    TBlock packed;
    packed.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x1000, 0x1000}}));
    packed.Add(td32::sstProcRanges, 1, PackedProcsSub(10, 0x1000, {{0, 0x10}, {0x20, 8}}));
    packed.Add(td32::sstNames, 0, NamesSub({"u"}));
    auto compact = Load(packed.Build(ModuleBytes()), L"packed.exe");
    struct {
        TModuleDebugInfo* Info;
        uint32_t Address;
        int32_t Proc;
        uint32_t Start;
    } cases[] = {{sample.get(), 0x13F, 4, 0x100},     {sample.get(), 0x19F, 5, 0x180},  // symbol records
                 {sample.get(), 0x150, -1, 0},                                          // a unit, no procedure
                 {sample.get(), 0x10FF, 6, 0x1000},                                     // plain ranges
                 {compact.get(), 0x1027, 11, 0x1020}, {compact.get(), 0x1010, -1, 0},  {compact.get(), 0x5000, -1, 0}};
    for (const auto& c : cases) {
        int32_t unit, proc;
        uint32_t start = 0xDEAD;
        c.Info->FindModuleProc(c.Address, unit, proc, start);
        EXPECT_EQ(c.Proc, proc) << std::hex << c.Address;
        EXPECT_EQ(c.Start, start) << std::hex << c.Address;
    }
}

TEST_F(DebugInfoTest, PackedNumberWidths) {
    // Steps 5 (one byte 0x0A), 65 (0x05 0x01) and 256 (0x03 0x04 0x00 0x00).
    Bytes sub;
    Put32(sub, 1);
    Put32(sub, td32::kProcPackedRanges);
    Put32(sub, 2);
    Put32(sub, 20);
    Put32(sub, 0);
    for (uint8_t b : {0x0A, 0x05, 0x01, 0x03, 0x04, 0x00, 0x00, 0x02}) Put8(sub, b);
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0, 0x1000}}));
    block.Add(td32::sstProcRanges, 1, sub);
    block.Add(td32::sstNames, 0, NamesSub({"u"}));
    auto info = Load(block.Build(ModuleBytes()));
    // Procedure 20 covers 5..69 (start 5, length 65); procedure 21 starts at
    // 5 + 256 = 261 with length 1.
    EXPECT_EQ(-1, Ask(*info, 4).Proc);
    EXPECT_EQ(20, Ask(*info, 5).Proc);
    EXPECT_EQ(20, Ask(*info, 69).Proc);
    EXPECT_EQ(-1, Ask(*info, 70).Proc);
    EXPECT_EQ(21, Ask(*info, 261).Proc);
    EXPECT_EQ(-1, Ask(*info, 262).Proc);
}

TEST_F(DebugInfoTest, CompactProcedureKindsAndVersions) {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x100, 0x400}}));
    block.Add(td32::sstProcRanges, 1, ProcRangesSub(30, {{0x100, 0x1FF}}, 0, 7));  // wrong version
    block.Add(td32::sstProcRanges, 1, ProcRangesSub(40, {{0x100, 0x17F}, {0x180, 0x1FF}}));
    block.Add(td32::sstModule, 2, ModuleSub(2, {{1, 0x600, 0x100}}));
    block.Add(td32::sstProcRanges, 2, ProcRangesSub(50, {{0x600, 0x6FF}}, 5));  // unknown kind
    block.Add(td32::sstProcRanges, 2, ProcRangesSub(60, {{0x600, 0x6FF}}));     // never reached
    block.Add(td32::sstNames, 0, NamesSub({"u"}));
    auto info = Load(block.Build(ModuleBytes()));
    EXPECT_EQ(40, Ask(*info, 0x100).Proc);
    EXPECT_EQ(41, Ask(*info, 0x1FF).Proc);
    EXPECT_EQ(-1, Ask(*info, 0x200).Proc);
    TAnswer r = Ask(*info, 0x650);
    EXPECT_TRUE(r.ProcFound);
    EXPECT_EQ(2, r.Unit);
    EXPECT_EQ(-1, r.Proc);
}

TEST_F(DebugInfoTest, SymbolSubsectionWithWrongSignatureIsSkipped) {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x100, 0x100}}));
    block.Add(td32::sstAlignSym, 1, SymbolsSub({{td32::S_GPROC32, 0x100, 0x100, 8}}, 2));
    block.Add(td32::sstAlignSym, 1, SymbolsSub({{td32::S_GPROC32, 0x100, 0x100, 9}}));
    block.Add(td32::sstNames, 0, NamesSub({"u"}));
    EXPECT_EQ(9, Ask(*Load(block.Build(ModuleBytes())), 0x180).Proc);
}

class SymbolPathTest : public DebugInfoTest {
protected:
    void SetUp() override {
        TModuleDebugInfo::ForgetSymbolFolder();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Quillfen\\Exception");
    }
    void TearDown() override {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Quillfen\\Exception");
        TModuleDebugInfo::ForgetSymbolFolder();
    }
    void SetSymbolPath(const std::wstring& folder) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quillfen\\Exception", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegSetValueExW(key, L"SymbolPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    // A copy of the version probe (product version 1.2.3.4) under a new name.
    std::wstring VersionedModule(const wchar_t* name) {
        std::wstring path = Path(name);
        EXPECT_TRUE(CopyFileW((testutil::ExeFolder() + L"..\\env\\version_probe.exe").c_str(), path.c_str(), FALSE));
        return path;
    }
};

TEST_F(SymbolPathTest, ProductVersionFolderUnderTheSymbolPath) {
    EXPECT_EQ(L"", TModuleDebugInfo::GetProductVersionText(Path(L"none.exe")));
    std::wstring module = VersionedModule(L"probe.exe");
    EXPECT_EQ(L"1.2.3.4", TModuleDebugInfo::GetProductVersionText(module));

    std::wstring symbols = Path(L"symbols");
    CreateDirectoryW(symbols.c_str(), nullptr);
    CreateDirectoryW((symbols + L"\\1.2.3.4").c_str(), nullptr);
    WriteBytes(symbols + L"\\1.2.3.4\\probe.tds", SampleBlock().Build());
    SetSymbolPath(symbols);  // without a trailing backslash: one is added

    std::wstring bare = Path(L"bare");
    CreateDirectoryW(bare.c_str(), nullptr);
    WriteBytes(bare + L"\\probe.exe", ModuleBytes());  // no version resource: no folder
    EXPECT_FALSE(TModuleDebugInfo(bare + L"\\probe.exe", nullptr).Loaded());
}

TEST_F(SymbolPathTest, FoundThroughTheRegistryAndReadOncePerProcess) {
    std::wstring module = Path(L"plain.exe");
    // A module without a block whose version resource says 1.2.3.4: cut the
    // block off a copy of the version probe.
    std::wstring probe = VersionedModule(L"probe.exe");
    {
        const std::string bytes = testutil::ReadFileBytes(probe);
        Bytes data(bytes.begin(), bytes.end());
        const size_t size = data.size();
        uint32_t total = 0;
        std::memcpy(&total, data.data() + size - 4, 4);
        if (std::memcmp(data.data() + size - 8, "FB0A", 4) == 0) data.resize(size - total);
        WriteBytes(module, data);
    }
    ASSERT_EQ(L"1.2.3.4", TModuleDebugInfo::GetProductVersionText(module));
    ASSERT_FALSE(TModuleDebugInfo(module, nullptr).Loaded());  // remembers "no symbol folder"

    std::wstring symbols = Path(L"sym\\");
    CreateDirectoryW(symbols.c_str(), nullptr);
    CreateDirectoryW((symbols + L"1.2.3.4").c_str(), nullptr);
    WriteBytes(symbols + L"1.2.3.4\\plain.tds", SampleBlock().Build());
    SetSymbolPath(symbols);
    EXPECT_FALSE(TModuleDebugInfo(module, nullptr).Loaded());  // not read again

    TModuleDebugInfo::ForgetSymbolFolder();
    TModuleDebugInfo info(module, nullptr);
    ASSERT_TRUE(info.Loaded());
    EXPECT_EQ(L"UnitOne", info.GetName(1));
}

}  // namespace
