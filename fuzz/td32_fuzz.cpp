// TD32 debug information from an untrusted file: the input is the file (its
// block ends it). Loads it and runs every lookup over a spread of addresses;
// any read outside the input stops the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "crash/Td32Reader.h"

namespace {

using crash::td32::TByteSource;

// Like the module file's mapped stream, which raises on such a request, a
// request past the end is a finding.
class TStrictSource : public TByteSource {
public:
    TStrictSource(const uint8_t* data, size_t size) : FData(data), FSize(static_cast<uint32_t>(size)) {}
    uint32_t Size() const override { return FSize; }
    const uint8_t* Bytes(uint32_t offset, uint32_t size) override {
        if (uint64_t(offset) + size > FSize) {
            std::fprintf(stderr, "read of %u bytes at %u past the end (%u bytes)\n", size, offset, FSize);
            std::abort();
        }
        return FData + offset;
    }

private:
    const uint8_t* FData;
    uint32_t FSize;
};

void Touch(const std::string& s) {
    volatile size_t sum = 0;
    for (char c : s) sum = sum + static_cast<uint8_t>(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (16u << 20)) return 0;
    TStrictSource source(data, size);
    crash::td32::TReader reader;
    reader.Load(source);
    for (int32_t i = -1; i <= reader.SubsectionCount(); ++i) reader.GetSubsectionOffset(i);
    (void)reader.HeldBytes();
    for (int32_t i = -1; i <= reader.NamesCount() + 1 && i < 64; ++i) Touch(reader.GetName(i));

    // Addresses: fixed points, and values taken from the input itself (the
    // fuzzer finds the ranges the data describes faster this way).
    uint32_t addresses[40] = {0, 1, 0xFF, 0x100, 0x1000, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    size_t n = 10;
    for (size_t at = 0; n < 40 && at + 4 <= size; at += size / 30 + 1, ++n)
        addresses[n] = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                       uint32_t(data[at + 3]) << 24;
    for (size_t k = 0; k < n; ++k) {
        int32_t unit, proc, file, line, lineOffset;
        uint32_t procStart;
        if (reader.FindModuleProc(addresses[k], unit, proc, procStart)) {
            Touch(reader.GetName(unit));
            Touch(reader.GetName(proc));
        }
        if (reader.FindSourceLine(addresses[k], file, line, lineOffset)) Touch(reader.GetName(file));
    }
    return 0;
}
