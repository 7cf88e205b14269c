#include "config/Rc4.h"

#include <utility>

#include "config/Wipe.h"

namespace config {

TRc4::TRc4(const uint8_t* key, size_t keyLength) {
    for (int n = 0; n < 256; ++n) FState[n] = static_cast<uint8_t>(n);
    uint8_t j = 0;
    for (int n = 0; n < 256; ++n) {
        j = static_cast<uint8_t>(j + FState[n] + key[n % keyLength]);
        std::swap(FState[n], FState[j]);
    }
}

TRc4::~TRc4() {
    // Not optimised away although the object dies here.
    WipeBytes(FState, sizeof(FState));
    WipeBytes(&FI, sizeof(FI));
    WipeBytes(&FJ, sizeof(FJ));
}

void TRc4::Apply(uint8_t* data, size_t length) {
    for (size_t n = 0; n < length; ++n) {
        FI = static_cast<uint8_t>(FI + 1);
        FJ = static_cast<uint8_t>(FJ + FState[FI]);
        std::swap(FState[FI], FState[FJ]);
        data[n] ^= FState[static_cast<uint8_t>(FState[FI] + FState[FJ])];
    }
}

}  // namespace config
