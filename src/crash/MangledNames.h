// The mangling scheme of procedure names in TD32 debug information, as far as
// its writer and its reader must agree: the build-time converter (tools/)
// writes names in it and the unmangler reads them. Plain C++17 with no
// operating system header, so that the converter, built with the build
// machine's compiler, includes it as well.
#pragma once
#include <string_view>

namespace crash::mangled {

// Longest mangled name the unmangler reads, counting the leading "@"; the
// converter writes none longer.
constexpr int kMaxNameChars = 250;

// An operator function's code, as in "@TList@$bsubs": the code after "$b"
// and the operator it names. A few operators also have an older code that
// is still read but never written (DecodeOnly).
struct TOperatorCode {
    const char* Code;
    const char* Text;
    bool DecodeOnly = false;
};

inline constexpr TOperatorCode kOperatorCodes[] = {
    {"add", "+"},        {"adr", "&", true}, {"and", "&"},        {"asg", "="},   {"land", "&&"},     {"lor", "||"},
    {"call", "()"},      {"cmp", "~"},       {"fnc", "()", true}, {"dec", "--"},  {"dele", "delete"}, {"div", "/"},
    {"eql", "=="},       {"geq", ">="},      {"gtr", ">"},        {"inc", "++"},  {"ind", "*", true}, {"leq", "<="},
    {"lsh", "<<"},       {"lss", "<"},       {"mod", "%"},        {"mul", "*"},   {"neq", "!="},      {"new", "new"},
    {"not", "!"},        {"or", "|"},        {"rand", "&="},      {"rdiv", "/="}, {"rlsh", "<<="},    {"rmin", "-="},
    {"rmod", "%="},      {"rmul", "*="},     {"ror", "|="},       {"rplu", "+="}, {"rrsh", ">>="},    {"rsh", ">>"},
    {"rxor", "^="},      {"subs", "[]"},     {"sub", "-"},        {"xor", "^"},   {"arow", "->"},     {"nwa", "new[]"},
    {"dla", "delete[]"},
};

// The operator a code names (older codes included), or null.
constexpr const char* OperatorText(std::string_view code) {
    for (const TOperatorCode& op : kOperatorCodes)
        if (code == op.Code) return op.Text;
    return nullptr;
}

// The code an operator is written with, or null when the scheme has none.
constexpr const char* OperatorCode(std::string_view text) {
    for (const TOperatorCode& op : kOperatorCodes)
        if (!op.DecodeOnly && text == op.Text) return op.Code;
    return nullptr;
}

// Every operator is written with one code only, whatever the table's order.
constexpr bool OneWrittenCodePerOperator() {
    for (const TOperatorCode& a : kOperatorCodes)
        for (const TOperatorCode& b : kOperatorCodes)
            if (&a != &b && !a.DecodeOnly && !b.DecodeOnly && std::string_view(a.Text) == b.Text) return false;
    return true;
}
static_assert(OneWrittenCodePerOperator());

}  // namespace crash::mangled
