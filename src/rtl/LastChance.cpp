#include "rtl/LastChance.h"

#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <typeinfo>

#include "rtl/Seh.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace rtl {

RTL_DEFINE_EXCEPTION_CLASS(EUncaughtException, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EAbortCalled, Exception)

namespace {

using OutermostHandler = EXCEPTION_DISPOSITION (*)(EXCEPTION_RECORD*, void*, CONTEXT*, void*);

bool gInstalled = false;
LPTOP_LEVEL_EXCEPTION_FILTER gPreviousFilter = nullptr;
std::terminate_handler gPreviousTerminate = nullptr;
void (*gPreviousAbort)(int) = nullptr;

EXCEPTION_DISPOSITION CallOutermostHandler(EXCEPTION_RECORD* rec, CONTEXT* ctx) {
    return reinterpret_cast<OutermostHandler>(&rtl_ExceptionHandler)(rec, nullptr, ctx, nullptr);
}

// Threads without the outermost handler on their stack end here.
LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS* pointers) {
    if (pointers && pointers->ExceptionRecord && pointers->ContextRecord)
        CallOutermostHandler(pointers->ExceptionRecord, pointers->ContextRecord);
    // Only what the outermost handler leaves alone (warnings, breakpoints)
    // comes back here.
    return gPreviousFilter ? gPreviousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

std::wstring Demangled(const char* name) {
    int status = 0;
    char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::wstring result = FromAnsi(status == 0 && text ? text : name);
    std::free(text);
    return result;
}

// The text for a C++ exception that escaped (or for std::terminate called
// without one).
std::wstring UncaughtExceptionText() {
    std::exception_ptr current = std::current_exception();
    if (!current) return L"std::terminate called";
    const std::type_info* type = abi::__cxa_current_exception_type();
    std::wstring text = L"C++ exception escaped: " + (type ? Demangled(type->name()) : std::wstring(L"unknown type"));
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        const std::wstring what = FromAnsi(e.what());
        if (!what.empty() && text.compare(text.size() - what.size(), what.size(), what) != 0) text += L": " + what;
    } catch (...) {}
    return text;
}

void OnTerminate() { FailFatally(new EUncaughtException(UncaughtExceptionText()), __builtin_return_address(0)); }

void OnAbort(int) { FailFatally(new EAbortCalled(L"abort() called"), __builtin_return_address(0)); }

}  // namespace

void FailFatally(Exception* obj, void* address) {
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_FULL;
    RtlCaptureContext(&ctx);
    EXCEPTION_RECORD rec{};
    rec.ExceptionCode = cRuntimeExceptionCode;
    rec.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    rec.ExceptionAddress = address;
    rec.NumberParameters = cRuntimeExceptionArgs;
    const ULONG_PTR args[cRuntimeExceptionArgs] = {reinterpret_cast<ULONG_PTR>(address),
                                                   reinterpret_cast<ULONG_PTR>(obj),
                                                   ctx.Ebx,
                                                   ctx.Esi,
                                                   ctx.Edi,
                                                   ctx.Ebp,
                                                   ctx.Esp};
    for (uint32_t i = 0; i < cRuntimeExceptionArgs; ++i) rec.ExceptionInformation[i] = args[i];
    CallOutermostHandler(&rec, &ctx);
    ExitProcess(1);  // the outermost handler halts; this only guards against a handler that returned
}

void InstallLastChanceHandlers() {
    if (gInstalled) return;
    gInstalled = true;
    gPreviousFilter = SetUnhandledExceptionFilter(&LastChanceFilter);
    gPreviousTerminate = std::set_terminate(&OnTerminate);
    gPreviousAbort = std::signal(SIGABRT, &OnAbort);
}

void RemoveLastChanceHandlers() {
    if (!gInstalled) return;
    gInstalled = false;
    SetUnhandledExceptionFilter(gPreviousFilter);
    std::set_terminate(gPreviousTerminate);
    std::signal(SIGABRT, gPreviousAbort == SIG_ERR ? SIG_DFL : gPreviousAbort);
}

}  // namespace rtl

// A pure virtual function called (through an object under construction or
// already destroyed).
extern "C" void __cxa_pure_virtual() {
    rtl::FailFatally(new rtl::EAbstractError(L"Pure virtual function call"), __builtin_return_address(0));
}
