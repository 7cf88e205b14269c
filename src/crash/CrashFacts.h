// What a developer needs to know about the crashed process beyond the
// exception itself: when it crashed (UTC and local), how it was started, how
// much memory and how many handles it held, every module it had loaded and
// every thread it ran. Gathered once, on the failing thread, while the crash
// report is made; rendered as the report's closing sections.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "rtl/StringList.h"
#include "rtl/Win.h"

namespace crash {

struct TModuleFact {
    uint32_t Base = 0;
    uint32_t Size = 0;
    std::wstring FileVersion;  // "a.b.c.d" from the module's version resource; empty when it has none
    std::wstring Path;
};

struct TCrashFacts {
    SYSTEMTIME Utc{};
    SYSTEMTIME Local{};
    int UtcOffsetMinutes = 0;  // local time minus UTC
    uint32_t ProcessId = 0;
    std::wstring CommandLine;
    uint64_t WorkingSet = 0;  // bytes; 0 when the system could not tell, as for the others
    uint64_t PeakWorkingSet = 0;
    uint64_t PrivateBytes = 0;
    uint32_t HandleCount = 0;
    std::vector<TModuleFact> Modules;  // in load order
    std::vector<uint32_t> ThreadIds;
    uint32_t FailingThreadId = 0;
};

// The facts of the running process, `failingThreadId` being the thread whose
// exception is reported. A query that fails leaves its figure at 0 or its
// list empty: a report with less is better than no report.
TCrashFacts GatherCrashFacts(uint32_t failingThreadId);

// The file version of a loaded module, from its version resource in memory
// (no file is opened); empty when it has none.
std::wstring ModuleFileVersion(HMODULE module);

// The [Time], [Process], [Modules] and [Threads] sections.
void AddCrashFactSections(rtl::TStringList& out, const TCrashFacts& facts);

}  // namespace crash
