// Owners for what the shell hands out: item identifier lists (freed with the
// task allocator, which is the shell allocator) and COM interface pointers.
#pragma once
#include <shlobj.h>

#include "rtl/ComPtr.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

namespace shell {

using ScopedPidl = rtl::ScopedHandle<rtl::CoTaskMemTraits<LPITEMIDLIST>>;

using rtl::TComPtr;

}  // namespace shell
