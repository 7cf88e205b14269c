// Frame handlers of the catching scopes and of the program's outermost
// frame, and the bookkeeping of the exception being handled.
#include "rtl/Seh.h"

#include <cstdint>

#include "rtl/ErrorMessage.h"
#include "rtl/ExceptionFactory.h"
#include "rtl/Halt.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

namespace {

// The unwinder's lookup of the code-range description covering `pc`; a
// processor fault can only be turned into a C++ unwind when there is one.
struct DwarfEhBases {
    void* tbase;
    void* dbase;
    void* func;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, DwarfEhBases* bases);

constexpr DWORD cUnwindFlags = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;

thread_local rtl::detail::THandling* tHandling = nullptr;

bool IsRuntimeException(const EXCEPTION_RECORD* rec) {
    return rec->ExceptionCode == rtl::cRuntimeExceptionCode && rec->NumberParameters == rtl::cRuntimeExceptionArgs &&
           rec->ExceptionInformation[1] != 0;
}

// Reads one stack word without faulting.
bool ReadStackWord(uintptr_t address, uintptr_t& word) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof(info)) || info.State != MEM_COMMIT ||
        (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
        return false;
    word = *reinterpret_cast<const uintptr_t*>(address);
    return true;
}

// Errors only: warnings and informational codes (debug output, breakpoints
// handled by a debugger) are left to whoever raised them.
bool IsErrorCode(DWORD code) { return (code & 0xC0000000u) == 0xC0000000u; }

bool HasUnwindInfo(uintptr_t pc) {
    DwarfEhBases bases{};
    return _Unwind_Find_FDE(reinterpret_cast<void*>(pc), &bases) != nullptr;
}

// Where a continued fault resumes as a C++ throw: the fake return address
// (the unwinder looks up address - 1) and the stack pointer of that frame.
struct FaultResume {
    uintptr_t ReturnAddress;
    uintptr_t Esp;
};

// A fault can be continued into a C++ throw when it is continuable and the
// faulting instruction lies in code the unwinder can walk (our own code,
// built with -fnon-call-exceptions). A fault at the very start of code
// without unwind information whose caller can be walked (a call through a
// bad function pointer) resumes at that call instead.
bool FindFaultResume(const EXCEPTION_RECORD* rec, const CONTEXT* ctx, FaultResume& resume) {
    if (!IsErrorCode(rec->ExceptionCode) || (rec->ExceptionFlags & EXCEPTION_NONCONTINUABLE)) return false;
    if (HasUnwindInfo(ctx->Eip)) {
        resume = {ctx->Eip + 1, ctx->Esp};
        return true;
    }
    uintptr_t returnAddress = 0;
    if (rec->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || !ReadStackWord(ctx->Esp, returnAddress)) return false;
    if (returnAddress == 0 || !HasUnwindInfo(returnAddress - 1)) return false;
    resume = {returnAddress, ctx->Esp + 4};
    return true;
}

struct ChainRecord {
    ChainRecord* Next;
    void* Handler;
};
ChainRecord* const cChainEnd = reinterpret_cast<ChainRecord*>(~uintptr_t(0));

}  // namespace

extern "C" {
void rtl_ThrowTrampoline();
void rtl_FaultTrampoline();
[[noreturn]] void rtl_ResumeAtRaise(const ULONG_PTR* args, void* scope);
void rtl_Unwind(void* targetFrame, EXCEPTION_RECORD* rec);

[[noreturn]] void rtl_ThrowRaised(rtl::detail::TScopeFrame* target, rtl::Exception* obj) {
    throw rtl::detail::TRaised{target, obj};
}

rtl::Exception* rtl_TakeHandledObject() { return rtl::detail::THandling::TakeCurrentForDone(); }

void rtl_ReleaseObject(rtl::Exception* obj) { rtl::ReleaseObject(obj); }
}

namespace rtl {

void ReleaseObject(Exception* obj) {
    if (obj && obj != OutOfMemoryObject()) delete obj;
}

namespace detail {

TFrameGuard::TFrameGuard(TScopeFrame& frame) : FFrame(&frame), FPrevious(rtl_GetChainHead()) {
    frame.Next = static_cast<TScopeFrame*>(FPrevious);
    rtl_SetChainHead(&frame);
}

TFrameGuard::~TFrameGuard() { rtl_SetChainHead(FPrevious); }

THandling::THandling(Exception* obj) : FObject(obj), FOuter(tHandling) { tHandling = this; }

THandling::~THandling() {
    tHandling = FOuter;
    ReleaseObject(FObject);
}

void THandling::Done() {
    if (FObject) rtl_DoneExcept();
}

Exception* THandling::TakeCurrentForReRaise() {
    if (!tHandling) return nullptr;
    Exception* obj = tHandling->FObject;
    tHandling->FObject = nullptr;
    return obj;
}

Exception* THandling::TakeCurrentForDone() { return TakeCurrentForReRaise(); }

// The scope `frame` takes the exception: it never returns to the dispatcher
// for a raised exception, and for a fault it continues execution in the
// throw trampoline.
static EXCEPTION_DISPOSITION Accept(EXCEPTION_RECORD* rec, TScopeFrame* frame, CONTEXT* ctx, Exception* obj,
                                    bool raised, const FaultResume& resume) {
    if (raised) {
        // Remove the dispatcher's own records down to the innermost record
        // that was live at the raise point (never the accepting record
        // itself: inner scopes between the two are still live and unlink
        // their records as the C++ unwind passes them).
        const ULONG_PTR* args = rec->ExceptionInformation;
        auto* r = static_cast<ChainRecord*>(rtl_GetChainHead());
        while (r != cChainEnd && reinterpret_cast<uintptr_t>(r) < args[6]) r = r->Next;
        rtl_Unwind(r, rec);
        rtl_ResumeAtRaise(args, frame);
    }
    ctx->Ecx = resume.ReturnAddress;
    ctx->Esp = resume.Esp;
    ctx->Eip = reinterpret_cast<DWORD>(&rtl_FaultTrampoline);
    ctx->Eax = reinterpret_cast<DWORD>(frame);
    ctx->Edx = reinterpret_cast<DWORD>(obj);
    return ExceptionContinueExecution;
}

static EXCEPTION_DISPOSITION HandleScope(EXCEPTION_RECORD* rec, TScopeFrame* frame, CONTEXT* ctx) {
    if (rec->ExceptionFlags & cUnwindFlags) return ExceptionContinueSearch;
    bool raised = IsRuntimeException(rec);
    // Unwinding needs stack that an overflowing thread no longer has: a
    // stack overflow is left to the outermost handler.
    if (rec->ExceptionCode == EXCEPTION_STACK_OVERFLOW) return ExceptionContinueSearch;
    FaultResume resume{};
    if (!raised && !FindFaultResume(rec, ctx, resume)) return ExceptionContinueSearch;
    Exception* obj = raised ? reinterpret_cast<Exception*>(rec->ExceptionInformation[1]) : ExceptObjFromRecord(rec);
    if (frame->Matches && !frame->Matches(frame->Handlers, *obj)) {
        if (!raised) ReleaseObject(obj);
        return ExceptionContinueSearch;
    }
    return Accept(rec, frame, ctx, obj, raised, resume);
}

}  // namespace detail
}  // namespace rtl

using rtl::detail::TScopeFrame;

namespace {

struct FreshStackReport {
    rtl::Exception* Object;
    void* Address;
    void* State;
};

DWORD WINAPI ReportOnFreshStack(void* p) {
    auto* report = static_cast<FreshStackReport*>(p);
    const rtl::TThreadStateTransfer& transfer = rtl::ThreadStateTransfer();
    if (transfer.Adopt && report->State) transfer.Adopt(report->State);
    rtl_ShowError(report->Object, report->Address);
    return 0;
}

// Shows an unhandled exception from a new thread and waits for it: the
// failing thread's stack is used up.
void ShowErrorOnFreshStack(rtl::Exception* obj, void* address) {
    const rtl::TThreadStateTransfer& transfer = rtl::ThreadStateTransfer();
    FreshStackReport report{obj, address, transfer.Capture ? transfer.Capture() : nullptr};
    const rtl::ScopedKernelObject thread(CreateThread(nullptr, 256 * 1024, &ReportOnFreshStack, &report, 0, nullptr));
    if (thread) WaitForSingleObject(thread.Get(), INFINITE);
}

}  // namespace

extern "C" {

EXCEPTION_DISPOSITION rtl_HandleOnExceptImpl(EXCEPTION_RECORD* rec, void* frame, CONTEXT* ctx, void*) {
    return rtl::detail::HandleScope(rec, static_cast<TScopeFrame*>(frame), ctx);
}

EXCEPTION_DISPOSITION rtl_HandleAnyExceptImpl(EXCEPTION_RECORD* rec, void* frame, CONTEXT* ctx, void*) {
    return rtl::detail::HandleScope(rec, static_cast<TScopeFrame*>(frame), ctx);
}

EXCEPTION_DISPOSITION rtl_HandleAutoExceptImpl(EXCEPTION_RECORD* rec, void* frame, CONTEXT* ctx, void*) {
    return rtl::detail::HandleScope(rec, static_cast<TScopeFrame*>(frame), ctx);
}

// The program's outermost handler: an error that reaches it was not handled
// anywhere. It is shown by the last-chance display and the program halts
// with exit code 1.
EXCEPTION_DISPOSITION rtl_ExceptionHandlerImpl(EXCEPTION_RECORD* rec, void*, CONTEXT*, void*) {
    if (rec->ExceptionFlags & cUnwindFlags) return ExceptionContinueSearch;
    bool raised = IsRuntimeException(rec);
    if (!raised && !IsErrorCode(rec->ExceptionCode)) return ExceptionContinueSearch;
    rtl::Exception* obj =
        raised ? reinterpret_cast<rtl::Exception*>(rec->ExceptionInformation[1]) : rtl::ExceptObjFromRecord(rec);
    void* address = raised ? reinterpret_cast<void*>(rec->ExceptionInformation[0]) : rec->ExceptionAddress;
    if (rec->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        ShowErrorOnFreshStack(obj, address);
    else
        rtl_ShowError(obj, address);
    rtl::Halt(1);
}

}  // extern "C"
