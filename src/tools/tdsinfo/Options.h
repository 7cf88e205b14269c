// tdsinfo's command line: what to look up and how to answer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tdsinfo {

extern const char kUsage[];

struct TOptions {
    bool Logical = false;   // addresses are logical, not run-time
    bool Args = false;      // procedure names with their argument lists
    bool ReturnAddresses = false;  // look each address up at address - 1
    bool Tab = false;       // one tab-separated line per address
    bool Addr2line = false; // function, then file:line, as addr2line -f -C writes them
    bool ShowAddress = false;  // --addr2line: the address on a line before them
    bool Json = false;      // one JSON object per address per line
    bool Stats = false;
    bool Bench = false;
    bool Unmangle = false;  // the words are names to unmangle, not addresses
    bool BaseGiven = false;
    uint32_t Base = 0;
    std::wstring Module;
    std::vector<std::wstring> Words;  // addresses, or the names with --unmangle
};

// Reads the command line into `options`. Answers -1 to go on, otherwise the
// exit code, after printing the help text or what was wrong.
int ParseOptions(int argc, wchar_t** argv, TOptions& options);

// Hexadecimal with or without 0x, at most 8 digits; otherwise false, and
// `why` (when given) says what is wrong with the text.
bool ParseHex(const std::wstring& text, uint32_t& value, std::string* why = nullptr);

}  // namespace tdsinfo
