#include "tdsinfo/Answer.h"

#include "crash/ExcUnmangle.h"
#include "rtl/Text.h"

namespace tdsinfo {

uint32_t ToLogical(const crash::TModuleDebugInfo& info, const TOptions& o, uint32_t address) {
    return o.Logical ? address
                     : info.GetConvertedAddress(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)));
}

TAnswer Lookup(crash::TModuleDebugInfo& info, uint32_t logical, bool args) {
    TAnswer a;
    int32_t unit, proc, file;
    a.UnitFound = info.FindModuleProc(logical, unit, proc, a.ProcStart);
    a.ProcFound = proc >= 0;
    if (a.UnitFound) {
        a.Unit = rtl::ToAnsi(info.GetName(unit));
        if (a.ProcFound) a.Proc = crash::UnmangleName(rtl::ToAnsi(info.GetName(proc)), args);
    }
    a.LineFound = info.FindSourceLine(logical, file, a.Line, a.LineStart);
    if (a.LineFound) a.File = rtl::ToAnsi(info.GetName(file));
    return a;
}

}  // namespace tdsinfo
