// Catching scopes for runtime exceptions:
//
//   rtl::Try([&] { body(); },
//            rtl::On<rtl::ERegistryException>([&](rtl::ERegistryException& e) { ... }),
//            rtl::OnAny([&](rtl::Exception& e) { ... }));
//
// Handlers are tried in order; the first whose class matches the raised
// object (the class or a descendant) runs, and the object is released when it
// returns. A handler may call ReRaise() or raise a new exception. Without a
// matching handler the exception travels on to the next enclosing scope.
// C++ destructors run on every path out of the body.
#pragma once
#include <utility>
#include "rtl/Exception.h"
#include "rtl/Raise.h"

namespace rtl {

namespace detail {

// What travels through C++ frames while a runtime exception is in flight.
struct RaisedException {
    Exception* Object;
};

// Owns the object while a handler runs; ReRaise() releases it.
class HandlingScope {
public:
    explicit HandlingScope(Exception* obj);
    ~HandlingScope();
    HandlingScope(const HandlingScope&) = delete;
    HandlingScope& operator=(const HandlingScope&) = delete;
    static Exception* Current();
    static void ReleaseCurrent();

private:
    Exception* FObject;
    HandlingScope* FOuter;
};

template <class E, class F>
struct TypedHandler {
    F Fn;
    bool Matches(const Exception& e) const { return e.InheritsFrom(E::ClassRef); }
    void operator()(Exception& e) { Fn(static_cast<E&>(e)); }
};

template <class... H>
bool DispatchHandlers(Exception& e, H&... handlers) {
    bool done = false;
    auto tryOne = [&](auto& h) {
        if (done || !h.Matches(e)) return;
        done = true;
        h(e);
    };
    (tryOne(handlers), ...);
    return done;
}

}  // namespace detail

template <class E, class F>
detail::TypedHandler<E, F> On(F fn) {
    return {std::move(fn)};
}

template <class F>
detail::TypedHandler<Exception, F> OnAny(F fn) {
    return {std::move(fn)};
}

template <class Body, class... H>
void Try(Body&& body, H... handlers) {
    try {
        body();
    } catch (detail::RaisedException& raised) {
        Exception* obj = raised.Object;
        bool matched = false;
        auto probe = [&](auto& h) { matched = matched || h.Matches(*obj); };
        (probe(handlers), ...);
        if (!matched) throw;
        detail::HandlingScope scope(obj);
        detail::DispatchHandlers(*obj, handlers...);
    }
}

// For entry points called by Windows or COM (callbacks, COM methods), where
// no exception may travel back into the caller's frames: runs `body` and
// returns its result; any runtime exception is released and `errorResult`
// is returned instead.
template <class R, class Body>
R TryResult(R errorResult, Body&& body) {
    R result = errorResult;
    Try([&] { result = body(); }, OnAny([](Exception&) {}));
    return result;
}

}  // namespace rtl
