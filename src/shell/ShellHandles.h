// Owners for what the shell hands out: item identifier lists (freed with the
// task allocator, which is the shell allocator) and COM interface pointers.
#pragma once
#include <utility>

#include <shlobj.h>

#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

namespace shell {

struct PidlTraits {
    using Handle = LPITEMIDLIST;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CoTaskMemFree(h); }
};
using ScopedPidl = rtl::ScopedHandle<PidlTraits>;

// A counted reference to a COM interface; released when it goes away.
template <class I>
class TComPtr {
public:
    TComPtr() = default;
    ~TComPtr() { Reset(); }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            FPtr = std::exchange(other.FPtr, nullptr);
        }
        return *this;
    }

    // Takes an extra reference of `p` (for pointers borrowed from a caller).
    static TComPtr Share(I* p) {
        TComPtr result;
        if (p) p->AddRef();
        result.FPtr = p;
        return result;
    }

    I* Get() const { return FPtr; }
    I* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

    void Reset() {
        if (FPtr) std::exchange(FPtr, nullptr)->Release();
    }
    // For APIs that return an interface through an out-parameter.
    I** Receive() {
        Reset();
        return &FPtr;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

private:
    I* FPtr = nullptr;
};

}  // namespace shell
