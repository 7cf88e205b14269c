#include "tdsinfo/Console.h"

#include <cstdio>

#include "rtl/Text.h"

namespace tdsinfo {

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void PrintErr(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stderr); }
void Flush() {
    // Characters of standard input the runtime has read but not yet handed
    // out: more questions already here, so the answers can wait for them.
    if (stdin->_cnt <= 0) std::fflush(stdout);
}

bool ReadLine(std::string& line) {
    // The runtime's read of a pipe returns what has arrived, so this returns
    // at each line break instead of waiting for a full buffer.
    line.clear();
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (c == EOF && line.empty()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::vector<std::wstring> SplitWords(const std::string& line) {
    std::vector<std::wstring> words;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find_first_of(" \t\r,", start);
        if (end == std::string::npos) end = line.size();
        if (end > start) words.push_back(rtl::FromAnsi(line.substr(start, end - start)));
        start = end + 1;
    }
    return words;
}

}  // namespace tdsinfo
