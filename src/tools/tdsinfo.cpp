// tdsinfo: the debug-information tool. For a module file and code addresses it
// prints the unit, source file, line, line start and procedure, read from the
// module's TD32 debug information (appended, in a .tds beside it, or under the
// symbol folder); it also unmangles names given on the command line.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "crash/ExcUnmangle.h"
#include "crash/ModuleDebugInfo.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace {

const char kUsage[] =
    "usage: tdsinfo [options] MODULE [ADDRESS...]\n"
    "       tdsinfo --unmangle [--args] NAME...\n"
    "\n"
    "Prints the unit, source file, line, line start and procedure of each\n"
    "code ADDRESS (hexadecimal, with or without 0x) of MODULE, from its TD32\n"
    "debug information. Without addresses, reads them from standard input,\n"
    "one or more per line.\n"
    "\n"
    "  --base HEX    load address of MODULE (default: the image base in its header)\n"
    "  --logical     addresses are logical (offsets from the base + 0x1000)\n"
    "  --args        show procedure names with their argument lists\n"
    "  --tab         one line per address: address, unit, file, line, line start,\n"
    "                procedure, separated by tabs (empty fields when not found)\n"
    "  --stats       print what was loaded: signature, subsections, names, memory\n"
    "  --bench       look every address up (unit, procedure, line, unmangled name)\n"
    "                and print the lookups per second instead of the answers\n"
    "  --unmangle    unmangle each NAME; --args also decodes argument lists\n"
    "  --help        this text\n"
    "\n"
    "Exit code: 0 when everything was found, 1 when some address had no answer,\n"
    "2 for bad usage or a module without debug information.\n";

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void PrintErr(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stderr); }

bool ParseHex(const std::wstring& text, uint32_t& value) {
    std::wstring t = text;
    if (t.size() > 2 && t[0] == L'0' && (t[1] == L'x' || t[1] == L'X')) t = t.substr(2);
    if (t.empty() || t.size() > 8) return false;
    wchar_t* end = nullptr;
    unsigned long v = std::wcstoul(t.c_str(), &end, 16);
    if (*end) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// The preferred load address from the module's PE header (0x400000 when unreadable).
uint32_t ImageBaseOf(const std::wstring& path) {
    uint32_t base = 0x400000;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return base;
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS32 nt{};
    DWORD got = 0;
    if (ReadFile(h, &dos, sizeof(dos), &got, nullptr) && got == sizeof(dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(h, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(h, &nt, sizeof(nt), &got, nullptr) && got == sizeof(nt) && nt.Signature == IMAGE_NT_SIGNATURE &&
        nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        base = nt.OptionalHeader.ImageBase;
    CloseHandle(h);
    return base;
}

struct TAnswer {
    std::string Unit, File, Proc;
    int32_t Line = -1, LineStart = 0;
    bool UnitFound = false, LineFound = false;
};

TAnswer Lookup(crash::TModuleDebugInfo& info, uint32_t logical, bool args) {
    TAnswer a;
    int32_t unit, proc, file;
    a.UnitFound = info.FindModuleProc(logical, unit, proc);
    if (a.UnitFound) {
        a.Unit = rtl::ToAnsi(info.GetName(unit));
        if (proc >= 0) a.Proc = crash::UnmangleName(rtl::ToAnsi(info.GetName(proc)), args);
    }
    a.LineFound = info.FindSourceLine(logical, file, a.Line, a.LineStart);
    if (a.LineFound) a.File = rtl::ToAnsi(info.GetName(file));
    return a;
}

std::string Hex(uint32_t v) { return rtl::ToAnsi(L"0x" + rtl::IntToHex(v, 8)); }

int Unmangle(const std::vector<std::wstring>& names, bool args) {
    for (const std::wstring& n : names) {
        char out[2049];
        uint32_t flags = crash::Unmangle(rtl::ToAnsi(n).c_str(), out, sizeof(out), nullptr, nullptr, args, false);
        Print(std::string(out) + ((flags & crash::umError) ? "\t(malformed)\n" : "\n"));
    }
    return 0;
}

std::vector<std::wstring> ReadStdinWords() {
    std::vector<std::wstring> words;
    std::string word;
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            if (!word.empty()) words.push_back(rtl::FromAnsi(word));
            word.clear();
        } else {
            word += static_cast<char>(c);
        }
    }
    if (!word.empty()) words.push_back(rtl::FromAnsi(word));
    return words;
}

int Run(int argc, wchar_t** argv) {
    bool logical = false, args = false, tab = false, stats = false, bench = false, unmangle = false, baseGiven = false;
    uint32_t base = 0;
    std::vector<std::wstring> rest;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            Print(kUsage);
            return 0;
        } else if (a == L"--logical") logical = true;
        else if (a == L"--args") args = true;
        else if (a == L"--tab") tab = true;
        else if (a == L"--stats") stats = true;
        else if (a == L"--bench") bench = true;
        else if (a == L"--unmangle") unmangle = true;
        else if (a == L"--base" && i + 1 < argc) {
            if (!ParseHex(argv[++i], base)) {
                PrintErr("tdsinfo: bad base address " + rtl::ToAnsi(argv[i]) + "\n");
                return 2;
            }
            baseGiven = true;
        } else if (a.size() > 1 && a[0] == L'-' && !unmangle) {
            PrintErr("tdsinfo: unknown option " + rtl::ToAnsi(a) + "\n" + kUsage);
            return 2;
        } else
            rest.push_back(a);
    }
    if (unmangle) return Unmangle(rest, args);
    if (rest.empty()) {
        PrintErr(kUsage);
        return 2;
    }
    std::wstring module = rest[0];
    rest.erase(rest.begin());
    if (GetFileAttributesW(module.c_str()) == INVALID_FILE_ATTRIBUTES) {
        PrintErr("tdsinfo: cannot find " + rtl::ToAnsi(module) + "\n");
        return 2;
    }
    crash::TModuleDebugInfo info(module, nullptr);
    info.SetOfflineImageBase(baseGiven ? base : ImageBaseOf(module));
    if (stats) {
        Print(rtl::ToAnsi(rtl::Format(L"module: %ls\nloaded: %hs\nsignature: %hs\nsubsections: %d\nnames: %d\n"
                                      L"held after loading: %u bytes\nimage base: 0x%ls\n",
                                      module.c_str(), info.Loaded() ? "yes" : "no",
                                      info.IsDelphiModule() ? "FB09" : (info.Loaded() ? "FB0A" : "-"),
                                      info.SubsectionCount(), info.NamesCount(),
                                      static_cast<unsigned>(info.HeldBytes()),
                                      rtl::IntToHex(info.OfflineImageBase(), 8).c_str())));
        if (rest.empty()) return info.Loaded() ? 0 : 2;
    }
    if (!info.Loaded()) {
        PrintErr("tdsinfo: no debug information for " + rtl::ToAnsi(module) + "\n");
        return 2;
    }
    if (rest.empty()) rest = ReadStdinWords();

    std::vector<uint32_t> addresses;
    for (const std::wstring& word : rest) {
        uint32_t a;
        if (!ParseHex(word, a)) {
            PrintErr("tdsinfo: bad address " + rtl::ToAnsi(word) + "\n");
            return 2;
        }
        addresses.push_back(a);
    }
    auto toLogical = [&](uint32_t a) {
        return logical ? a : info.GetConvertedAddress(reinterpret_cast<const void*>(static_cast<uintptr_t>(a)));
    };

    if (bench) {
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        size_t found = 0;
        QueryPerformanceCounter(&t0);
        for (uint32_t a : addresses) {
            TAnswer r = Lookup(info, toLogical(a), false);
            found += r.LineFound && !r.Proc.empty();
        }
        QueryPerformanceCounter(&t1);
        double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
        Print(rtl::ToAnsi(rtl::Format(L"lookups: %u\nfound: %u\nseconds: %.3f\nlookups per second: %.0f\n"
                                      L"held after loading: %u bytes\n",
                                      static_cast<unsigned>(addresses.size()), static_cast<unsigned>(found), seconds,
                                      seconds > 0 ? addresses.size() / seconds : 0.0,
                                      static_cast<unsigned>(info.HeldBytes()))));
        return 0;
    }

    int exitCode = 0;
    for (uint32_t a : addresses) {
        uint32_t l = toLogical(a);
        TAnswer r = Lookup(info, l, args);
        if (!r.UnitFound || !r.LineFound) exitCode = 1;
        if (tab) {
            Print(Hex(a) + "\t" + r.Unit + "\t" + r.File + "\t" + (r.LineFound ? std::to_string(r.Line) : "") + "\t" +
                  (r.LineFound ? Hex(static_cast<uint32_t>(r.LineStart)) : "") + "\t" + r.Proc + "\n");
            continue;
        }
        std::string text = Hex(a) + (logical ? " (logical)\n" : " (logical " + Hex(l) + ")\n");
        text += "  unit: " + (r.UnitFound ? r.Unit : "?") + "\n";
        text += "  proc: " + (r.Proc.empty() ? std::string("?") : r.Proc) + "\n";
        if (r.LineFound) {
            text += "  file: " + r.File + "\n";
            text += "  line: " + std::to_string(r.Line) + " (starts at logical " + Hex(static_cast<uint32_t>(r.LineStart)) +
                    ")\n";
        } else {
            text += "  file: ?\n  line: ?\n";
        }
        Print(text);
    }
    return exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int code = 2;
    rtl::Try([&] { code = Run(argc, argv); },
             rtl::OnAny([&](rtl::Exception& e) {
                 PrintErr("tdsinfo: " + rtl::ToAnsi(e.Message) + "\n");
                 code = 2;
             }));
    return code;
}
