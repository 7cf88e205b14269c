// Bad input: deterministic mutants of real TD32 data (truncated, offsets and
// counts past the end, huge counts, random bytes) must load and answer
// without a fault and without one read past the end of the file (the stream
// raises on such a read, so no exception at all may come out).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "Td32Builder.h"
#include "TestUtil.h"
#include "crash/ModuleDebugInfo.h"
#include "rtl/Text.h"

using namespace td32test;
namespace td32 = crash::td32;

namespace {

// The TD32 block the build appended to the version probe.
Bytes ProbeBlock() {
    const std::string file = testutil::ReadFileBytes(testutil::ExeFolder() + L"..\\env\\version_probe.exe");
    const Bytes exe(file.begin(), file.end());
    if (exe.size() < 8 || std::memcmp(exe.data() + exe.size() - 8, "FB0A", 4) != 0) return {};
    uint32_t total;
    std::memcpy(&total, exe.data() + exe.size() - 4, 4);
    return Bytes(exe.end() - total, exe.end());
}

// Every subsection kind, in the layouts the reader knows.
Bytes AllKindsBlock() {
    TBlock block;
    block.Add(td32::sstModule, 1, ModuleSub(1, {{1, 0x100, 0x200}, {1, 0x800, 0x100}}));
    block.Add(td32::sstModule, 2, ModuleSub(2, {{1, 0x1000, 0x1000}}));
    block.Add(
        td32::sstAlignSym, 1,
        SymbolsSub({{td32::S_GPROC32, 0x100, 0x80, 3}, {0x0001, 0x180, 0x10, 3}, {td32::S_LPROC32, 0x180, 0x80, 4}}));
    block.Add(td32::sstProcRanges, 1, ProcRangesSub(5, {{0x800, 0x87F}, {0x880, 0x8FF}}));
    block.Add(td32::sstProcRanges, 2, PackedProcsSub(6, 0x1000, {{0, 0x10}, {0x20, 8}, {0x200, 0x300}}));
    block.Add(
        td32::sstSrcModule, 1,
        LinesSub({{7, {{0x100, 0x1FF, {{0x100, 1}, {0x110, 0}, {0x120, 3}}}}}, {8, {{0x110, 0x11F, {{0x110, 9}}}}}},
                 {{0x100, 0x2FF}}));
    block.Add(td32::sstLineRuns, 2, LineRunsSub({{0x1000, 0x1FFF, 8, 0x1000, 10, {{4, 1}, {6, 2}, {200, -3}}}}));
    block.Add(td32::sstNames, 0, NamesSub({"u1", "u2", "@a$qv", "@b$qi", "@c$qv", "@d$qv", "a.cpp", "b.cpp"}));
    return block.Build();
}

class TMutator {
public:
    explicit TMutator(uint32_t seed) : FRng(seed) {}

    Bytes Mutate(const Bytes& original, int kind) {
        Bytes b = original;
        switch (kind) {
            case 0: {  // cut short; half the time the trailer is put back
                b.resize(Below(static_cast<uint32_t>(b.size())));
                if (Below(2)) b.insert(b.end(), original.end() - 8, original.end());
                break;
            }
            case 1: {  // a directory entry pointing or reaching past the end
                uint32_t dir = DirectoryAt(b), count = Read32(b, dir + 4);
                if (count == 0 || dir + 16 + 12 * count > b.size()) break;
                size_t entry = dir + 16 + 12 * Below(count);
                Patch32(b, entry + 4 + 4 * Below(2), Huge(static_cast<uint32_t>(b.size())));
                break;
            }
            case 2: {  // a huge count or offset inside a subsection's data
                uint32_t dir = DirectoryAt(b), count = Read32(b, dir + 4);
                if (count == 0 || dir + 16 + 12 * count > b.size()) break;
                size_t entry = dir + 16 + 12 * Below(count);
                uint32_t offset = Read32(b, entry + 4), size = Read32(b, entry + 8);
                if (offset >= b.size() || size == 0) break;
                uint32_t at = offset + Below(std::min<uint32_t>(size, 48));
                uint32_t v = Huge(static_cast<uint32_t>(b.size()));
                for (uint32_t i = 0; i < 1 + Below(4) && at + i < b.size(); ++i)
                    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
                break;
            }
            case 3: {  // random bytes anywhere
                for (uint32_t n = 1 + Below(16); n > 0; --n)
                    b[Below(static_cast<uint32_t>(b.size()))] = static_cast<uint8_t>(FRng());
                break;
            }
            default: {  // the block's own header fields: total size, directory offset, directory header
                uint32_t dir = DirectoryAt(b);
                size_t fields[] = {b.size() - 4, 4, dir, dir + 2, dir + 4};
                size_t at = fields[Below(5)];
                if (at + 4 <= b.size()) Patch32(b, at, Huge(static_cast<uint32_t>(b.size())));
                break;
            }
        }
        return b;
    }

    uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(FRng() % n) : 0; }

private:
    static uint32_t Read32(const Bytes& b, size_t at) {
        uint32_t v = 0;
        if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
        return v;
    }
    static uint32_t DirectoryAt(const Bytes& b) { return Read32(b, 4); }
    // Values that break things: near the size, just past it, or enormous.
    uint32_t Huge(uint32_t size) {
        switch (Below(6)) {
            case 0: return 0xFFFFFFFFu;
            case 1: return 0x7FFFFFFFu;
            case 2: return size + Below(64);
            case 3: return size - std::min<uint32_t>(size, Below(16));
            case 4: return 0x10000u + Below(0x10000);
            default: return static_cast<uint32_t>(FRng());
        }
    }
    std::mt19937 FRng;
};

// Writes each mutant over one file in place and reads it back.
class TMutantFile {
public:
    explicit TMutantFile(const std::wstring& path) : FPath(path) {
        FHandle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    }
    ~TMutantFile() { CloseHandle(FHandle); }
    bool Write(const Bytes& data) {
        DWORD written = 0;
        SetFilePointer(FHandle, 0, nullptr, FILE_BEGIN);
        if (!data.empty() && !WriteFile(FHandle, data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
            return false;
        return SetEndOfFile(FHandle) != 0;
    }
    const std::wstring& Path() const { return FPath; }

private:
    std::wstring FPath;
    HANDLE FHandle;
};

TEST(Td32Mutants, LoadAndLookUpWithoutFaultOrOutsideRead) {
    Bytes probe = ProbeBlock();
    ASSERT_GT(probe.size(), 1000u) << "the version probe carries no TD32 block";
    const Bytes sources[] = {probe, AllKindsBlock()};
    const uint32_t codeSpan[] = {0x30000, 0x2000};
    for (int s = 0; s < 2; ++s) {  // the originals load
        testutil::TempDir dir;
        TMutantFile file(dir.Path() + L"original.tds");
        ASSERT_TRUE(file.Write(sources[s]));
        ASSERT_TRUE(crash::TModuleDebugInfo(file.Path(), nullptr).Loaded());
    }

    // The reader's format logic is fuzzed on the build machine (fuzz/td32_fuzz.cpp);
    // these mutants prove the Windows side: the mapped file, its views and
    // the stream that raises on a read past the end.
    const char* env = std::getenv("QF_TD32_MUTANTS");
    const int mutants = env ? std::atoi(env) : 10000;
    testutil::TempDir dir;
    // Not ".tds": a mutant that fails to load is not tried again as its own ".TDS".
    TMutantFile file(dir.Path() + L"mutant.dat");
    TMutator mutator(20261208);
    int loaded = 0, raised = 0, answered = 0;
    std::string firstProblem;
    for (int i = 0; i < mutants; ++i) {
        int s = i % 2;
        Bytes mutant = mutator.Mutate(sources[s], (i / 2) % 5);
        ASSERT_TRUE(file.Write(mutant));
        bool ok = true;
        rtl::Try(
            [&] {
                crash::TModuleDebugInfo info(file.Path(), nullptr);
                if (!info.Loaded()) return;
                ++loaded;
                for (int k = 0; k < 6; ++k) {
                    uint32_t a = mutator.Below(codeSpan[s]);
                    int32_t unit, proc, srcFile, line, offset;
                    if (info.FindModuleProc(a, unit, proc)) {
                        ++answered;
                        info.GetName(unit);
                        info.GetName(proc);
                    }
                    if (info.FindSourceLine(a, srcFile, line, offset)) info.GetName(srcFile);
                }
                info.GetName(static_cast<int32_t>(mutator.Below(static_cast<uint32_t>(info.NamesCount()) + 3)));
            },
            rtl::OnAny([&](rtl::Exception& e) {
                ok = false;
                if (firstProblem.empty())
                    firstProblem =
                        "mutant " + std::to_string(i) + ": " + rtl::ToAnsi(e.ClassName() + L": " + e.Message);
            }));
        if (!ok) ++raised;
    }
    EXPECT_EQ(0, raised) << firstProblem;
    // The mutants must still exercise the lookups, not only fail to load.
    EXPECT_GT(loaded, mutants / 4);
    EXPECT_GT(answered, mutants / 10);
    std::printf("%d mutants, %d loaded, %d unit answers, %d exceptions\n", mutants, loaded, answered, raised);
}

}  // namespace
