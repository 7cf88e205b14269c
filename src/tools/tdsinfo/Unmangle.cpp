#include "tdsinfo/Unmangle.h"

#include "crash/ExcUnmangle.h"
#include "rtl/Text.h"
#include "tdsinfo/Console.h"

namespace tdsinfo {

int UnmangleNames(const std::vector<std::wstring>& names, bool args) {
    for (const std::wstring& n : names) {
        char out[2049];
        uint32_t flags = crash::Unmangle(rtl::ToAnsi(n).c_str(), out, sizeof(out), nullptr, nullptr, args, false);
        Print(std::string(out) + ((flags & crash::umError) ? "\t(malformed)\n" : "\n"));
    }
    return 0;
}

}  // namespace tdsinfo
