#include "tdsinfo/AnswerFormat.h"

#include "rtl/Text.h"
#include "tdsinfo/Console.h"
#include "tdsinfo/Json.h"

namespace tdsinfo {

std::string Hex(uint32_t v) { return rtl::ToAnsi(L"0x" + rtl::IntToHex(v, 8)); }

namespace {

// addr2line writes addresses in lower case, eight digits for 32-bit code.
std::string Addr2lineAddress(uint32_t v) { return rtl::ToAnsi(rtl::Format(L"0x%08x\n", v)); }

// The JSON object of an answer: the names come from the module in the ANSI
// code page and go out in UTF-8.
std::string JsonAnswer(uint32_t a, uint32_t l, const TAnswer& r) {
    TJsonObject j;
    j.Add("address", rtl::FromAnsi(Hex(a)));
    if (r.UnitFound) j.Add("unit", rtl::FromAnsi(r.Unit));
    if (r.LineFound) {
        j.Add("file", rtl::FromAnsi(r.File));
        j.Add("line", r.Line);
        j.Add("line_start", static_cast<uint32_t>(r.LineStart));
    }
    if (r.ProcFound) {
        j.Add("procedure", rtl::FromAnsi(r.Proc));
        j.Add("offset", l - r.ProcStart);
    }
    if (!r.UnitFound)
        j.Add("error", L"no unit holds this address");
    else if (!r.LineFound)
        j.Add("error", L"no source line for this address");
    return j.Line();
}

}  // namespace

void PrintAnswer(const TOptions& o, uint32_t a, uint32_t l, const TAnswer& r) {
    if (o.Json) {
        Print(JsonAnswer(a, l, r));
        return;
    }
    if (o.Addr2line) {
        Print((o.ShowAddress ? Addr2lineAddress(a) : "") + (r.Proc.empty() ? "??" : r.Proc) + "\n" +
              (r.LineFound ? r.File + ":" + std::to_string(r.Line) : "??:0") + "\n");
        return;
    }
    if (o.Tab) {
        Print(Hex(a) + "\t" + r.Unit + "\t" + r.File + "\t" + (r.LineFound ? std::to_string(r.Line) : "") + "\t" +
              (r.LineFound ? Hex(static_cast<uint32_t>(r.LineStart)) : "") + "\t" + r.Proc + "\n");
        return;
    }
    std::string text = Hex(a) + (o.Logical ? " (logical)\n" : " (logical " + Hex(l) + ")\n");
    text += "  unit: " + (r.UnitFound ? r.Unit : "?") + "\n";
    text += "  proc: " + (r.Proc.empty() ? std::string("?") : r.Proc);
    if (r.ProcFound) text += rtl::ToAnsi(rtl::Format(L"+0x%X", l - r.ProcStart));
    text += "\n";
    if (r.LineFound) {
        text += "  file: " + r.File + "\n";
        text += "  line: " + std::to_string(r.Line) + " (starts at logical " + Hex(static_cast<uint32_t>(r.LineStart)) +
                ")\n";
    } else {
        text += "  file: ?\n  line: ?\n";
    }
    Print(text);
}

void PrintBadAddress(const TOptions& o, const std::wstring& word, const std::string& why) {
    if (o.Json) {
        TJsonObject j;
        j.Add("address", word);
        j.Add("error", L"bad address: " + rtl::FromAnsi(why));
        Print(j.Line());
    } else if (o.Addr2line)
        Print((o.ShowAddress ? rtl::ToAnsi(word) + "\n" : "") + "?? (bad address: " + why + ")\n??:0\n");
    else if (o.Tab)
        Print(rtl::ToAnsi(word) + "\tbad address: " + why + "\n");
    else
        Print(rtl::ToAnsi(word) + " (bad address: " + why + ")\n");
}

}  // namespace tdsinfo
