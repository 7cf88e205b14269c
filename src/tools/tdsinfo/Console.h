// tdsinfo's standard streams: answers to standard output, complaints to
// standard error, addresses from standard input.
#pragma once
#include <string>
#include <vector>

namespace tdsinfo {

void Print(const std::string& s);
void PrintErr(const std::string& s);

// Every word of standard input up to its end; words are separated by blanks,
// tabs, commas and line breaks.
std::vector<std::wstring> ReadStdinWords();

}  // namespace tdsinfo
