// RC4, the published stream cipher: a 256-byte permutation set up from the
// key, then a key stream XORed onto the data. The state is wiped when the
// object is destroyed, so no key material outlives its use.
#pragma once
#include <cstddef>
#include <cstdint>

namespace config {

class TRc4 {
public:
    // Key schedule for a key of 1 to 256 bytes; the key stream starts at its
    // first byte (nothing is discarded).
    TRc4(const uint8_t* key, size_t keyLength);
    ~TRc4();
    TRc4(const TRc4&) = delete;
    TRc4& operator=(const TRc4&) = delete;

    // XORs the next `length` key-stream bytes onto `data`; enciphers and
    // deciphers alike.
    void Apply(uint8_t* data, size_t length);

private:
    uint8_t FState[256];
    uint8_t FI = 0;
    uint8_t FJ = 0;
};

}  // namespace config
