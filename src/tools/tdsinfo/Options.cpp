#include "tdsinfo/Options.h"

#include "rtl/Text.h"
#include "tdsinfo/Console.h"

namespace tdsinfo {

namespace {

std::string Printable(const std::wstring& text) { return rtl::ToAnsi(text); }

}  // namespace

bool ParseHex(const std::wstring& text, uint32_t& value, std::string* why) { return ParseHexText(text, value, why); }

int ParseOptions(int argc, wchar_t** argv, TOptions& o) {
    std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    std::string out, err;
    int code = ParseOptionWords(args, o, out, err, Printable);
    if (!out.empty()) Print(out);
    if (!err.empty()) PrintErr(err);
    return code;
}

}  // namespace tdsinfo
