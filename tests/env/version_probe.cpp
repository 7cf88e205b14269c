// Prints the version text it reads from its own resource.
#include <cstdio>

#include "env/Version.h"

int wmain() {
    env::InitVersionInfo();
    std::printf("%ls\n", env::GetProgramVersionText().c_str());
    return 0;
}
