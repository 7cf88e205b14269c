// One non-copyable owner per handle kind, defined by a traits struct:
//   struct Traits { using Handle = HKEY; static Handle Invalid(); static void Close(Handle); };
#pragma once
#include <utility>

#include "rtl/Win.h"

#include <objbase.h>

namespace rtl {

template <class Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() : FHandle(Traits::Invalid()) {}
    explicit ScopedHandle(Handle h) : FHandle(h) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : FHandle(other.Take()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) Reset(other.Take());
        return *this;
    }

    Handle Get() const { return FHandle; }
    bool IsValid() const { return FHandle != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    // Gives up ownership without closing.
    Handle Take() { return std::exchange(FHandle, Traits::Invalid()); }
    void Reset(Handle h = Traits::Invalid()) {
        if (IsValid()) Traits::Close(FHandle);
        FHandle = h;
    }
    // For APIs that return a handle through an out-parameter.
    Handle* Receive() {
        Reset();
        return &FHandle;
    }

private:
    Handle FHandle;
};

struct KernelHandleTraits {  // CreateFile and friends: INVALID_HANDLE_VALUE when none
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct KernelObjectTraits {  // processes, threads, events, mappings: null when none
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
struct ModuleTraits {  // LoadLibrary
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { FreeLibrary(h); }
};

struct FindTraits {  // FindFirstFile
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { FindClose(h); }
};
template <class P>
struct CoTaskMemTraits {  // memory the callee allocated with the task allocator
    using Handle = P;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CoTaskMemFree(h); }
};
struct ViewTraits {  // MapViewOfFile
    using Handle = void*;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { UnmapViewOfFile(h); }
};

struct FontTraits {  // CreateFont and friends
    using Handle = HFONT;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
struct MenuTraits {  // a menu not (yet) given to a window
    using Handle = HMENU;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DestroyMenu(h); }
};

using ScopedFileHandle = ScopedHandle<KernelHandleTraits>;
using ScopedKernelObject = ScopedHandle<KernelObjectTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedLibrary = ScopedHandle<ModuleTraits>;
using ScopedFind = ScopedHandle<FindTraits>;
using ScopedView = ScopedHandle<ViewTraits>;
using ScopedFont = ScopedHandle<FontTraits>;
using ScopedMenu = ScopedHandle<MenuTraits>;

// Binds an optional entry point once, typed by the declaration it stands for:
//   auto fn = BindProc<decltype(&::ReportFault)>(module, "ReportFault");
template <class Fn>
Fn BindProc(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace rtl
