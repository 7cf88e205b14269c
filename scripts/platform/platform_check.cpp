// Checks, in a fresh process, that this machine runs 32-bit Windows code
// faithfully enough for the fault and patch tests to mean something:
// processor faults arrive as the exceptions a real processor raises, with
// the right access flag and address, and code rewritten through the
// own-memory writer runs at once, even after it has already run.
//
// Prints one line per check and exits with 0 when every check passed, 1
// otherwise. Stays independent of the runtime's raise and catch machinery:
// a vectored handler records each fault and resumes after it.
#include <cstdint>
#include <cstdio>

#include "env/OwnMemory.h"
#include "rtl/Win.h"

extern "C" {
// Frameless leaf routines, so that a fault inside one resumes at its caller
// by popping the return address (see Resume).
int qf_read(uintptr_t address);
void qf_write(uintptr_t address);
int qf_divide(int a, int b);
void qf_overflow();
int qf_patch_probe();
uintptr_t qf_overflow_esp;
}

asm(R"(
    .text
    .globl _qf_read
_qf_read:
    movl 4(%esp), %ecx
    movl (%ecx), %eax
    ret
    .globl _qf_write
_qf_write:
    movl 4(%esp), %ecx
    movl $1, (%ecx)
    ret
    .globl _qf_divide
_qf_divide:
    movl 4(%esp), %eax
    cltd
    idivl 8(%esp)
    ret
    .globl _qf_overflow
_qf_overflow:
    movl %esp, _qf_overflow_esp
1:  pushl %eax
    jmp 1b
    .globl _qf_patch_probe
_qf_patch_probe:
    movl $1, %eax
    ret
    nop; nop; nop; nop; nop; nop; nop; nop; nop; nop
)");

namespace {

struct Fault {
    DWORD Code = 0;
    uintptr_t Address = 0;
    DWORD Parameters = 0;
    uintptr_t Info[2] = {};
};

volatile LONG g_expecting = 0;
Fault g_fault;

// Resumes at the return address on top of the given stack, as a `ret` would.
void Resume(CONTEXT* c, uintptr_t esp) {
    c->Eip = *reinterpret_cast<DWORD*>(esp);
    c->Esp = static_cast<DWORD>(esp + 4);
    c->Eax = 0;
}

LONG CALLBACK Record(EXCEPTION_POINTERS* p) {
    if (!InterlockedExchange(&g_expecting, 0)) return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD* r = p->ExceptionRecord;
    g_fault.Code = r->ExceptionCode;
    g_fault.Address = reinterpret_cast<uintptr_t>(r->ExceptionAddress);
    g_fault.Parameters = r->NumberParameters;
    for (DWORD i = 0; i < 2 && i < r->NumberParameters; ++i) g_fault.Info[i] = r->ExceptionInformation[i];
    Resume(p->ContextRecord, r->ExceptionCode == EXCEPTION_STACK_OVERFLOW ? qf_overflow_esp : p->ContextRecord->Esp);
    return EXCEPTION_CONTINUE_EXECUTION;
}

template <typename F>
Fault Provoke(F action) {
    g_fault = Fault{};
    InterlockedExchange(&g_expecting, 1);
    action();
    InterlockedExchange(&g_expecting, 0);
    return g_fault;
}

DWORD WINAPI OverflowThread(void*) {
    qf_overflow();
    return 0;
}

int g_failures = 0;

void Report(bool ok, const char* what, const Fault& f) {
    if (ok) {
        std::printf("ok      %s\n", what);
    } else {
        ++g_failures;
        std::printf("FAILED  %s: got exception %08lX at %08X, %lu parameters [%08X %08X]\n", what, f.Code,
                    static_cast<unsigned>(f.Address), f.Parameters, static_cast<unsigned>(f.Info[0]),
                    static_cast<unsigned>(f.Info[1]));
    }
}

void CheckAccess(const char* what, const Fault& f, uintptr_t flag, uintptr_t address) {
    Report(f.Code == EXCEPTION_ACCESS_VIOLATION && f.Parameters == 2 && f.Info[0] == flag && f.Info[1] == address, what,
           f);
}

void CheckPatch() {
    using Probe = int (*)();
    Probe volatile probe = qf_patch_probe;
    int before = 0;
    for (int i = 0; i < 1000; ++i) before += probe();
    const uint8_t movEax2Ret[] = {0xB8, 0x02, 0x00, 0x00, 0x00, 0xC3};  // mov eax, 2; ret
    const uint8_t movEax1Ret[] = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3};
    void* code = reinterpret_cast<void*>(qf_patch_probe);
    bool written = env::WriteOwnMemory(code, movEax2Ret, sizeof(movEax2Ret));
    FlushInstructionCache(GetCurrentProcess(), code, sizeof(movEax2Ret));
    int after = probe();
    bool restored = env::WriteOwnMemory(code, movEax1Ret, sizeof(movEax1Ret));
    FlushInstructionCache(GetCurrentProcess(), code, sizeof(movEax1Ret));
    int again = probe();
    bool ok = before == 1000 && written && after == 2 && restored && again == 1;
    if (ok) {
        std::printf("ok      code rewritten after it ran takes effect at once\n");
    } else {
        ++g_failures;
        std::printf(
            "FAILED  code rewritten after it ran takes effect at once: wrote %d, returned %d (expected 2); "
            "restored %d, returned %d (expected 1)\n",
            written, after, restored, again);
    }
}

}  // namespace

int main() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    PVOID handler = AddVectoredExceptionHandler(1, Record);

    CheckAccess("read fault at 00000010 is an access violation reading 00000010", Provoke([] { qf_read(0x10); }), 0,
                0x10);
    CheckAccess("write fault at 00000020 is an access violation writing 00000020", Provoke([] { qf_write(0x20); }), 1,
                0x20);
    Fault exec = Provoke([] { reinterpret_cast<void (*)()>(0x30)(); });
    CheckAccess("jump to 00000030 is an access violation executing 00000030", exec, 8, 0x30);

    Fault divide = Provoke([] { qf_divide(7, 0); });
    Report(divide.Code == EXCEPTION_INT_DIVIDE_BY_ZERO, "integer division by zero is EXCEPTION_INT_DIVIDE_BY_ZERO",
           divide);

    Fault overflow = Provoke([] {
        HANDLE thread =
            CreateThread(nullptr, 256 * 1024, OverflowThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread && WaitForSingleObject(thread, 60000) != WAIT_OBJECT_0) TerminateThread(thread, 1);
        if (thread) CloseHandle(thread);
    });
    Report(overflow.Code == EXCEPTION_STACK_OVERFLOW, "stack overflow in a worker thread is EXCEPTION_STACK_OVERFLOW",
           overflow);

    CheckPatch();

    RemoveVectoredExceptionHandler(handler);
    std::printf("%s\n", g_failures ? "platform check FAILED" : "platform check passed");
    return g_failures ? 1 : 0;
}
