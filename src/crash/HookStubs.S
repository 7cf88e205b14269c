// Stubs the exception manager's code patches lead to (i386, GAS).
    .intel_syntax noprefix
    .text
#include "rtl/RaiseSequence.inc"

// Entry stub: called by the `call` planted at the start of a frame handler.
// [esp] = back into the handler, [esp+4] = the handler's return address,
// [esp+8] = exception record, [esp+16] = context record.
    .globl _crash_EntryStub
    .p2align 4
_crash_EntryStub:
    pushad
    cld
    push dword ptr [esp+32+8]       // exception record
    push dword ptr [esp+4+32+16]    // context record
    call _crash_ExcNotify@8
    popad
    mov  eax, [esp+8]               // the overwritten mov eax, [esp+4] of the handler
    ret

// End stub: called after DoneExcept's first call, with the object in EAX.
    .globl _crash_EndStub
    .p2align 4
_crash_EndStub:
    pushad
    cld
    call _crash_ExcDoneNotify
    popad
    mov  edx, [eax]                 // the overwritten mov edx, [eax+0]
    ret

// C++ handler stub: reached through a call-substitution thunk with the
// handler's four arguments pushed (exception record first).
    .globl _crash_CppHandlerStub
    .p2align 4
_crash_CppHandlerStub:
    push ebp
    mov  ebp, esp
    pushad
    cld
    push dword ptr [ebp+8]          // first argument: exception record
    push dword ptr [ebp+16]         // third argument: context record
    call _crash_ExcNotify@8
    popad
    pop  ebp
    ret

// Raise stub: replaces the runtime's raise routine. Object in EAX, the
// raiser's return address R on the stack.
    .globl _crash_RaiseStub
    .p2align 4
_crash_RaiseStub:
    pushad
    mov  ecx, esp                   // the saved registers as TPushedRegisters
    cld
    push ecx
    push eax
    call _crash_ExcRaiseNotify@8
    test eax, eax
    popad                           // restores EAX; flags are kept
    jnz  1f
    // Not allowed: release the object and return to the raiser.
    push eax
    call _rtl_ReleaseObject
    add  esp, 4
    ret
1:  test eax, eax
    jz   2f
    RAISE_RUNTIME_EXCEPTION
2:  push dword ptr [esp]
    push 216
    call _rtl_RunError
    ud2
