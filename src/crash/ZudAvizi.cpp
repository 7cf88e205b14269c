#include "crash/ZudAvizi.h"

#include <cstring>

#include "crash/ExcUnmangle.h"
#include "crash/ExceptionHooks.h"
#include "crash/ZudAviziDefaultFilter.h"
#include "crash/ZudAviziDlg.h"
#include "crash/ZudAviziPatch.h"
#include "env/OwnMemory.h"
#include "env/TextUtils.h"
#include "rtl/FilePath.h"
#include "rtl/Halt.h"
#include "rtl/LastChance.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace crash {

const GUID IID_IZudAviziFilter = {0x508442E1, 0x2010, 0x4CDE, {0x93, 0x7C, 0xE2, 0x1D, 0x64, 0x9B, 0x36, 0x25}};

RTL_DEFINE_EXCEPTION_CLASS(EZudAviziError, rtl::Exception)

namespace {

TZudAvizi* gManager = nullptr;

HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

std::wstring ModuleFileName(HMODULE module) {
    wchar_t path[261];
    DWORD n = GetModuleFileNameW(module, path, 260);
    if (n == 0 || n >= 260) return {};
    return std::wstring(path, n);
}

void* AsPtr(uint32_t a) { return reinterpret_cast<void*>(static_cast<uintptr_t>(a)); }

}  // namespace

TZudAvizi* ZudAvizi() { return gManager; }
void SetZudAvizi(TZudAvizi* manager) { gManager = manager; }

uint32_t DialogFlagsFromOptions(TZudAviziOptions options) {
    uint32_t flags = 0;
    if (options & excDlgDetailed) flags |= cDlgFlagDetailed;
    if (options & excDlgCallStack) flags |= cDlgFlagCallStack;
    if (options & excDlgRegisters) flags |= cDlgFlagRegisters;
    if (options & excDlgCustomInfo) flags |= cDlgFlagCustomInfo;
    if (options & excDlgTerminate) flags |= cDlgFlagTerminate;
    return flags;
}

// --- TZudAviziFilterBase ---

HRESULT __stdcall TZudAviziFilterBase::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IZudAviziFilter)) {
        *out = static_cast<IZudAviziFilter*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG __stdcall TZudAviziFilterBase::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&FRefCount)); }

ULONG __stdcall TZudAviziFilterBase::Release() {
    LONG n = InterlockedDecrement(&FRefCount);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

// --- construction ---

TZudAvizi::TZudAvizi(TZudAviziEnvironment environment, const TZudAviziSystemAddresses& sysAddr) {
    if (gManager) rtl::RaiseNew<EZudAviziError>(L"Only one instance of TZudAvizi allowed");
    InitializeCriticalSection(&FLock);
    InitializeCriticalSection(&FModulesLock);
    InitializeCriticalSection(&FFiltersLock);
    FEnvironment = environment;
    FInstance = ModuleOf(reinterpret_cast<const void*>(&ZudAvizi));
    FSysAddresses = sysAddr;
    // Patches land on the routines themselves, not on import stubs.
    uint32_t* fields = &FSysAddresses.ErrorMessageAddr;
    for (int i = 0; i < 11; ++i)
        fields[i] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ResolveJumpThunk(AsPtr(fields[i]))));
    CreatePatches();
    std::wstring program = ModuleFileName(GetModuleHandleW(nullptr));
    FLogFile = program.substr(0, program.size() - rtl::ExtractFileName(program).size()) + L"ZudAvizi.Log";
    FCallStack = std::make_unique<TExcCallStack>();
    FModules.push_back(std::make_unique<TModuleDebugInfo>(ModuleFileName(FInstance), FInstance));
    FDefaultFilter = TFilterRef::Share(NewDefaultZudAviziFilter());
    RegisterExceptionFilter(nullptr, FDefaultFilter.Get(), false);
    ReserveThreadSlots();
    rtl::SetThreadStateTransfer({[]() -> void* { return static_cast<TExceptionState*>(&ThreadSlots()); },
                                 [](void* state) {
                                     static_cast<TExceptionState&>(ThreadSlots()) =
                                         *static_cast<const TExceptionState*>(state);
                                 }});
}

TZudAvizi::~TZudAvizi() {
    rtl::SetThreadStateTransfer({nullptr, nullptr});
    SetEnabled(false);
    UnRegisterExceptionFilter(FDefaultFilter.Get());
    FDefaultFilter.Reset();
    {
        TLockGuard guard(FModulesLock);
        FModules.clear();
    }
    {
        TLockGuard guard(FFiltersLock);
        FFilters.clear();
    }
    FCustomInfoStrings.Clear();
    FCallStackStrings.Clear();
    FContextStrings.Clear();
    FCallStack.reset();
    FPatches.clear();  // each removes its patch first
    DeleteCriticalSection(&FFiltersLock);
    DeleteCriticalSection(&FModulesLock);
    DeleteCriticalSection(&FLock);
}

void TZudAvizi::CreatePatches() {
    static const uint8_t handlerTemplate[11] = {0x8B, 0x44, 0x24, 0x04, 0xF7, 0x40, 0x04, 0x06, 0x00, 0x00, 0x00};
    auto handlerPatch = [&](uint32_t target) {
        // call entry stub; test word ptr [eax+4], 6 (flags as the overwritten test)
        uint8_t patch[11] = {0xE8, 0, 0, 0, 0, 0x66, 0xF7, 0x40, 0x04, 0x06, 0x00};
        int32_t d = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&crash_EntryStub) - (target + 5));
        std::memcpy(patch + 1, &d, 4);
        return std::make_unique<TZudAviziGenericPatch>(AsPtr(target), handlerTemplate, nullptr, 11, patch, nullptr, 0,
                                                       11);
    };
    auto jumpPatch = [&](uint32_t target, const void* dest) {
        return std::make_unique<TZudAviziJumpCallPatch>(AsPtr(target), nullptr, nullptr, -1, const_cast<void*>(dest), 0,
                                                        patchJump);
    };
    FPatches.push_back(handlerPatch(FSysAddresses.ExceptionHandlerAddr));
    FPatches.push_back(handlerPatch(FSysAddresses.HandleAnyExceptAddr));
    FPatches.push_back(handlerPatch(FSysAddresses.HandleOnExceptAddr));
    FPatches.push_back(handlerPatch(FSysAddresses.HandleAutoExceptAddr));
    FPatches.push_back(jumpPatch(FSysAddresses.ErrorMessageAddr, reinterpret_cast<const void*>(&ExcErrorMessage)));
    FPatches.push_back(jumpPatch(FSysAddresses.ShowErrorAddr, reinterpret_cast<const void*>(&ExcShowException)));
    FPatches.push_back(
        jumpPatch(FSysAddresses.AppShowExceptionAddr, reinterpret_cast<const void*>(&ExcAppShowException)));
    FPatches.push_back(jumpPatch(FSysAddresses.RaiseExceptAddr, reinterpret_cast<const void*>(&crash_RaiseStub)));
    {
        // call <kept>; mov edx,[eax+0] -> call <kept>; call end stub; nop
        static const uint8_t tmpl[11] = {0xE8, 0, 0, 0, 0, 0x8B, 0x90, 0, 0, 0, 0};
        static const uint8_t mask[11] = {0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        uint32_t target = FSysAddresses.DoneExceptAddr;
        uint8_t patch[6] = {0xE8, 0, 0, 0, 0, 0x90};
        int32_t d = static_cast<int32_t>(reinterpret_cast<uintptr_t>(&crash_EndStub) - (target + 10));
        std::memcpy(patch + 1, &d, 4);
        FPatches.push_back(
            std::make_unique<TZudAviziGenericPatch>(AsPtr(target), tmpl, mask, 11, patch, nullptr, 5, 6));
    }
    {
        // The frame handler of a C++ runtime of another kind, tried with the
        // known prologues until one matches. There is none in this program.
        static const uint8_t tmplA[30] = {0x8B, 0xC4, 0xFF, 0x35, 0,    0,    0,    0,    0x53, 0x57,
                                          0x56, 0x55, 0x50, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF,
                                          0x75, 0x0C, 0xFF, 0x75, 0x08, 0xE8, 0,    0,    0,    0};
        static const uint8_t maskA[30] = {0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,    0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0};
        static const uint8_t tmplB[9] = {0x55, 0x8B, 0xEC, 0x83, 0xC4, 0xCC, 0x53, 0x56, 0x57};
        static const uint8_t tmplC[24] = {0x53, 0x57, 0x56, 0x55, 0x8B, 0xC4, 0x50, 0xFF, 0x75, 0x14, 0xFF, 0x75,
                                          0x10, 0xFF, 0x75, 0x0C, 0xFF, 0x75, 0x08, 0xE8, 0,    0,    0,    0};
        static const uint8_t maskC[24] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0};
        void* target = AsPtr(FSysAddresses.CPPExceptionHandler);
        void* stub = reinterpret_cast<void*>(&crash_CppHandlerStub);
        std::unique_ptr<TZudAviziPatch> p(new TZudAviziCallSubstPatch(target, tmplA, maskA, 30, 25, stub));
        if (!p->Checked()) p.reset(new TZudAviziCallSubstPatch(target, tmplB, nullptr, 9, 78, stub));
        if (!p->Checked()) p.reset(new TZudAviziCallSubstPatch(target, tmplC, maskC, 24, 19, stub));
        FPatches.push_back(std::move(p));
    }
    for (auto& p : FPatches) p->Lock();
}

void TZudAvizi::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    env::TWritablePages pages;
    for (auto& p : FPatches)
        if (p->Checked()) pages.Add(p->Address(), static_cast<size_t>(p->Size()));
    for (auto& p : FPatches) {
        if (value)
            p->Apply();
        else
            p->Remove();
    }
    // Failures outside the runtime's handlers reach the patched outermost
    // handler through these.
    if (value)
        rtl::InstallLastChanceHandlers();
    else
        rtl::RemoveLastChanceHandlers();
}

// --- properties ---

std::wstring TZudAvizi::About() {
    return L"Orvex exception manager: interception, call stacks and crash reports for Quillfen programs";
}

std::wstring TZudAvizi::Version() const {
    std::wstring v = L"Orvex Exception Manager 1.70";
    switch (FEnvironment) {
        case emeDelphiGUI: return v + L" / Orvex runtime / GUI";
        case emeDelphiCON: return v + L" / Orvex runtime / CONSOLE";
        case emeBuilderGUI: return v + L" / Orvex runtime with C++ runtime / GUI";
        case emeBuilderCON: return v + L" / Orvex runtime with C++ runtime / CONSOLE";
        default: return v + L" / UNKNOWN ENVIRONMENT";
    }
}

CONTEXT TZudAvizi::ExceptionContext() const { return ReportedException().Context; }
TExceptionMessageInfo TZudAvizi::ExceptionInfo() const { return ThreadSlots().Info; }
TExceptionRecord TZudAvizi::ExceptionRec() const { return ReportedException().Record; }

// --- source information ---

std::wstring TZudAvizi::UnMangle(const std::wstring& source, bool isDelphi) {
    std::string in = rtl::ToAnsi(source);
    char out[2049] = {};
    Unmangle(in.c_str(), out, sizeof(out), nullptr, nullptr, false, isDelphi);
    return rtl::FromAnsi(out);
}

bool TZudAvizi::GetAddressSourceInfo(const void* address, TModuleDebugInfo*& moduleDebugInfo, std::wstring& moduleName,
                                     std::wstring& fileName, std::wstring& procName, int32_t& lineNumber,
                                     int32_t& lineOffset) {
    moduleName.clear();
    fileName.clear();
    procName.clear();
    lineNumber = -1;
    moduleDebugInfo = FindModule(address);
    if (!moduleDebugInfo) return false;
    int32_t fileIndex = -1, unitIndex = -1, procIndex = -1;
    moduleDebugInfo->SourceLine(address, fileIndex, lineNumber, lineOffset);
    moduleDebugInfo->ProcName(address, unitIndex, procIndex);
    moduleName = moduleDebugInfo->GetName(unitIndex);
    fileName = moduleDebugInfo->GetName(fileIndex);
    procName = UnMangle(moduleDebugInfo->GetName(procIndex), moduleDebugInfo->IsDelphiModule());
    return true;
}

TSourceInfo TZudAvizi::GetAddressSourceInfoRec(const void* address) {
    TSourceInfo info;
    GetAddressSourceInfo(address, info.ModuleDebugInfo, info.ModuleName, info.FileName, info.ProcName, info.LineNumber,
                         info.LineOffset);
    return info;
}

TSourceInfo TZudAvizi::GetSourceInfoRec() { return GetAddressSourceInfoRec(__builtin_return_address(0)); }

// --- modules ---

TModuleDebugInfo* TZudAvizi::FindModule(const void* address) {
    TLockGuard guard(FModulesLock);
    for (auto& m : FModules)
        if (m->IsInCode(address)) return m.get();
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(address, &info, sizeof(info)) || info.State != MEM_COMMIT) return nullptr;
    auto base = static_cast<HMODULE>(info.AllocationBase);
    for (auto& m : FModules)
        if (m->Instance() == base) return nullptr;
    std::wstring file = ModuleFileName(base);
    if (file.empty()) return nullptr;
    FModules.push_back(std::make_unique<TModuleDebugInfo>(file, base));
    return FModules.back().get();
}

// --- filters ---

bool TZudAvizi::Matches(const TExceptionFilter& entry, const rtl::Exception* obj) {
    if (!entry.ExceptionClass) return true;
    if (!obj) return false;
    if (entry.StrictFilter) return &obj->ClassType() == entry.ExceptionClass;
    return obj->InheritsFrom(*entry.ExceptionClass);
}

void TZudAvizi::RegisterExceptionFilter(const rtl::TClassRef* exceptionClass, IZudAviziFilter* filter, bool strict) {
    auto entry =
        std::make_unique<TExceptionFilter>(TExceptionFilter{exceptionClass, TFilterRef::Share(filter), true, strict});
    TLockGuard guard(FFiltersLock);
    FFilters.push_back(std::move(entry));
}

void TZudAvizi::UnRegisterExceptionFilter(IZudAviziFilter* filter) {
    if (!filter) return;
    TLockGuard guard(FFiltersLock);
    for (size_t i = FFilters.size(); i-- > 0;)
        if (FFilters[i]->Filter.Get() == filter) FFilters.erase(FFilters.begin() + static_cast<ptrdiff_t>(i));
}

void TZudAvizi::EnableExceptionFilter(IZudAviziFilter* filter, bool enabled) {
    if (!filter) return;
    TLockGuard guard(FFiltersLock);
    for (auto& e : FFilters)
        if (e->Filter.Get() == filter) e->Enabled = enabled;
}

bool TZudAvizi::IsExceptionFilterEnabled(IZudAviziFilter* filter) {
    if (!filter) return false;
    TLockGuard guard(FFiltersLock);
    for (auto& e : FFilters)
        if (e->Filter.Get() == filter) return e->Enabled;
    return false;
}

// --- log and dialog ---

void TZudAvizi::Log(const std::wstring& text, bool withHeader) {
    if (!FLogEnabled || FLogFile.empty()) return;
    std::wstring entry;
    if (withHeader) entry = ErrorLogHeaderLine();
    entry += text + L"\r\n";
    AppendToErrorLog(FLogFile, entry);
}

int32_t TZudAvizi::DefaultErrorDialog(const std::wstring& title, const std::wstring& errorMsg,
                                      rtl::TStringList* callStack, rtl::TStringList* registers,
                                      rtl::TStringList* customInfo) {
    HICON icon = nullptr;
    auto iconId = reinterpret_cast<uintptr_t>(FIcon);
    if (FIcon && iconId < 0x10000)
        icon = LoadIconW(nullptr, FIcon);
    else if (FIcon)
        icon = static_cast<HICON>(LoadImageW(FInstance, FIcon, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    return ShowExceptionDialog(title, errorMsg, FCustomTab, DialogFlagsFromOptions(FOptions), icon,
                               reinterpret_cast<HWND>(static_cast<uintptr_t>(FSysAddresses.MainWindow)), customInfo,
                               registers, callStack);
}

}  // namespace crash
