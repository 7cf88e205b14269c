// Code patches on code buffers the test owns.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crash/ZudAviziPatch.h"
#include "env/OwnMemory.h"
#include "rtl/Win.h"

namespace {

using namespace crash;

// Executable scratch memory, filled with a recognisable pattern.
class CodeBuffer {
public:
    explicit CodeBuffer(size_t size = 4096) : FSize(size) {
        FBytes = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        for (size_t i = 0; i < size; ++i) FBytes[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    ~CodeBuffer() { VirtualFree(FBytes, 0, MEM_RELEASE); }
    uint8_t* operator+(size_t offset) const { return FBytes + offset; }
    uint8_t& operator[](size_t i) { return FBytes[i]; }
    std::vector<uint8_t> Bytes(size_t from, size_t n) const { return {FBytes + from, FBytes + from + n}; }

private:
    uint8_t* FBytes;
    size_t FSize;
};

TEST(Patch, TemplatesAndMasksDecideWhetherAPatchIsChecked) {
    CodeBuffer code;
    std::memcpy(code + 0, "\x8B\x44\x24\x04\xF7\x40\x04\x06\x00\x00\x00", 11);
    const uint8_t tmpl[] = {0x8B, 0x44, 0x24, 0x04, 0xF7, 0x40, 0x04, 0x06, 0, 0, 0};
    const uint8_t patch[] = {0xAA, 0xBB};
    EXPECT_TRUE(TZudAviziGenericPatch(code + 0, tmpl, nullptr, 11, patch, nullptr, 0, 2).Checked());
    EXPECT_FALSE(TZudAviziGenericPatch(code + 1, tmpl, nullptr, 11, patch, nullptr, 0, 2).Checked());
    // Under a zero mask byte the template byte must be 0 and the code byte is ignored.
    const uint8_t masked[] = {0x8B, 0x00, 0x24};
    const uint8_t mask[] = {0xFF, 0x00, 0xFF};
    EXPECT_TRUE(TZudAviziGenericPatch(code + 0, masked, mask, 3, patch, nullptr, 0, 2).Checked());
    EXPECT_FALSE(TZudAviziGenericPatch(code + 0, masked, nullptr, 3, patch, nullptr, 0, 2).Checked());
    // No template accepts any readable bytes; unreadable or null targets never check.
    EXPECT_TRUE(TZudAviziGenericPatch(code + 5, nullptr, nullptr, 4, patch, nullptr, 0, 2).Checked());
    EXPECT_FALSE(TZudAviziGenericPatch(nullptr, nullptr, nullptr, 4, patch, nullptr, 0, 2).Checked());
    EXPECT_FALSE(
        TZudAviziGenericPatch(reinterpret_cast<void*>(16), nullptr, nullptr, 4, patch, nullptr, 0, 2).Checked());
}

TEST(Patch, SizesAndOffsetsAreCutToTheCheckedBytes) {
    CodeBuffer code;
    const uint8_t patch[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    TZudAviziGenericPatch big(code + 0, nullptr, nullptr, 300, patch, nullptr, 0, 2);
    EXPECT_EQ(big.Size(), 256);
    TZudAviziGenericPatch negative(code + 0, nullptr, nullptr, -1, patch, nullptr, 0, 2);
    EXPECT_EQ(negative.Size(), 256);

    TZudAviziGenericPatch atEnd(code + 0, nullptr, nullptr, 4, patch, nullptr, 4, 2);
    EXPECT_EQ(std::memcmp(atEnd.PatchedBytes(), atEnd.OriginalBytes(), 4), 0);
    TZudAviziGenericPatch pastEnd(code + 0, nullptr, nullptr, 4, patch, nullptr, 3, 8);
    EXPECT_EQ(pastEnd.PatchedBytes()[3], 1);
    EXPECT_EQ(std::memcmp(pastEnd.PatchedBytes(), code + 0, 3), 0);
    ASSERT_TRUE(pastEnd.Apply());
    EXPECT_EQ(code[4], static_cast<uint8_t>(4 * 7 + 1));  // nothing written past the checked size
    ASSERT_TRUE(pastEnd.Remove());

    // A patch mask keeps the saved bits where it is zero.
    const uint8_t pmask[2] = {0xF0, 0x00};
    const uint8_t pbytes[2] = {0xAB, 0xCD};
    TZudAviziGenericPatch masked(code + 10, nullptr, nullptr, 2, pbytes, pmask, 0, 2);
    EXPECT_EQ(masked.PatchedBytes()[0], static_cast<uint8_t>((code[10] & 0x0F) | 0xA0));
    EXPECT_EQ(masked.PatchedBytes()[1], code[11]);
}

TEST(Patch, ApplyAndRemoveByteForByte) {
    CodeBuffer code;
    std::vector<uint8_t> before = code.Bytes(0, 32);
    const uint8_t patch[3] = {0x90, 0x90, 0xC3};
    TZudAviziGenericPatch p(code + 0, nullptr, nullptr, 32, patch, nullptr, 5, 3);
    EXPECT_FALSE(p.Remove());  // not applied: nothing written
    EXPECT_EQ(code.Bytes(0, 32), before);
    ASSERT_TRUE(p.Apply());
    EXPECT_TRUE(p.Applied());
    std::vector<uint8_t> expected = before;
    std::memcpy(expected.data() + 5, patch, 3);
    EXPECT_EQ(code.Bytes(0, 32), expected);
    ASSERT_TRUE(p.Remove());
    EXPECT_EQ(code.Bytes(0, 32), before);
    TZudAviziGenericPatch unchecked(code + 1, patch, nullptr, 3, patch, nullptr, 0, 3);
    EXPECT_FALSE(unchecked.Apply());
    {
        TZudAviziGenericPatch destroyed(code + 0, nullptr, nullptr, 8, patch, nullptr, 0, 3);
        destroyed.Apply();
    }
    EXPECT_EQ(code.Bytes(0, 32), before);  // destroying a patch removes it
}

TEST(Patch, OverlappingPatchesAppliedAndRemovedInTableOrder) {
    CodeBuffer code;
    std::vector<uint8_t> before = code.Bytes(0, 300);
    // A 256-byte jump patch covering the start of a later routine at +100.
    TZudAviziJumpCallPatch first(code + 0, nullptr, nullptr, -1, code + 2000, 0, patchJump);
    const uint8_t later[2] = {0xCC, 0xCC};
    TZudAviziGenericPatch second(code + 100, nullptr, nullptr, 11, later, nullptr, 0, 2);
    ASSERT_TRUE(first.Apply());
    ASSERT_TRUE(second.Apply());
    EXPECT_EQ(code[100], 0xCC);
    ASSERT_TRUE(first.Remove());  // restores the later routine's bytes too
    ASSERT_TRUE(second.Remove());
    EXPECT_EQ(code.Bytes(0, 300), before);
}

TEST(Patch, JumpAtANonZeroOffsetReachesItsDestination) {
    CodeBuffer code;
    TZudAviziJumpCallPatch jump(code + 0, nullptr, nullptr, 16, code + 1000, 6, patchJump);
    ASSERT_TRUE(jump.Checked());
    const uint8_t* at = jump.PatchedBytes() + 6;
    EXPECT_EQ(at[0], 0xE9);
    int32_t d;
    std::memcpy(&d, at + 1, 4);
    EXPECT_EQ(code + 6 + 5 + d, code + 1000);
    TZudAviziJumpCallPatch call(code + 0, nullptr, nullptr, 16, code + 0, 0, patchCall);
    EXPECT_EQ(call.PatchedBytes()[0], 0xE8);
    std::memcpy(&d, call.PatchedBytes() + 1, 4);
    EXPECT_EQ(d, -5);
}

std::vector<int> gCalls;
int __cdecl OldProc(int x) {
    gCalls.push_back(x);
    return x * 2;
}
int __cdecl NewProc(int x) {
    gCalls.push_back(-x);
    return 0;
}

TEST(Patch, CallSubstitutionRunsTheNewRoutineThenTheOldOne) {
    CodeBuffer code;
    // push 21; call OldProc; add esp, 4; ret
    uint8_t routine[14] = {0x68, 21, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x83, 0xC4, 0x04, 0xC3};
    int32_t d = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&OldProc) - reinterpret_cast<uintptr_t>(code + 10));
    std::memcpy(routine + 6, &d, 4);
    std::memcpy(code + 0, routine, sizeof(routine));
    auto run = reinterpret_cast<int (*)()>(code + 0);
    EXPECT_EQ(run(), 42);

    const uint8_t tmpl[6] = {0x68, 21, 0, 0, 0, 0xE8};
    auto* patch = new TZudAviziCallSubstPatch(code + 0, tmpl, nullptr, 6, 5, reinterpret_cast<void*>(&NewProc));
    // The patch reads only the template's bytes; the call lies beyond them,
    // so it reads the displacement itself.
    ASSERT_TRUE(patch->Checked());
    EXPECT_EQ(patch->Size(), 6);
    delete patch;

    patch = new TZudAviziCallSubstPatch(code + 0, nullptr, nullptr, 14, 5, reinterpret_cast<void*>(&NewProc));
    ASSERT_TRUE(patch->Checked());
    ASSERT_TRUE(patch->Apply());
    gCalls.clear();
    EXPECT_EQ(run(), 42);
    EXPECT_EQ(gCalls, (std::vector<int>{-21, 21}));
    delete patch;
    gCalls.clear();
    EXPECT_EQ(run(), 42);
    EXPECT_EQ(gCalls, std::vector<int>{21});
}

TEST(Patch, ResolveJumpThunkFollowsImportStubs) {
    CodeBuffer code;
    void* target = code + 500;
    void** slot = reinterpret_cast<void**>(code + 100);
    *slot = target;
    code[0] = 0xFF;
    code[1] = 0x25;
    uint32_t slotAddress = reinterpret_cast<uint32_t>(slot);
    std::memcpy(code + 2, &slotAddress, 4);
    EXPECT_EQ(ResolveJumpThunk(code + 0), target);
    EXPECT_EQ(ResolveJumpThunk(code + 10), code + 10);
    EXPECT_EQ(ResolveJumpThunk(nullptr), nullptr);
    uint32_t bad = 16;
    std::memcpy(code + 2, &bad, 4);
    EXPECT_EQ(ResolveJumpThunk(code + 0), nullptr);
}

}  // namespace

namespace {

__attribute__((noipa)) int Answer() { return 1; }
__attribute__((noipa)) int OtherAnswer() { return 2; }

// The program's own code pages are read-only; the process-memory write
// makes them writable for the copy.
TEST(Patch, PatchesTheProgramsOwnCode) {
    int (*volatile fn)() = &Answer;
    crash::TZudAviziJumpCallPatch patch(reinterpret_cast<void*>(&Answer), nullptr, nullptr, 16,
                                        reinterpret_cast<void*>(&OtherAnswer), 0, crash::patchJump);
    ASSERT_TRUE(patch.Checked());
    ASSERT_TRUE(patch.Apply());
    EXPECT_EQ(fn(), 2);
    ASSERT_TRUE(patch.Remove());
    EXPECT_EQ(fn(), 1);
}

TEST(Patch, PagesOpenedForABatchOfPatchesGetTheirProtectionBack) {
    int (*volatile fn)() = &Answer;
    void* at = reinterpret_cast<void*>(&Answer);
    MEMORY_BASIC_INFORMATION before{}, during{}, after{};
    ASSERT_TRUE(VirtualQuery(at, &before, sizeof(before)));
    {
        crash::TZudAviziJumpCallPatch patch(at, nullptr, nullptr, 16, reinterpret_cast<void*>(&OtherAnswer), 0,
                                            crash::patchJump);
        env::TWritablePages pages;
        pages.Add(patch.Address(), static_cast<size_t>(patch.Size()));
        pages.Add(patch.Address(), 1);  // a page already open is not opened twice
        ASSERT_TRUE(VirtualQuery(at, &during, sizeof(during)));
        // An image's pages show writable as copy-on-write.
        EXPECT_NE(0u, during.Protect & (PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) << during.Protect;
        ASSERT_TRUE(patch.Apply());
        EXPECT_EQ(fn(), 2);
        ASSERT_TRUE(patch.Remove());
        EXPECT_EQ(fn(), 1);
    }
    ASSERT_TRUE(VirtualQuery(at, &after, sizeof(after)));
    EXPECT_EQ(before.Protect, after.Protect);
}

}  // namespace
