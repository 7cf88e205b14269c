// Raise-to-catch round trip of a runtime exception (SEH dispatch, unwind of
// the dispatcher's records, C++ throw to the scope) against a plain C++
// throw and catch of a comparable object, in the same run: first with the
// exception manager unarmed, then armed (its patches see every dispatch).
//
//   raise_bench [iterations] [runtime|cpp|both]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "crash/ZudAvizi.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/SystemAddresses.h"
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

struct TFigures {
    double Runtime = 0, Cpp = 0;
};

TFigures MeasureBoth(int n, const char* mode, int& caught) {
    TFigures f;
    if (std::strcmp(mode, "cpp") != 0)
        f.Runtime = Measure(n, [&] {
            rtl::Try([] { RaiseRuntime(); }, rtl::On<rtl::EConvertError>([&](rtl::EConvertError&) { ++caught; }));
        });
    if (std::strcmp(mode, "runtime") != 0)
        f.Cpp = Measure(n, [&] {
            try {
                ThrowCpp();
            } catch (const std::runtime_error&) {
                ++caught;
            }
        });
    return f;
}

void Print(const char* title, const TFigures& f) {
    std::printf("%s\n", title);
    if (f.Runtime > 0) std::printf("  runtime exception raise->catch: %.2f us\n", f.Runtime);
    if (f.Cpp > 0) std::printf("  C++ throw->catch:               %.2f us\n", f.Cpp);
    if (f.Runtime > 0 && f.Cpp > 0) std::printf("  ratio runtime / C++:            %.2f\n", f.Runtime / f.Cpp);
}

void Arm() {
    rtl::RunGuarded([] {
        TZudAviziSystemAddresses table{};
        rtl::FillSystemAddresses(table);
        auto* m = new crash::TZudAvizi(crash::emeDelphiCON, table);
        crash::SetZudAvizi(m);
        m->SetLogFile(L"");
        m->SetEnabled(true);
        return 0;
    });
}

}  // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    const char* mode = argc > 2 ? argv[2] : "both";
    if (n <= 0) n = 20000;
    int caught = 0;
    const TFigures unarmed = MeasureBoth(n, mode, caught);
    Arm();
    const TFigures armed = MeasureBoth(n, mode, caught);
    std::printf("iterations: %d (caught %d)\n", n, caught);
    Print("unarmed:", unarmed);
    Print("armed (the exception manager's patches in place):", armed);
    return 0;
}
