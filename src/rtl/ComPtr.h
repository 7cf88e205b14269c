// A counted reference to a COM interface, or to any object counted the COM
// way (AddRef and Release): every owner holds one reference, a copy takes one
// more, and the last owner to go releases the object.
#pragma once
#include <utility>

namespace rtl {

template <class I>
class TComPtr {
public:
    TComPtr() = default;
    ~TComPtr() { Reset(); }
    TComPtr(const TComPtr& other) { Assign(other.FPtr); }
    TComPtr& operator=(const TComPtr& other) {
        TComPtr copy(other);
        std::swap(FPtr, copy.FPtr);
        return *this;
    }
    TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            FPtr = std::exchange(other.FPtr, nullptr);
        }
        return *this;
    }

    // Takes a new reference of `p`: for an object just made or handed in by a caller.
    static TComPtr Share(I* p) {
        TComPtr result;
        result.Assign(p);
        return result;
    }

    I* Get() const { return FPtr; }
    I* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

    // Releases the reference held, if any.
    void Reset() {
        if (FPtr) std::exchange(FPtr, nullptr)->Release();
    }
    // For APIs that hand out a reference through an out-parameter: the
    // reference they give becomes this owner's.
    I** Receive() {
        Reset();
        return &FPtr;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

private:
    void Assign(I* p) {
        if (p) p->AddRef();
        FPtr = p;
    }

    I* FPtr = nullptr;
};

}  // namespace rtl
