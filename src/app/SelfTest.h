// Self-test triggers: a command-line option of the program that, once it
// has started, provokes one chosen failure so that users and support staff
// can see crash reporting work on a machine.
#pragma once
#include <string>
#include <vector>

namespace app {

enum class TSelfTest {
    None,
    HandlerRaise,   // an exception raised in a message handler
    OutsideRaise,   // an exception raised outside the message loop
    ReadViolation,  // access violations on read, write and execute
    WriteViolation,
    ExecViolation,
    DivideByZero,
    StackOverflow,
    ThreadRaise,          // an exception raised in a second thread
    CreateRaise,          // an exception raised while the main window is created
    ForeignThreadFault,   // an access violation in a thread started without the runtime's handler
    CppException,         // a C++ exception that escapes (std::terminate)
    Abort,                // abort()
    PureVirtualCall,      // a pure virtual function called during construction
    HeapCorruption,       // the heap damaged, then an access violation
    TwoThreadsFault,      // two threads faulting at the same moment
    ThreadStackOverflow,  // endless recursion in a second thread
};

struct TSelfTestInfo {
    TSelfTest Test;
    const wchar_t* Name;
    const wchar_t* Description;
};
const std::vector<TSelfTestInfo>& SelfTests();

// The trigger of that name; None for an unknown name.
TSelfTest SelfTestByName(const std::wstring& name);

// Whether the trigger fires inside a message handler of the main window.
bool FiresInMessageLoop(TSelfTest test);

// Provokes the failure (raises, faults, or starts the failing thread).
void FireSelfTest(TSelfTest test);

}  // namespace app
