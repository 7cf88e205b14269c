/*
 * Preloaded into Wine's 32-bit processes when they run under QEMU's i386
 * user-mode emulator.
 *
 * The emulator queues a processor fault as a signal after leaving its
 * translated code, and by the time it builds the signal frame the
 * exception number it would report as the trap number has been reset: the
 * frame says -1. Wine reads that trap number to tell a page fault from an
 * illegal instruction, a division by zero from a floating-point fault, so
 * every such fault reached Windows programs as the wrong exception. Here
 * the handlers Wine installs are wrapped, and a trap number of -1 is filled
 * from the signal itself before Wine's handler reads it, as the kernel
 * would have filled it on a real processor. A frame that carries a real
 * trap number is left as it is.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdint.h>
#include <ucontext.h>

/* x86 exception vectors, as the kernel reports them in the trap number. */
enum { TRAP_DIVIDE = 0, TRAP_INVALID_OPCODE = 6, TRAP_GENERAL_PROTECTION = 13, TRAP_PAGE_FAULT = 14,
       TRAP_FPU_ERROR = 16 };
/* Page-fault error code: bit 1 a write, bit 4 an instruction fetch. */
enum { PF_WRITE = 1 << 1, PF_INSTRUCTION = 1 << 4 };

typedef int (*sigaction_fn)(int, const struct sigaction*, struct sigaction*);

static void (*wrapped[_NSIG])(int, siginfo_t*, void*);

static void fill_trap_number(int sig, const siginfo_t* info, ucontext_t* uc) {
    greg_t* r = uc->uc_mcontext.gregs;
    /* Signals sent by a process (si_code <= 0) carry no fault to describe. */
    if (r[REG_TRAPNO] != -1 || info->si_code <= 0) return;
    switch (sig) {
    case SIGSEGV:
    case SIGBUS:
        if (info->si_code == SI_KERNEL) {
            r[REG_TRAPNO] = TRAP_GENERAL_PROTECTION;
        } else {
            r[REG_TRAPNO] = TRAP_PAGE_FAULT;
            /* Jumping to a bad address faults on the fetch at that address. */
            if ((uintptr_t)info->si_addr == (uintptr_t)r[REG_EIP]) r[REG_ERR] = (r[REG_ERR] & ~PF_WRITE) | PF_INSTRUCTION;
        }
        break;
    case SIGFPE:
        r[REG_TRAPNO] = (info->si_code == FPE_INTDIV || info->si_code == FPE_INTOVF) ? TRAP_DIVIDE : TRAP_FPU_ERROR;
        break;
    case SIGILL:
        r[REG_TRAPNO] = TRAP_INVALID_OPCODE;
        break;
    }
}

static void dispatch(int sig, siginfo_t* info, void* context) {
    fill_trap_number(sig, info, (ucontext_t*)context);
    wrapped[sig](sig, info, context);
}

static int is_fault_signal(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
}

int sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
    static sigaction_fn next;
    if (!next) next = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    if (!is_fault_signal(sig)) return next(sig, act, old);

    struct sigaction mine;
    void (*handler)(int, siginfo_t*, void*) = 0;
    if (act && (act->sa_flags & SA_SIGINFO) && act->sa_sigaction != (void*)SIG_DFL &&
        act->sa_sigaction != (void*)SIG_IGN) {
        mine = *act;
        mine.sa_sigaction = dispatch;
        handler = act->sa_sigaction;
        act = &mine;
    }
    void (*previous)(int, siginfo_t*, void*) = wrapped[sig];
    if (handler) wrapped[sig] = handler;
    int result = next(sig, act, old);
    if (result != 0 && handler) wrapped[sig] = previous;
    /* Callers see the handler they installed, never the wrapper. */
    if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == dispatch) old->sa_sigaction = previous;
    return result;
}
