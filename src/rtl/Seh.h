// The runtime's exception machinery on top of Win32 structured exception
// handling. Program code uses Raise.h and Try.h; this header is what those
// templates, the outermost handler and the exception manager need to see.
#pragma once
#include <cstdint>

#include "rtl/Exception.h"

struct _EXCEPTION_RECORD;
struct _CONTEXT;

namespace rtl {

// The code of the operating-system exception that carries a runtime
// exception object; its seven arguments are [R, object, EBX, ESI, EDI, EBP, ESP].
constexpr uint32_t cRuntimeExceptionCode = 0x0EEDFADE;
constexpr uint32_t cRuntimeExceptionArgs = 7;

namespace detail {

// A catching scope's registration record. The first two fields are the
// operating system's EXCEPTION_REGISTRATION_RECORD; the rest says what the
// scope catches. It lives on the stack of the scope's frame.
struct TScopeFrame {
    TScopeFrame* Next;
    void* Handler;
    // Null: catches every runtime exception. Otherwise answers whether one
    // of the scope's handlers takes the object.
    bool (*Matches)(const void* handlers, const Exception& e);
    const void* Handlers;
};

// What travels through C++ frames from the raise site to the accepting
// scope. Every scope's catch compares Target with its own frame and rethrows
// when it is not the one.
struct TRaised {
    TScopeFrame* Target;
    Exception* Object;
};

// Links a scope's record at the head of the chain for the lifetime of the
// guard and puts the previous head back on every exit.
class TFrameGuard {
public:
    explicit TFrameGuard(TScopeFrame& frame);
    ~TFrameGuard();
    TFrameGuard(const TFrameGuard&) = delete;
    TFrameGuard& operator=(const TFrameGuard&) = delete;

private:
    TScopeFrame* FFrame;
    void* FPrevious;
};

// Owns the exception object while a scope's handler runs and makes it the
// current one for ReRaise. Done() ends the handling through DoneExcept; when
// the handler leaves by an exception instead, the destructor releases the
// object (unless ReRaise took it back).
class THandling {
public:
    explicit THandling(Exception* obj);
    ~THandling();
    THandling(const THandling&) = delete;
    THandling& operator=(const THandling&) = delete;
    void Done();

    static Exception* TakeCurrentForReRaise();
    static Exception* TakeCurrentForDone();

private:
    Exception* FObject;
    THandling* FOuter;
};

}  // namespace detail

// Destroys a runtime exception object unless it is the preallocated one.
void ReleaseObject(Exception* obj);

}  // namespace rtl

// Entry points written in assembly (SehEntry.S) and their C++ partners.
extern "C" {
// Object in EAX, the raiser's return address on the stack. Declared as a
// real function that may throw so every call site gets an entry in the
// caller's exception table.
[[noreturn]] __attribute__((regparm(1))) void rtl_RaiseExcept(rtl::Exception* obj);
void rtl_DoneExcept();
void rtl_HandleOnExcept();
void rtl_HandleAnyExcept();
void rtl_HandleAutoExcept();
void rtl_ExceptionHandler();
void* rtl_GetChainHead();
void rtl_SetChainHead(void* head);
[[noreturn]] void rtl_RunError(int code, void* address);
}
