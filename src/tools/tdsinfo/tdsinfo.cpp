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

// The words that are addresses; says on standard error which are not.
// False when some word was skipped.
bool ParseAddresses(const std::vector<std::wstring>& words, std::vector<uint32_t>& addresses) {
    bool all = true;
    for (const std::wstring& word : words) {
        uint32_t a;
        std::string why;
        if (ParseHex(word, a, &why)) {
            addresses.push_back(a);
        } else {
            PrintErr("tdsinfo: bad address " + rtl::ToAnsi(word) + " (" + why + ")\n");
            all = false;
        }
    }
    return all;
}

// Prints the answer for one address and hands it to the reader at once;
// false when it has no unit or no line.
bool AnswerAddress(crash::TModuleDebugInfo& info, const TOptions& o, uint32_t address) {
    uint32_t logical = ToLogical(info, o, address);
    // A return address is the instruction after the call, which may be the
    // next line or even the next procedure.
    TAnswer r = Lookup(info, o.ReturnAddresses ? logical - 1 : logical, o.Args);
    PrintAnswer(o, address, logical, r);
    Flush();
    return r.UnitFound && r.LineFound;
}

// Answers each word in turn, a word that is no address with the reason, so
// one mistyped address costs one answer, not the batch; false when some word
// was bad or had no answer.
bool AnswerWords(crash::TModuleDebugInfo& info, const TOptions& o, const std::vector<std::wstring>& words) {
    bool all = true;
    for (const std::wstring& word : words) {
        uint32_t a;
        std::string why;
        if (ParseHex(word, a, &why)) {
            all = AnswerAddress(info, o, a) && all;
        } else {
            PrintBadAddress(o, word, why);
            Flush();
            all = false;
        }
    }
    return all;
}

// Answers standard input line by line as the lines arrive, so that another
// program can keep tdsinfo open and ask one address at a time.
int AnswerStdin(crash::TModuleDebugInfo& info, const TOptions& o) {
    bool all = true;
    std::string line;
    while (ReadLine(line)) all = AnswerWords(info, o, SplitWords(line)) && all;
    return all ? 0 : 1;
}

// --bench times the lookups only, so it reads all of its addresses first;
// the bad ones are named on standard error and left out.
int BenchWords(crash::TModuleDebugInfo& info, const TOptions& o, std::vector<std::wstring> words) {
    std::string line;
    if (words.empty())
        while (ReadLine(line))
            for (std::wstring& w : SplitWords(line)) words.push_back(std::move(w));
    std::vector<uint32_t> addresses;
    bool all = ParseAddresses(words, addresses);
    int code = Bench(info, o, addresses);
    return all ? code : 1;
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
    if (o.Words.empty()) return AnswerStdin(*info, o);
    return AnswerWords(*info, o, o.Words) ? 0 : 1;
}

}  // namespace
}  // namespace tdsinfo

int wmain(int argc, wchar_t** argv) {
    int code = 2;
    rtl::Try([&] { code = tdsinfo::Run(argc, argv); }, rtl::OnAny([&](rtl::Exception& e) {
                 tdsinfo::PrintErr("tdsinfo: " + rtl::ToAnsi(e.Message) + "\n");
                 code = 2;
             }));
    return code;
}
