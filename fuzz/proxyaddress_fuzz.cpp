// The proxy dialog's two boxes, where a user may type or paste anything:
// reading them never fails badly, a refusal stores nothing and says why, and
// what is accepted is a host and port that read back as themselves.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/ProxyAddress.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "proxy address: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The server box up to the first line feed, the port box after it; one
    // byte per character, so addresses are easy to reach.
    std::u16string text(data, data + size);
    size_t cut = text.find(u'\n');
    std::u16string server = text.substr(0, cut), port = cut == std::u16string::npos ? u"" : text.substr(cut + 1);
    config::TProxyEntry entry = config::ReadProxyBoxes(server, port);
    if (entry.Refused != config::TProxyBox::None) {
        Check(entry.Host.empty() && entry.Port == 0, "a refusal left a proxy behind");
        Check(!entry.Reason.empty(), "a refusal without a reason");
        return 0;
    }
    Check(entry.Reason.empty(), "a reason without a refusal");
    Check(entry.Port >= 0 && entry.Port <= 65535, "port out of range");
    if (entry.Host.empty()) return 0;
    Check(entry.Port >= 1, "a proxy without a port");
    // The host and port as stored, typed into the boxes again.
    std::u16string portText;
    for (int32_t p = entry.Port; p; p /= 10) portText.insert(portText.begin(), static_cast<char16_t>(u'0' + p % 10));
    config::TProxyEntry back = config::ReadProxyBoxes(entry.Host, portText);
    Check(back.Refused == config::TProxyBox::None, "the stored host and port are refused");
    Check(back.Host == entry.Host && back.Port == entry.Port, "the stored host and port read back otherwise");
    return 0;
}
