// The addresses of the runtime routines that the exception manager diverts,
// gathered in the order the manager expects them.
#pragma once
#include <cstdint>

#include "rtl/Win.h"

struct TZudAviziSystemAddresses {
    uint32_t MainWindow;
    uint32_t ErrorMessageAddr;
    uint32_t ShowErrorAddr;
    uint32_t RaiseExceptAddr;
    uint32_t DoneExceptAddr;
    uint32_t ExceptionHandlerAddr;
    uint32_t HandleAnyExceptAddr;
    uint32_t HandleAutoExceptAddr;
    uint32_t HandleOnExceptAddr;
    uint32_t AppShowExceptionAddr;
    uint32_t CPPThrowException;    // no C++ runtime of that kind here: 0
    uint32_t CPPExceptionHandler;  // 0
};
static_assert(sizeof(TZudAviziSystemAddresses) == 48, "twelve 32-bit fields");

namespace rtl {

// The outermost frame handler of the module that registered the innermost
// record of the calling thread's registration chain: starting at the head,
// follow the chain while each record's handler lies in the same allocation
// as the first one's, and answer the last such handler (0 for an empty chain).
uint32_t FindModuleExceptionHandler();

// Fills every field from the runtime and the application object: zeroes all
// twelve, then the nine routine addresses and the application's window.
void FillSystemAddresses(TZudAviziSystemAddresses& table);

}  // namespace rtl
