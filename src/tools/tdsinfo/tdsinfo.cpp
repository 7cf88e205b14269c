// tdsinfo: the debug-information tool. For a module file and code addresses it
// prints the unit, source file, line, line start and procedure, read from the
// module's TD32 debug information (appended, in a .tds beside it, or under the
// symbol folder); it also unmangles names given on the command line.
#include <string>
#include <vector>

#include "rtl/Text.h"
#include "rtl/Try.h"
#include "tdsinfo/Answer.h"
#include "tdsinfo/AnswerFormat.h"
#include "tdsinfo/Bench.h"
#include "tdsinfo/Console.h"
#include "tdsinfo/Module.h"
#include "tdsinfo/Options.h"
#include "tdsinfo/Unmangle.h"

namespace tdsinfo {
namespace {

// The words as addresses; false, after saying which, at the first that is not one.
bool ParseAddresses(const std::vector<std::wstring>& words, std::vector<uint32_t>& addresses) {
    for (const std::wstring& word : words) {
        uint32_t a;
        if (!ParseHex(word, a)) {
            PrintErr("tdsinfo: bad address " + rtl::ToAnsi(word) + "\n");
            return false;
        }
        addresses.push_back(a);
    }
    return true;
}

// Prints the answer for one address and hands it to the reader at once;
// false when it has no unit or no line.
bool AnswerAddress(crash::TModuleDebugInfo& info, const TOptions& o, uint32_t address) {
    uint32_t logical = ToLogical(info, o, address);
    TAnswer r = Lookup(info, logical, o.Args);
    PrintAnswer(o, address, logical, r);
    Flush();
    return r.UnitFound && r.LineFound;
}

// Answers the addresses among `words`: 0 when all were found, 1 when some
// had no answer, 2 (after answering none) when a word is no address.
int AnswerWords(crash::TModuleDebugInfo& info, const TOptions& o, const std::vector<std::wstring>& words) {
    std::vector<uint32_t> addresses;
    if (!ParseAddresses(words, addresses)) return 2;
    int exitCode = 0;
    for (uint32_t a : addresses)
        if (!AnswerAddress(info, o, a)) exitCode = 1;
    return exitCode;
}

// Answers standard input line by line as the lines arrive, so that another
// program can keep tdsinfo open and ask one address at a time.
int AnswerStdin(crash::TModuleDebugInfo& info, const TOptions& o) {
    int exitCode = 0;
    std::string line;
    while (ReadLine(line)) {
        int code = AnswerWords(info, o, SplitWords(line));
        if (code == 2) return 2;
        if (code) exitCode = code;
    }
    return exitCode;
}

// --bench times the lookups only, so it reads all of its addresses first.
int BenchWords(crash::TModuleDebugInfo& info, const TOptions& o, std::vector<std::wstring> words) {
    std::string line;
    if (words.empty())
        while (ReadLine(line))
            for (std::wstring& w : SplitWords(line)) words.push_back(std::move(w));
    std::vector<uint32_t> addresses;
    if (!ParseAddresses(words, addresses)) return 2;
    return Bench(info, o, addresses);
}

int Run(int argc, wchar_t** argv) {
    TOptions o;
    int code = ParseOptions(argc, argv, o);
    if (code >= 0) return code;
    if (o.Unmangle) return UnmangleNames(o.Words, o.Args);

    std::unique_ptr<crash::TModuleDebugInfo> info = OpenModule(o);
    if (!info) return 2;
    if (o.Stats) {
        PrintStats(*info, o);
        if (o.Words.empty()) return info->Loaded() ? 0 : 2;
    }
    if (!info->Loaded()) {
        PrintErr("tdsinfo: no debug information for " + rtl::ToAnsi(o.Module) + "\n");
        return 2;
    }
    if (o.Bench) return BenchWords(*info, o, o.Words);
    return o.Words.empty() ? AnswerStdin(*info, o) : AnswerWords(*info, o, o.Words);
}

}  // namespace
}  // namespace tdsinfo

int wmain(int argc, wchar_t** argv) {
    int code = 2;
    rtl::Try([&] { code = tdsinfo::Run(argc, argv); },
             rtl::OnAny([&](rtl::Exception& e) {
                 tdsinfo::PrintErr("tdsinfo: " + rtl::ToAnsi(e.Message) + "\n");
                 code = 2;
             }));
    return code;
}
