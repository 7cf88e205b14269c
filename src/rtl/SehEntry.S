// Machine-code entry points of the runtime's exception machinery (i386, GAS).
//
// Their first bytes are fixed: the exception manager recognises and patches
// them in memory, so every byte sequence below that is written with .byte is
// part of the contract and must not be "optimised". Comments give the
// encoding of each hand-assembled instruction.

    .intel_syntax noprefix
    .text
#include "RaiseSequence.inc"

// Frame-handler entries. The operating system calls a handler as
//   EXCEPTION_DISPOSITION __cdecl handler(EXCEPTION_RECORD*, void* frame,
//                                         CONTEXT*, void* dispatcherContext)
// Each begins with the same 11 bytes:
//   8B 44 24 04            mov  eax, [esp+4]          ; exception record
//   F7 40 04 06 00 00 00   test dword ptr [eax+4], 6  ; unwinding flags
// and then jumps, with the stack untouched, to its C++ logic, which receives
// the same four arguments and returns the disposition.
.macro FRAME_HANDLER name, impl
    .globl \name
    .p2align 4
\name:
    .byte 0x8B, 0x44, 0x24, 0x04
    .byte 0xF7, 0x40, 0x04, 0x06, 0x00, 0x00, 0x00
    jmp \impl
.endm

    FRAME_HANDLER _rtl_HandleOnExcept, _rtl_HandleOnExceptImpl
    FRAME_HANDLER _rtl_HandleAnyExcept, _rtl_HandleAnyExceptImpl
    FRAME_HANDLER _rtl_HandleAutoExcept, _rtl_HandleAutoExceptImpl
    FRAME_HANDLER _rtl_ExceptionHandler, _rtl_ExceptionHandlerImpl

// RaiseExcept: raises the runtime exception object in EAX.
// Entered by `call` from the raiser, so [esp] is the raiser's return address R.
// Forms the seven exception arguments [R, object, EBX, ESI, EDI, EBP, ESP]
// (ESP as it is after the return to R) and calls
// RaiseException(0x0EEDFADE, EXCEPTION_NONCONTINUABLE, 7, args) with R as the
// return address, so the exception is reported as raised at R.
    .globl _rtl_RaiseExcept
    .p2align 4
_rtl_RaiseExcept:
    test eax, eax
    jz   1f
    RAISE_RUNTIME_EXCEPTION
1:  // No object: runtime error 216 at the raiser's address.
    push dword ptr [esp]
    push 216
    call _rtl_RunError
    ud2

// DoneExcept: ends the handling of the current exception and releases it.
//   E8 rel32               call rtl_TakeHandledObject   ; object -> EAX
//   8B 90 00 00 00 00      mov  edx, [eax+0]            ; the object's class
// then hands the object to rtl_ReleaseObject.
    .globl _rtl_DoneExcept
    .p2align 4
_rtl_DoneExcept:
    call _rtl_TakeHandledObject
    .byte 0x8B, 0x90, 0x00, 0x00, 0x00, 0x00
    push eax
    call _rtl_ReleaseObject
    add  esp, 4
    ret

// ThrowTrampoline: entered by a jump with a return address on the stack (the
// raise site R, or a faulting instruction + 1) and every callee-saved
// register as it was there; EAX = accepting scope, EDX = exception object.
// It looks to the C++ unwinder like a function called from that address and
// throws the runtime's in-flight wrapper from there, so every destructor
// between the raise site and the accepting scope runs.
    .globl _rtl_ThrowTrampoline
    .p2align 4
_rtl_ThrowTrampoline:
    .cfi_startproc
    push ebp
    .cfi_adjust_cfa_offset 4
    .cfi_rel_offset ebp, 0
    mov  ebp, esp
    .cfi_def_cfa_register ebp
    cld
    and  esp, -16
    sub  esp, 8
    push edx
    push eax
    call _rtl_ThrowRaised
    ud2
    .cfi_endproc

// FaultTrampoline: where a continued processor fault resumes. ECX holds the
// faulting instruction's address + 1, which becomes the return address.
    .globl _rtl_FaultTrampoline
    .p2align 4
_rtl_FaultTrampoline:
    push ecx
    jmp  _rtl_ThrowTrampoline

// ResumeAtRaise(const DWORD args[7], void* scope): restores EBX, ESI, EDI,
// EBP and ESP of the raise site from the exception arguments, pushes R and
// enters the throw trampoline. Never returns. Every value is loaded before
// the stack switch, because the arguments lie in memory below the new ESP.
    .globl _rtl_ResumeAtRaise
    .p2align 4
_rtl_ResumeAtRaise:
    mov  ecx, [esp+4]
    mov  eax, [esp+8]
    mov  edx, [ecx+4]
    mov  ebx, [ecx+8]
    mov  esi, [ecx+12]
    mov  edi, [ecx+16]
    mov  ebp, [ecx+20]
    mov  esp, [ecx+24]
    mov  ecx, [ecx]
    push ecx
    jmp  _rtl_ThrowTrampoline

// Unwind(targetFrame, record): RtlUnwind to `targetFrame`, keeping EBX, ESI,
// EDI and EBP, which RtlUnwind does not reliably preserve on x86.
    .globl _rtl_Unwind
    .p2align 4
_rtl_Unwind:
    push ebp
    mov  ebp, esp
    push ebx
    push esi
    push edi
    push 0                      // ReturnValue
    push dword ptr [ebp+12]     // ExceptionRecord
    push offset 2f              // TargetIp: continue right here
    push dword ptr [ebp+8]      // TargetFrame
    call dword ptr [__imp__RtlUnwind@16]
2:  lea  esp, [ebp-12]
    pop  edi
    pop  esi
    pop  ebx
    pop  ebp
    ret

// Reads the head of the thread's registration chain (fs:[0]).
    .globl _rtl_GetChainHead
    .p2align 4
_rtl_GetChainHead:
    mov  eax, fs:[0]
    ret

    .globl _rtl_SetChainHead
    .p2align 4
_rtl_SetChainHead:
    mov  eax, [esp+4]
    mov  fs:[0], eax
    ret
