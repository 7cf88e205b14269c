// tdsinfo --bench: how many lookups per second, instead of the answers.
#pragma once
#include <cstdint>
#include <vector>

#include "crash/ModuleDebugInfo.h"
#include "tdsinfo/Options.h"

namespace tdsinfo {

// Looks every address up (unit, procedure, line, unmangled name) and prints
// the rate; answers the exit code.
int Bench(crash::TModuleDebugInfo& info, const TOptions& options, const std::vector<uint32_t>& addresses);

}  // namespace tdsinfo
