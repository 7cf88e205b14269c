// tdsinfo's standard streams: answers to standard output, complaints to
// standard error, addresses and names from standard input.
#pragma once
#include <string>
#include <vector>

namespace tdsinfo {

void Print(const std::string& s);
void PrintErr(const std::string& s);
// Hands what was printed to the reader unless more input is already
// waiting: a program that drives tdsinfo through pipes waits for each answer
// before it writes the next question, while a batch that has arrived is
// answered in large writes.
void Flush();

// The next line of standard input without its line break; false at the end
// of the input. It returns as soon as the line is complete, not when the
// input ends.
bool ReadLine(std::string& line);

// The words of a line: separated by blanks, tabs and commas.
std::vector<std::wstring> SplitWords(const std::string& line);

}  // namespace tdsinfo
