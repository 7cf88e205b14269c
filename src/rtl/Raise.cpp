#include "rtl/Raise.h"

#include <cstdio>
#include <cstdlib>

#include "rtl/Try.h"
#include "rtl/Win.h"

namespace rtl {

namespace detail {

static thread_local HandlingScope* tCurrentScope = nullptr;

HandlingScope::HandlingScope(Exception* obj) : FObject(obj), FOuter(tCurrentScope) { tCurrentScope = this; }

HandlingScope::~HandlingScope() {
    tCurrentScope = FOuter;
    delete FObject;
}

Exception* HandlingScope::Current() { return tCurrentScope ? tCurrentScope->FObject : nullptr; }

void HandlingScope::ReleaseCurrent() {
    if (tCurrentScope) tCurrentScope->FObject = nullptr;
}

}  // namespace detail

[[noreturn]] static void RuntimeError(int code) {
    wchar_t text[64];
    swprintf(text, 64, L"Runtime error %d", code);
    MessageBoxW(nullptr, text, L"Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    ExitProcess(static_cast<UINT>(code));
}

void Raise(Exception* e) {
    if (!e) RuntimeError(216);
    throw detail::RaisedException{e};
}

void ReRaise() {
    Exception* obj = detail::HandlingScope::Current();
    if (!obj) RuntimeError(216);
    detail::HandlingScope::ReleaseCurrent();
    throw detail::RaisedException{obj};
}

}  // namespace rtl
