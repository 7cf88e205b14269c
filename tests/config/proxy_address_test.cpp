// The proxy dialog's two boxes read into what is stored, one line per case:
// "host|port" when accepted, "Server: reason" or "Port: reason" when refused.
#include <gtest/gtest.h>

#include <string>

#include "config/ProxyAddress.h"

namespace {

// Latin-1 text both ways, so that one table of plain strings holds every case.
std::u16string In(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return std::u16string(bytes, bytes + text.size());
}
std::string Out(const config::TProxyEntry& e) {
    std::u16string text = e.Refused == config::TProxyBox::None
                              ? e.Host + u"|" + In(std::to_string(e.Port))
                              : (e.Refused == config::TProxyBox::Server ? u"Server: " : u"Port: ") + e.Reason +
                                    (e.Host.empty() && e.Port == 0 ? u"" : u" (and a proxy)");
    return std::string(text.begin(), text.end());
}

TEST(ReadProxyBoxes, Table) {
    const std::string port = "the port must be a number from 1 to 65535, not ";
    const std::string dots = "Server: a server's name cannot begin or end with '.', nor hold '..'.";
    const std::string chars = "' cannot be part of a server's name (letters, digits, '-', '_' and '.' can).";
    const std::string scheme = "Server: only http:// proxies can be used, not '";
    const struct {
        std::string Server, Port, Read;
    } table[] = {
        {"", "", "|0"},              // no proxy
        {" \t", " 3128 ", "|3128"},  // no proxy, the port kept for later
        {"  proxy.example.net ", "8080", "proxy.example.net|8080"},
        {"proxy", "", "proxy|80"},             // HTTP's port
        {"proxy:3128", "8080", "proxy|3128"},  // the server box's port wins
        {"http://proxy", "8080", "proxy|8080"},
        {"HTTP://10.0.0.1:3128/", "", "10.0.0.1|3128"},
        {"corp_proxy-2.local", "007", "corp_proxy-2.local|7"},
        {"p:65535", "1", "p|65535"},
        {std::string(253, 'a'), "1", std::string(253, 'a') + "|1"},
        {"proxy", "abc", "Port: " + port + "'abc'."},
        {"proxy", "0", "Port: " + port + "'0'."},
        {"proxy", "65536", "Port: " + port + "'65536'."},
        {"proxy", " -1", "Port: " + port + "'-1'."},
        {"", "12x", "Port: " + port + "'12x'."},  // checked without a server too
        {"proxy", "1234567890123456789012345", "Port: " + port + "'123456789012345678901234...'."},
        {"proxy:", "", "Server: the port after ':' is missing."},
        {"proxy:0", "80", "Server: " + port + "'0'."},
        {"my proxy", "", "Server: spaces cannot be part of a proxy's address."},
        {"https://proxy:443", "", scheme + "https://'."},
        {"socks5://proxy", "1080", scheme + "socks5://'."},
        {"http://proxy:3128/path/", "", "Server: a proxy's address has no path: remove '/path'."},
        {"http://", "", "Server: the server's name is missing."},
        {"user:secret@proxy", "", "Server: the user name and password go into their own boxes, not into the address."},
        {"[::1]:3128", "", "Server: IPv6 addresses cannot be used here; enter a host name or an IPv4 address."},
        {"pr\xf6xy", "", "Server: '\xf6" + chars},
        {"proxy..net", "", dots},
        {std::string(254, 'a'), "", "Server: a server's name has at most 253 characters."},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.Read, Out(config::ReadProxyBoxes(In(row.Server), In(row.Port)))) << row.Server << "|" << row.Port;
}

}  // namespace
