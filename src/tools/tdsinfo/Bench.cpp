#include "tdsinfo/Bench.h"

#include "rtl/Text.h"
#include "tdsinfo/Answer.h"
#include "tdsinfo/Console.h"

namespace tdsinfo {

int Bench(crash::TModuleDebugInfo& info, const TOptions& o, const std::vector<uint32_t>& addresses) {
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    size_t found = 0;
    QueryPerformanceCounter(&t0);
    for (uint32_t a : addresses) {
        TAnswer r = Lookup(info, ToLogical(info, o, a), false);
        found += r.LineFound && !r.Proc.empty();
    }
    QueryPerformanceCounter(&t1);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    Print(rtl::ToAnsi(
        rtl::Format(L"lookups: %u\nfound: %u\nseconds: %.3f\nlookups per second: %.0f\n"
                    L"held after loading: %u bytes\n",
                    static_cast<unsigned>(addresses.size()), static_cast<unsigned>(found), seconds,
                    seconds > 0 ? addresses.size() / seconds : 0.0, static_cast<unsigned>(info.HeldBytes()))));
    return 0;
}

}  // namespace tdsinfo
