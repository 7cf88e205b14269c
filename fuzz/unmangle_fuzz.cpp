// The unmangler on any text, in both modes and with output buffers of many
// sizes: the output must stay inside its buffer and always be terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash/ExcUnmangle.h"

namespace {

constexpr char kCanary = '\x5A';
constexpr size_t kGuard = 16;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "unmangle: %s\n", what);
        std::abort();
    }
}

// A buffer of `size` bytes followed by canary bytes.
struct TGuarded {
    explicit TGuarded(size_t size) : Size(size), Bytes(size + kGuard, kCanary) {}
    char* Data() { return Bytes.data(); }
    bool Terminated() const { return std::memchr(Bytes.data(), 0, Size) != nullptr; }
    bool GuardIntact() const {
        for (size_t i = Size; i < Bytes.size(); ++i)
            if (Bytes[i] != kCanary) return false;
        return true;
    }
    size_t Size;
    std::vector<char> Bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    // First byte: the output size to try besides the largest ones.
    size_t small = 1 + data[0] % 64;
    std::string source(reinterpret_cast<const char*>(data + 1), size - 1);
    source = source.c_str();  // the unmangler reads up to the first zero
    for (bool decodeArgs : {false, true}) {
        for (size_t destSize : {small, size_t(256), size_t(2049), size_t(crash::kUnmangleMaxOutput)}) {
            TGuarded dest(destSize), qualifier(destSize), baseName(destSize);
            uint32_t flags = crash::Unmangle(source.c_str(), dest.Data(), static_cast<int32_t>(destSize),
                                             qualifier.Data(), baseName.Data(), decodeArgs, false);
            Check(dest.GuardIntact() && qualifier.GuardIntact() && baseName.GuardIntact(), "wrote past a buffer");
            Check(dest.Terminated(), "output not terminated");
            (void)flags;
        }
        std::string name = crash::UnmangleName(source, decodeArgs);
        Check(name.size() <= 2048, "readable name longer than its buffer");
    }
    return 0;
}
