// How tdsinfo writes an answer: a block of labelled lines, or one
// tab-separated line (--tab).
#pragma once
#include <cstdint>
#include <string>

#include "tdsinfo/Answer.h"
#include "tdsinfo/Options.h"

namespace tdsinfo {

// "0x" and eight upper-case hexadecimal digits.
std::string Hex(uint32_t v);

// Prints the answer for `address` (as given) at `logical`.
void PrintAnswer(const TOptions& options, uint32_t address, uint32_t logical, const TAnswer& answer);

}  // namespace tdsinfo
