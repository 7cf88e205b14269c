// The proxy a user types into the proxy dialog's two boxes, "HTTP proxy"
// and "Port", read into the host and port that are stored. Platform-free:
// the text side is UTF-16 code units, as the dialog's boxes give it.
//
// The server box takes "host", "host:port", "http://host" and
// "http://host:port", with blanks around it and one "/" at the end ignored.
// The port box takes a number from 1 to 65535, or nothing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace config {

// Which box a refusal is about.
enum class TProxyBox { None, Server, Port };

struct TProxyEntry {
    // The host alone; empty means no proxy.
    std::u16string Host;
    // 1 to 65535 with a host. Without one, what the port box held (0 when
    // empty), kept for when the user enters a server again.
    int32_t Port = 0;
    // None when both boxes were accepted; otherwise the box to correct and
    // why, as a sentence for the user (Host and Port are then empty and 0).
    TProxyBox Refused = TProxyBox::None;
    std::u16string Reason;
};

// A port written in the server box wins over the port box: it came with the
// address the user pasted last, and the dialog shows it in the port box.
// A host without any port gets HTTP's port 80, which uploads have always
// used for a proxy stored without one.
TProxyEntry ReadProxyBoxes(std::u16string_view server, std::u16string_view port);

}  // namespace config
