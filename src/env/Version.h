// The program's own file version, read once from its version resource.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/Win.h"

namespace env {

struct TFileVersion {
    uint32_t MS = 0;  // major << 16 | minor
    uint32_t LS = 0;  // release << 16 | build
};

// Start-up step: reads the version resource (type version, id 1) of `module`
// (the program when null); leaves 0.0.0.0 when there is none.
void InitVersionInfo(HMODULE module = nullptr);

// Reads the fixed file version of a module's resource without caching it.
TFileVersion ReadModuleFileVersion(HMODULE module);

std::wstring FormatVersion(const TFileVersion& v);

// "major.minor.release.build" of the program, e.g. 1.2.3.4.
std::wstring GetProgramVersionText();

}  // namespace env
