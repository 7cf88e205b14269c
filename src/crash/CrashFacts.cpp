#include "crash/CrashFacts.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "crash/CrashReportFormat.h"
#include "env/Version.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"

namespace crash {

namespace {

int64_t FileTimeValue(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

void AddTime(TCrashFacts& facts) {
    FILETIME utc{}, local{};
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&utc, &facts.Utc);
    FileTimeToSystemTime(&local, &facts.Local);
    facts.UtcOffsetMinutes = static_cast<int>((FileTimeValue(local) - FileTimeValue(utc)) / (60LL * 10000000LL));
}

void AddMemoryUse(TCrashFacts& facts) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters))) {
        facts.WorkingSet = counters.WorkingSetSize;
        facts.PeakWorkingSet = counters.PeakWorkingSetSize;
        facts.PrivateBytes = counters.PrivateUsage;
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) facts.HandleCount = handles;
}

// Modules and threads from one system snapshot each: the lists the system
// keeps, not only the modules the call stack happened to touch.
void AddModules(TCrashFacts& facts) {
    rtl::ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
    if (!snapshot) return;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32FirstW(snapshot.Get(), &entry); more; more = Module32NextW(snapshot.Get(), &entry)) {
        TModuleFact m;
        m.Base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.modBaseAddr));
        m.Size = entry.modBaseSize;
        m.FileVersion = ModuleFileVersion(entry.hModule);
        m.Path = entry.szExePath;
        facts.Modules.push_back(std::move(m));
    }
}

void AddThreads(TCrashFacts& facts) {
    rtl::ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == facts.ProcessId) facts.ThreadIds.push_back(entry.th32ThreadID);
}

std::wstring TimeText(const SYSTEMTIME& t) {
    return rtl::Format(L"%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                       t.wMilliseconds);
}

std::wstring KiloBytes(uint64_t bytes) {
    return bytes ? std::to_wstring(bytes / 1024) + L" KB" : std::wstring(report::cUnknown);
}

std::wstring Count(uint32_t n) { return n ? std::to_wstring(n) : std::wstring(report::cUnknown); }

}  // namespace

std::wstring ModuleFileVersion(HMODULE module) {
    const env::TFileVersion v = env::ReadModuleFileVersion(module);
    return v.MS || v.LS ? env::FormatVersion(v) : std::wstring();
}

TCrashFacts GatherCrashFacts(uint32_t failingThreadId) {
    TCrashFacts facts;
    AddTime(facts);
    facts.ProcessId = GetCurrentProcessId();
    facts.CommandLine = GetCommandLineW();
    facts.FailingThreadId = failingThreadId;
    AddMemoryUse(facts);
    AddModules(facts);
    AddThreads(facts);
    return facts;
}

void AddCrashFactSections(rtl::TStringList& out, const TCrashFacts& f) {
    using namespace report;
    auto key = [&](const wchar_t* name, const std::wstring& value) { out.Add(name + (L"=" + value)); };
    const int offset = f.UtcOffsetMinutes < 0 ? -f.UtcOffsetMinutes : f.UtcOffsetMinutes;
    out.Add(cTimeSection);
    key(cUtcKey, TimeText(f.Utc));
    key(cLocalKey, TimeText(f.Local) + (f.UtcOffsetMinutes < 0 ? L" UTC-" : L" UTC+") +
                       rtl::Format(L"%02d:%02d", offset / 60, offset % 60));
    out.Add(cProcessSection);
    key(cProcessIdKey, std::to_wstring(f.ProcessId));
    key(cCommandLineKey, f.CommandLine);
    key(cWorkingSetKey, KiloBytes(f.WorkingSet));
    key(cPeakWorkingSetKey, KiloBytes(f.PeakWorkingSet));
    key(cPrivateBytesKey, KiloBytes(f.PrivateBytes));
    key(cHandleCountKey, Count(f.HandleCount));
    out.Add(cModulesSection);
    for (const TModuleFact& m : f.Modules)
        out.Add(rtl::Format(L"%.8X %.8X ", m.Base, m.Size) + (m.FileVersion.empty() ? cNoVersion : m.FileVersion) +
                L" " + m.Path);
    out.Add(cThreadsSection);
    for (uint32_t id : f.ThreadIds) out.Add(rtl::Format(L"%.8X", id) + (id == f.FailingThreadId ? cFailingMark : L""));
}

}  // namespace crash
