// Turns operating-system exceptions into runtime exception objects, and the
// preallocated object raised when memory runs out.
#pragma once
#include "rtl/Exception.h"

struct _EXCEPTION_RECORD;

namespace rtl {

// A new object describing `rec`: EAccessViolation (with the address and
// whether it was a read, write or execute), EDivByZero, EIntOverflow,
// ERangeError, the floating-point errors, EStackOverflow, EPrivilege, or
// EExternalException for any other code. The caller owns it.
Exception* ExceptObjFromRecord(const _EXCEPTION_RECORD* rec);

// The one EOutOfMemory object, made at start-up so that reporting a lack of
// memory needs none. Releasing it is a no-op.
Exception* OutOfMemoryObject();

// The file name (without folder) of the module that contains `address`;
// empty when none does.
std::wstring ModuleNameOfAddress(const void* address);

}  // namespace rtl
