#include "env/klog.h"

namespace env {

static TKLog* gKLog = nullptr;

TKLog* KLog() {
    if (!gKLog) gKLog = new TKLog;
    return gKLog;
}

void InitKLog() { KLog(); }

void DoneKLog() {
    TKLog* log = gKLog;
    gKLog = nullptr;
    delete log;
}

}  // namespace env
