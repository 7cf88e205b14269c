#include "crash/ZudAviziPatch.h"

#include <cstring>
#include <new>

#include "env/OwnMemory.h"
#include "rtl/ExceptionFactory.h"
#include "rtl/Raise.h"
#include "rtl/Win.h"

namespace crash {

namespace {

bool TemplateMatches(const uint8_t* bytes, const uint8_t* tmpl, const uint8_t* mask, int n) {
    if (!tmpl || !bytes) return true;
    for (int i = 0; i < n; ++i) {
        uint8_t b = mask ? static_cast<uint8_t>(mask[i] & bytes[i]) : bytes[i];
        if (b != tmpl[i]) return false;
    }
    return true;
}

// Writes code bytes and makes the processor see them.
bool WriteCode(void* address, const void* bytes, int size) {
    if (!env::WriteOwnMemory(address, bytes, static_cast<size_t>(size))) return false;
    FlushInstructionCache(GetCurrentProcess(), address, static_cast<SIZE_T>(size));
    return true;
}

int32_t Displacement(uintptr_t instruction, uintptr_t target) {
    return static_cast<int32_t>(target - (instruction + 5));
}

}  // namespace

// --- TZudAviziPatch ---

TZudAviziPatch::TZudAviziPatch(void* address) : FAddress(address) {}

TZudAviziPatch::~TZudAviziPatch() {
    UnLock();
    Remove();
}

bool TZudAviziPatch::SetupTemplate(const uint8_t* tmpl, const uint8_t* mask, int /*offset*/, int size) {
    if (size > cPatchBytes || size < 0) size = cPatchBytes;
    FSize = size;
    if (!env::ReadOwnCode(FAddress, FOriginalBytes, static_cast<size_t>(FSize))) return FChecked;
    std::memcpy(FPatchedBytes, FOriginalBytes, sizeof(FPatchedBytes));
    FChecked = TemplateMatches(FOriginalBytes, tmpl, mask, FSize);
    return FChecked;
}

void TZudAviziPatch::SetupPatch(const uint8_t* patch, const uint8_t* mask, int offset, int size) {
    if (!FChecked || !patch || offset >= FSize || offset < 0 || size <= 0) return;
    std::memcpy(FPatchedBytes, FOriginalBytes, sizeof(FPatchedBytes));
    if (offset + size > FSize) size = FSize - offset;
    for (int k = 0; k < size; ++k) {
        uint8_t& target = FPatchedBytes[offset + k];
        target = mask ? static_cast<uint8_t>((target & ~mask[k]) | (mask[k] & patch[k])) : patch[k];
    }
}

bool TZudAviziPatch::Apply() {
    if (!FChecked) return false;
    if (!WriteCode(FAddress, FPatchedBytes, FSize)) return false;
    FApplied = true;
    return true;
}

bool TZudAviziPatch::Remove() {
    if (!FApplied) return false;
    if (!WriteCode(FAddress, FOriginalBytes, FSize)) return false;
    FApplied = false;
    return true;
}

void TZudAviziPatch::Lock() {
    if (FAddress && FSize > 0) VirtualLock(FAddress, static_cast<SIZE_T>(FSize));
}

void TZudAviziPatch::UnLock() {
    if (FAddress && FSize > 0) VirtualUnlock(FAddress, static_cast<SIZE_T>(FSize));
}

// --- generic and jump/call patches ---

TZudAviziGenericPatch::TZudAviziGenericPatch(void* address, const uint8_t* tmpl, const uint8_t* tmplMask, int tmplSize,
                                             const uint8_t* patch, const uint8_t* patchMask, int patchOffset,
                                             int patchSize)
    : TZudAviziPatch(address) {
    if (SetupTemplate(tmpl, tmplMask, 0, tmplSize)) SetupPatch(patch, patchMask, patchOffset, patchSize);
}

TZudAviziPatchCallJmpCmd TZudAviziJumpCallPatch::MakeCmd(void* address, int patchOffset, void* dest,
                                                         TZudAviziJumpCallPatchInstruction type) {
    uintptr_t at = reinterpret_cast<uintptr_t>(address) + static_cast<uintptr_t>(patchOffset);
    return {static_cast<uint8_t>(type == patchCall ? 0xE8 : 0xE9), Displacement(at, reinterpret_cast<uintptr_t>(dest))};
}

TZudAviziJumpCallPatch::TZudAviziJumpCallPatch(void* address, const uint8_t* tmpl, const uint8_t* tmplMask,
                                               int tmplSize, void* dest, int patchOffset,
                                               TZudAviziJumpCallPatchInstruction type)
    : TZudAviziGenericPatch(address, tmpl, tmplMask, tmplSize,
                            reinterpret_cast<const uint8_t*>(&static_cast<const TZudAviziPatchCallJmpCmd&>(
                                MakeCmd(address, patchOffset, dest, type))),
                            nullptr, patchOffset, sizeof(TZudAviziPatchCallJmpCmd)) {}

// --- call substitution ---

namespace {

// Thunks execute inside the patch objects, so these live in a heap whose
// pages may be executed.
HANDLE ExecutableHeap() {
    static HANDLE heap = HeapCreate(HEAP_CREATE_ENABLE_EXECUTE, 0, 0);
    return heap;
}

}  // namespace

void* TZudAviziCallSubstPatch::operator new(size_t size) {
    void* p = HeapAlloc(ExecutableHeap(), 0, size);
    if (!p) rtl::Raise(rtl::OutOfMemoryObject());
    return p;
}

void TZudAviziCallSubstPatch::operator delete(void* p) {
    if (p) HeapFree(ExecutableHeap(), 0, p);
}

TZudAviziCallSubstPatch::TZudAviziCallSubstPatch(void* address, const uint8_t* tmpl, const uint8_t* tmplMask,
                                                 int tmplSize, int callCmdOffset, void* dest)
    : TZudAviziPatch(address) {
    if (!SetupTemplate(tmpl, tmplMask, 0, tmplSize)) return;
    uintptr_t a = reinterpret_cast<uintptr_t>(address) + static_cast<uintptr_t>(callCmdOffset);
    int32_t d = 0;
    if (!env::ReadOwnCode(reinterpret_cast<void*>(a + 1), &d, sizeof(d))) return;
    uintptr_t oldProc = a + 5 + static_cast<uintptr_t>(static_cast<intptr_t>(d));
    auto thunk = reinterpret_cast<uintptr_t>(&FThunk);
    FThunk.CallNewProc = {0xE8, Displacement(thunk, reinterpret_cast<uintptr_t>(dest))};
    FThunk.PushImm32 = {0x68, static_cast<uint32_t>(a + 5)};
    FThunk.JmpToOldProc = {0xE9, Displacement(thunk + 10, oldProc)};
    FlushInstructionCache(GetCurrentProcess(), &FThunk, sizeof(FThunk));
    FJmpToThunk = {0xE9, Displacement(a, thunk)};
    SetupPatch(reinterpret_cast<const uint8_t*>(&FJmpToThunk), nullptr, callCmdOffset, sizeof(FJmpToThunk));
}

void* ResolveJumpThunk(void* p) {
    uint8_t bytes[6];
    if (!env::ReadOwnCode(p, bytes, sizeof(bytes))) return nullptr;
    if (bytes[0] != 0xFF || bytes[1] != 0x25) return p;
    uint32_t slot;
    std::memcpy(&slot, bytes + 2, sizeof(slot));
    void* target = nullptr;
    if (!env::ReadOwnCode(reinterpret_cast<void*>(slot), &target, sizeof(target))) return nullptr;
    return target;
}

}  // namespace crash
