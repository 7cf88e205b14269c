// The module tdsinfo answers for: its debug information, loaded at the base
// the user gave or the one in its header.
#pragma once
#include <memory>

#include "crash/ModuleDebugInfo.h"
#include "tdsinfo/Options.h"

namespace tdsinfo {

// The module's debug information (Loaded() says whether it had any); null,
// after saying so, when the file does not exist.
std::unique_ptr<crash::TModuleDebugInfo> OpenModule(const TOptions& options);

// What was loaded: signature, subsections, names, memory held, image base.
void PrintStats(const crash::TModuleDebugInfo& info, const TOptions& options);

}  // namespace tdsinfo
