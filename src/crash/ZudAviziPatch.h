// Reversible patches of machine code in the running process. A patch reads
// the bytes at its target when it is made, checks them against a template
// (so it is never written over code it does not recognise), prepares the
// replacement, and then writes the replacement (Apply) or the saved bytes
// (Remove) any number of times. All access goes through the own-memory
// helpers, so an unreadable target makes creation fail quietly.
#pragma once
#include <cstdint>

namespace crash {

#pragma pack(push, 1)
// E8/E9 rel32: target = address of the next instruction + Offset.
struct TZudAviziPatchCallJmpCmd {
    uint8_t OpCode;
    int32_t Offset;
};
// 68 imm32: push Imm32.
struct TZudAviziPatchPush32Cmd {
    uint8_t OpCode;
    uint32_t Imm32;
};
// Executed in place: call the new routine, push the return address the
// replaced call would have pushed, jump to the old callee.
struct TZudAviziCallSubstPatchThunk {
    TZudAviziPatchCallJmpCmd CallNewProc;
    TZudAviziPatchPush32Cmd PushImm32;
    TZudAviziPatchCallJmpCmd JmpToOldProc;
};
#pragma pack(pop)
static_assert(sizeof(TZudAviziPatchCallJmpCmd) == 5 && sizeof(TZudAviziCallSubstPatchThunk) == 15);

constexpr int cPatchBytes = 256;
using TZudAviziPatchBytes = uint8_t[cPatchBytes];

enum TZudAviziJumpCallPatchInstruction : uint8_t { patchJump = 0, patchCall = 1 };

class TZudAviziPatch {
public:
    explicit TZudAviziPatch(void* address);
    virtual ~TZudAviziPatch();  // unlocks, then removes the patch
    TZudAviziPatch(const TZudAviziPatch&) = delete;
    TZudAviziPatch& operator=(const TZudAviziPatch&) = delete;

    // Reads up to 256 bytes at the target (a size outside 0..256 means 256)
    // and compares them with the template. `offset` is accepted for
    // compatibility; the template is always compared from the first byte.
    bool SetupTemplate(const uint8_t* tmpl, const uint8_t* mask, int offset, int size);
    // Lays `size` patch bytes over the saved bytes from `offset` on; a zero
    // mask byte keeps the saved byte.
    void SetupPatch(const uint8_t* patch, const uint8_t* mask, int offset, int size);

    bool Apply();
    bool Remove();
    bool Reset() { return true; }
    void Lock();
    void UnLock();

    void* Address() const { return FAddress; }
    bool Applied() const { return FApplied; }
    bool Checked() const { return FChecked; }
    int Size() const { return FSize; }
    const uint8_t* OriginalBytes() const { return FOriginalBytes; }
    const uint8_t* PatchedBytes() const { return FPatchedBytes; }

protected:
    void* FAddress;
    int FSize = 0;
    bool FApplied = false;
    bool FChecked = false;
    TZudAviziPatchBytes FOriginalBytes{};
    TZudAviziPatchBytes FPatchedBytes{};
};

class TZudAviziGenericPatch : public TZudAviziPatch {
public:
    TZudAviziGenericPatch(void* address, const uint8_t* tmpl, const uint8_t* tmplMask, int tmplSize,
                          const uint8_t* patch, const uint8_t* patchMask, int patchOffset, int patchSize);
};

// Plants one jump or call at address + patchOffset that reaches `dest`.
// With no template and size -1 it covers 256 bytes, writing back the other
// 251 saved bytes whenever it is applied or removed.
class TZudAviziJumpCallPatch : public TZudAviziGenericPatch {
public:
    TZudAviziJumpCallPatch(void* address, const uint8_t* tmpl, const uint8_t* tmplMask, int tmplSize, void* dest,
                           int patchOffset, TZudAviziJumpCallPatchInstruction type);

private:
    static TZudAviziPatchCallJmpCmd MakeCmd(void* address, int patchOffset, void* dest,
                                            TZudAviziJumpCallPatchInstruction type);
};

// Redirects the relative call at address + callCmdOffset through a thunk
// that runs `dest` first (with the same arguments on the stack) and then the
// old callee, which returns to the instruction after the call. The object
// must live in executable memory: allocate it with `new` (its operator new
// places it there).
class TZudAviziCallSubstPatch : public TZudAviziPatch {
public:
    TZudAviziCallSubstPatch(void* address, const uint8_t* tmpl, const uint8_t* tmplMask, int tmplSize,
                            int callCmdOffset, void* dest);
    static void* operator new(size_t size);
    static void operator delete(void* p);

    const TZudAviziCallSubstPatchThunk& Thunk() const { return FThunk; }

private:
    TZudAviziCallSubstPatchThunk FThunk{};
    TZudAviziPatchCallJmpCmd FJmpToThunk{};
};

// When `p` is an import stub (FF 25: jmp dword ptr [abs]) answers the
// routine it jumps to, otherwise `p`; null when the bytes cannot be read.
void* ResolveJumpThunk(void* p);

}  // namespace crash
