// Two figures of the exception manager:
//  - arming: constructing the manager and applying its patches, as the
//    program's start-up does (averaged over many rounds in one process);
//  - the source lookups of a 100-frame call stack (unit, file, line and
//    unmangled procedure of each return address), in process;
//  - the interception path: from a processor fault 100 frames deep to the
//    entry of the filters' show step (message composed, call stack walked
//    and symbolized from our own debug information, register dump), each
//    sample in a child process because an unhandled fault ends it.
//
//   crash_bench [samples]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash/ZudAvizi.h"
#include "rtl/Halt.h"
#include "rtl/SystemAddresses.h"
#include "rtl/Win.h"

namespace {

using namespace crash;
using Clock = std::chrono::steady_clock;

LARGE_INTEGER gFaultTime;

class TimingFilter : public TZudAviziFilterBase {
public:
    BOOL __stdcall ShowException(rtl::Exception*, const wchar_t*, const wchar_t*, rtl::TStringList* stack,
                                 rtl::TStringList*, rtl::TStringList*) override {
        LARGE_INTEGER now, freq;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&freq);
        double us = double(now.QuadPart - gFaultTime.QuadPart) * 1e6 / double(freq.QuadPart);
        std::printf("PATH %.0f %d\n", us, stack->Count());
        std::fflush(stdout);
        ExitProcess(0);
    }
};

__attribute__((noipa)) int Deep(int depth) {
    if (depth == 0) {
        QueryPerformanceCounter(&gFaultTime);
        return *reinterpret_cast<volatile int*>(static_cast<uintptr_t>(depth));
    }
    return Deep(depth - 1) + 1;
}

// Records the return address of each of `depth` nested calls, as a call
// stack 100 frames deep holds them.
__attribute__((noipa)) int DeepCapture(int depth, void** frames) {
    if (depth == 0) return 0;
    frames[depth - 1] = __builtin_return_address(0);
    return DeepCapture(depth - 1, frames) + 1;
}

// Microseconds to look up every frame of a 100-frame call stack.
double StackLookupMicroseconds(int rounds, int& frames) {
    void* stack[100] = {};
    frames = DeepCapture(100, stack);
    TZudAviziSystemAddresses table{};
    rtl::RunGuarded([&] { rtl::FillSystemAddresses(table); });
    auto* m = new TZudAvizi(emeDelphiCON, table);
    SetZudAvizi(m);
    size_t found = 0;
    auto start = Clock::now();
    for (int r = 0; r < rounds; ++r)
        for (int i = 0; i < frames; ++i) found += m->GetAddressSourceInfoRec(stack[i]).LineNumber > 0;
    double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    SetZudAvizi(nullptr);
    delete m;
    return found ? us : 0;
}

int Child() {
    return rtl::RunGuarded([] {
        TZudAviziSystemAddresses table{};
        rtl::FillSystemAddresses(table);
        auto* m = new TZudAvizi(emeDelphiCON, table);
        SetZudAvizi(m);
        m->SetLogFile(L"");
        m->RegisterExceptionFilter(nullptr, new TimingFilter, false);
        m->SetEnabled(true);
        return Deep(100);
    });
}

double ArmMicroseconds(int rounds) {
    TZudAviziSystemAddresses table{};
    rtl::RunGuarded([&] { rtl::FillSystemAddresses(table); });
    double total = 0;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        auto* m = new TZudAvizi(emeDelphiGUI, table);
        SetZudAvizi(m);
        m->SetEnabled(true);
        total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        SetZudAvizi(nullptr);
        delete m;
    }
    return total / rounds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return Child();
    int samples = argc > 1 ? std::atoi(argv[1]) : 10;
    if (samples <= 0) samples = 10;
    std::printf("arming the manager (construction, own debug information, patches): %.0f us (mean of 200)\n",
                ArmMicroseconds(200));
    int stackFrames = 0;
    double lookups = StackLookupMicroseconds(20, stackFrames);
    std::printf("source lookups of a %d-frame call stack: %.0f us (mean of 20)\n", stackFrames, lookups);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<double> times;
    int frames = 0;
    for (int i = 0; i < samples; ++i) {
        std::wstring cmd = L"\"" + std::wstring(self) + L"\" --child";
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        HANDLE readEnd, writeEnd;
        CreatePipe(&readEnd, &writeEnd, &sa, 0);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = writeEnd;
        si.hStdError = writeEnd;
        PROCESS_INFORMATION pi{};
        std::vector<wchar_t> line(cmd.begin(), cmd.end());
        line.push_back(0);
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 1;
        CloseHandle(writeEnd);
        std::string out;
        char buf[512];
        DWORD n;
        while (ReadFile(readEnd, buf, sizeof(buf), &n, nullptr) && n) out.append(buf, n);
        CloseHandle(readEnd);
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        double us = 0;
        if (std::sscanf(out.c_str(), "PATH %lf %d", &us, &frames) == 2) times.push_back(us);
    }
    if (times.empty()) {
        std::printf("the interception path was not reached\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("fault to the filters' show step: median %.0f us, min %.0f us over %zu samples (%d call stack lines)\n",
                times[times.size() / 2], times.front(), times.size(), frames);
    return 0;
}
