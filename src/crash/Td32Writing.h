// Writing TD32 numbers: little-endian integers and the packed numbers of the
// compact procedure form (7 bits, 14 bits or 30 bits, tagged in the low
// bits). For the build-time converter and for tests that build debug
// information byte by byte; the reader decodes what these write.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace crash::td32 {

using Bytes = std::vector<uint8_t>;

inline void Put8(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
inline void Put16(Bytes& b, uint32_t v) {
    Put8(b, v);
    Put8(b, v >> 8);
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v);
    Put16(b, v >> 16);
}
// Overwrites the 32-bit number at `at` (a size or offset known only later).
inline void Patch32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutPacked(Bytes& b, uint32_t v) {
    if (v < 0x80)
        Put8(b, v << 1);
    else if (v < 0x4000)
        Put16(b, (v << 2) | 1);
    else
        Put32(b, (v << 2) | 3);
}

}  // namespace crash::td32
