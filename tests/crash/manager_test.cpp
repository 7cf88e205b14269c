// The exception manager: patches of the runtime, filter walks, module list,
// call stack and the interception path, in process and in child processes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "crash/ErrorLogFile.h"
#include "crash/ExcStackTracer.h"
#include "crash/ExceptionHooks.h"
#include "crash/ZudAvizi.h"
#include "crash/ZudAviziDefaultFilter.h"
#include "rtl/ErrorMessage.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/Seh.h"
#include "rtl/SystemAddresses.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace {

using namespace crash;

std::vector<uint8_t> Bytes(const void* p, size_t n) {
    auto b = static_cast<const uint8_t*>(p);
    return {b, b + n};
}

// Creates, registers and enables the manager for one test.
class ManagerScope {
public:
    explicit ManagerScope(TZudAviziEnvironment env = emeDelphiCON, bool enable = true) {
        rtl::RunGuarded([&] { rtl::FillSystemAddresses(FTable); });
        FManager = new TZudAvizi(env, FTable);
        SetZudAvizi(FManager);
        FManager->SetLogFile(L"");
        if (enable) FManager->SetEnabled(true);
    }
    ~ManagerScope() {
        SetZudAvizi(nullptr);
        delete FManager;
    }
    TZudAvizi* operator->() { return FManager; }
    TZudAvizi& operator*() { return *FManager; }

private:
    TZudAviziSystemAddresses FTable{};
    TZudAvizi* FManager;
};

// A filter that records the walks it took part in.
class RecordingFilter : public TZudAviziFilterBase {
public:
    RecordingFilter(std::vector<std::string>& trace, std::string name, bool answer = true)
        : FTrace(trace), FName(std::move(name)), FAnswer(answer) {}
    BOOL __stdcall ShowException(rtl::Exception*, const wchar_t*, const wchar_t*, rtl::TStringList*, rtl::TStringList*,
                                 rtl::TStringList*) override {
        FTrace.push_back(FName + ":show");
        return FAnswer;
    }
    BOOL __stdcall LogException(rtl::Exception*, wchar_t*, int32_t, rtl::TStringList*, rtl::TStringList*,
                                rtl::TStringList*) override {
        FTrace.push_back(FName + ":log");
        return TRUE;
    }
    BOOL __stdcall ExceptionMessage(rtl::Exception*, TExceptionMessageInfo*, wchar_t* buffer, int32_t size,
                                    rtl::TStringList* custom) override {
        FTrace.push_back(FName + ":message");
        if (!FAnswer && size > 3) wcscpy(buffer, L"own");
        if (custom) custom->Add(L"from " + rtl::FromAnsi(FName));
        return FAnswer;
    }

private:
    std::vector<std::string>& FTrace;
    std::string FName;
    bool FAnswer;
};

class ERecorded : public rtl::Exception {
    RTL_EXCEPTION_CLASS(ERecorded)
    using rtl::Exception::Exception;
};
RTL_DEFINE_EXCEPTION_CLASS(ERecorded, rtl::Exception)

__attribute__((noipa)) void RaiseRecorded() { rtl::RaiseNew<ERecorded>(L"recorded"); }

TEST(Manager, OnlyOneInstanceAndPatchesComeAndGo) {
    const std::vector<uint8_t> handlerStart = Bytes(reinterpret_cast<void*>(&rtl_HandleOnExcept), 11);
    const std::vector<uint8_t> raiseStart = Bytes(reinterpret_cast<void*>(&rtl_RaiseExcept), 16);
    const std::vector<uint8_t> doneStart = Bytes(reinterpret_cast<void*>(&rtl_DoneExcept), 11);
    {
        ManagerScope m(emeDelphiCON, false);
        TZudAviziSystemAddresses table{};
        std::wstring message;
        rtl::Try([&] { TZudAvizi second(emeDelphiGUI, table); },
                 rtl::On<EZudAviziError>([&](EZudAviziError& e) { message = e.Message; }));
        EXPECT_EQ(message, L"Only one instance of TZudAvizi allowed");
        EXPECT_EQ(Bytes(reinterpret_cast<void*>(&rtl_HandleOnExcept), 11), handlerStart);

        m->SetEnabled(true);
        m->SetEnabled(true);
        auto patched = Bytes(reinterpret_cast<void*>(&rtl_HandleOnExcept), 11);
        EXPECT_EQ(patched[0], 0xE8);
        EXPECT_EQ(std::vector<uint8_t>(patched.begin() + 5, patched.end()),
                  (std::vector<uint8_t>{0x66, 0xF7, 0x40, 0x04, 0x06, 0x00}));
        EXPECT_EQ(Bytes(reinterpret_cast<void*>(&rtl_RaiseExcept), 1)[0], 0xE9);
        auto done = Bytes(reinterpret_cast<void*>(&rtl_DoneExcept), 11);
        EXPECT_EQ(std::vector<uint8_t>(done.begin(), done.begin() + 5),
                  std::vector<uint8_t>(doneStart.begin(), doneStart.begin() + 5));
        EXPECT_EQ(done[5], 0xE8);
        EXPECT_EQ(done[10], 0x90);

        // Raising and catching still work through the stubs, destructors included.
        int destroyed = 0;
        std::wstring caught;
        struct D {
            int& n;
            ~D() { ++n; }
        };
        rtl::Try(
            [&] {
                D d{destroyed};
                RaiseRecorded();
            },
            rtl::On<ERecorded>([&](ERecorded& e) { caught = e.Message; }));
        EXPECT_EQ(caught, L"recorded");
        EXPECT_EQ(destroyed, 1);
        TExceptionRecord rec = m->ExceptionRec();
        EXPECT_EQ(rec.ExceptionCode, 0x0EEDFADEu);
        EXPECT_EQ(rec.NumberParameters, 7u);
        EXPECT_EQ(m->ExceptionContext().Esp != 0, true);

        m->SetEnabled(false);
        EXPECT_EQ(Bytes(reinterpret_cast<void*>(&rtl_HandleOnExcept), 11), handlerStart);
        m->SetEnabled(true);
    }
    // Destroying the manager restores the runtime byte for byte.
    EXPECT_EQ(Bytes(reinterpret_cast<void*>(&rtl_HandleOnExcept), 11), handlerStart);
    EXPECT_EQ(Bytes(reinterpret_cast<void*>(&rtl_RaiseExcept), 16), raiseStart);
    EXPECT_EQ(Bytes(reinterpret_cast<void*>(&rtl_DoneExcept), 11), doneStart);
}

TEST(Manager, FilterWalksRunNewestFirstAndMatchClasses) {
    ManagerScope m;
    std::vector<std::string> trace;
    auto* any = new RecordingFilter(trace, "any");
    auto* strict = new RecordingFilter(trace, "strict");
    auto* recorded = new RecordingFilter(trace, "recorded");
    const TFilterRef keepAny = TFilterRef::Share(any), keepStrict = TFilterRef::Share(strict),
                     keepRecorded = TFilterRef::Share(recorded);
    m->RegisterExceptionFilter(&rtl::Exception::ClassRef, any, false);
    m->RegisterExceptionFilter(&rtl::Exception::ClassRef, strict, true);
    m->RegisterExceptionFilter(&ERecorded::ClassRef, recorded, false);
    ERecorded e(L"x");
    m->WalkFilters(&e, [&](IZudAviziFilter* f) { return f->ExceptionMessage(&e, nullptr, nullptr, 0, nullptr) != 0; });
    // The default filter (registered first) comes last and records nothing here.
    EXPECT_EQ(trace, (std::vector<std::string>{"recorded:message", "any:message"}));

    trace.clear();
    rtl::Exception plain(L"y");
    m->WalkFilters(&plain, [&](IZudAviziFilter* f) {
        return f == m->DefaultExceptionFilter() || f->ExceptionMessage(&plain, nullptr, nullptr, 0, nullptr);
    });
    EXPECT_EQ(trace, (std::vector<std::string>{"strict:message", "any:message"}));

    EXPECT_TRUE(m->IsExceptionFilterEnabled(any));
    m->EnableExceptionFilter(any, false);
    EXPECT_FALSE(m->IsExceptionFilterEnabled(any));
    m->RegisterExceptionFilter(nullptr, recorded, false);
    m->UnRegisterExceptionFilter(recorded);  // both entries go
    EXPECT_FALSE(m->IsExceptionFilterEnabled(recorded));
    EXPECT_FALSE(m->IsExceptionFilterEnabled(nullptr));
    m->UnRegisterExceptionFilter(nullptr);
}

TEST(Manager, MessageCompositionStopsAtAFilterThatSaysNo) {
    ManagerScope m;
    std::vector<std::string> trace;
    auto* later = new RecordingFilter(trace, "later", false);
    const TFilterRef keep = TFilterRef::Share(later);
    ERecorded e(L"boom");
    wchar_t buffer[1024] = {};
    int n = ExcErrorMessage(&e, reinterpret_cast<void*>(&RaiseRecorded), buffer, 1024);
    std::wstring text(buffer);
    EXPECT_EQ(n, static_cast<int>(text.size()));
    EXPECT_EQ(text.rfind(L"Exception 'ERecorded' in module crash_core_tests.exe at ", 0), 0u) << rtl::ToAnsi(text);
    EXPECT_NE(text.find(L"\r\nboom\r\n\r\nModule: "), std::wstring::npos) << rtl::ToAnsi(text);
    TExceptionMessageInfo info = m->ExceptionInfo();
    EXPECT_EQ(info.miMessage, L"boom");
    EXPECT_EQ(std::wstring(info.miModuleName), L"crash_core_tests.exe");

    m->RegisterExceptionFilter(nullptr, later, false);
    buffer[0] = L'\0';
    ExcErrorMessage(&e, reinterpret_cast<void*>(&RaiseRecorded), buffer, 1024);
    EXPECT_EQ(std::wstring(buffer), L"own");
    EXPECT_EQ(m->CustomInfoStrings().Count(), 1);

    // An address in no module still gets a description.
    buffer[0] = L'\0';
    ExcErrorMessage(&e, reinterpret_cast<void*>(16), buffer, 1024);
    info = m->ExceptionInfo();
    EXPECT_EQ(info.miSrcFile, L"UNKNOWN");
    EXPECT_EQ(info.miSrcLine, L"UNKNOWN");
    EXPECT_EQ(info.miSrcProc, L"UNKNOWN");
    EXPECT_EQ(info.miSrcModule, L"UNKNOWN");
}

TEST(Manager, ModulesAndSourceInformation) {
    ManagerScope m;
    TModuleDebugInfo* own = m->FindModule(reinterpret_cast<void*>(&RaiseRecorded));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(m->FindModule(reinterpret_cast<void*>(16)), nullptr);
    HMODULE dll = LoadLibraryW(L"version.dll");
    ASSERT_NE(dll, nullptr);
    void* inDll = reinterpret_cast<void*>(GetProcAddress(dll, "GetFileVersionInfoW"));
    TModuleDebugInfo* first = m->FindModule(inDll);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(m->FindModule(inDll), first);
    int modules = 0;
    m->ForEachModule([&](TModuleDebugInfo&) { ++modules; });
    EXPECT_EQ(modules, 2);

    TModuleDebugInfo* info = nullptr;
    std::wstring unit, file, proc;
    int32_t line = 0, offset = 0;
    EXPECT_FALSE(m->GetAddressSourceInfo(reinterpret_cast<void*>(16), info, unit, file, proc, line, offset));
    EXPECT_EQ(line, -1);
    EXPECT_TRUE(unit.empty() && file.empty() && proc.empty());
    EXPECT_TRUE(m->GetAddressSourceInfo(reinterpret_cast<void*>(&RaiseRecorded), info, unit, file, proc, line, offset));
    EXPECT_EQ(info, own);
    if (own->Loaded()) {
        EXPECT_NE(file.find(L"manager_test.cpp"), std::wstring::npos) << rtl::ToAnsi(file);
        EXPECT_NE(proc.find(L"RaiseRecorded"), std::wstring::npos) << rtl::ToAnsi(proc);
    }
    EXPECT_EQ(m->Version(), L"Orvex Exception Manager 1.70 / Orvex runtime / CONSOLE");
    EXPECT_EQ(DialogFlagsFromOptions(cDefaultOptions), cDlgFlagCallStack | cDlgFlagRegisters);
    EXPECT_EQ(DialogFlagsFromOptions(0x1F), 0x10701u);
}

// --- call stack ---

__attribute__((noipa)) uint32_t ReturnAddressHere() { return reinterpret_cast<uint32_t>(__builtin_return_address(0)); }

TEST(CallStack, MergesRepeatsAndDumpsModules) {
    ManagerScope m;
    // A stack as a recursive procedure leaves it: the same return address
    // four times in a row (words that are no code address do not count),
    // then another return address and the first one again.
    uint32_t r = ReturnAddressHere();
    uint32_t other = ReturnAddressHere();
    uint32_t at = reinterpret_cast<uint32_t>(&RaiseRecorded) + 1;
    volatile uint32_t words[7] = {r, r, 0x10, r, r, other, r};
    TExcCallStack stack;
    stack.GenerateFromAddr(reinterpret_cast<void*>(at), const_cast<uint32_t*>(words), 4, true);
    ASSERT_EQ(stack.Count(), 4);
    TCallStackItem first{}, second{}, third{}, fourth{};
    stack.GetItem(0, first);
    stack.GetItem(1, second);
    stack.GetItem(2, third);
    stack.GetItem(3, fourth);
    EXPECT_EQ(first.CallAddress, at);
    EXPECT_EQ(first.NestingLevel, 1);
    EXPECT_EQ(second.CallAddress, r);
    EXPECT_EQ(second.NestingLevel, 4);
    EXPECT_EQ(third.CallAddress, other);
    EXPECT_EQ(fourth.CallAddress, r);  // a repeat after another address is a new entry
    EXPECT_EQ(fourth.NestingLevel, 1);
    rtl::TStringList dump;
    stack.Dump(dump);
    EXPECT_EQ(dump[0], L"Call stack:");
    EXPECT_EQ(dump[1].rfind(rtl::Format(L":%.8X [crash_core_tests.exe]", first.CallAddress), 0), 0u);
    EXPECT_EQ(dump[2], L"Recursive call (4 times):");
    EXPECT_EQ(dump[3].rfind(rtl::Format(L":%.8X [crash_core_tests.exe]", r), 0), 0u) << rtl::ToAnsi(dump[3]);
    if (first.DebugModule->Loaded()) {
        EXPECT_NE(dump[1].find(L"RaiseRecorded (manager_test.cpp, line "), std::wstring::npos) << rtl::ToAnsi(dump[1]);
    }
    auto modules = std::find(dump.Lines().begin(), dump.Lines().end(), L"\r\nModules:");
    ASSERT_NE(modules, dump.Lines().end());
    ASSERT_NE(modules + 1, dump.Lines().end());
    EXPECT_EQ((modules + 1)->rfind(L"$", 0), 0u);

    stack.GenerateFromAddr(reinterpret_cast<void*>(&RaiseRecorded), &stack, 0, true);
    EXPECT_EQ(stack.Count(), 0);
    stack.Dump(dump);
    EXPECT_EQ(dump[1], L"\r\nModules:");
    stack.GenerateFromAddr(reinterpret_cast<void*>(&RaiseRecorded), &stack, 1, true);
    EXPECT_EQ(stack.Count(), 1);
    TCallStackItem untouched{nullptr, 7, 0, 0, 0, 0, 0};
    stack.GetItem(5, untouched);
    EXPECT_EQ(untouched.CallAddress, 7u);
}

__attribute__((noipa)) void Innermost(TExcCallStack& stack) {
    stack.Generate(100, true);
    asm volatile("" ::: "memory");
}
__attribute__((noipa)) void Middle(TExcCallStack& stack) {
    Innermost(stack);
    asm volatile("" ::: "memory");
}
__attribute__((noipa)) void Outer(TExcCallStack& stack) {
    Middle(stack);
    asm volatile("" ::: "memory");
}

TEST(CallStack, KnownChainOfOurFunctionsWithSourceLines) {
    ManagerScope m;
    TExcCallStack stack;
    Outer(stack);
    rtl::TStringList dump;
    stack.Dump(dump);
    std::wstring text = dump.Text();
    TModuleDebugInfo* own = m->FindModule(reinterpret_cast<void*>(&Outer));
    ASSERT_NE(own, nullptr);
    ASSERT_TRUE(own->Loaded()) << "the test executable carries its debug information";
    size_t inner = text.find(L"Innermost (manager_test.cpp, line ");
    size_t middle = text.find(L"Middle (manager_test.cpp, line ");
    size_t outer = text.find(L"Outer (manager_test.cpp, line ");
    ASSERT_NE(inner, std::wstring::npos) << rtl::ToAnsi(text);
    ASSERT_NE(middle, std::wstring::npos) << rtl::ToAnsi(text);
    ASSERT_NE(outer, std::wstring::npos) << rtl::ToAnsi(text);
    EXPECT_LT(inner, middle);
    EXPECT_LT(middle, outer);
}

__attribute__((noipa)) void RaiseDeep() {
    rtl::RaiseNew<ERecorded>(L"deep");
    asm volatile("" ::: "memory");
}
__attribute__((noipa)) void CallsRaiseDeep() {
    RaiseDeep();
    asm volatile("" ::: "memory");
}

// Keeps the call stack that the show step hands to the filters.
class StackKeepingFilter : public TZudAviziFilterBase {
public:
    explicit StackKeepingFilter(std::wstring& text) : FText(text) {}
    BOOL __stdcall ShowException(rtl::Exception*, const wchar_t*, const wchar_t*, rtl::TStringList* stack,
                                 rtl::TStringList*, rtl::TStringList*) override {
        FText = stack->Text();
        return TRUE;
    }

private:
    std::wstring& FText;
};

__attribute__((noipa)) void OverwriteStack() {
    volatile char junk[8192];
    for (size_t i = 0; i < sizeof(junk); ++i) junk[i] = static_cast<char>(0xAB);
}

// An exception shown after it was handled (as the application does) gets
// the call stack of its raise, although the stack has been reused since.
TEST(CallStack, AHandledExceptionKeepsTheStackOfItsRaise) {
    ManagerScope m;
    std::wstring text;
    m->EnableExceptionFilter(m->DefaultExceptionFilter(), false);
    m->RegisterExceptionFilter(nullptr, new StackKeepingFilter(text), false);
    rtl::Try([] { CallsRaiseDeep(); }, rtl::OnAny([&](rtl::Exception&) {
                 OverwriteStack();
                 ExcAppShowException(nullptr, nullptr);
             }));
    size_t raise = text.find(L"RaiseDeep (manager_test.cpp");
    size_t caller = text.find(L"CallsRaiseDeep (manager_test.cpp");
    ASSERT_NE(raise, std::wstring::npos) << rtl::ToAnsi(text);
    ASSERT_NE(caller, std::wstring::npos) << rtl::ToAnsi(text);
    EXPECT_LT(raise, caller);
}

// Raises and handles an exception of its own while the message is composed
// (as the unmangler or the debug-information reader may), with handled
// exceptions logged, and keeps what the show step was given.
class SelfRaisingFilter : public TZudAviziFilterBase {
public:
    BOOL __stdcall ExceptionMessage(rtl::Exception*, TExceptionMessageInfo*, wchar_t*, int32_t,
                                    rtl::TStringList*) override {
        rtl::Try([] { rtl::RaiseNew<rtl::EConvertError>(L"inner"); }, rtl::OnAny([](rtl::Exception&) {}));
        return TRUE;
    }
    BOOL __stdcall LogException(rtl::Exception* e, wchar_t*, int32_t, rtl::TStringList*, rtl::TStringList*,
                                rtl::TStringList*) override {
        Logged.push_back(e ? e->ClassName() : L"");
        return TRUE;
    }
    BOOL __stdcall ShowException(rtl::Exception* e, const wchar_t*, const wchar_t*, rtl::TStringList* stack,
                                 rtl::TStringList* registers, rtl::TStringList*) override {
        Shown = e ? e->ClassName() : L"";
        TExceptionRecord rec = ZudAvizi()->ExceptionRec();
        RecordObject = rec.ExceptObj ? rec.ExceptObj->ClassName() : L"";
        Stack = stack->Text();
        Registers = registers->Text();
        return TRUE;
    }
    std::vector<std::wstring> Logged;
    std::wstring Shown, RecordObject, Stack, Registers;
};

TEST(Manager, ExceptionsHandledWhileAFailureIsReportedDoNotReplaceIt) {
    ManagerScope m;
    m->EnableExceptionFilter(m->DefaultExceptionFilter(), false);
    auto* filter = new SelfRaisingFilter;
    const TFilterRef keep = TFilterRef::Share(filter);
    m->RegisterExceptionFilter(nullptr, filter, false);
    m->SetLogHandled(true);
    rtl::Try([] { RaiseRecorded(); }, rtl::OnAny([&](rtl::Exception&) { ExcAppShowException(nullptr, nullptr); }));
    m->SetLogHandled(false);
    EXPECT_EQ(L"ERecorded", filter->Shown);
    EXPECT_EQ(L"ERecorded", filter->RecordObject);
    EXPECT_NE(std::wstring::npos, filter->Stack.find(L"RaiseRecorded (manager_test.cpp")) << rtl::ToAnsi(filter->Stack);
    const std::wstring ids = rtl::Format(L"Current Thread ID = %.8X", static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_NE(std::wstring::npos, filter->Registers.find(ids));
    // Logged once while it was dispatched; the inner one, raised while the
    // entry was written, not at all.
    EXPECT_EQ(std::vector<std::wstring>{L"ERecorded"}, filter->Logged);
}

// Unregisters every filter while the walk runs.
class UnregisteringFilter : public TZudAviziFilterBase {
public:
    BOOL __stdcall ExceptionMessage(rtl::Exception*, TExceptionMessageInfo*, wchar_t*, int32_t,
                                    rtl::TStringList*) override {
        ZudAvizi()->UnRegisterExceptionFilter(this);
        ZudAvizi()->UnRegisterExceptionFilter(ZudAvizi()->DefaultExceptionFilter());
        return TRUE;
    }
};

TEST(Manager, AWalkSurvivesFiltersUnregisteredDuringIt) {
    ManagerScope m;
    TFilterRef first = TFilterRef::Share(new UnregisteringFilter), second = TFilterRef::Share(new UnregisteringFilter);
    m->RegisterExceptionFilter(nullptr, first.Get(), false);
    m->RegisterExceptionFilter(nullptr, second.Get(), false);
    ERecorded e(L"x");
    int visited = 0;
    m->WalkFilters(&e, [&](IZudAviziFilter* f) {
        ++visited;
        return f->ExceptionMessage(&e, nullptr, nullptr, 0, nullptr) != 0;
    });
    // The newer one removed itself and the default filter; the older one is
    // still visited, and nothing past the shortened list is.
    EXPECT_EQ(2, visited);
    EXPECT_FALSE(m->IsExceptionFilterEnabled(first.Get()));
}

TEST(Manager, EachThreadsExceptionRecordGoesWithTheThread) {
    ManagerScope m;
    const long before = LiveThreadSlots();
    for (int i = 0; i < 20; ++i)
        std::thread([] { rtl::Try([] { RaiseRecorded(); }, rtl::OnAny([](rtl::Exception&) {})); }).join();
    EXPECT_EQ(before, LiveThreadSlots());
}

TEST(Debugger, TheCommandTakesTheNumbersOnlyWhereAsked) {
    const HANDLE event = reinterpret_cast<HANDLE>(0x1C4);
    const struct {
        const wchar_t* Value;
        const wchar_t* Command;
    } cases[] = {
        {L"winedbg --auto %ld %ld", L"winedbg --auto 1234 452"},
        {L"dbg -p %d -e %d", L"dbg -p 1234 -e 452"},
        {L"dbg %s %n %x 100%", L"dbg %s %n %x 100%"},  // never read as a format
        {L"dbg %ld %ld %ld", L"dbg 1234 452 %ld"},
        {L"dbg", L"dbg"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.Command, DebuggerCommandLine(c.Value, 1234, event)) << rtl::ToAnsi(c.Value);
}

TEST(CallStack, ReturnAddressTest) {
    // Executable scratch code: a relative call into the buffer, a return
    // byte, and plain data.
    auto* code = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    std::memset(code, 0x90, 4096);
    code[100] = 0xE8;
    int32_t rel = 200 - 105;
    std::memcpy(code + 101, &rel, 4);
    EXPECT_TRUE(TExcGenericStackTracer::IsValidReturnAddress(reinterpret_cast<uint32_t>(code + 105)));
    code[300] = 0xC3;
    EXPECT_TRUE(TExcGenericStackTracer::IsValidReturnAddress(reinterpret_cast<uint32_t>(code + 301)));
    code[400] = 0xFF;
    code[401] = 0xD0;  // call eax
    EXPECT_TRUE(TExcGenericStackTracer::IsValidReturnAddress(reinterpret_cast<uint32_t>(code + 402)));
    EXPECT_FALSE(TExcGenericStackTracer::IsValidReturnAddress(reinterpret_cast<uint32_t>(code + 600)));
    static int data[4];
    EXPECT_FALSE(TExcGenericStackTracer::IsValidReturnAddress(reinterpret_cast<uint32_t>(&data[2])));
    VirtualFree(code, 0, MEM_RELEASE);
}

TEST(Registers, DumpLayout) {
    CONTEXT c{};
    c.Eax = 0x12345678;
    c.Eip = reinterpret_cast<DWORD>(&RaiseRecorded);
    c.Esp = reinterpret_cast<DWORD>(&c);
    rtl::TStringList d;
    DumpRegisters(c, d);
    ASSERT_EQ(d.Count(), 13);
    EXPECT_EQ(d[1], L"Registers:");
    EXPECT_EQ(d[2].rfind(L"EAX = 12345678  CS = 0000  EIP = ", 0), 0u) << rtl::ToAnsi(d[2]);
    EXPECT_EQ(d[6], L"Code at CS:EIP");
    EXPECT_EQ(d[7].size(), 48u);
    EXPECT_EQ(d[8], L"Stack:");
    EXPECT_EQ(d[9].size(), 45u);
    // Near the end of readable stack memory fewer than 80 bytes remain: no "Stack:".
    auto* region = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * 4096, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(VirtualAlloc(region, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
    c.Esp = reinterpret_cast<DWORD>(region + 4096 - 40);
    DumpRegisters(c, d);
    VirtualFree(region, 0, MEM_RELEASE);
    EXPECT_EQ(d.Count(), 8);
    EXPECT_EQ(d[6], L"Code at CS:EIP");
    // Unreadable code and stack leave their sections out.
    c.Eip = 16;
    c.Esp = 16;
    DumpRegisters(c, d);
    EXPECT_EQ(d.Count(), 6);
}

TEST(DefaultFilter, MessageFormatsAndLogEntry) {
    TExceptionMessageInfo info;
    info.miMessage = L"Bad thing";
    wcscpy(info.miModuleName, L"orvex.exe");
    info.miModuleAddress = 0x1A2B;
    info.miSrcModule = L"src\\app\\Main";
    info.miSrcFile = L"C:\\src\\Main.cpp";
    info.miSrcLine = L"42";
    info.miSrcProc = L"app::Run()";
    ERecorded e(L"Bad thing");
    wchar_t buffer[400];
    ComposeExceptionMessage(&e, info, excShowDialog, buffer, 400);
    EXPECT_EQ(std::wstring(buffer), L"Exception 'ERecorded' in module orvex.exe at 00001A2B\r\nBad thing");
    ComposeExceptionMessage(&e, info, excDlgLocation, buffer, 400);
    EXPECT_EQ(std::wstring(buffer),
              L"Exception 'ERecorded' in module orvex.exe at 00001A2B\r\nBad thing\r\n\r\nModule: Main, Source: "
              L"Main.cpp, Line 42\r\nProcedure: app::Run()");
    wchar_t small[12];
    wmemset(small, L'#', 12);
    ComposeExceptionMessage(&e, info, 0, small, 10);
    EXPECT_EQ(std::wstring(small), L"Exception");
    EXPECT_EQ(small[10], L'#');

    rtl::TStringList stack, regs, custom;
    stack.Add(L"Call stack:");
    regs.Add(L"Registers:");
    EXPECT_EQ(ErrorLogEntryBody(L"msg", &stack, &regs, &custom), L"msg\r\n\r\nCall stack:\r\n\r\nRegisters:\r\n\r\n");
    custom.Add(L"note");
    EXPECT_EQ(ErrorLogEntryBody(L"msg", &stack, &regs, &custom),
              L"msg\r\n\r\nCall stack:\r\n\r\nRegisters:\r\n\r\nAdditional info:\r\nnote\r\n\r\n");
    std::wstring header = ErrorLogHeaderLine();
    EXPECT_EQ(header.substr(0, 27), std::wstring(27, L'-'));
    EXPECT_EQ(header.substr(header.size() - 29), std::wstring(27, L'-') + L"\r\n");
}

TEST(ErrorLog, WaitsForAnotherWriterInsteadOfDroppingTheEntry) {
    testutil::TempDir dir;
    std::wstring path = dir.Path() + L"test.errlog";
    HANDLE held = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread releaser([held] {
        Sleep(300);
        CloseHandle(held);
    });
    AppendToErrorLog(path, L"second entry\r\n");
    releaser.join();
    EXPECT_EQ(testutil::ReadFileBytes(path), "second entry\r\n");
    // A log that stays locked gives up after the bounded wait.
    HANDLE locked = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD start = GetTickCount();
    EXPECT_FALSE(OpenErrorLogForAppend(path, 200));
    EXPECT_LT(GetTickCount() - start, 2000u);
    CloseHandle(locked);
}

// --- child processes: one scenario each ---

class ENotMine : public rtl::Exception {
    RTL_EXCEPTION_CLASS(ENotMine)
    using rtl::Exception::Exception;
};
RTL_DEFINE_EXCEPTION_CLASS(ENotMine, rtl::Exception)

int RunChild(const std::string& scenario, const std::wstring& log) {
    return rtl::RunGuarded([&]() -> int {
        TZudAviziSystemAddresses table{};
        rtl::FillSystemAddresses(table);
        auto* m = new TZudAvizi(emeDelphiCON, table);
        SetZudAvizi(m);
        m->SetLogFile(log);
        m->SetEnabled(true);
        static std::vector<std::string> trace;
        if (scenario == "refuse")
            m->RegisterExceptionFilter(nullptr, new RecordingFilter(trace, "refuse", false), false);
        if (scenario == "quiet") m->SetOptions(m->Options() & ~excShowDialog);
        if (scenario == "logged-handled") {
            m->SetLogHandled(true);
            rtl::Try([] { rtl::RaiseNew<ENotMine>(L"handled one"); }, rtl::OnAny([](rtl::Exception&) {}));
        }
        if (scenario == "fault") return *reinterpret_cast<volatile int*>(8);
        rtl::RaiseNew<ENotMine>(L"nobody handles " + rtl::FromAnsi(scenario));
    });
}

TEST(InterceptionChild, UnhandledExceptionsAreDescribedLoggedAndShown) {
    testutil::TempDir dir;
    std::wstring exe = L"\"" + testutil::ExeFolder() + L"crash_core_tests.exe\" ";
    auto run = [&](const char* scenario, std::string& out) {
        std::wstring log = dir.Path() + rtl::FromAnsi(scenario) + L".errlog";
        out.clear();
        DWORD code =
            testutil::RunAndWait(exe + L"--child=" + rtl::FromAnsi(scenario) + L" \"--log=" + log + L"\"", &out);
        return std::make_pair(code, testutil::ReadFileBytes(log));
    };
    std::string out;
    auto [code, log] = run("plain", out);
    EXPECT_EQ(code, 1u) << out;
    // The console environment writes the message, the call stack and the registers.
    EXPECT_NE(out.find("Exception 'ENotMine' in module crash_core_tests.exe at "), std::string::npos) << out;
    EXPECT_NE(out.find("nobody handles plain"), std::string::npos) << out;
    EXPECT_NE(out.find("Call stack:"), std::string::npos) << out;
    EXPECT_NE(out.find("Registers:"), std::string::npos) << out;
    EXPECT_EQ(log.substr(0, 27), std::string(27, '-'));
    EXPECT_NE(log.find("nobody handles plain"), std::string::npos) << log;
    EXPECT_NE(log.find("Call stack:\r\n:"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nModules:\r\n$"), std::string::npos) << log;

    std::tie(code, log) = run("fault", out);
    EXPECT_EQ(code, 1u) << out;
    EXPECT_NE(out.find("Exception 'EAccessViolation'"), std::string::npos) << out;
    EXPECT_NE(log.find("EAX = "), std::string::npos) << log;

    // A filter that refuses ends the process with the exception code.
    std::tie(code, log) = run("refuse", out);
    EXPECT_EQ(code, 0x0EEDFADEu) << out;

    // Without excShowDialog nothing is shown, but the entry is logged.
    std::tie(code, log) = run("quiet", out);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(out.find("Call stack:"), std::string::npos) << out;
    EXPECT_NE(log.find("nobody handles quiet"), std::string::npos);

    // Logging handled exceptions: the handled one is logged as it is
    // dispatched, and the unhandled one is not logged twice.
    std::tie(code, log) = run("logged-handled", out);
    EXPECT_EQ(code, 1u);
    EXPECT_NE(log.find("handled one"), std::string::npos) << log;
    size_t first = log.find("nobody handles logged-handled");
    ASSERT_NE(first, std::string::npos) << log;
    // One patched handler (the catching scope) saw the handled exception.
    size_t handled = log.find("handled one");
    EXPECT_EQ(log.find("handled one", handled + 1), std::string::npos) << log;
    EXPECT_EQ(log.find("nobody handles logged-handled", first + 1), std::string::npos) << log;
}

}  // namespace

int main(int argc, char** argv) {
    std::string child;
    std::wstring log;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--child=", 8) == 0) child = argv[i] + 8;
        if (std::strncmp(argv[i], "--log=", 6) == 0) log = rtl::FromAnsi(argv[i] + 6);
    }
    if (!child.empty()) return RunChild(child, log);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
