// Helpers of the network tests: the local servers' addresses, test files,
// CRC-32 (the server reports one per part) and the server's summary.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testhttp {

// key=value lines written by tests/servers/serverctl.sh (ports, CA file).
class TServers {
public:
    static const TServers& Get();  // empty when the servers are not running
    bool Running() const { return !FValues.empty(); }
    int Port(const std::string& name) const;
    std::wstring WinPath(const std::string& name) const;  // a Linux path as Z:\...
    std::string Value(const std::string& name) const;
    std::wstring Url(const std::string& server, const std::wstring& path, bool https = false) const;

private:
    std::map<std::string, std::string> FValues;
};

uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);
// Deterministic bytes that cover every value, CR and LF included.
std::string Pattern(size_t length, unsigned seed);
// Writes `length` pattern bytes to `path` in pieces; answers their CRC-32.
uint32_t WritePatternFile(const std::wstring& path, uint64_t length, unsigned seed);

// What the upload server says it received (its answer body).
struct TSummary {
    explicit TSummary(const std::string& body);
    std::string Check, Method, Path, Boundary;
    int Parts = -1;
    std::map<std::string, std::string> Headers;  // lower-case names
    struct Part {
        bool IsFile;
        std::string Name, FileName, ContentType;
        uint64_t Length;
        uint32_t Crc;
    };
    std::vector<Part> Items;
};

}  // namespace testhttp
