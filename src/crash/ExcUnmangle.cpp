#include "crash/ExcUnmangle.h"

#include <cstring>

#include "crash/MangledNames.h"

namespace crash {

namespace {

// Thrown by Fail to abandon a parse and caught by Unmangle: an ordinary C++
// throw, so the operating system never dispatches it (the unmangler also runs
// while a crash report is being written).
struct TAbandonParse {
    int Line;
};

constexpr int kScratchSize = 8192;
constexpr int kMaxPrefixes = 98;

const char* BasicType(char c) {
    switch (c) {
        case 'b': return "wchar_t";
        case 'c': return "char";
        case 'd': return "double";
        case 'e': return "...";
        case 'f': return "float";
        case 'g': return "long double";
        case 'i': return "int";
        case 'j': return "__int64";
        case 'l': return "long";
        case 'o': return "bool";
        case 's': return "short";
        case 'v': return "void";
        default: return nullptr;
    }
}

const char* CallingConvention(char c) {
    switch (c) {
        case 'c': return "__cdecl ";
        case 'f': return "__fortran ";
        case 'i': return "__interrupt ";
        case 'p': return "__pascal ";
        case 'r': return "__fastcall ";
        case 's': return "__stdcall ";
        case 'y': return "__syscall ";
        default: return nullptr;
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

// The prefix letters before a type.
struct TTypePrefixes {
    bool Unsigned = false, Signed = false, Const = false, Volatile = false, Closure = false;
    // The qualifiers as written after a pointer, an array or a function.
    const char* CvSuffix() const {
        return Const ? (Volatile ? " const volatile" : " const") : (Volatile ? " volatile" : "");
    }
};

// The parser state. One instance serves every call (the unmangler is not
// reentrant); buffers are fixed so that a parse allocates nothing.
class TUnmangler {
public:
    uint32_t Run(const char* source, char* dest, int32_t destSize, char* qualifier, char* baseName, bool decodeArgs);

private:
    // Source access. Names without a lower-case letter are read lowered,
    // which leaves the caller's text as it is.
    char Peek(int ahead = 0) const {
        const char* p = FSrc + ahead;
        if (p >= FSrcEnd) return 0;
        char c = *p;
        return (FLowerAll && IsUpper(c)) ? static_cast<char>(c - 'A' + 'a') : c;
    }
    void Advance() {
        if (FSrc >= FSrcEnd) Fail(umError, __LINE__);
        ++FSrc;
        if (++FCounter > mangled::kMaxNameChars) Fail(umTooLong, __LINE__);
    }
    void Expect(char c, int line) {
        if (Peek() != c) Fail(umError, line);
        Advance();
    }

    [[noreturn]] void Fail(uint32_t bit, int line);
    void Put(char c);
    void PutText(const char* text);
    void PutSpan(const char* from, const char* to);  // copies an output span to the end
    void Insert(char* at, const char* text, size_t len);
    char* HoldPush(const char* from, size_t len);  // keeps a span of text while a type is parsed

    void ParseQualifiedName(bool templateName);
    void ParseComponent(bool templateName);
    void ParseTemplate();
    void ParseSpecial();
    void ParseCompilerTable();
    void ParseType(char* insertAt, bool argList);
    TTypePrefixes ParseTypePrefixes();
    void PutCvPrefix(const TTypePrefixes& prefixes);
    void ParseNamedType(const TTypePrefixes& prefixes);
    void ParseBasicType(const char* name, const TTypePrefixes& prefixes, bool argList);
    void ParsePointerType(const TTypePrefixes& prefixes);
    void ParseArrayType(const TTypePrefixes& prefixes);
    void ParseFunction(char* insertAt, const char* cvSuffix);
    void ParseArgList(bool templateArgs, bool kindPrefixed);
    void ParseValue(char kind, const char* typeSource, size_t typeSourceLen, bool kindPrefixed);
    void ParseTextUntil(bool stopAtPercent, bool consumeDollar);

    const char* FSrc = nullptr;
    const char* FSrcEnd = nullptr;
    bool FLowerAll = false;
    int FCounter = 0;
    char* FOut = nullptr;
    char* FOutEnd = nullptr;
    char* FNameStart = nullptr;
    char* FLastSep = nullptr;
    char* FPrevSep = nullptr;
    char* FBaseStart = nullptr;
    char* FBaseEnd = nullptr;
    bool FTrackPos = false;
    bool FTrackShift = false;
    int FTemplateDepth = 0;  // template argument lists being read
    uint32_t FFlags = 0;
    char FVtblAttr[32] = {};
    char FScratch[kScratchSize] = {};
    char FHold[kScratchSize] = {};
    size_t FHoldTop = 0;
};

void TUnmangler::Fail(uint32_t bit, int line) {
    FFlags |= bit;
    *FOut = 0;  // FOut never passes FOutEnd, the byte kept for the terminator
    throw TAbandonParse{line};
}

void TUnmangler::Put(char c) {
    if (FOut >= FOutEnd) Fail(umBufferFull, __LINE__);
    *FOut++ = c;
}

void TUnmangler::PutText(const char* text) {
    while (*text) Put(*text++);
}

void TUnmangler::PutSpan(const char* from, const char* to) {
    size_t len = static_cast<size_t>(to - from);
    if (len > kScratchSize - 1) Fail(umError, __LINE__);
    std::memcpy(FScratch, from, len);
    for (size_t i = 0; i < len; ++i) Put(FScratch[i]);
}

// Inserts text at `at`, moving what follows through the scratch buffer. With
// shift tracking on, the tracked positions at or after `at` move along.
void TUnmangler::Insert(char* at, const char* text, size_t len) {
    if (len == 0) return;
    size_t tail = static_cast<size_t>(FOut - at);
    if (tail > kScratchSize - 1) Fail(umError, __LINE__);
    // What does not fit is not inserted at all: the output stays as it was.
    if (len > static_cast<size_t>(FOutEnd - FOut)) Fail(umBufferFull, __LINE__);
    std::memcpy(FScratch, at, tail);
    std::memcpy(at, text, len);
    std::memcpy(at + len, FScratch, tail);
    FOut += len;
    if (FTrackShift) {
        for (char** p : {&FNameStart, &FLastSep, &FPrevSep, &FBaseStart, &FBaseEnd})
            if (*p && *p >= at) *p += len;
    }
}

char* TUnmangler::HoldPush(const char* from, size_t len) {
    if (len + 1 > sizeof(FHold) - FHoldTop) Fail(umError, __LINE__);
    char* p = FHold + FHoldTop;
    std::memcpy(p, from, len);
    p[len] = 0;
    FHoldTop += len + 1;
    return p;
}

void TUnmangler::ParseQualifiedName(bool templateName) {
    for (;;) {
        if (FTrackPos) FBaseStart = FOut;
        char c = Peek();
        if (c == '@') {
            // A linker procedure or a virtual-definition flag: the rest of the
            // source is the name it belongs to.
            if (Peek(1) != '$') {
                Advance();
                PutText("__linkproc__ ");
                FFlags |= umLinkProc;
                ParseQualifiedName(false);
                return;
            }
            const char* vd = "@$cf$@";
            for (int i = 0; i < 6; ++i)
                if (Peek(i) != vd[i]) Fail(umError, __LINE__);
            for (int i = 0; i < 6; ++i) Advance();
            PutText("__vdflg__ ");
            FFlags |= umVdFlag;
            ParseQualifiedName(false);
            return;
        }
        if (c == '_' && Peek(1) == '$') {
            ParseCompilerTable();
            return;
        }
        if (c == '$' && templateName) return;
        ParseComponent(templateName);

        c = Peek();
        if (c == 0 || c == '$') return;
        if (c != '@') Fail(umError, __LINE__);
        Advance();
        if (FTrackPos) {
            FPrevSep = FLastSep;
            FLastSep = FOut;
        }
        PutText("::");
        if (Peek() == 0) FFlags = (FFlags & ~umKindMask) | umVirtualTable;
    }
}

void TUnmangler::ParseComponent(bool templateName) {
    char c = Peek();
    if (IsDigit(c)) {
        // Virtual table: the digit plus one holds the attribute bits.
        int bits = c - '0' + 1;
        Advance();
        FVtblAttr[0] = 0;
        const char* names[] = {"huge", "fastthis", "rtti"};
        for (int i = 0; i < 3; ++i) {
            if (!(bits & (1 << i))) continue;
            if (FVtblAttr[0]) std::strcat(FVtblAttr, ", ");
            std::strcat(FVtblAttr, names[i]);
        }
        FFlags = (FFlags & ~umKindMask) | umVirtualTable;
        c = Peek();
        if (c == 0) return;
        if (c != '$') Fail(umError, __LINE__);
        Advance();
        ParseSpecial();
        return;
    }
    if (c == '$') {
        Advance();
        ParseSpecial();
        return;
    }
    if (c == '%') {
        ParseTemplate();
        return;
    }
    (void)templateName;
    while ((c = Peek()) != 0 && c != '@' && c != '$') {
        Advance();  // a character past the source limit is not written
        Put(c);
    }
}

// "%" name "$" arguments "%"
void TUnmangler::ParseTemplate() {
    Advance();
    bool kindPrefixed = false;
    for (const char* special : {"Set$", "DynamicArray$", "SmallString$", "DelphiInterface$"}) {
        size_t n = std::strlen(special);
        if (static_cast<size_t>(FSrcEnd - FSrc) >= n && std::memcmp(FSrc, special, n) == 0) kindPrefixed = true;
    }
    ParseQualifiedName(true);
    Expect('$', __LINE__);
    if (FOut > FNameStart && FOut[-1] == '<') Put(' ');
    Put('<');
    // Names inside the arguments are not components of the outer name.
    bool trackPos = FTrackPos;
    FTrackPos = false;
    ++FTemplateDepth;
    ParseArgList(true, kindPrefixed);
    --FTemplateDepth;
    FTrackPos = trackPos;
    Expect('%', __LINE__);
    if (FOut > FNameStart && FOut[-1] == '>') Put(' ');
    Put('>');
    if (Peek() != '@') FFlags |= umTemplate;
}

// "_$" and two upper-case letters: a table the compiler generates.
void TUnmangler::ParseCompilerTable() {
    char a = Peek(2), b = Peek(3);
    if (!IsUpper(a) || !IsUpper(b)) Fail(umError, __LINE__);
    Advance();
    Advance();
    struct {
        char A, B;
        const char* Name;
        uint32_t Flag;
    } const tables[] = {{'C', 'H', "chtbl", umCatchTable},
                        {'D', 'C', "odtbl", umDtorTable},
                        {'E', 'C', "ectbl", umExcContext},
                        {'F', 'L', "frndl", umFriendList},
                        {'T', 'L', "thrwl", umThrowList}};
    PutText("__");
    for (const auto& t : tables)
        if (t.A == a && t.B == b) {
            PutText(t.Name);
            FFlags |= t.Flag;
        }
    PutText("__ ");
    while (IsUpper(Peek())) Advance();
    Expect('$', __LINE__);
    Expect('@', __LINE__);
    ParseQualifiedName(false);
}

// After "$": constructor, destructor, operator, conversion, thunk or type descriptor.
void TUnmangler::ParseSpecial() {
    char c = Peek();
    auto at = [&](const char* text) {
        for (int i = 0; text[i]; ++i)
            if (Peek(i) != text[i]) return false;
        return true;
    };
    auto skip = [&](int n) {
        for (int i = 0; i < n; ++i) Advance();
    };
    auto setKind = [&](uint32_t kind) { FFlags = (FFlags & ~umKindMask) | kind; };

    if (at("bctr") || at("bdtr")) {
        setKind(c == 'b' && Peek(1) == 'c' ? umConstructor : umDestructor);
        skip(4);
        if (Peek() != '$' && Peek() != 0) Fail(umError, __LINE__);
        return;
    }
    if (c == 'b') {
        Advance();
        char code[8];
        int n = 0;
        while (Peek() != 0 && Peek() != '$') {
            if (n >= 7) Fail(umError, __LINE__);
            code[n++] = Peek();
            Advance();
        }
        code[n] = 0;
        const char* text = mangled::OperatorText(code);
        if (!text) Fail(umError, __LINE__);
        PutText("operator ");
        PutText(text);
        setKind(umOperator);
        return;
    }
    if (c == 'o') {
        Advance();
        PutText("operator ");
        ParseType(FOut, false);
        // "o" type "$": a conversion operator without its closing "$" is cut short.
        if (Peek() != '$') Fail(umError, __LINE__);
        setKind(umConversion);
        return;
    }
    if (at("vc") || at("dc")) {
        setKind(c == 'v' ? umThunk : umDynamicThunk);
        skip(2);
        if (!IsDigit(Peek())) Fail(umError, __LINE__);
        Advance();
        Expect('$', __LINE__);
        PutText("__thunk__ [");
        // First field: its first character, a comma, then the rest.
        if (Peek() == 0 || Peek() == '$') Fail(umError, __LINE__);
        Put(Peek());
        Advance();
        Put(',');
        ParseTextUntil(false, true);
        Put(',');
        ParseTextUntil(false, true);
        Put(',');
        ParseTextUntil(false, true);
        Put(']');
        return;
    }
    if (at("vsf") || at("vsn")) {
        skip(3);
        PutText("__vdthk__");
        setKind(umVdThunk);
        return;
    }
    if (at("xp$") || at("xt$")) {
        skip(3);
        PutText("__tpdsc__ ");
        ParseType(FOut, false);
        setKind(umTypeDescriptor);
        return;
    }
    Fail(umError, __LINE__);
}

// Copies source text up to "$" (and "%" when asked); the "$" is required
// and consumed when `consumeDollar` is set.
void TUnmangler::ParseTextUntil(bool stopAtPercent, bool consumeDollar) {
    char c;
    while ((c = Peek()) != 0 && c != '$' && !(stopAtPercent && c == '%')) {
        Advance();
        Put(c);
    }
    if (consumeDollar) Expect('$', __LINE__);
}

// Prefix letters, then one type: a length-prefixed name, a basic type, a
// pointer, reference or member pointer, an array or a function.
void TUnmangler::ParseType(char* insertAt, bool argList) {
    const TTypePrefixes prefixes = ParseTypePrefixes();
    char c = Peek();
    // A closure is a method pointer: "__closure" qualifies a pointer (or
    // reference) to a function, as in "void __fastcall (__closure *)(int)".
    if (prefixes.Closure && !((c == 'p' || c == 'r' || c == 'M') && Peek(1) == 'q')) Fail(umError, __LINE__);
    if (IsDigit(c))
        ParseNamedType(prefixes);
    else if (const char* basic = BasicType(c))
        ParseBasicType(basic, prefixes, argList);
    else if (c == 'p' || c == 'r' || c == 'M')
        ParsePointerType(prefixes);
    else if (c == 'a')
        ParseArrayType(prefixes);
    else if (c == 'q')
        ParseFunction(insertAt, prefixes.CvSuffix());
    else
        Fail(umError, __LINE__);
}

// "u" unsigned, "z" signed, "x" const, "w" volatile, "yf"/"yn" closure, in
// any order and number.
TTypePrefixes TUnmangler::ParseTypePrefixes() {
    TTypePrefixes prefixes;
    int count = 0;
    for (;;) {
        char c = Peek();
        if (c == 'u')
            prefixes.Unsigned = true;
        else if (c == 'z')
            prefixes.Signed = true;
        else if (c == 'x')
            prefixes.Const = true;
        else if (c == 'w')
            prefixes.Volatile = true;
        else if (c == 'y') {
            char k = Peek(1);
            if (k != 'f' && k != 'n') Fail(umError, __LINE__);
            Advance();
            prefixes.Closure = true;  // written inside the pointer it qualifies
        } else
            return prefixes;
        Advance();
        if (++count > kMaxPrefixes) Fail(umError, __LINE__);
    }
}

void TUnmangler::PutCvPrefix(const TTypePrefixes& prefixes) {
    if (prefixes.Const) PutText("const ");
    if (prefixes.Volatile) PutText("volatile ");
}

// A length-prefixed qualified name: the digits give the length of the name
// that follows, which is read on its own.
void TUnmangler::ParseNamedType(const TTypePrefixes& prefixes) {
    uint32_t n = 0;
    while (IsDigit(Peek())) {
        n = n * 10 + static_cast<uint32_t>(Peek() - '0');
        if (n > mangled::kMaxNameChars) Fail(umError, __LINE__);
        Advance();
    }
    if (n == 0 || n > static_cast<uint32_t>(FSrcEnd - FSrc)) Fail(umError, __LINE__);
    PutCvPrefix(prefixes);
    const char* savedEnd = FSrcEnd;
    const char* limit = FSrc + n;
    FSrcEnd = limit;
    bool trackPos = FTrackPos;
    FTrackPos = false;
    ParseQualifiedName(false);
    FTrackPos = trackPos;
    FSrcEnd = savedEnd;
    if (FSrc != limit) Fail(umError, __LINE__);
}

// A basic type's letter; "v" alone in an argument list is no argument.
void TUnmangler::ParseBasicType(const char* name, const TTypePrefixes& prefixes, bool argList) {
    char c = Peek();
    Advance();
    if (c == 'v' && argList) return;
    PutCvPrefix(prefixes);
    if (prefixes.Signed) PutText("signed ");
    if (prefixes.Unsigned) PutText("unsigned ");
    PutText(name);
}

// "p" pointer, "r" reference or "M" class member pointer, then the type
// pointed to; to a function, the pointer goes in parentheses before its
// argument list.
void TUnmangler::ParsePointerType(const TTypePrefixes& prefixes) {
    char c = Peek();
    Advance();
    size_t holdTop = FHoldTop;
    const char* cls = nullptr;
    if (c == 'M') {
        char* mark = FOut;
        ParseType(mark, false);
        cls = HoldPush(mark, static_cast<size_t>(FOut - mark));
        FOut = mark;
    }
    char* pointeeAt = FOut;
    bool toFunction = Peek() == 'q';
    if (toFunction) {
        Put('(');
        if (prefixes.Closure) PutText("__closure ");
        if (cls) {
            PutText(cls);
            PutText("::");
        }
        PutText("*)");
    }
    ParseType(pointeeAt, false);
    if (!toFunction) {
        if (c == 'r')
            Put('&');
        else if (c == 'p')
            PutText(" *");
        else {
            Put(' ');
            PutText(cls);
            PutText("::*");
        }
    }
    PutText(prefixes.CvSuffix());
    FHoldTop = holdTop;
}

// "a" dimension "$", repeated, then the element type.
void TUnmangler::ParseArrayType(const TTypePrefixes& prefixes) {
    size_t holdTop = FHoldTop;
    const char* dims[64];
    int count = 0;
    while (Peek() == 'a') {
        Advance();
        if (Peek() == '0') Advance();
        const char* from = FSrc;
        while (Peek() != 0 && Peek() != '$') Advance();
        if (count >= 64) Fail(umError, __LINE__);
        dims[count++] = HoldPush(from, static_cast<size_t>(FSrc - from));
        Expect('$', __LINE__);
    }
    ParseType(FOut, false);
    for (int i = 0; i < count; ++i) {
        Put('[');
        PutText(dims[i]);
        Put(']');
    }
    PutText(prefixes.CvSuffix());
    FHoldTop = holdTop;
}

// "q" [ "q" convention ]... arguments [ "$" return type ]
void TUnmangler::ParseFunction(char* insertAt, const char* cvSuffix) {
    Advance();
    const char* convention = "";
    bool saveRegs = false;
    while (Peek() == 'q') {
        Advance();
        char k = Peek();
        Advance();
        if (k == 'g')
            saveRegs = true;
        else if (const char* cc = CallingConvention(k))
            convention = cc;
    }
    // The argument list is written where the output stands; only the
    // function's own prefix is inserted before its name.
    bool shift = FTrackShift;
    FTrackShift = false;
    Put('(');
    ParseArgList(false, false);
    Put(')');
    FTrackShift = shift;

    size_t holdTop = FHoldTop;
    const char* returnType = nullptr;
    if (Peek() == '$') {
        Advance();
        char* mark = FOut;
        bool s = FTrackShift;
        FTrackShift = false;
        ParseType(mark, false);
        FTrackShift = s;
        returnType = HoldPush(mark, static_cast<size_t>(FOut - mark));
        FOut = mark;
    }
    if (returnType || *convention || saveRegs) {
        // Return type, blank, convention and "__saveregs " go before the name.
        size_t start = FHoldTop;
        auto add = [&](const char* t) {
            size_t n = std::strlen(t);
            HoldPush(t, n);
            --FHoldTop;  // drop the terminator so the pieces join up
        };
        if (returnType) {
            add(returnType);
            add(" ");
        }
        add(convention);
        if (saveRegs) add("__saveregs ");
        Insert(insertAt, FHold + start, FHoldTop - start);
    }
    PutText(cvSuffix);
    FHoldTop = holdTop;
}

// Arguments separated by ", ". Function lists end at "$", "%" or the end;
// template lists at "%".
void TUnmangler::ParseArgList(bool templateArgs, bool kindPrefixed) {
    struct TSpan {
        const char* From;
        const char* To;
    };
    TSpan args[kUnmangleMaxArgs];
    int count = 0;
    for (;;) {
        char c = Peek();
        if (c == 0) return;
        if (c == '%') {
            // A "%" closes a template; outside one it ends nothing.
            if (!templateArgs && FTemplateDepth == 0) Fail(umError, __LINE__);
            return;
        }
        if (c == '$' && !templateArgs) return;
        if (count >= kUnmangleMaxArgs) Fail(umError, __LINE__);
        if (count > 0) PutText(", ");
        char* start = FOut;
        if (kindPrefixed) {
            // Every argument starts with its kind letter, except type
            // arguments of newer compilers ("%DynamicArray$uc%"). A kind
            // letter is followed by a type; one that ends the argument is a
            // type code itself ("i" for int).
            char kind = Peek();
            const char after = Peek(1);
            if (!kind || !std::strchr("tTiegjm", kind) || after == '%' || after == '$' || after == 0) {
                ParseType(start, true);
                args[count++] = {start, FOut};
                if (Peek() == '%') return;
                Expect('$', __LINE__);
                continue;
            }
            Advance();
            if (kind == 't') {
                ParseType(start, true);
            } else if (kind && std::strchr("Tiegjm", kind)) {
                ParseType(start, true);
                FOut = start;  // the type is not written
                Expect('$', __LINE__);
                ParseValue(kind, nullptr, 0, true);
            } else {
                Fail(umError, __LINE__);
            }
            args[count++] = {start, FOut};
            if (Peek() == '%') return;
            Expect('$', __LINE__);
            continue;
        }
        if (c == 't') {
            Advance();
            char r = Peek();
            Advance();
            int ref = 0;
            if (r >= '1' && r <= '9')
                ref = r - '0';
            else if (r >= 'a' && r <= 'z')
                ref = r - 'a' + 10;
            else {
                Fail(umError, __LINE__);
            }
            if (ref > count) Fail(umError, __LINE__);
            PutSpan(args[ref - 1].From, args[ref - 1].To);
        } else {
            const char* typeSource = FSrc;
            ParseType(start, true);
            size_t typeLen = static_cast<size_t>(FSrc - typeSource);
            if (templateArgs && Peek() == '$') {
                // A value argument: the type just written gives way to the value.
                FOut = start;
                Advance();
                char kind = Peek();
                if (!kind || !std::strchr("Tiegjm", kind)) Fail(umError, __LINE__);
                Advance();
                ParseValue(kind, typeSource, typeLen, false);
                Expect('$', __LINE__);
            }
        }
        args[count++] = {start, FOut};
    }
}

// The value of a template argument, up to "$" (or "%" in the kind-prefixed
// form); the terminator is left for the caller.
void TUnmangler::ParseValue(char kind, const char* typeSource, size_t typeSourceLen, bool kindPrefixed) {
    switch (kind) {
        case 'T':
            PutText("<type ");
            ParseTextUntil(kindPrefixed, false);
            Put('>');
            break;
        case 'i':
            if (!kindPrefixed && typeSourceLen == 5 && std::memcmp(typeSource, "4bool", 5) == 0) {
                bool zero = Peek() == '0' && (Peek(1) == '$' || Peek(1) == 0);
                while (Peek() != 0 && Peek() != '$') Advance();
                PutText(zero ? "false" : "true");
            } else {
                ParseTextUntil(kindPrefixed, false);
            }
            break;
        case 'm':
            // class "$" member: a pointer to member.
            ParseTextUntil(kindPrefixed, true);
            PutText("::*");
            ParseTextUntil(kindPrefixed, false);
            break;
        default:  // 'e', 'g', 'j'
            ParseTextUntil(kindPrefixed, false);
            break;
    }
}

uint32_t TUnmangler::Run(const char* source, char* dest, int32_t destSize, char* qualifier, char* baseName,
                         bool decodeArgs) {
    // Names of the "@name@12" shape (a stdcall decoration) are not mangled.
    size_t len = std::strlen(source);
    FSrc = source + 1;
    FSrcEnd = source + len;
    FLowerAll = true;
    for (const char* p = FSrc; p < FSrcEnd; ++p)
        if (*p >= 'a' && *p <= 'z') {
            FLowerAll = false;
            break;
        }
    FCounter = 1;
    FOut = dest;
    FOutEnd = dest + destSize - 1;
    FNameStart = dest;
    FLastSep = FPrevSep = FBaseStart = FBaseEnd = nullptr;
    FTrackPos = true;
    FTrackShift = false;
    FTemplateDepth = 0;
    FFlags = 0;
    FVtblAttr[0] = 0;
    FHoldTop = 0;
    *FOut = 0;

    ParseQualifiedName(false);
    FTrackPos = false;

    uint32_t kind = FFlags & umKindMask;
    if (kind == umTypeDescriptor || (FFlags & 0x1FC00)) {
        for (char* p = FNameStart; p < FOut; ++p)
            if (*p == ' ') {
                FNameStart = p + 1;
                break;
            }
    }
    if (kind == umConstructor || kind == umDestructor) {
        if (!FLastSep) Fail(umError, __LINE__);
        if (kind == umDestructor) Put('~');
        PutSpan(FPrevSep ? FPrevSep + 2 : FNameStart, FLastSep);
    }
    FBaseEnd = FOut;

    if (Peek() == '$' && decodeArgs) {
        Advance();
        char c = Peek();
        if (c != 'q' && c != 'w' && c != 'x') Fail(umError, __LINE__);
        FTrackShift = true;
        ParseType(FNameStart, false);
        FTrackShift = false;
        if ((FFlags & umKindMask) == 0) FFlags |= umFunction;
    } else if ((FFlags & umKindMask) == 0) {
        FFlags |= umData;
    } else if (FVtblAttr[0]) {
        PutText(" (");
        PutText(FVtblAttr);
        Put(')');
    }
    if (FLastSep) FFlags |= umQualified;
    *FOut = 0;
    if (qualifier && FLastSep && FLastSep >= FNameStart) {
        size_t n = static_cast<size_t>(FLastSep - FNameStart);
        std::memcpy(qualifier, FNameStart, n);
        qualifier[n] = 0;
    }
    if (baseName) {
        const char* from = FBaseStart ? FBaseStart : FNameStart;
        size_t n = FBaseEnd > from ? static_cast<size_t>(FBaseEnd - from) : 0;
        std::memcpy(baseName, from, n);
        baseName[n] = 0;
    }
    return FFlags;
}

TUnmangler gUnmangler;

bool IsDecoratedName(const char* source, size_t len) {
    // "@name@12": digits at the end preceded by an "@" that is not the first character.
    size_t i = len;
    while (i > 0 && IsDigit(source[i - 1])) --i;
    return i < len && i >= 2 && source[i - 1] == '@';
}

uint32_t CopyUnchanged(const char* source, char* dest, int32_t destSize) {
    size_t len = std::strlen(source);
    size_t n = len < static_cast<size_t>(destSize - 1) ? len : static_cast<size_t>(destSize - 1);
    std::memcpy(dest, source, n);
    dest[n] = 0;
    return umNotMangled;
}

}  // namespace

uint32_t Unmangle(const char* source, char* dest, int32_t destSize, char* qualifier, char* baseName, bool decodeArgs,
                  bool isDelphi) {
    (void)isDelphi;
    if (destSize > kUnmangleMaxOutput) return umError;
    if (!source) return umNotMangled;
    if (!dest || destSize < 1) return umError;
    if (source[0] != '@') return CopyUnchanged(source, dest, destSize);
    if (IsDecoratedName(source, std::strlen(source))) return CopyUnchanged(source, dest, destSize);

    try {
        return gUnmangler.Run(source, dest, destSize, qualifier, baseName, decodeArgs);
    } catch (const TAbandonParse&) {
        return umError;
    }
}

std::string UnmangleName(const std::string& mangled, bool decodeArgs) {
    char buffer[2049];
    Unmangle(mangled.c_str(), buffer, sizeof(buffer), nullptr, nullptr, decodeArgs, false);
    return buffer;
}

}  // namespace crash
