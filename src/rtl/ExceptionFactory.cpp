#include "rtl/ExceptionFactory.h"

#include <new>

#include "rtl/FilePath.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace rtl {

namespace {

EOutOfMemory* gOutOfMemory = nullptr;

// Memory exhaustion in operator new raises the preallocated object, so the
// failure travels like every other runtime exception.
void RaiseOutOfMemory() { Raise(OutOfMemoryObject()); }

struct OutOfMemoryInit {
    OutOfMemoryInit() {
        OutOfMemoryObject();
        std::set_new_handler(&RaiseOutOfMemory);
    }
} gOutOfMemoryInit;

const wchar_t* AccessKind(ULONG_PTR kind) {
    switch (kind) {
        case 0: return L"Read";
        case 1: return L"Write";
        case 8: return L"Execution";
        default: return L"Access";
    }
}

}  // namespace

Exception* OutOfMemoryObject() {
    if (!gOutOfMemory) gOutOfMemory = new EOutOfMemory(L"Out of memory");
    return gOutOfMemory;
}

std::wstring ModuleNameOfAddress(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return {};
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return ExtractFileName(std::wstring(path, n));
}

Exception* ExceptObjFromRecord(const EXCEPTION_RECORD* rec) {
    uint32_t code = rec->ExceptionCode;
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: {
            ULONG_PTR kind = rec->NumberParameters >= 1 ? rec->ExceptionInformation[0] : 0;
            ULONG_PTR target = rec->NumberParameters >= 2 ? rec->ExceptionInformation[1] : 0;
            std::wstring module = ModuleNameOfAddress(rec->ExceptionAddress);
            return new EAccessViolation(
                Format(L"Access violation at address %.8X in module '%ls'. %ls of address %.8X",
                       static_cast<unsigned>(reinterpret_cast<uintptr_t>(rec->ExceptionAddress)), module.c_str(),
                       AccessKind(kind), static_cast<unsigned>(target)),
                code);
        }
        case EXCEPTION_INT_DIVIDE_BY_ZERO: return new EDivByZero(L"Division by zero", code);
        case EXCEPTION_INT_OVERFLOW: return new EIntOverflow(L"Integer overflow", code);
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return new ERangeError(L"Range check error", code);
        case EXCEPTION_FLT_DIVIDE_BY_ZERO: return new EZeroDivide(L"Floating point division by zero", code);
        case EXCEPTION_FLT_OVERFLOW: return new EOverflow(L"Floating point overflow", code);
        case EXCEPTION_FLT_UNDERFLOW: return new EUnderflow(L"Floating point underflow", code);
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_STACK_CHECK: return new EInvalidOp(L"Invalid floating point operation", code);
        case EXCEPTION_STACK_OVERFLOW: return new EStackOverflow(L"Stack overflow", code);
        case EXCEPTION_PRIV_INSTRUCTION: return new EPrivilege(L"Privileged instruction", code);
        default: return new EExternalException(Format(L"External exception %.8X", static_cast<unsigned>(code)), code);
    }
}

}  // namespace rtl
