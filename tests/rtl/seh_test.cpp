// Raising and catching runtime exceptions and processor faults through the
// SEH-based scopes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "rtl/ErrorMessage.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "rtl/Win.h"

namespace {

using namespace rtl;

// Counts live objects so that tests can see every raised object released.
class ECounted : public Exception {
    RTL_EXCEPTION_CLASS(ECounted)
public:
    explicit ECounted(std::wstring m) : Exception(std::move(m)) { ++Live; }
    ~ECounted() override { --Live; }
    static int Live;
};
int ECounted::Live = 0;

class EChild : public ECounted {
    RTL_EXCEPTION_CLASS(EChild)
    using ECounted::ECounted;
};

RTL_DEFINE_EXCEPTION_CLASS(ECounted, Exception)
RTL_DEFINE_EXCEPTION_CLASS(EChild, ECounted)

// Records its destruction in a shared trace.
struct Tracer {
    std::vector<std::string>& Trace;
    std::string Name;
    ~Tracer() { Trace.push_back("~" + Name); }
};

__attribute__((noinline)) void RaiseChild(const wchar_t* text) { RaiseNew<EChild>(text); }

__attribute__((noipa)) int ReadAt(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
__attribute__((noipa)) void WriteAt(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }
__attribute__((noinline)) int Divide(int a, int b) {
    volatile int d = b;
    return a / d;
}

TEST(Seh, RaiseIsCaughtByTheMatchingScopeAfterDestructorsRan) {
    std::vector<std::string> trace;
    Try(
        [&] {
            Tracer outer{trace, "outer"};
            Try(
                [&] {
                    Tracer inner{trace, "inner"};
                    RaiseChild(L"boom");
                },
                On<EAbort>([&](EAbort&) { trace.push_back("wrong handler"); }));
            trace.push_back("not reached");
        },
        On<ECounted>([&](ECounted& e) {
            trace.push_back("caught " + std::string(e.ClassName() == L"EChild" ? "EChild" : "?"));
        }));
    EXPECT_EQ(trace, (std::vector<std::string>{"~inner", "~outer", "caught EChild"}));
    EXPECT_EQ(ECounted::Live, 0);
}

TEST(Seh, HandlersAreTriedInOrderAndMatchDescendants) {
    std::string which;
    Try([] { RaiseChild(L"x"); }, On<EChild>([&](EChild&) { which = "child"; }),
        On<ECounted>([&](ECounted&) { which = "parent"; }));
    EXPECT_EQ(which, "child");
    Try([] { RaiseNew<ECounted>(L"x"); }, On<EChild>([&](EChild&) { which = "child"; }),
        OnAny([&](Exception&) { which = "any"; }));
    EXPECT_EQ(which, "any");
    EXPECT_TRUE(EChild::ClassRef.InheritsFrom(Exception::ClassRef));
    EXPECT_FALSE(ECounted::ClassRef.InheritsFrom(EChild::ClassRef));
    EXPECT_EQ(ECounted::Live, 0);
}

TEST(Seh, RaiseInsideAHandlerAndReRaiseTravelOutwards) {
    std::vector<std::string> trace;
    Try(
        [&] {
            Try([&] { RaiseChild(L"first"); }, On<EChild>([&](EChild&) {
                    trace.push_back("inner handler");
                    RaiseNew<ECounted>(L"second");
                }));
        },
        On<ECounted>([&](ECounted& e) { trace.push_back("outer got " + ToAnsi(e.Message)); }));
    Try([&] { Try([&] { RaiseChild(L"again"); }, OnAny([&](Exception&) { ReRaise(); })); },
        On<EChild>([&](EChild& e) { trace.push_back("reraised " + ToAnsi(e.Message)); }));
    EXPECT_EQ(trace, (std::vector<std::string>{"inner handler", "outer got second", "reraised again"}));
    EXPECT_EQ(ECounted::Live, 0);
}

// A destructor that raises and handles an exception of its own while an
// outer exception unwinds through it.
struct HandlesInDestructor {
    int& Handled;
    ~HandlesInDestructor() {
        Try([] { RaiseNew<ECounted>(L"inside"); }, OnAny([&](Exception&) { ++Handled; }));
    }
};

TEST(Seh, RaiseHandledInsideADestructorDuringUnwinding) {
    int handled = 0;
    std::wstring outer;
    Try(
        [&] {
            HandlesInDestructor d{handled};
            RaiseChild(L"outer");
        },
        OnAny([&](Exception& e) { outer = e.Message; }));
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(outer, L"outer");
    EXPECT_EQ(ECounted::Live, 0);
}

TEST(Seh, ProcessorFaultsBecomeExceptionsAndDestructorsRun) {
    std::vector<std::string> trace;
    std::wstring cls, msg;
    Try(
        [&] {
            Tracer t{trace, "t"};
            ReadAt(16);
        },
        On<EAccessViolation>([&](EAccessViolation& e) {
            cls = e.ClassName();
            msg = e.Message;
        }));
    EXPECT_EQ(trace, std::vector<std::string>{"~t"});
    EXPECT_EQ(cls, L"EAccessViolation");
    EXPECT_NE(msg.find(L"Read of address 00000010"), std::wstring::npos) << ToAnsi(msg);

    Try([] { WriteAt(32); }, OnAny([&](Exception& e) { msg = e.Message; }));
    EXPECT_NE(msg.find(L"Write of address 00000020"), std::wstring::npos) << ToAnsi(msg);

    int result = 0;
    Try([&] { result = Divide(7, 0); }, On<EDivByZero>([&](EDivByZero& e) { cls = e.ClassName(); }));
    EXPECT_EQ(cls, L"EDivByZero");
    EXPECT_EQ(result, 0);
    // A typed scope that does not take the fault lets it travel on.
    Try([&] { Try([] { ReadAt(8); }, On<EDivByZero>([&](EDivByZero&) { cls = L"wrong"; })); },
        On<EExternal>([&](EExternal& e) { cls = e.ClassName(); }));
    EXPECT_EQ(cls, L"EAccessViolation");
}

TEST(Seh, CallThroughABadFunctionPointerIsCaught) {
    std::vector<std::string> trace;
    std::wstring msg;
    Try(
        [&] {
            Tracer t{trace, "t"};
            void (*volatile fn)() = nullptr;
            fn();
        },
        On<EAccessViolation>([&](EAccessViolation& e) { msg = e.Message; }));
    EXPECT_EQ(trace, std::vector<std::string>{"~t"});
    EXPECT_NE(msg.find(L"Execution of address 00000000"), std::wstring::npos) << ToAnsi(msg);
}

TEST(Seh, ManyRaisesLeakNothingAndRestoreTheChain) {
    void* head = rtl_GetChainHead();
    int caught = 0;
    for (int i = 0; i < 10000; ++i) {
        Try([&] { Try([] { RaiseChild(L"loop"); }, On<EAbort>([](EAbort&) {})); },
            On<ECounted>([&](ECounted&) { ++caught; }));
        if (i % 100 == 0) Try([] { ReadAt(4); }, OnAny([&](Exception&) { ++caught; }));
    }
    EXPECT_EQ(caught, 10100);
    EXPECT_EQ(ECounted::Live, 0);
    EXPECT_EQ(rtl_GetChainHead(), head);
}

TEST(Seh, RaisesAndFaultsInASecondThread) {
    std::wstring raised, fault;
    std::thread worker([&] {
        Try([] { RaiseChild(L"in thread"); }, OnAny([&](Exception& e) { raised = e.Message; }));
        Try([] { ReadAt(12); }, On<EAccessViolation>([&](EAccessViolation& e) { fault = e.ClassName(); }));
    });
    worker.join();
    EXPECT_EQ(raised, L"in thread");
    EXPECT_EQ(fault, L"EAccessViolation");
}

TEST(Seh, TryResultTurnsExceptionsIntoTheErrorValue) {
    EXPECT_EQ(TryResult(-1, [] { return 5; }), 5);
    EXPECT_EQ(TryResult(-1,
                        []() -> int {
                            RaiseChild(L"cb");
                            return 0;
                        }),
              -1);
    EXPECT_EQ(TryResult(E_FAIL, []() -> HRESULT { return ReadAt(0); }), E_FAIL);
    EXPECT_EQ(ECounted::Live, 0);
}

std::vector<uint8_t> CodeBytes(void (*fn)(), size_t n) {
    std::vector<uint8_t> bytes(n);
    std::memcpy(bytes.data(), reinterpret_cast<const void*>(fn), n);
    return bytes;
}

TEST(Seh, EntryBytesOfTheHandlersAndOfDoneExcept) {
    const std::vector<uint8_t> handlerStart{0x8B, 0x44, 0x24, 0x04, 0xF7, 0x40, 0x04, 0x06, 0x00, 0x00, 0x00};
    EXPECT_EQ(CodeBytes(rtl_HandleOnExcept, 11), handlerStart);
    EXPECT_EQ(CodeBytes(rtl_HandleAnyExcept, 11), handlerStart);
    EXPECT_EQ(CodeBytes(rtl_HandleAutoExcept, 11), handlerStart);
    EXPECT_EQ(CodeBytes(rtl_ExceptionHandler, 11), handlerStart);
    std::vector<uint8_t> done = CodeBytes(rtl_DoneExcept, 11);
    EXPECT_EQ(done[0], 0xE8);
    EXPECT_EQ(std::vector<uint8_t>(done.begin() + 5, done.end()), (std::vector<uint8_t>{0x8B, 0x90, 0, 0, 0, 0}));
}

TEST(Seh, ErrorMessageFormatsAndCutsToTheBuffer) {
    ECounted e(L"Something failed");
    wchar_t buf[200];
    int n = rtl_ErrorMessage(&e, reinterpret_cast<void*>(&ReadAt), buf, 200);
    std::wstring text(buf);
    EXPECT_EQ(n, static_cast<int>(text.size()));
    EXPECT_EQ(text.rfind(L"Exception ECounted in module rtl_tests.exe at ", 0), 0u) << ToAnsi(text);
    EXPECT_NE(text.find(L".\r\nSomething failed"), std::wstring::npos);
    wchar_t small[11];
    wmemset(small, L'#', 11);
    EXPECT_EQ(rtl_ErrorMessage(&e, nullptr, small, 10), 9);
    EXPECT_EQ(std::wstring(small), L"Exception");
    EXPECT_EQ(small[10], L'#');
}

// Child processes: one scenario each, chosen on the command line.
int RunChild(const std::string& scenario) {
    return RunGuarded([&]() -> int {
        if (scenario == "unhandled-raise") RaiseChild(L"nobody catches this");
        if (scenario == "unhandled-fault") return ReadAt(0);
        if (scenario == "null-raise") Raise(nullptr);
        if (scenario == "thread-raise") {
            std::thread t([] { RunGuarded([] { RaiseChild(L"thread failure"); }); });
            t.join();
        }
        return 0;
    });
}

TEST(SehChild, UnhandledExceptionsEndTheProcessThroughShowError) {
    std::string out;
    std::wstring exe = L"\"" + testutil::ExeFolder() + L"rtl_tests.exe\" --child=";
    EXPECT_EQ(testutil::RunAndWait(exe + L"unhandled-raise", &out), 1u);
    EXPECT_NE(out.find("Exception EChild in module rtl_tests.exe at "), std::string::npos) << out;
    EXPECT_NE(out.find("nobody catches this"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(testutil::RunAndWait(exe + L"unhandled-fault", &out), 1u);
    EXPECT_NE(out.find("Exception EAccessViolation"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(testutil::RunAndWait(exe + L"thread-raise", &out), 1u);
    EXPECT_NE(out.find("thread failure"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(testutil::RunAndWait(exe + L"null-raise", &out), 216u);
    EXPECT_NE(out.find("Runtime error 216 at "), std::string::npos) << out;
}

}  // namespace

int main(int argc, char** argv) { return testutil::TestMainWithChild(argc, argv, &RunChild); }
