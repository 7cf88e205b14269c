#include "crash/ExceptionHooks.h"

#include <cstring>
#include <cwchar>
#include <errorrep.h>
#include <vector>

#include "crash/CrashReportFormat.h"
#include "crash/ErrorLogFile.h"
#include "crash/FailureHeap.h"
#include "env/OwnMemory.h"
#include "env/TextUtils.h"
#include "rtl/ExceptionFactory.h"
#include "rtl/FilePath.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Seh.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace crash {

namespace {

DWORD gMainThreadId = GetCurrentThreadId();  // module initialisation runs on the main thread

using ReportFaultFn = decltype(&::ReportFault);
rtl::ScopedLibrary gFaultRep;
ReportFaultFn gReportFault = nullptr;

// Runtime exceptions have every bit of 0x0EEDFAC0 set in their code.
bool IsRuntimeCode(uint32_t code) { return (code & 0x0EEDFAC0u) == 0x0EEDFAC0u; }

// The exception recorded for the calling thread: its object (made by the
// factory for operating-system exceptions, then owned here), its address and
// the stack pointer of its context.
class TThreadException {
public:
    TThreadException() {
        const TExceptionState& s = ReportedException();
        if (IsRuntimeCode(s.Record.ExceptionCode) && s.Record.NumberParameters >= 2) {
            FObject = s.Record.ExceptObj;
            FAddress = s.Record.ExceptAddr;
        } else {
            EXCEPTION_RECORD rec{};
            std::memcpy(&rec, &s.Record, sizeof(rec) < sizeof(s.Record) ? sizeof(rec) : sizeof(s.Record));
            FObject = rtl::ExceptObjFromRecord(&rec);
            FOwned = true;
            FAddress = s.Record.ExceptionAddress;
        }
        FStackPtr = reinterpret_cast<void*>(static_cast<uintptr_t>(s.Context.Esp));
    }
    ~TThreadException() {
        if (FOwned) rtl::ReleaseObject(FObject);
    }
    TThreadException(const TThreadException&) = delete;
    TThreadException& operator=(const TThreadException&) = delete;
    rtl::Exception* Object() const { return FObject; }
    void* Address() const { return FAddress; }
    void* StackPtr() const { return FStackPtr; }

private:
    rtl::Exception* FObject = nullptr;
    void* FAddress = nullptr;
    void* FStackPtr = nullptr;
    bool FOwned = false;
};

// Ends the process through the system's error reporting after a filter
// refused to let the program go on.
void TerminationPath() {
    TExceptionRecord record = ReportedException().Record;
    CONTEXT context = ReportedException().Context;
    EXCEPTION_POINTERS pointers{reinterpret_cast<EXCEPTION_RECORD*>(&record), &context};
    if (gReportFault) {
        EFaultRepRetVal r = gReportFault(&pointers, 0);
        if (r == frrvLaunchDebugger) {
            if (StartSystemDebugger()) DebugBreak();
            return;
        }
    }
    ExitProcess(record.ExceptionCode);
}

}  // namespace

void StartupExceptionManagerSupport() {
    gFaultRep.Reset(LoadLibraryW(L"faultrep.dll"));
    gReportFault = rtl::BindProc<ReportFaultFn>(gFaultRep.Get(), "ReportFault");
}

void ShutdownExceptionManagerSupport() {
    gReportFault = nullptr;
    gFaultRep.Reset();
    TModuleDebugInfo::ForgetSymbolFolder();
}

std::wstring ErrorLogHeaderLine() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[80] = {}, time[80] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 80);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 80);
    const std::wstring dashes(27, L'-');
    return dashes + date + L" " + time + dashes + L"\r\n";
}

void AppendToErrorLog(const std::wstring& path, const std::wstring& text) {
    rtl::ScopedFileHandle file = OpenErrorLogForAppend(path);
    if (!file) return;
    env::WriteAnsiText(file.Get(), text);
}

void DumpRegisters(const CONTEXT& c, rtl::TStringList& d, const TStackSnapshot* stack, DWORD threadId) {
    using rtl::Format;
    d.Clear();
    d.Add(Format(report::cRegistersHeadFormat, static_cast<unsigned>(gMainThreadId),
                 static_cast<unsigned>(threadId ? threadId : GetCurrentThreadId())));
    d.Add(L"Registers:");
    d.Add(Format(L"EAX = %.8X  CS = %.4X  EIP = %.8X  Flags = %.8X", c.Eax, c.SegCs, c.Eip, c.EFlags));
    d.Add(Format(L"EBX = %.8X  SS = %.4X  ESP = %.8X    EBP = %.8X", c.Ebx, c.SegSs, c.Esp, c.Ebp));
    d.Add(Format(L"ECX = %.8X  DS = %.4X  ESI = %.8X    FS  = %.4X", c.Ecx, c.SegDs, c.Esi, c.SegFs));
    d.Add(Format(L"EDX = %.8X  ES = %.4X  EDI = %.8X    GS  = %.4X", c.Edx, c.SegEs, c.Edi, c.SegGs));
    uint8_t code[16];
    if (env::ReadOwnMemory(reinterpret_cast<void*>(static_cast<uintptr_t>(c.Eip)), code, sizeof(code))) {
        d.Add(L"Code at CS:EIP");
        std::wstring line;
        for (uint8_t b : code) line += Format(L"%.2X ", b);
        d.Add(line);
    }
    uint32_t words[20];
    if (!(stack && stack->Read(c.Esp, words, sizeof(words))) &&
        !env::ReadOwnMemory(reinterpret_cast<void*>(static_cast<uintptr_t>(c.Esp)), words, sizeof(words)))
        return;
    d.Add(L"Stack:");
    for (int row = 0; row < 4; ++row) {
        const uint32_t* w = words + row * 5;
        d.Add(Format(L"%.8X %.8X %.8X %.8X %.8X ", w[0], w[1], w[2], w[3], w[4]));
    }
}

void GatherDiagnostics(TZudAvizi& m) {
    const TExceptionState& s = ReportedException();
    void* address = IsRuntimeCode(s.Record.ExceptionCode) ? s.Record.ExceptAddr : s.Record.ExceptionAddress;
    void* stackPtr = reinterpret_cast<void*>(static_cast<uintptr_t>(s.Context.Esp));
    const TStackSnapshot* snapshot = s.Stack.Base == s.Context.Esp && s.Stack.Size ? &s.Stack : nullptr;
    SetStackSnapshot(snapshot);
    m.CallStack().GenerateFromAddr(address, stackPtr, m.MaxCallStack(), m.SuppressRecursion());
    SetStackSnapshot(nullptr);
    m.CallStack().Dump(m.CallStackStrings());
    DumpRegisters(s.Context, m.ContextStrings(), snapshot, s.ThreadId);
}

void RunLogFilters(TZudAvizi& m, rtl::Exception* exceptObject, wchar_t* buffer, int length) {
    if (!m.LogEnabled()) return;
    m.WalkFilters(exceptObject, [&](IZudAviziFilter* f) {
        return f->LogException(exceptObject, buffer, length, &m.CallStackStrings(), &m.ContextStrings(),
                               &m.CustomInfoStrings()) != FALSE;
    });
}

int __stdcall ExcErrorMessage(rtl::Exception* exceptObject, void* exceptAddr, wchar_t* buffer, int size) {
    TZudAvizi* m = ZudAvizi();
    if (!m) return 0;
    TLockGuard lock(m->Lock());
    TThreadSlots& slots = ThreadSlots();
    TExceptionMessageInfo info = slots.Info;
    TModuleDebugInfo* module = m->FindModule(exceptAddr);
    // An address in no module is described by the program's own module, but
    // looked up nowhere: it would otherwise name whatever code starts there.
    const bool inModule = module != nullptr;
    if (!module) module = m->FindModule(reinterpret_cast<const void*>(&ExcErrorMessage));
    info.miDebugModule = module;
    info.miModuleName[0] = L'\0';
    info.miVirtualAddress = exceptAddr;
    info.miModuleAddress = 0;
    info.miMessage = exceptObject ? exceptObject->Message : std::wstring();
    info.miSrcNameIndex = info.miSrcLineNum = info.miModuleNameIndex = info.miProcNameIndex = -1;
    info.miSrcLineOffset = 0;
    if (module) {
        module->GetAddressModuleFileName(exceptAddr, info.miModuleName, 261);
        info.miModuleAddress = module->GetConvertedAddress(exceptAddr);
    }
    if (inModule) {
        // A raised exception's address is the return address of the call
        // that raised it; the call itself (one byte back) holds the source
        // location, since a call that never returns may be the last
        // instruction of its line or procedure.
        uint32_t lookup = info.miModuleAddress;
        const TExceptionRecord& record = ReportedException().Record;
        if (IsRuntimeCode(record.ExceptionCode) && record.ExceptAddr == exceptAddr && lookup > 0) --lookup;
        module->FindSourceLine(lookup, info.miSrcNameIndex, info.miSrcLineNum, info.miSrcLineOffset);
        module->FindModuleProc(lookup, info.miModuleNameIndex, info.miProcNameIndex);
    }
    auto nameOr = [&](int32_t index, bool bare) -> std::wstring {
        if (index == -1 || !module) return L"UNKNOWN";
        std::wstring name = module->GetName(index);
        return bare ? rtl::ExtractFileName(name) : name;
    };
    info.miSrcModule = nameOr(info.miModuleNameIndex, false);
    info.miSrcFile = nameOr(info.miSrcNameIndex, true);
    info.miSrcProc = info.miProcNameIndex == -1 || !module
                         ? std::wstring(L"UNKNOWN")
                         : m->UnMangle(module->GetName(info.miProcNameIndex), module->IsDelphiModule());
    info.miSrcLine = info.miSrcLineNum == -1 ? std::wstring(L"UNKNOWN") : std::to_wstring(info.miSrcLineNum);
    m->CustomInfoStrings().Clear();
    if (exceptObject)
        m->WalkFilters(exceptObject, [&](IZudAviziFilter* f) {
            return f->ExceptionMessage(exceptObject, &info, buffer, size, &m->CustomInfoStrings()) != FALSE;
        });
    slots.Info = info;
    return buffer && size > 0 ? static_cast<int>(wcsnlen(buffer, static_cast<size_t>(size))) : 0;
}

void __stdcall ExcShowException(rtl::Exception* exceptObject, void* exceptAddr) {
    TZudAvizi* m = ZudAvizi();
    if (!m) return;
    // The overflowing thread waits for this one, which reports its failure
    // from a fresh stack: when the overflow hit it while it was reporting,
    // it holds the lock, and waiting for it would hang the process.
    const DWORD failingThread = ThreadSlots().ThreadId;
    if (failingThread && failingThread != GetCurrentThreadId() &&
        reinterpret_cast<uintptr_t>(m->Lock().OwningThread) == failingThread)
        ExitProcess(cCrashDuringReportExitCode);
    TLockGuard lock(m->Lock());
    TReportScope report;
    wchar_t buffer[1024] = {};
    int length = ExcErrorMessage(exceptObject, exceptAddr, buffer, 1024);
    std::wstring message(buffer, static_cast<size_t>(length));
    GatherDiagnostics(*m);
    if (!m->LogHandled()) RunLogFilters(*m, exceptObject, buffer, length);
    if ((m->Options() & excShowDialog) && exceptObject) {
        m->WalkFilters(exceptObject, [&](IZudAviziFilter* f) {
            if (f->ShowException(exceptObject, m->ErrorDialogTitle().c_str(), message.c_str(), &m->CallStackStrings(),
                                 &m->ContextStrings(), &m->CustomInfoStrings()))
                return true;
            TerminationPath();
            return false;
        });
    }
}

__attribute__((thiscall)) void ExcAppShowException(void* /*application*/, rtl::Exception* /*e*/) {
    TZudAvizi* m = ZudAvizi();
    if (!m) return;
    TLockGuard lock(m->Lock());
    TThreadException current;
    ExcShowException(current.Object(), current.Address());
}

void TZudAvizi::LogException() {
    if (!FLogEnabled) return;
    rtl::Try(
        [&] {
            TThreadException current;
            TLockGuard lock(FLock);
            TReportScope report;
            wchar_t buffer[1025] = {};
            int length = ExcErrorMessage(current.Object(), current.Address(), buffer, 1025);
            GatherDiagnostics(*this);
            RunLogFilters(*this, current.Object(), buffer, length);
        },
        rtl::OnAny([](rtl::Exception&) {}));
}

std::wstring DebuggerCommandLine(const std::wstring& debugger, DWORD processId, HANDLE event) {
    // The value is a command, never a format: only "%ld" (and "%d") take the
    // two numbers, in order; every other character stays as it is.
    const long numbers[2] = {static_cast<long>(processId), static_cast<long>(reinterpret_cast<intptr_t>(event))};
    std::wstring line;
    int used = 0;
    for (size_t i = 0; i < debugger.size(); ++i) {
        const bool ld = debugger.compare(i, 3, L"%ld") == 0, d = debugger.compare(i, 2, L"%d") == 0;
        if ((ld || d) && used < 2) {
            line += std::to_wstring(numbers[used++]);
            i += ld ? 2 : 1;
        } else {
            line += debugger[i];
        }
    }
    return line;
}

bool StartSystemDebugger() {
    rtl::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", 0, KEY_READ,
                      key.Receive()) != ERROR_SUCCESS)
        return false;
    wchar_t value[258] = {};
    DWORD size = 514, type = 0;
    if (RegQueryValueExW(key.Get(), L"Debugger", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    value[257] = L'\0';
    if (!value[0]) return false;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    rtl::ScopedKernelObject event(CreateEventW(&sa, TRUE, FALSE, nullptr));
    if (!event) return false;
    std::wstring command = DebuggerCommandLine(value, GetCurrentProcessId(), event.Get());
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                        &pi))
        return false;
    const rtl::ScopedKernelObject process(pi.hProcess), thread(pi.hThread);
    return WaitForSingleObject(event.Get(), 100000) == WAIT_OBJECT_0;
}

}  // namespace crash

using namespace crash;

extern "C" {

void __stdcall crash_ExcNotify(CONTEXT* context, EXCEPTION_RECORD* record) {
    TZudAvizi* m = ZudAvizi();
    if (!m || !context || !record) return;
    if (record->ExceptionCode == 0xC0000027u || (record->ExceptionFlags & 6)) return;
    // A processor fault may be the heap's own: until it has been handled,
    // the thread allocates from storage of the failure path.
    if ((record->ExceptionCode & 0xC0000000u) == 0xC0000000u && !IsRuntimeCode(record->ExceptionCode))
        EnterFailureAllocation();
    TThreadSlots& slots = ThreadSlots();
    std::memcpy(&slots.Context, context, sizeof(CONTEXT));
    std::memcpy(&slots.Record, record, sizeof(TExceptionRecord));
    slots.Stack.Take(context->Esp, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(env::GetStackTop())));
    slots.ThreadId = GetCurrentThreadId();
    // Exceptions raised and handled while this thread reports or logs are
    // not logged: the entry being written would be cut by another.
    if (m->LogHandled() && !slots.Reported) m->LogException();
}

BOOL __stdcall crash_ExcRaiseNotify(rtl::Exception*, TPushedRegisters*) { return TRUE; }

void crash_ExcDoneNotify() { LeaveFailureAllocation(); }
}
