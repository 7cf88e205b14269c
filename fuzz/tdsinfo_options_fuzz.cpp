// tdsinfo's command line from any words (the input split at zero bytes):
// the parser answers go on, help or bad usage, and what it answers agrees
// with the words; addresses read as hexadecimal agree with strtoul.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tdsinfo/OptionsText.h"

namespace {

using S = std::u16string;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "tdsinfo options: %s\n", what);
        std::abort();
    }
}

std::string Printable(const S& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void CheckHex(const S& word) {
    uint32_t value = 0xDEADBEEF;
    std::string why;
    S digits = word.size() > 2 && word[0] == u'0' && (word[1] == u'x' || word[1] == u'X') ? word.substr(2) : word;
    bool ascii = true;
    for (char16_t c : digits) ascii = ascii && c > 0 && c < 0x80;
    if (!tdsinfo::ParseHexText(word, value, &why)) {
        Check(!why.empty(), "refused without a reason");
        return;
    }
    Check(ascii && !digits.empty() && digits.size() <= 8, "accepted what is no address");
    std::string narrow = Printable(digits);
    char* end = nullptr;
    unsigned long expected = std::strtoul(narrow.c_str(), &end, 16);
    Check(*end == 0 && narrow[0] != '-' && narrow[0] != '+' && narrow[0] != ' ', "accepted more than hex digits");
    Check(expected == value, "value differs from strtoul");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<S> args(1);
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += data[i] == 0xFF ? u'\u00E9' : static_cast<char16_t>(data[i]);
    }
    for (const S& a : args) CheckHex(a);

    tdsinfo::TBasicOptions<S> o;
    std::string out, err;
    int code = tdsinfo::ParseOptionWords(args, o, out, err, Printable);
    Check(code == -1 || code == 0 || code == 2, "unknown exit code");
    if (code == 0) Check(out == tdsinfo::kUsage && err.empty(), "help without the usage text");
    if (code == 2) Check(!err.empty() && out.empty(), "bad usage without a reason");
    if (code != -1) return 0;
    Check(out.empty() && err.empty(), "going on with something to print");
    Check(o.Tab + o.Addr2line + o.Json <= 1, "two output forms");
    Check(!o.ShowAddress || o.Addr2line, "--address without --addr2line");
    if (!o.Unmangle) {
        for (const S& w : o.Words) Check(w.size() < 2 || w[0] != u'-', "an option taken for an address");
        Check(o.Module.size() < 2 || o.Module[0] != u'-', "an option taken for the module");
    }
    if (o.BaseGiven) {
        bool found = false;
        for (size_t i = 0; i + 1 < args.size() && !found; ++i) {
            uint32_t v;
            found = args[i] == u"--base" && tdsinfo::ParseHexText(args[i + 1], v) && v == o.Base;
        }
        Check(found, "a base address that no --base gave");
    }
    return 0;
}
