// The stored proxy login as read back from the registry, where anyone may
// have written anything: deciphering never fails badly, and what it gives
// is stored and read again unchanged; any user name without a carriage
// return and any password survive the round trip.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/ProxyLogin.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "proxy login: %s\n", what);
        std::abort();
    }
}

void RoundTrip(const std::u16string& user, const std::u16string& pass) {
    std::u16string u, p;
    Check(config::DecipherProxyLogin16(config::EncipherProxyLogin16(user, pass), u, p), "own login not readable");
    Check(u == user && p == pass, "login changed on the way");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Stored text: one byte per character, so Base64 text is easy to reach.
    std::u16string stored(data, data + size);
    std::u16string user = u"junk", pass = u"junk";
    if (config::DecipherProxyLogin16(stored, user, pass)) {
        Check(user.find(u'\r') == std::u16string::npos, "user name holds the separator");
        RoundTrip(user, pass);
    } else {
        Check(user.empty() && pass.empty(), "refused login left text behind");
    }

    // Credentials: UTF-16LE code units, the user name up to the first carriage return.
    std::u16string units;
    for (size_t n = 0; n + 1 < size; n += 2) units += static_cast<char16_t>(data[n] | data[n + 1] << 8);
    size_t cut = units.find(u'\r');
    if (cut == std::u16string::npos)
        RoundTrip(units, u"");
    else
        RoundTrip(units.substr(0, cut), units.substr(cut + 1));
    return 0;
}
