// What tdsinfo knows of one code address: unit, procedure, source file and line.
#pragma once
#include <cstdint>
#include <string>

#include "crash/ModuleDebugInfo.h"
#include "tdsinfo/Options.h"

namespace tdsinfo {

struct TAnswer {
    std::string Unit, File, Proc;  // ANSI, as the module stores them; Proc unmangled
    int32_t Line = -1, LineStart = 0;
    uint32_t ProcStart = 0;  // logical address of the procedure's first byte
    bool UnitFound = false, ProcFound = false, LineFound = false;
};

// The logical address of `address` as the options read it.
uint32_t ToLogical(const crash::TModuleDebugInfo& info, const TOptions& options, uint32_t address);

// Looks a logical address up; `args` unmangles with argument lists.
TAnswer Lookup(crash::TModuleDebugInfo& info, uint32_t logical, bool args);

}  // namespace tdsinfo
