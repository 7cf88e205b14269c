// How tdsinfo writes an answer: a block of labelled lines, one
// tab-separated line (--tab), procedure and file:line lines (--addr2line),
// or a JSON object on one line (--json).
#pragma once
#include <cstdint>
#include <string>

#include "tdsinfo/Answer.h"
#include "tdsinfo/Options.h"

namespace tdsinfo {

// "0x" and eight upper-case hexadecimal digits.
std::string Hex(uint32_t v);

// Prints the answer for `address` (as given) at `logical`; the offset in the
// procedure counts from its start to `logical`.
void PrintAnswer(const TOptions& options, uint32_t address, uint32_t logical, const TAnswer& answer);

// Prints the answer for a word that is no address, saying `why`; with --tab
// a line of two fields, the word and the reason; with --addr2line the same
// number of lines as any answer.
void PrintBadAddress(const TOptions& options, const std::wstring& word, const std::string& why);

}  // namespace tdsinfo
