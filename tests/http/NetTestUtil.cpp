#include "NetTestUtil.h"

#include <fstream>
#include <sstream>

#include "TestUtil.h"
#include "rtl/Text.h"

namespace testhttp {

const TServers& TServers::Get() {
    static TServers servers = [] {
        TServers s;
        std::ifstream in((testutil::ExeFolder() + L"servers\\servers.txt").c_str());
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) s.FValues[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return s;
    }();
    return servers;
}

std::string TServers::Value(const std::string& name) const {
    auto it = FValues.find(name);
    return it == FValues.end() ? std::string() : it->second;
}

int TServers::Port(const std::string& name) const { return atoi(Value(name).c_str()); }

std::wstring TServers::WinPath(const std::string& name) const {
    std::wstring p = L"Z:" + rtl::FromAnsi(Value(name));
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    return p;
}

std::wstring TServers::Url(const std::string& server, const std::wstring& path, bool https) const {
    // The certificates name "localhost" and 127.0.0.1, but Wine's name check
    // only looks at DNS names: secure URLs use the name.
    return std::wstring(https ? L"https://localhost:" : L"http://127.0.0.1:") + std::to_wstring(Port(server)) + path;
}

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
    static uint32_t table[256] = {};
    if (!table[1])
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    crc = ~crc;
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string Pattern(size_t length, unsigned seed) {
    std::string s(length, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

uint32_t WritePatternFile(const std::wstring& path, uint64_t length, unsigned seed) {
    std::ofstream out(path.c_str(), std::ios::binary);
    const std::string piece = Pattern(1 << 20, seed);
    uint32_t crc = 0;
    for (uint64_t done = 0; done < length;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - done));
        out.write(piece.data(), static_cast<std::streamsize>(n));
        crc = Crc32(piece.data(), n, crc);
        done += n;
    }
    return crc;
}

static std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TSummary::TSummary(const std::string& body) {
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        std::string rest = line.size() > kind.size() + 1 ? line.substr(kind.size() + 1) : std::string();
        if (kind == "check")
            Check = rest;
        else if (kind == "method")
            Method = rest;
        else if (kind == "path")
            Path = rest;
        else if (kind == "boundary")
            Boundary = rest;
        else if (kind == "parts")
            Parts = atoi(rest.c_str());
        else if (kind == "header") {
            size_t colon = rest.find(": ");
            if (colon != std::string::npos) Headers[rest.substr(0, colon)] = rest.substr(colon + 2);
        } else if (kind == "field" || kind == "file") {
            Part p{};
            p.IsFile = kind == "file";
            std::string name, fileName, type, crc;
            words >> name;
            if (p.IsFile) words >> fileName >> type;
            words >> p.Length >> crc;
            p.Name = Unhex(name);
            p.FileName = Unhex(fileName);
            p.ContentType = Unhex(type);
            p.Crc = static_cast<uint32_t>(std::stoul(crc, nullptr, 16));
            Items.push_back(p);
        }
    }
}

}  // namespace testhttp
