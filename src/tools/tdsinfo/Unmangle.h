// tdsinfo --unmangle: names as the compiler mangled them, in plain words.
#pragma once
#include <string>
#include <vector>

namespace tdsinfo {

// Prints each name unmangled, one per line, "(malformed)" after those the
// unmangler could not read; `args` also decodes argument lists. Without
// names, unmangles each line of standard input as it arrives.
int UnmangleNames(const std::vector<std::wstring>& names, bool args);

}  // namespace tdsinfo
