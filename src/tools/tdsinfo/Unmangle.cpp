#include "tdsinfo/Unmangle.h"

#include "crash/ExcUnmangle.h"
#include "rtl/Text.h"
#include "tdsinfo/Console.h"

namespace tdsinfo {

namespace {

void UnmangleOne(const std::string& name, bool args) {
    char out[2049];
    uint32_t flags = crash::Unmangle(name.c_str(), out, sizeof(out), nullptr, nullptr, args, false);
    Print(std::string(out) + ((flags & crash::umError) ? "\t(malformed)\n" : "\n"));
    Flush();
}

}  // namespace

int UnmangleNames(const std::vector<std::wstring>& names, bool args) {
    for (const std::wstring& n : names) UnmangleOne(rtl::ToAnsi(n), args);
    if (!names.empty()) return 0;
    // One name per line; blanks around it are no part of a mangled name.
    std::string line;
    while (ReadLine(line)) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        size_t last = line.find_last_not_of(" \t\r");
        UnmangleOne(line.substr(first, last - first + 1), args);
    }
    return 0;
}

}  // namespace tdsinfo
