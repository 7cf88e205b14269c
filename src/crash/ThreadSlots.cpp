#include "crash/ThreadSlots.h"

namespace crash {

namespace {

thread_local TThreadSlots* tSlots = nullptr;

}  // namespace

TThreadSlots& ThreadSlots() {
    if (!tSlots) tSlots = new TThreadSlots{};  // zero at thread start; one per thread for its lifetime
    return *tSlots;
}

}  // namespace crash
