// The per-thread record of the last exception that reached a patched
// handler on a thread, and of the last description composed there.
#pragma once
#include "crash/ZudAvizi.h"

namespace crash {

struct TThreadSlots {
    CONTEXT Context;
    TExceptionRecord Record;
    TExceptionMessageInfo Info;
    TStackSnapshot Stack;  // the stack as it was at that dispatch
};

// The calling thread's slots, zero until its first exception.
TThreadSlots& ThreadSlots();

}  // namespace crash
