// Overwrites memory that held secrets. The writes go through a volatile
// pointer, so the compiler keeps them although the memory is not read again.
#pragma once
#include <cstddef>

namespace config {

inline void WipeBytes(void* p, size_t n) {
    volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
    while (n--) *b++ = 0;
}

// Wipes a string's characters and empties it.
template <class S>
void Wipe(S& s) {
    if (!s.empty()) WipeBytes(s.data(), s.size() * sizeof(s[0]));
    s.clear();
}

}  // namespace config
