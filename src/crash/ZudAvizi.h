// The process-wide exception manager. Once created and enabled it diverts
// the runtime's exception routines (frame handlers, raise, end of handling,
// message formatting, last-chance display, the application's display) by
// patching their first bytes, sees every exception while the operating
// system dispatches it, and for an unhandled one builds a description, a
// call stack and a register dump and hands them to its chain of filters,
// which compose the message, write the error log and show the error.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/ExcStackTracer.h"
#include "crash/ModuleDebugInfo.h"
#include "rtl/ComPtr.h"
#include "rtl/Exception.h"
#include "rtl/StringList.h"
#include "rtl/SystemAddresses.h"
#include "rtl/Win.h"

#include <unknwn.h>

namespace crash {

class TZudAviziPatch;

enum TZudAviziEnvironment : uint8_t {
    emeUnknown = 0,
    emeDelphiGUI = 1,
    emeDelphiCON = 2,
    emeBuilderGUI = 3,
    emeBuilderCON = 4,
};

// Options, one bit each in the option byte.
enum TZudAviziOption : uint8_t {
    excDlgDetailed = 0x01,
    excDlgCallStack = 0x02,
    excDlgRegisters = 0x04,
    excDlgCustomInfo = 0x08,
    excDlgTerminate = 0x10,
    excDlgLocation = 0x20,
    excShowDialog = 0x40,
};
using TZudAviziOptions = uint8_t;
constexpr TZudAviziOptions cDefaultOptions = excDlgCallStack | excDlgRegisters | excDlgLocation | excShowDialog;

// Dialog flags of the default error dialog.
constexpr uint32_t cDlgFlagDetailed = 0x1;
constexpr uint32_t cDlgFlagCallStack = 0x100;
constexpr uint32_t cDlgFlagRegisters = 0x200;
constexpr uint32_t cDlgFlagCustomInfo = 0x400;
constexpr uint32_t cDlgFlagTerminate = 0x10000;
uint32_t DialogFlagsFromOptions(TZudAviziOptions options);

// The description of an exception that the filters compose their message from.
struct TExceptionMessageInfo {
    std::wstring miMessage;
    wchar_t miModuleName[261]{};
    void* miVirtualAddress = nullptr;
    uint32_t miModuleAddress = 0;
    int32_t miModuleNameIndex = -1;
    int32_t miProcNameIndex = -1;
    int32_t miSrcNameIndex = -1;
    int32_t miSrcLineNum = -1;
    TModuleDebugInfo* miDebugModule = nullptr;  // not owned
    std::wstring miSrcFile;
    std::wstring miSrcLine;
    std::wstring miSrcProc;
    std::wstring miSrcModule;
    int32_t miSrcLineOffset = 0;
};

// The 80-byte layout of a 32-bit exception record. For runtime exceptions
// the first seven parameters are the raise site's address, the object and
// the raiser's EBX, ESI, EDI, EBP and ESP.
struct TExceptionRecord {
    uint32_t ExceptionCode;
    uint32_t ExceptionFlags;
    TExceptionRecord* OuterException;
    void* ExceptionAddress;
    uint32_t NumberParameters;
    union {
        uint32_t ExceptionInformation[15];
        struct {
            void* ExceptAddr;
            rtl::Exception* ExceptObj;
            uint32_t ExceptEBX, ExceptESI, ExceptEDI, ExceptEBP, ExceptESP;
        };
    };
};
static_assert(sizeof(TExceptionRecord) == 80);

// Registers in the order the push-all instruction leaves them in memory.
struct TPushedRegisters {
    uint32_t RegEDI, RegESI, RegEBP, RegESP, RegEBX, RegEDX, RegECX, RegEAX;
};

// A filter in the manager's chain: a reference-counted interface. Each
// operation answers whether the walk goes on to the next filter.
// {508442E1-2010-4CDE-937C-E21D649B3625}
struct IZudAviziFilter : IUnknown {
    virtual BOOL __stdcall ShowException(rtl::Exception* exceptionObject, const wchar_t* title,
                                         const wchar_t* exceptionMessage, rtl::TStringList* callStack,
                                         rtl::TStringList* registers, rtl::TStringList* customInfo) = 0;
    virtual BOOL __stdcall LogException(rtl::Exception* exceptionObject, wchar_t* buffer, int32_t bufferSize,
                                        rtl::TStringList* callStack, rtl::TStringList* registers,
                                        rtl::TStringList* customInfo) = 0;
    virtual BOOL __stdcall ExceptionMessage(rtl::Exception* exceptionObject, TExceptionMessageInfo* messageInfo,
                                            wchar_t* buffer, int32_t bufferSize, rtl::TStringList* customInfo) = 0;
};
extern const GUID IID_IZudAviziFilter;

// A counted reference to a filter.
using TFilterRef = rtl::TComPtr<IZudAviziFilter>;

// Base for filter implementations: IUnknown with a reference count (the
// object deletes itself when the last reference goes), and operations that
// let every walk go on, for filters that take part in only some of them.
class TZudAviziFilterBase : public IZudAviziFilter {
public:
    virtual ~TZudAviziFilterBase() = default;
    BOOL __stdcall ShowException(rtl::Exception*, const wchar_t*, const wchar_t*, rtl::TStringList*, rtl::TStringList*,
                                 rtl::TStringList*) override {
        return TRUE;
    }
    BOOL __stdcall LogException(rtl::Exception*, wchar_t*, int32_t, rtl::TStringList*, rtl::TStringList*,
                                rtl::TStringList*) override {
        return TRUE;
    }
    BOOL __stdcall ExceptionMessage(rtl::Exception*, TExceptionMessageInfo*, wchar_t*, int32_t,
                                    rtl::TStringList*) override {
        return TRUE;
    }
    HRESULT __stdcall QueryInterface(REFIID riid, void** out) override;
    ULONG __stdcall AddRef() override;
    ULONG __stdcall Release() override;

private:
    volatile LONG FRefCount = 0;
};

struct TExceptionFilter {
    const rtl::TClassRef* ExceptionClass;  // null matches every exception
    TFilterRef Filter;
    bool Enabled;
    bool StrictFilter;
};

class EZudAviziError : public rtl::Exception {
    RTL_EXCEPTION_CLASS(EZudAviziError)
    using rtl::Exception::Exception;
};

// Raise notification: set AllowException to false to cancel the raise.
using TZudAviziRaiseProc = void (*)(void* context, rtl::Exception* e, TPushedRegisters* regs, bool& allowException);
using TZudAviziTerminateProc = void (*)(void* context);

// A re-entrant lock held for a scope.
class TLockGuard {
public:
    explicit TLockGuard(CRITICAL_SECTION& cs) : FCs(cs) { EnterCriticalSection(&FCs); }
    ~TLockGuard() { LeaveCriticalSection(&FCs); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    CRITICAL_SECTION& FCs;
};

class TZudAvizi {
public:
    // Raises EZudAviziError "Only one instance of TZudAvizi allowed" when a
    // manager exists already. The caller stores the new object in the
    // manager reference (SetZudAvizi) and enables it.
    TZudAvizi(TZudAviziEnvironment environment, const TZudAviziSystemAddresses& sysAddr);
    ~TZudAvizi();
    TZudAvizi(const TZudAvizi&) = delete;
    TZudAvizi& operator=(const TZudAvizi&) = delete;

    // --- properties ---
    static std::wstring About();
    std::wstring Version() const;
    TExcCallStack& CallStack() { return *FCallStack; }
    const std::wstring& CustomTab() const { return FCustomTab; }
    void SetCustomTab(std::wstring v) { FCustomTab = std::move(v); }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    TZudAviziEnvironment Environment() const { return FEnvironment; }
    const std::wstring& ErrorDialogTitle() const { return FErrorTitle; }
    void SetErrorDialogTitle(std::wstring v) { FErrorTitle = std::move(v); }
    CONTEXT ExceptionContext() const;
    TExceptionMessageInfo ExceptionInfo() const;
    TExceptionRecord ExceptionRec() const;
    const wchar_t* Icon() const { return FIcon; }
    void SetIcon(const wchar_t* icon) { FIcon = icon; }
    bool LogEnabled() const { return FLogEnabled; }
    void SetLogEnabled(bool v) { FLogEnabled = v; }
    const std::wstring& LogFile() const { return FLogFile; }
    void SetLogFile(std::wstring v) { FLogFile = std::move(v); }
    bool LogHandled() const { return FLogHandled; }
    void SetLogHandled(bool v) { FLogHandled = v; }
    int32_t MaxCallStack() const { return FMaxCallStack; }
    void SetMaxCallStack(int32_t v) { FMaxCallStack = v; }
    bool SuppressRecursion() const { return FSuppressRecursion; }
    void SetSuppressRecursion(bool v) { FSuppressRecursion = v; }
    TZudAviziOptions Options() const { return FOptions; }
    void SetOptions(TZudAviziOptions v) { FOptions = v; }
    IZudAviziFilter* DefaultExceptionFilter() const { return FDefaultFilter.Get(); }
    const TZudAviziSystemAddresses& SysAddresses() const { return FSysAddresses; }
    HMODULE Instance() const { return FInstance; }
    rtl::TStringList& CallStackStrings() { return FCallStackStrings; }
    rtl::TStringList& ContextStrings() { return FContextStrings; }
    rtl::TStringList& CustomInfoStrings() { return FCustomInfoStrings; }

    TZudAviziRaiseProc OnRaiseException = nullptr;
    void* OnRaiseExceptionContext = nullptr;
    TZudAviziTerminateProc OnTerminate = nullptr;
    void* OnTerminateContext = nullptr;

    // --- operations ---
    std::wstring UnMangle(const std::wstring& source, bool isDelphi);
    bool GetAddressSourceInfo(const void* address, TModuleDebugInfo*& moduleDebugInfo, std::wstring& moduleName,
                              std::wstring& fileName, std::wstring& procName, int32_t& lineNumber, int32_t& lineOffset);
    TSourceInfo GetAddressSourceInfoRec(const void* address);
    // The same for the code the caller returns to.
    __attribute__((noinline)) TSourceInfo GetSourceInfoRec();
    // Logs the exception last dispatched on the calling thread.
    void LogException();
    // Appends a line to the error log, after the entry header when asked.
    void Log(const std::wstring& text, bool withHeader);
    int32_t DefaultErrorDialog(const std::wstring& title, const std::wstring& errorMsg, rtl::TStringList* callStack,
                               rtl::TStringList* registers, rtl::TStringList* customInfo);

    void RegisterExceptionFilter(const rtl::TClassRef* exceptionClass, IZudAviziFilter* filter, bool strict);
    void UnRegisterExceptionFilter(IZudAviziFilter* filter);
    void EnableExceptionFilter(IZudAviziFilter* filter, bool enabled);
    bool IsExceptionFilterEnabled(IZudAviziFilter* filter);

    // The module debug information holding `address`, created on demand; null
    // for an address in no loaded module.
    TModuleDebugInfo* FindModule(const void* address);
    // Runs `fn` for each module under the module-list lock.
    template <class F>
    void ForEachModule(F fn) {
        TLockGuard guard(FModulesLock);
        for (auto& m : FModules) fn(*m);
    }

    // The filter walks: entries from the last registered to the first that
    // are enabled and match the object's class; `fn` answers whether the
    // walk goes on.
    template <class F>
    void WalkFilters(rtl::Exception* obj, F fn) {
        TLockGuard guard(FFiltersLock);
        for (size_t i = FFilters.size(); i-- > 0;) {
            // A filter may unregister entries while the walk runs.
            if (i >= FFilters.size()) continue;
            TExceptionFilter& entry = *FFilters[i];
            if (!entry.Enabled || !Matches(entry, obj)) continue;
            TFilterRef keep = entry.Filter;
            if (!fn(keep.Get())) break;
        }
    }

    CRITICAL_SECTION& Lock() { return FLock; }

private:
    static bool Matches(const TExceptionFilter& entry, const rtl::Exception* obj);
    void CreatePatches();

    CRITICAL_SECTION FLock;
    TZudAviziEnvironment FEnvironment;
    TZudAviziSystemAddresses FSysAddresses;
    std::unique_ptr<TExcCallStack> FCallStack;
    rtl::TStringList FCallStackStrings;
    rtl::TStringList FContextStrings;
    rtl::TStringList FCustomInfoStrings;
    std::wstring FCustomTab = L"Additional";
    TFilterRef FDefaultFilter;
    HMODULE FInstance = nullptr;
    CRITICAL_SECTION FModulesLock;
    std::vector<std::unique_ptr<TModuleDebugInfo>> FModules;
    CRITICAL_SECTION FFiltersLock;
    std::vector<std::unique_ptr<TExceptionFilter>> FFilters;
    const wchar_t* FIcon = nullptr;
    bool FEnabled = false;
    std::wstring FLogFile;
    std::wstring FErrorTitle = L"Application Error";
    bool FLogEnabled = true;
    bool FLogHandled = false;
    TZudAviziOptions FOptions = cDefaultOptions;
    int32_t FMaxCallStack = 100;
    bool FSuppressRecursion = true;
    std::vector<std::unique_ptr<TZudAviziPatch>> FPatches;
};

// Exit code of a process that failed again while its failure was being
// reported, or whose report could not be made.
constexpr UINT cCrashDuringReportExitCode = 200;

// The single manager (null when none exists).
TZudAvizi* ZudAvizi();
void SetZudAvizi(TZudAvizi* manager);

// "ReportFault" of faultrep.dll, bound by the support module's start-up step.
void StartupExceptionManagerSupport();
void ShutdownExceptionManagerSupport();

}  // namespace crash
