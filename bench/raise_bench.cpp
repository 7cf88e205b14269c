// Raise-to-catch round trip of a runtime exception (SEH dispatch, unwind of
// the dispatcher's records, C++ throw to the scope) against a plain C++
// throw and catch of a comparable object, in the same run.
//
//   raise_bench [iterations] [runtime|cpp|both]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "rtl/Raise.h"
#include "rtl/Try.h"

namespace {

__attribute__((noinline)) void RaiseRuntime() { rtl::RaiseNew<rtl::EConvertError>(L"bench"); }
__attribute__((noinline)) void ThrowCpp() { throw std::runtime_error("bench"); }

template <class F>
double Measure(int n, F round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) round();
    std::chrono::duration<double, std::micro> us = std::chrono::steady_clock::now() - start;
    return us.count() / n;
}

}  // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    const char* mode = argc > 2 ? argv[2] : "both";
    if (n <= 0) n = 20000;
    int caught = 0;
    double runtime = 0, cpp = 0;
    if (std::strcmp(mode, "cpp") != 0)
        runtime = Measure(n, [&] {
            rtl::Try([] { RaiseRuntime(); }, rtl::On<rtl::EConvertError>([&](rtl::EConvertError&) { ++caught; }));
        });
    if (std::strcmp(mode, "runtime") != 0)
        cpp = Measure(n, [&] {
            try {
                ThrowCpp();
            } catch (const std::runtime_error&) {
                ++caught;
            }
        });
    std::printf("iterations: %d (caught %d)\n", n, caught);
    if (runtime > 0) std::printf("runtime exception raise->catch: %.2f us\n", runtime);
    if (cpp > 0) std::printf("C++ throw->catch:               %.2f us\n", cpp);
    if (runtime > 0 && cpp > 0) std::printf("ratio runtime / C++:            %.2f\n", runtime / cpp);
    return 0;
}
