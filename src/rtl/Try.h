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
//
// How it works: the scope links a registration record into the thread's SEH
// chain for the duration of its body, so the operating system's dispatch
// asks the scope's frame handler whether it takes an exception (raised or a
// processor fault). The handler that accepts resumes at the raise site with
// a C++ throw of a wrapper naming the scope; the C++ unwinder runs every
// destructor on the way, and the scope's catch takes the wrapper.
// A plain C++ try/catch cannot catch runtime exceptions: the dispatch would
// not see it and would report the exception as unhandled.
#pragma once
#include <tuple>
#include <type_traits>
#include <utility>

#include "rtl/Exception.h"
#include "rtl/Raise.h"
#include "rtl/Seh.h"

namespace rtl {

namespace detail {

template <class E, class F>
struct TypedHandler {
    using Class = E;
    F Fn;
    bool Matches(const Exception& e) const { return e.InheritsFrom(E::ClassRef); }
    void operator()(Exception& e) { Fn(static_cast<E&>(e)); }
};

template <class... H>
bool MatchesAny(const void* handlers, const Exception& e) {
    const auto& t = *static_cast<const std::tuple<H...>*>(handlers);
    return std::apply([&](const auto&... h) { return (h.Matches(e) || ...); }, t);
}

template <class... H>
void DispatchFirst(std::tuple<H...>& handlers, Exception& e) {
    std::apply(
        [&](auto&... h) {
            bool done = false;
            auto one = [&](auto& handler) {
                if (done || !handler.Matches(e)) return;
                done = true;
                handler(e);
            };
            (one(h), ...);
        },
        handlers);
}

// Runs `body` under a registration record; answers the accepted object (null
// when the body returned normally). `frame.Handler` picks the frame handler.
template <class Body>
Exception* RunScope(TScopeFrame& frame, Body& body) {
    try {
        TFrameGuard guard(frame);
        body();
    } catch (TRaised& raised) {
        if (raised.Target != &frame) throw;
        return raised.Object;
    }
    return nullptr;
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
    constexpr bool catchAll = (std::is_same_v<typename H::Class, Exception> || ...);
    std::tuple<H...> hs{std::move(handlers)...};
    detail::TScopeFrame frame{
        nullptr,
        catchAll ? reinterpret_cast<void*>(&rtl_HandleAnyExcept) : reinterpret_cast<void*>(&rtl_HandleOnExcept),
        catchAll ? nullptr : &detail::MatchesAny<H...>, &hs};
    if (Exception* obj = detail::RunScope(frame, body)) {
        detail::THandling handling(obj);
        detail::DispatchFirst(hs, *obj);
        handling.Done();
    }
}

// For entry points called by Windows or COM (callbacks, COM methods), where
// no exception may travel back into the caller's frames: runs `body` and
// returns its result; any runtime exception is released and `errorResult`
// is returned instead.
template <class R, class Body>
R TryResult(R errorResult, Body&& body) {
    R result = errorResult;
    auto run = [&] { result = body(); };
    detail::TScopeFrame frame{nullptr, reinterpret_cast<void*>(&rtl_HandleAutoExcept), nullptr, nullptr};
    if (Exception* obj = detail::RunScope(frame, run)) {
        detail::THandling handling(obj);
        handling.Done();
        return errorResult;
    }
    return result;
}

}  // namespace rtl
