// Raising runtime exceptions. The raised object is owned by the runtime from
// the moment it is raised until the handler that accepts it has finished.
#pragma once
#include <utility>
#include "rtl/Exception.h"

namespace rtl {

// Raises `e` (taking ownership). A null object stops the program with
// runtime error 216.
[[noreturn]] void Raise(Exception* e);

// Inside a handler: raises the exception being handled again, unchanged.
[[noreturn]] void ReRaise();

template <class E, class... Args>
[[noreturn]] void RaiseNew(Args&&... args) {
    Raise(new E(std::forward<Args>(args)...));
}

}  // namespace rtl
