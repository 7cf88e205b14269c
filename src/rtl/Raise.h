// Raising runtime exceptions. The raised object is owned by the runtime from
// the moment it is raised until the scope that accepts it has handled it.
#pragma once
#include <utility>

#include "rtl/Exception.h"
#include "rtl/Seh.h"
#include "rtl/Text.h"

namespace rtl {

// Raises `e` (taking ownership). A null object stops the program with
// runtime error 216. Inlined so that the raise address is the caller's.
[[noreturn]] inline __attribute__((always_inline, artificial)) void Raise(Exception* e) { rtl_RaiseExcept(e); }

// Inside a handler: raises the exception being handled again, unchanged.
[[noreturn]] inline __attribute__((always_inline, artificial)) void ReRaise() {
    rtl_RaiseExcept(detail::THandling::TakeCurrentForReRaise());
}

template <class E, class... Args>
[[noreturn]] inline __attribute__((always_inline, artificial)) void RaiseNew(Args&&... args) {
    Raise(new E(std::forward<Args>(args)...));
}

// Raises EInOutError "`what`: <the system's message for `error`>" carrying
// the system's code, for a file operation that failed.
[[noreturn]] inline void RaiseInOutError(const std::wstring& what, uint32_t error) {
    RaiseNew<EInOutError>(what + L": " + SysErrorMessage(error), static_cast<int>(error));
}

}  // namespace rtl
