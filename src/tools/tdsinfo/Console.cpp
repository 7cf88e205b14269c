#include "tdsinfo/Console.h"

#include <cstdio>

#include "rtl/Text.h"

namespace tdsinfo {

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void PrintErr(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stderr); }

std::vector<std::wstring> ReadStdinWords() {
    std::vector<std::wstring> words;
    std::string word;
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            if (!word.empty()) words.push_back(rtl::FromAnsi(word));
            word.clear();
        } else {
            word += static_cast<char>(c);
        }
    }
    if (!word.empty()) words.push_back(rtl::FromAnsi(word));
    return words;
}

}  // namespace tdsinfo
