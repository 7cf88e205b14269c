#include "app/SelfTest.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

namespace app {

// Calls its pure virtual function while it is constructed. Not in an
// unnamed namespace: the compiler would see every class that overrides the
// function and call the override directly.
struct TSelfTestPureBase {
    TSelfTestPureBase() { Call(); }
    virtual ~TSelfTestPureBase() = default;
    __attribute__((noipa)) void Call() { Run(); }
    virtual void Run() = 0;
};
struct TSelfTestPureDerived : TSelfTestPureBase {
    void Run() override {}
};

namespace {

// Faults are provoked through volatile accesses so the compiler keeps them.
__attribute__((noipa)) int ReadFrom(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
__attribute__((noipa)) void WriteTo(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 0; }
__attribute__((noipa)) int Divide(int a, int b) {
    volatile int divisor = b;
    return a / divisor;
}
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noipa)) int Recurse(int depth) {
    volatile char block[4096];
    block[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + block[0];
}

__attribute__((noipa)) void RaiseInSecondThread() {
    rtl::RaiseNew<rtl::Exception>(L"Self-test: exception raised in a second thread");
}

DWORD WINAPI FaultInForeignThread(void*) { return static_cast<DWORD>(ReadFrom(0)); }

#pragma GCC diagnostic ignored "-Wterminate"
__attribute__((noipa)) void ThrowThroughNoexcept() noexcept { throw std::bad_alloc(); }

#pragma GCC diagnostic ignored "-Wuse-after-free"
// A use after free that overwrites the heap's own bookkeeping, as a stray
// pointer would.
__attribute__((noipa)) void DamageHeap() {
    for (int i = 0; i < 16; ++i) {
        auto* block = static_cast<unsigned char*>(std::malloc(48));
        std::free(block);
        std::memset(block, 0xFE, 48);
    }
}

// Both threads start and fault together.
void FaultTogether() {
    static volatile LONG ready = 0;
    for (int i = 0; i < 2; ++i)
        std::thread([] {
            rtl::RunGuarded([] {
                InterlockedIncrement(&ready);
                while (ready < 2) Sleep(0);
                WriteTo(0);
            });
        }).detach();
}

}  // namespace

const std::vector<TSelfTestInfo>& SelfTests() {
    static const std::vector<TSelfTestInfo> tests = {
        {TSelfTest::HandlerRaise, L"raise-in-handler", L"an exception raised in a message handler"},
        {TSelfTest::OutsideRaise, L"raise-outside-loop", L"an exception raised outside the message loop"},
        {TSelfTest::ReadViolation, L"access-read", L"an access violation reading address 0"},
        {TSelfTest::WriteViolation, L"access-write", L"an access violation writing address 0"},
        {TSelfTest::ExecViolation, L"access-execute", L"a call through a null function pointer"},
        {TSelfTest::DivideByZero, L"divide-by-zero", L"an integer division by zero"},
        {TSelfTest::StackOverflow, L"stack-overflow", L"endless recursion until the stack overflows"},
        {TSelfTest::ThreadRaise, L"raise-in-thread", L"an exception raised in a second thread"},
        {TSelfTest::CreateRaise, L"raise-on-create", L"an exception raised while the main window is created"},
        {TSelfTest::ForeignThreadFault, L"fault-in-foreign-thread",
         L"an access violation in a thread started without the runtime's handler"},
        {TSelfTest::CppException, L"cpp-exception", L"a C++ exception that nothing catches"},
        {TSelfTest::Abort, L"abort", L"a call of abort()"},
        {TSelfTest::PureVirtualCall, L"pure-virtual-call", L"a pure virtual function called during construction"},
        {TSelfTest::HeapCorruption, L"heap-corruption", L"the heap damaged, then an access violation"},
        {TSelfTest::TwoThreadsFault, L"two-threads", L"two threads faulting at the same moment"},
        {TSelfTest::ThreadStackOverflow, L"stack-overflow-in-thread", L"endless recursion in a second thread"},
    };
    return tests;
}

TSelfTest SelfTestByName(const std::wstring& name) {
    for (const TSelfTestInfo& t : SelfTests())
        if (name == t.Name) return t.Test;
    return TSelfTest::None;
}

bool FiresInMessageLoop(TSelfTest test) {
    return test != TSelfTest::None && test != TSelfTest::OutsideRaise && test != TSelfTest::CreateRaise;
}

void FireSelfTest(TSelfTest test) {
    switch (test) {
        case TSelfTest::None: return;
        case TSelfTest::HandlerRaise:
            rtl::RaiseNew<rtl::Exception>(L"Self-test: exception raised in a message handler");
        case TSelfTest::OutsideRaise:
            rtl::RaiseNew<rtl::Exception>(L"Self-test: exception raised outside the message loop");
        case TSelfTest::CreateRaise:
            rtl::RaiseNew<rtl::Exception>(L"Self-test: exception raised while the main window is created");
        case TSelfTest::ReadViolation: ReadFrom(0); return;
        case TSelfTest::WriteViolation: WriteTo(0); return;
        case TSelfTest::ExecViolation: {
            void (*volatile fn)() = nullptr;
            fn();
            return;
        }
        case TSelfTest::DivideByZero: Divide(1, 0); return;
        case TSelfTest::StackOverflow: Recurse(0); return;
        case TSelfTest::ThreadRaise: {
            // The thread runs under the outermost handler like the program body.
            std::thread([] { rtl::RunGuarded([] { RaiseInSecondThread(); }); }).detach();
            return;
        }
        case TSelfTest::ForeignThreadFault: {
            const rtl::ScopedKernelObject thread(CreateThread(nullptr, 0, &FaultInForeignThread, nullptr, 0, nullptr));
            return;
        }
        case TSelfTest::CppException: ThrowThroughNoexcept(); return;
        case TSelfTest::Abort: std::abort();
        case TSelfTest::PureVirtualCall: {
            TSelfTestPureDerived object;
            return;
        }
        case TSelfTest::HeapCorruption:
            DamageHeap();
            ReadFrom(0);
            return;
        case TSelfTest::TwoThreadsFault: FaultTogether(); return;
        case TSelfTest::ThreadStackOverflow: std::thread([] { rtl::RunGuarded([] { Recurse(0); }); }).detach(); return;
    }
}

}  // namespace app
