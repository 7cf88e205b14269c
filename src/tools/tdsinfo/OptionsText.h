// tdsinfo's command line read from its words, without the console or the
// operating system: the words are UTF-16 code units in any string type of
// them (std::wstring in tdsinfo, std::u16string where the build machine
// fuzzes the parser).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tdsinfo {

extern const char kUsage[];

template <class S>
struct TBasicOptions {
    bool Logical = false;          // addresses are logical, not run-time
    bool Args = false;             // procedure names with their argument lists
    bool ReturnAddresses = false;  // look each address up at address - 1
    bool Tab = false;              // one tab-separated line per address
    bool Addr2line = false;        // function, then file:line, as addr2line -f -C writes them
    bool ShowAddress = false;      // --addr2line: the address on a line before them
    bool Json = false;             // one JSON object per address per line
    bool Stats = false;
    bool Bench = false;
    bool Unmangle = false;  // the words are names to unmangle, not addresses
    bool BaseGiven = false;
    uint32_t Base = 0;
    S Module;
    std::vector<S> Words;  // addresses, or the names with --unmangle
};

// Hexadecimal with or without 0x, at most 8 digits; otherwise false, and
// `why` (when given) says what is wrong with the text.
template <class S>
bool ParseHexText(const S& text, uint32_t& value, std::string* why = nullptr);

// Reads the arguments after the program's name into `options`. Answers -1 to
// go on, otherwise the exit code, with the help text in `out` or what was
// wrong in `err`; `printable` turns an argument into text for a message.
template <class S>
int ParseOptionWords(const std::vector<S>& args, TBasicOptions<S>& options, std::string& out, std::string& err,
                     std::string (*printable)(const S&));

}  // namespace tdsinfo
