// td32conv: reads the DWARF debug information of one of our PE executables
// and writes it as TD32 (signature "FB0A"), the format the crash facility
// reads: one unit per compilation unit with its code ranges, procedure ranges
// with names in the @-qualified mangling scheme, source lines and a names
// table. Runs on the build machine, after each link.
//
//   td32conv [--append] [--tds FILE] [--source-root DIR] [--quiet] EXECUTABLE
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "../src/crash/MangledNames.h"
#include "../src/crash/Td32Format.h"
#include "../src/crash/Td32Writing.h"
#include "llvm/DebugInfo/DWARF/DWARFContext.h"
#include "llvm/Demangle/Demangle.h"
#include "llvm/Object/Binary.h"
#include "llvm/Object/COFF.h"
#include "llvm/Support/MemoryBuffer.h"

using namespace llvm;
namespace td32 = crash::td32;

namespace {

constexpr size_t kMaxNameBytes = 255;     // one length byte in the names table
constexpr uint32_t kCodeOffset = 0x1000;  // logical address = VA - image base - 0x1000

using td32::Bytes;
using td32::Patch32;
using td32::Put16;
using td32::Put32;
using td32::Put8;
using td32::PutPacked;

// ---------------------------------------------------------------- names

// Texts go into the names table in code page 1252: UTF-8 sequences for
// Latin-1 characters become their single byte, anything else a "?".
std::string ToAnsi(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        uint8_t c = static_cast<uint8_t>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            uint32_t cp = ((c & 0x1F) << 6) | (static_cast<uint8_t>(utf8[i + 1]) & 0x3F);
            out += cp >= 0xA0 && cp <= 0xFF ? static_cast<char>(cp) : '?';
            i += 2;
        } else {
            out += '?';
            ++i;
            while (i < utf8.size() && (static_cast<uint8_t>(utf8[i]) & 0xC0) == 0x80) ++i;
        }
    }
    return out;
}

// The folder source paths are written relative to (empty: as they are).
std::string gSourceRoot;

// Source paths under the source root are relative to it, so that a report
// names src\crash\X.cpp and not the build machine's folder. They keep their
// end when cut: the file name matters most.
std::string PathName(std::string path) {
    if (!gSourceRoot.empty()) {
        std::string normal = std::filesystem::path(path).lexically_normal().generic_string();
        if (normal.size() > gSourceRoot.size() && normal.compare(0, gSourceRoot.size(), gSourceRoot) == 0 &&
            normal[gSourceRoot.size()] == '/')
            path = normal.substr(gSourceRoot.size() + 1);
    }
    std::replace(path.begin(), path.end(), '/', '\\');
    path = ToAnsi(path);
    if (path.size() > kMaxNameBytes) path = "..." + path.substr(path.size() - (kMaxNameBytes - 3));
    return path;
}

class TNames {
public:
    // 1-based index of a new entry (procedure names must be consecutive).
    uint32_t Add(std::string text) {
        if (text.size() > kMaxNameBytes) text.resize(kMaxNameBytes);
        FTexts.push_back(std::move(text));
        return static_cast<uint32_t>(FTexts.size());
    }
    // Shared entry for texts used many times (units, source files).
    uint32_t Shared(const std::string& text) {
        auto it = FShared.find(text);
        if (it != FShared.end()) return it->second;
        uint32_t index = Add(text);
        FShared[text] = index;
        return index;
    }
    Bytes Build() const {
        Bytes b;
        Put32(b, static_cast<uint32_t>(FTexts.size()));
        for (const std::string& t : FTexts) {
            Put8(b, static_cast<uint32_t>(t.size()));
            b.insert(b.end(), t.begin(), t.end());
            Put8(b, 0);
        }
        return b;
    }
    size_t Count() const { return FTexts.size(); }

private:
    std::vector<std::string> FTexts;
    std::map<std::string, uint32_t> FShared;
};

// ---------------------------------------------------------------- mangling

bool Expressible(const std::string& component) {
    if (component.empty() || (component[0] >= '0' && component[0] <= '9')) return false;
    return component.find_first_of("@$") == std::string::npos;
}

std::string DieName(const DWARFDie& die) {
    const char* name = die.getName(DINameKind::ShortName);
    return name ? name : "";
}

// The scopes (namespaces, classes) that enclose a declaration, outermost first.
bool Scopes(DWARFDie die, std::vector<std::string>& out) {
    std::vector<std::string> reversed;
    for (DWARFDie p = die.getParent(); p && p.getTag() != dwarf::DW_TAG_compile_unit; p = p.getParent()) {
        switch (p.getTag()) {
            case dwarf::DW_TAG_namespace: {
                std::string n = DieName(p);
                reversed.push_back(n.empty() ? "(anonymous namespace)" : n);
                break;
            }
            case dwarf::DW_TAG_class_type:
            case dwarf::DW_TAG_structure_type:
            case dwarf::DW_TAG_union_type: {
                std::string n = DieName(p);
                if (n.empty()) return false;  // a lambda's closure or another nameless type
                reversed.push_back(n);
                break;
            }
            case dwarf::DW_TAG_subprogram:
            case dwarf::DW_TAG_lexical_block: break;  // local classes: the function scope is not named
            default: break;
        }
    }
    out.assign(reversed.rbegin(), reversed.rend());
    return true;
}

bool MangleType(DWARFDie type, std::string& out, int depth = 0);

bool MangleNamedType(DWARFDie type, std::string& out) {
    std::vector<std::string> parts;
    std::string name = DieName(type);
    if (name.empty() || !Scopes(type, parts)) return false;
    parts.push_back(name);
    std::string joined;
    for (const std::string& p : parts) {
        if (!Expressible(p)) return false;
        if (!joined.empty()) joined += '@';
        joined += p;
    }
    out += std::to_string(joined.size()) + joined;
    return true;
}

bool MangleArgs(DWARFDie function, std::string& out, int depth) {
    size_t before = out.size();
    for (DWARFDie child : function.children()) {
        if (child.getTag() == dwarf::DW_TAG_formal_parameter) {
            if (child.find(dwarf::DW_AT_artificial)) continue;  // "this"
            DWARFDie t = child.getAttributeValueAsReferencedDie(dwarf::DW_AT_type);
            if (!t) return false;
            if (!MangleType(t, out, depth + 1)) return false;
        } else if (child.getTag() == dwarf::DW_TAG_unspecified_parameters) {
            out += 'e';
        }
    }
    if (out.size() == before) out += 'v';
    return true;
}

bool MangleType(DWARFDie type, std::string& out, int depth) {
    if (depth > 16) return false;
    if (!type) {
        out += 'v';
        return true;
    }
    DWARFDie inner = type.getAttributeValueAsReferencedDie(dwarf::DW_AT_type);
    switch (type.getTag()) {
        case dwarf::DW_TAG_base_type: {
            static const std::map<std::string, const char*> basic = {
                {"int", "i"},
                {"unsigned int", "ui"},
                {"char", "c"},
                {"signed char", "zc"},
                {"unsigned char", "uc"},
                {"short int", "s"},
                {"short unsigned int", "us"},
                {"long int", "l"},
                {"long unsigned int", "ul"},
                {"long long int", "j"},
                {"long long unsigned int", "uj"},
                {"bool", "o"},
                {"float", "f"},
                {"double", "d"},
                {"long double", "g"},
                {"wchar_t", "b"},
            };
            auto it = basic.find(DieName(type));
            if (it == basic.end()) return false;
            out += it->second;
            return true;
        }
        case dwarf::DW_TAG_unspecified_type: return false;
        case dwarf::DW_TAG_const_type: out += 'x'; return MangleType(inner, out, depth + 1);
        case dwarf::DW_TAG_volatile_type: out += 'w'; return MangleType(inner, out, depth + 1);
        case dwarf::DW_TAG_typedef: return inner && MangleType(inner, out, depth + 1);
        case dwarf::DW_TAG_pointer_type:
            out += 'p';
            if (inner && inner.getTag() == dwarf::DW_TAG_subroutine_type) {
                out += 'q';
                if (!MangleArgs(inner, out, depth)) return false;
                out += '$';
                return MangleType(inner.getAttributeValueAsReferencedDie(dwarf::DW_AT_type), out, depth + 1);
            }
            return MangleType(inner, out, depth + 1);
        case dwarf::DW_TAG_reference_type: out += 'r'; return inner && MangleType(inner, out, depth + 1);
        case dwarf::DW_TAG_structure_type:
        case dwarf::DW_TAG_class_type:
        case dwarf::DW_TAG_union_type:
        case dwarf::DW_TAG_enumeration_type: return MangleNamedType(type, out);
        default: return false;  // rvalue references, member pointers, arrays, ...
    }
}

// DW_AT 0x47: the declaration that an out-of-line definition completes.
constexpr auto kCompletedDeclaration = static_cast<dwarf::Attribute>(0x47);

// The declaration that carries a procedure's name, scope and parameters.
DWARFDie Declaration(DWARFDie die) {
    for (int i = 0; i < 8; ++i) {
        DWARFDie next = die.getAttributeValueAsReferencedDie(dwarf::DW_AT_abstract_origin);
        if (!next) next = die.getAttributeValueAsReferencedDie(kCompletedDeclaration);
        if (!next) break;
        die = next;
    }
    return die;
}

std::string JoinReadable(const std::vector<std::string>& parts) {
    std::string s;
    for (const std::string& p : parts) s += (s.empty() ? "" : "::") + p;
    return s;
}

// "name<...>" for "name<long argument list>": template arguments are what
// make names of library code too long for the names table.
std::string Abbreviate(const std::string& component) {
    size_t open = component.find('<');
    if (open == std::string::npos || component.rfind("operator", 0) == 0) return component;
    int depth = 0;
    for (size_t i = open; i < component.size(); ++i) {
        if (component[i] == '<')
            ++depth;
        else if (component[i] == '>' && --depth == 0)
            return component.substr(0, open) + "<...>" + Abbreviate(component.substr(i + 1));
    }
    return component;
}

std::string MangleProcedure(DWARFDie die, bool abbreviate);

// "@scope@name$qargs", or the readable name when the scheme cannot hold it.
// Names too long for the unmangler lose their argument list first, then the
// template arguments of their components.
std::string MangleProcedure(DWARFDie die) {
    std::string full = MangleProcedure(die, false);
    if (full.empty() || (full.size() <= crash::mangled::kMaxNameChars && (full[0] == '@' || full.size() < 120)))
        return full;
    std::string shorter = MangleProcedure(die, true);
    return shorter.size() < full.size() ? shorter : full;
}

std::string MangleProcedure(DWARFDie die, bool abbreviate) {
    DWARFDie decl = Declaration(die);
    std::string name = DieName(decl);
    if (name.empty()) name = DieName(die);
    std::vector<std::string> scopes;
    bool named = Scopes(decl, scopes);
    if (!named) scopes = {"<lambda>"};
    if (abbreviate) {
        for (std::string& sc : scopes) sc = Abbreviate(sc);
        name = Abbreviate(name);
    }
    bool cplusplus = decl.getLinkageName() != nullptr || die.getLinkageName() != nullptr;
    if (name.empty()) return "";
    std::vector<std::string> readable = scopes;
    readable.push_back(name);
    // C functions and extern "C" functions at file scope keep their plain name.
    if (!cplusplus && scopes.empty()) return ToAnsi(name);
    if (!named) return ToAnsi(JoinReadable(readable));

    std::string special;
    if (!scopes.empty() && name == scopes.back())
        special = "$bctr";
    else if (name.size() > 1 && name[0] == '~' && !scopes.empty() && name.substr(1) == scopes.back())
        special = "$bdtr";
    else if (name.rfind("operator", 0) == 0) {
        std::string op = name.substr(8);
        while (!op.empty() && op[0] == ' ') op.erase(0, 1);
        if (const char* code = crash::mangled::OperatorCode(op)) special = std::string("$b") + code;
    }

    std::string mangled = "@";
    bool ok = true;
    for (const std::string& s : scopes) {
        ok = ok && Expressible(s);
        mangled += s + "@";
    }
    if (special.empty()) {
        ok = ok && Expressible(name);
        mangled += name;
    } else {
        mangled += special;
    }
    if (!ok) return ToAnsi(JoinReadable(readable));
    std::string args = "$q";
    if (MangleArgs(decl, args, 0) && mangled.size() + args.size() <= crash::mangled::kMaxNameChars) mangled += args;
    if (mangled.size() > crash::mangled::kMaxNameChars) return ToAnsi(JoinReadable(readable));
    return ToAnsi(mangled);
}

// ---------------------------------------------------------------- model

struct TRange {
    uint32_t Start, End;  // logical, End exclusive
};
struct TProc {
    uint32_t Start, Length;
    std::string Name;
};
struct TLineEntry {
    uint32_t Address;
    uint16_t Line;
};
struct TFileRun {         // consecutive rows of one source file
    uint32_t File;        // name index
    uint32_t Start, End;  // inclusive
    std::vector<TLineEntry> Lines;
};
struct TSequence {
    uint32_t Start, End;  // inclusive
    std::vector<TFileRun> Runs;
};
struct TUnit {
    std::string Name;
    std::vector<TRange> Code;
    std::vector<TProc> Procs;
    std::vector<TSequence> Sequences;
};

class TConverter {
public:
    bool Load(const std::string& path, const Bytes& image);
    Bytes Build();
    size_t UnitCount() const { return FUnits.size(); }
    size_t ProcCount() const {
        size_t n = 0;
        for (auto& u : FUnits) n += u.Procs.size();
        return n;
    }

private:
    bool InCode(uint64_t va, uint64_t end) const {
        for (auto& s : FCode)
            if (va >= s.first && end <= s.second && va < end) return true;
        return false;
    }
    uint32_t Logical(uint64_t va) const { return static_cast<uint32_t>(va - FImageBase - kCodeOffset); }
    void ReadUnit(DWARFContext& ctx, DWARFUnit& cu);
    void ReadLines(DWARFContext& ctx, DWARFUnit& cu, TUnit& unit);
    void ReadSymbols(const object::COFFObjectFile& coff);
    void AddSymbolProcs(TUnit& unit) const;

    uint64_t FImageBase = 0;
    std::vector<std::pair<uint64_t, uint64_t>> FCode;        // executable sections, VA
    std::vector<std::pair<uint64_t, std::string>> FSymbols;  // code symbols, VA order
    std::vector<TUnit> FUnits;
    TNames FNames;
};

bool TConverter::Load(const std::string& path, const Bytes& image) {
    auto buffer =
        MemoryBuffer::getMemBuffer(StringRef(reinterpret_cast<const char*>(image.data()), image.size()), path, false);
    Expected<std::unique_ptr<object::Binary>> binary = object::createBinary(buffer->getMemBufferRef());
    if (!binary) {
        std::fprintf(stderr, "td32conv: %s: %s\n", path.c_str(), toString(binary.takeError()).c_str());
        return false;
    }
    auto* coff = dyn_cast<object::COFFObjectFile>(binary->get());
    if (!coff || !coff->getPE32Header()) {
        std::fprintf(stderr, "td32conv: %s: not a 32-bit PE executable\n", path.c_str());
        return false;
    }
    FImageBase = coff->getImageBase();
    for (const object::SectionRef& s : coff->sections())
        if (s.isText()) FCode.push_back({s.getAddress(), s.getAddress() + s.getSize()});

    ReadSymbols(*coff);
    std::unique_ptr<DWARFContext> ctx = DWARFContext::create(*coff);
    for (const auto& cu : ctx->compile_units()) ReadUnit(*ctx, *cu);
    return true;
}

void TConverter::ReadUnit(DWARFContext& ctx, DWARFUnit& cu) {
    DWARFDie top = cu.getUnitDIE(false);
    if (!top) return;
    TUnit unit;
    std::string name = DieName(top);
    size_t slash = name.find_last_of("/\\");
    unit.Name = ToAnsi(slash == std::string::npos ? name : name.substr(slash + 1));

    // Code ranges; ranges of discarded duplicate code point outside the code.
    if (auto ranges = top.getAddressRanges()) {
        for (const DWARFAddressRange& r : *ranges)
            if (InCode(r.LowPC, r.HighPC)) unit.Code.push_back({Logical(r.LowPC), Logical(r.HighPC)});
    } else {
        consumeError(ranges.takeError());
    }
    std::sort(unit.Code.begin(), unit.Code.end(), [](auto& a, auto& b) { return a.Start < b.Start; });
    std::vector<TRange> merged;
    for (const TRange& r : unit.Code) {
        if (!merged.empty() && r.Start <= merged.back().End)
            merged.back().End = std::max(merged.back().End, r.End);
        else
            merged.push_back(r);
    }
    unit.Code = merged;
    if (unit.Code.empty()) return;

    for (const DWARFDebugInfoEntry& entry : cu.dies()) {
        DWARFDie die(&cu, &entry);
        if (die.getTag() != dwarf::DW_TAG_subprogram) continue;
        auto ranges = die.getAddressRanges();
        if (!ranges) {
            consumeError(ranges.takeError());
            continue;
        }
        std::string mangled;
        for (const DWARFAddressRange& r : *ranges) {
            if (!InCode(r.LowPC, r.HighPC)) continue;
            if (mangled.empty()) mangled = MangleProcedure(die);
            if (mangled.empty()) break;
            unit.Procs.push_back({Logical(r.LowPC), static_cast<uint32_t>(r.HighPC - r.LowPC), mangled});
        }
    }
    AddSymbolProcs(unit);
    std::stable_sort(unit.Procs.begin(), unit.Procs.end(), [](auto& a, auto& b) { return a.Start < b.Start; });
    // Packed ranges must ascend without overlap: a later overlapping entry goes.
    std::vector<TProc> procs;
    for (TProc& p : unit.Procs)
        if (procs.empty() || p.Start >= procs.back().Start + procs.back().Length) procs.push_back(std::move(p));
    unit.Procs = std::move(procs);

    ReadLines(ctx, cu, unit);
    FUnits.push_back(std::move(unit));
}

// Code symbols of the COFF symbol table: the names of code that has no
// procedure in the DWARF (assembly routines, functions whose entries the
// compiler left out).
void TConverter::ReadSymbols(const object::COFFObjectFile& coff) {
    for (const object::SymbolRef& sym : coff.symbols()) {
        Expected<StringRef> name = sym.getName();
        Expected<uint64_t> address = sym.getAddress();
        if (!name || !address) {
            if (!name) consumeError(name.takeError());
            if (!address) consumeError(address.takeError());
            continue;
        }
        object::COFFSymbolRef coffSym = coff.getCOFFSymbol(sym);
        if (coffSym.isSectionDefinition() || coffSym.isFileRecord() || coffSym.getSectionNumber() <= 0) continue;
        std::string text = name->str();
        if (text.empty() || text[0] == '.' || !InCode(*address, *address + 1)) continue;
        FSymbols.push_back({*address, text});
    }
    std::stable_sort(FSymbols.begin(), FSymbols.end(), [](auto& a, auto& b) { return a.first < b.first; });
}

std::string SymbolName(std::string name) {
    if (!name.empty() && name[0] == '_') name.erase(0, 1);  // the i386 COFF prefix
    if (name.rfind("_Z", 0) == 0) name = demangle(name);
    return ToAnsi(name);
}

void TConverter::AddSymbolProcs(TUnit& unit) const {
    std::vector<TRange> covered;
    for (const TProc& p : unit.Procs) covered.push_back({p.Start, p.Start + p.Length});
    std::sort(covered.begin(), covered.end(), [](auto& a, auto& b) { return a.Start < b.Start; });
    auto isCovered = [&](uint32_t a) {
        auto it = std::upper_bound(covered.begin(), covered.end(), a,
                                   [](uint32_t v, const TRange& r) { return v < r.Start; });
        return it != covered.begin() && a < std::prev(it)->End;
    };
    for (size_t i = 0; i < FSymbols.size(); ++i) {
        if (i > 0 && FSymbols[i].first == FSymbols[i - 1].first) continue;  // one name per address
        uint32_t start = Logical(FSymbols[i].first);
        for (const TRange& r : unit.Code) {
            if (start < r.Start || start >= r.End) continue;
            if (isCovered(start)) break;
            uint32_t end = r.End;
            for (size_t j = i + 1; j < FSymbols.size(); ++j)
                if (FSymbols[j].first != FSymbols[i].first) {
                    end = std::min(end, Logical(FSymbols[j].first));
                    break;
                }
            // Up to the next procedure the DWARF knows, too.
            for (const TRange& c : covered)
                if (c.Start > start) {
                    end = std::min(end, c.Start);
                    break;
                }
            if (end > start) unit.Procs.push_back({start, end - start, SymbolName(FSymbols[i].second)});
            break;
        }
    }
}

void TConverter::ReadLines(DWARFContext& ctx, DWARFUnit& cu, TUnit& unit) {
    const DWARFDebugLine::LineTable* table = ctx.getLineTableForUnit(&cu);
    if (!table) return;
    std::map<uint64_t, uint32_t> fileNames;
    auto fileIndex = [&](uint64_t file) {
        auto it = fileNames.find(file);
        if (it != fileNames.end()) return it->second;
        std::string path;
        table->getFileNameByIndex(file, cu.getCompilationDir(), DILineInfoSpecifier::FileLineInfoKind::AbsoluteFilePath,
                                  path);
        uint32_t index = FNames.Shared(PathName(path.empty() ? "?" : path));
        fileNames[file] = index;
        return index;
    };
    // Code inlined from helpers marked artificial (the runtime's raise
    // helpers) is attributed to the line that called the helper, so a report
    // names the raising line rather than the helper's header.
    struct TCallSite {
        uint64_t Low, High, File, Line;
    };
    std::vector<TCallSite> callSites;
    for (const DWARFDebugInfoEntry& entry : cu.dies()) {
        DWARFDie die(&cu, &entry);
        if (die.getTag() != dwarf::DW_TAG_inlined_subroutine) continue;
        DWARFDie origin = die.getAttributeValueAsReferencedDie(dwarf::DW_AT_abstract_origin);
        if (!origin || !dwarf::toUnsigned(origin.find(dwarf::DW_AT_artificial), 0)) continue;
        auto callFile = dwarf::toUnsigned(die.find(dwarf::DW_AT_call_file));
        auto callLine = dwarf::toUnsigned(die.find(dwarf::DW_AT_call_line));
        if (!callFile || !callLine) continue;
        auto ranges = die.getAddressRanges();
        if (!ranges) {
            llvm::consumeError(ranges.takeError());
            continue;
        }
        for (const DWARFAddressRange& r : *ranges) callSites.push_back({r.LowPC, r.HighPC, *callFile, *callLine});
    }
    auto callSiteOf = [&](uint64_t address) -> const TCallSite* {
        const TCallSite* best = nullptr;  // the outermost call site covering the address
        for (const TCallSite& c : callSites)
            if (address >= c.Low && address < c.High && (!best || (c.High - c.Low) > (best->High - best->Low)))
                best = &c;
        return best;
    };
    for (const DWARFDebugLine::Sequence& seq : table->Sequences) {
        if (!InCode(seq.LowPC, seq.HighPC)) continue;
        TSequence out;
        out.Start = Logical(seq.LowPC);
        out.End = Logical(seq.HighPC) - 1;
        // Rows at one address: the last one describes the address.
        std::vector<const DWARFDebugLine::Row*> rows;
        for (uint32_t i = seq.FirstRowIndex; i < seq.LastRowIndex; ++i) {
            const DWARFDebugLine::Row& row = table->Rows[i];
            if (row.EndSequence) break;
            if (!rows.empty() && rows.back()->Address.Address == row.Address.Address)
                rows.back() = &row;
            else
                rows.push_back(&row);
        }
        for (size_t i = 0; i < rows.size(); ++i) {
            uint64_t rowFile = rows[i]->File, rowLine = rows[i]->Line;
            if (const TCallSite* site = callSiteOf(rows[i]->Address.Address)) {
                rowFile = site->File;
                rowLine = site->Line;
            }
            uint32_t file = fileIndex(rowFile);
            uint32_t address = Logical(rows[i]->Address.Address);
            uint32_t next = i + 1 < rows.size() ? Logical(rows[i + 1]->Address.Address) : out.End + 1;
            uint16_t line = rowLine <= 0xFFFF ? static_cast<uint16_t>(rowLine) : 0;
            if (out.Runs.empty() || out.Runs.back().File != file || out.Runs.back().Lines.size() >= 0xFFFF)
                out.Runs.push_back({file, address, address, {}});
            out.Runs.back().Lines.push_back({address, line});
            out.Runs.back().End = next - 1;
        }
        if (!out.Runs.empty()) unit.Sequences.push_back(std::move(out));
    }
    std::sort(unit.Sequences.begin(), unit.Sequences.end(), [](auto& a, auto& b) { return a.Start < b.Start; });
}

// ---------------------------------------------------------------- writing

struct TSub {
    uint16_t Type, Unit;
    Bytes Data;
};

Bytes ModuleSub(uint32_t nameIndex, const std::vector<TRange>& code, size_t from, size_t count) {
    Bytes b;
    Put32(b, 0);
    Put16(b, static_cast<uint32_t>(count));
    Put16(b, 0);
    Put32(b, nameIndex);
    b.resize(td32::kModuleHeaderSize, 0);
    for (size_t i = from; i < from + count; ++i) {
        Put16(b, 1);
        Put16(b, 1);  // code
        Put32(b, code[i].Start);
        Put32(b, code[i].End - code[i].Start);
    }
    return b;
}

// Full-form lines for some sequences of one unit: top-level ranges are the
// sequences, each file record lists the runs of that file.
Bytes LinesSub(const std::vector<const TSequence*>& seqs) {
    std::vector<uint32_t> files;
    std::map<uint32_t, std::vector<const TFileRun*>> runsOf;
    for (const TSequence* s : seqs)
        for (const TFileRun& r : s->Runs) {
            if (!runsOf.count(r.File)) files.push_back(r.File);
            runsOf[r.File].push_back(&r);
        }
    Bytes b;
    Put16(b, static_cast<uint32_t>(files.size()));
    Put16(b, static_cast<uint32_t>(seqs.size()));
    size_t fileTable = b.size();
    for (size_t i = 0; i < files.size(); ++i) Put32(b, 0);
    for (const TSequence* s : seqs) {
        Put32(b, s->Start);
        Put32(b, s->End);
    }
    for (size_t i = 0; i < seqs.size(); ++i) Put16(b, 1);
    for (size_t f = 0; f < files.size(); ++f) {
        while (b.size() % 4) Put8(b, 0);
        Patch32(b, fileTable + 4 * f, static_cast<uint32_t>(b.size()));
        const auto& runs = runsOf[files[f]];
        Put16(b, static_cast<uint32_t>(runs.size()));
        Put32(b, files[f]);
        size_t blocks = b.size();
        for (size_t r = 0; r < runs.size(); ++r) Put32(b, 0);
        for (const TFileRun* r : runs) {
            Put32(b, r->Start);
            Put32(b, r->End);
        }
        for (size_t r = 0; r < runs.size(); ++r) {
            Patch32(b, blocks + 4 * r, static_cast<uint32_t>(b.size()));
            Put16(b, 1);
            Put16(b, static_cast<uint32_t>(runs[r]->Lines.size()));
            for (const TLineEntry& l : runs[r]->Lines) Put32(b, l.Address);
            for (const TLineEntry& l : runs[r]->Lines) Put16(b, l.Line);
        }
    }
    return b;
}

Bytes TConverter::Build() {
    std::vector<TSub> modules, procs, lines;
    uint16_t unitNumber = 0;
    for (const TUnit& unit : FUnits) {
        if (unitNumber == 0xFFFF) break;
        ++unitNumber;
        uint32_t unitName = FNames.Shared(unit.Name);
        // At most 32767 segments per module subsection (a signed 16-bit count).
        for (size_t from = 0; from < unit.Code.size(); from += 0x7FFF)
            modules.push_back(
                {td32::sstModule, unitNumber,
                 ModuleSub(unitName, unit.Code, from, std::min<size_t>(0x7FFF, unit.Code.size() - from))});
        if (!unit.Procs.empty()) {
            Bytes b;
            Put32(b, 1);
            Put32(b, td32::kProcPackedRanges);
            Put32(b, static_cast<uint32_t>(unit.Procs.size()));
            uint32_t first = 0;
            for (const TProc& p : unit.Procs) {
                uint32_t index = FNames.Add(p.Name);
                if (!first) first = index;
            }
            Put32(b, first);
            Put32(b, unit.Procs.front().Start);
            uint32_t running = unit.Procs.front().Start;
            for (const TProc& p : unit.Procs) {
                PutPacked(b, p.Start - running);
                PutPacked(b, std::min<uint32_t>(p.Length, 0x3FFFFFFF));
                running = p.Start;
            }
            procs.push_back({td32::sstProcRanges, unitNumber, std::move(b)});
        }
    }

    // Source lines of all units go into as few subsections as the 16-bit
    // counts allow: a lookup maps each line subsection it searches, so one
    // large subsection costs one view where one per unit costs a walk
    // through the whole file. (The reader searches line subsections in
    // directory order whatever unit they name; 0 stands for all.)
    std::vector<const TSequence*> sequences;
    for (const TUnit& unit : FUnits)
        for (const TSequence& s : unit.Sequences) sequences.push_back(&s);
    std::stable_sort(sequences.begin(), sequences.end(), [](auto* a, auto* b) { return a->Start < b->Start; });
    std::vector<const TSequence*> batch;
    std::map<uint32_t, size_t> runsPerFile;
    auto fits = [&](const TSequence& s) {
        if (batch.size() >= 0xFFFF) return false;
        std::map<uint32_t, size_t> added;
        for (const TFileRun& r : s.Runs) ++added[r.File];
        if (runsPerFile.size() + added.size() >= 0xFFFF) return false;
        for (auto& [file, n] : added)
            if (runsPerFile[file] + n >= 0xFFFF) return false;
        return true;
    };
    for (const TSequence* s : sequences) {
        if (!batch.empty() && !fits(*s)) {
            lines.push_back({td32::sstSrcModule, 0, LinesSub(batch)});
            batch.clear();
            runsPerFile.clear();
        }
        batch.push_back(s);
        for (const TFileRun& r : s->Runs) ++runsPerFile[r.File];
    }
    if (!batch.empty()) lines.push_back({td32::sstSrcModule, 0, LinesSub(batch)});

    std::vector<TSub> all;
    for (auto* group : {&modules, &procs, &lines})
        for (TSub& s : *group) all.push_back(std::move(s));
    all.push_back({td32::sstNames, 0, FNames.Build()});

    Bytes block;
    Put32(block, td32::kSignatureFB0A);
    Put32(block, 0);
    std::vector<td32::TDS_SubsectionEntry> entries;
    for (const TSub& s : all) {
        while (block.size() % 4) Put8(block, 0);
        entries.push_back({s.Type, s.Unit, static_cast<uint32_t>(block.size()), static_cast<uint32_t>(s.Data.size())});
        block.insert(block.end(), s.Data.begin(), s.Data.end());
    }
    while (block.size() % 4) Put8(block, 0);
    Patch32(block, 4, static_cast<uint32_t>(block.size()));
    Put16(block, sizeof(td32::TDS_SubsectionHeader));
    Put16(block, sizeof(td32::TDS_SubsectionEntry));
    Put32(block, static_cast<uint32_t>(entries.size()));
    Put32(block, 0);
    Put32(block, 0);
    for (const auto& e : entries) {
        Put16(block, e.sseType);
        Put16(block, e.sseModIndex);
        Put32(block, e.sseOffset);
        Put32(block, e.sseSize);
    }
    Put32(block, td32::kSignatureFB0A);
    Put32(block, static_cast<uint32_t>(block.size() + 4));
    return block;
}

// ---------------------------------------------------------------- files

bool ReadFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteFile(const std::string& path, const Bytes& data, bool append) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

// Length of a TD32 block already at the end of the file (0 when none).
size_t ExistingBlock(const Bytes& image) {
    if (image.size() < 16) return 0;
    uint32_t signature, total;
    std::memcpy(&signature, image.data() + image.size() - 8, 4);
    std::memcpy(&total, image.data() + image.size() - 4, 4);
    if (signature != td32::kSignatureFB0A && signature != td32::kSignatureFB09) return 0;
    if (total < 16 || total > image.size()) return 0;
    uint32_t head;
    std::memcpy(&head, image.data() + image.size() - total, 4);
    return head == signature ? total : 0;
}

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: td32conv [--append] [--tds FILE] [--source-root DIR] [--quiet] EXECUTABLE\n"
                 "Converts the DWARF debug information of a 32-bit PE executable to TD32.\n"
                 "  --append    append the TD32 block to EXECUTABLE (a block already there is replaced)\n"
                 "  --tds FILE  write the TD32 block to FILE\n"
                 "  --source-root DIR  write source paths under DIR relative to it\n"
                 "  --quiet     print nothing on success\n");
}

}  // namespace

int main(int argc, char** argv) {
    bool append = false, quiet = false;
    std::string tds, exe;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--append")
            append = true;
        else if (a == "--quiet")
            quiet = true;
        else if (a == "--tds" && i + 1 < argc)
            tds = argv[++i];
        else if (a == "--source-root" && i + 1 < argc) {
            gSourceRoot = std::filesystem::path(argv[++i]).lexically_normal().generic_string();
            while (gSourceRoot.size() > 1 && gSourceRoot.back() == '/') gSourceRoot.pop_back();
        } else if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (!a.empty() && a[0] != '-' && exe.empty())
            exe = a;
        else {
            Usage(stderr);
            return 2;
        }
    }
    if (exe.empty() || (!append && tds.empty())) {
        Usage(stderr);
        return 2;
    }
    Bytes image;
    if (!ReadFile(exe, image)) {
        std::fprintf(stderr, "td32conv: cannot read %s\n", exe.c_str());
        return 1;
    }
    size_t old = ExistingBlock(image);
    image.resize(image.size() - old);

    TConverter converter;
    if (!converter.Load(exe, image)) return 1;
    Bytes block = converter.Build();
    if (append) {
        if (old) {
            // Drop the old block first, then add the new one.
            if (!WriteFile(exe, image, false)) {
                std::fprintf(stderr, "td32conv: cannot write %s\n", exe.c_str());
                return 1;
            }
        }
        if (!WriteFile(exe, block, true)) {
            std::fprintf(stderr, "td32conv: cannot write %s\n", exe.c_str());
            return 1;
        }
    }
    if (!tds.empty() && !WriteFile(tds, block, false)) {
        std::fprintf(stderr, "td32conv: cannot write %s\n", tds.c_str());
        return 1;
    }
    if (!quiet)
        std::printf("td32conv: %s: %zu units, %zu procedures, %zu bytes of TD32\n", exe.c_str(), converter.UnitCount(),
                    converter.ProcCount(), block.size());
    return 0;
}
