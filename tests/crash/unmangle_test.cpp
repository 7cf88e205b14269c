#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crash/ExcUnmangle.h"

using namespace crash;

namespace {

struct TCase {
    const char* Source;
    bool Args;
    const char* Output;
    uint32_t Flags;
};

// One line per name: source, decode arguments, readable text, result flags.
const TCase kCases[] = {
    // Names as the crash report prints them (no argument list).
    {"@Sysutils@Exception@$bctr$qqrx20System@UnicodeString", false, "Sysutils::Exception::Exception", 0x102},
    {"@Foo@$bdtr$qqrv", false, "Foo::~Foo", 0x103},
    {"@Foo@$badd$qqrx3Foo", false, "Foo::operator +", 0x104},
    {"@Foo@bar$qqrv", false, "Foo::bar", 0x106},
    {"@FOO@BAR", false, "foo::bar", 0x106},
    {"@Foo@BAR", false, "Foo::BAR", 0x106},
    {"@%Foo$i%@bar", false, "Foo<int>::bar", 0x106},
    {"@%Foo$i%", false, "Foo<int>", 0x206},
    {"@ns@%Vec$ii%@at", false, "ns::Vec<int, int>::at", 0x106},
    {"@%Outer$10%Inner$ui%%@run", false, "Outer<Inner<unsigned int> >::run",
     0x306},  // the inner template ends its name
    {"@%Set$tuc$iuc$0$iuc$255%@x", false, "Set<unsigned char, 0, 255>::x", 0x106},
    {"@%Flag$4bool$i1$%@f", false, "Flag<true>::f", 0x106},
    {"@%Flag$4bool$i0$%@f", false, "Flag<false>::f", 0x106},
    {"@%Num$i$i-12$%@f", false, "Num<-12>::f", 0x106},
    {"@%Ty$i$Tabc$%@f", false, "Ty<<type abc> >::f", 0x106},
    {"@%Pm$i$mKls$fld$%@f", false, "Pm<Kls::*fld>::f", 0x106},
    {"@%Rep$it1%@f", false, "Rep<int, int>::f", 0x106},
    {"@main", false, "main", 0x06},
    {"@a@b@c@d", false, "a::b::c::d", 0x106},
    {"@Foo@", false, "Foo::", 0x109},
    {"@Foo@3", false, "@Foo@3", 0x80000000u},  // the shape of a decorated name wins
    {"@Foo@3$vsf", false, "Foo::__vdthk__ (rtti)", 0x10A},
    {"@Foo@6$vsn", false, "Foo::__vdthk__ (huge, fastthis, rtti)", 0x10A},
    {"@Foo@0$xp$3Foo", false, "Foo::__tpdsc__ Foo (huge)", 0x108},
    {"@Foo@1x", false, "Foo::", umError},
    {"@Foo@$oi$qqrv", false, "Foo::operator int", 0x105},
    {"@Foo@$bsubs$qqri", false, "Foo::operator []", 0x104},
    {"@Foo@$bdla$qqrpv", false, "Foo::operator delete[]", 0x104},
    {"@@Foo@bar", false, "__linkproc__ Foo::bar", 0x10106},
    {"@@$cf$@Foo", false, "__vdflg__ Foo", 0x406},
    {"@_$CH$@Foo@bar", false, "__chtbl__ Foo::bar", 0x1106},
    {"@_$DCXX$@Foo", false, "__odtbl__ Foo", 0x2006},
    {"@_$ZZ$@Foo", false, "____ Foo", 0x06},
    {"@Foo@$vsf", false, "Foo::__vdthk__", 0x10A},
    {"@Foo@$vc1$a12$b$c$", false, "Foo::__thunk__ [a,12,b,c]", 0x107},
    {"@Foo@$dc1$xy$2$3$", false, "Foo::__thunk__ [x,y,2,3]", 0x10B},
    {"@$xp$3Foo", false, "__tpdsc__ Foo", 0x08},
    {"@$xt$pi", false, "__tpdsc__ int *", 0x08},

    // Argument lists, conventions and return types.
    {"@Foo@bar$qqrv", true, "__fastcall Foo::bar()", 0x101},
    {"@Foo@bar$qqri", true, "__fastcall Foo::bar(int)", 0x101},
    {"@Foo@bar$qqrpxc", true, "__fastcall Foo::bar(const char *)", 0x101},
    {"@Sysutils@Exception@$bctr$qqrx20System@UnicodeString", true,
     "__fastcall Sysutils::Exception::Exception(const System::UnicodeString)", 0x102},
    {"@Foo@$badd$qqrx3Foo", true, "__fastcall Foo::operator +(const Foo)", 0x104},
    {"@f$qiucusulujzcbdgfo", true,
     "f(int, unsigned char, unsigned short, unsigned long, unsigned __int64, signed char, wchar_t, double, "
     "long double, float, bool)",
     0x01},
    {"@f$qie", true, "f(int, ...)", 0x01},
    {"@f$qit1t2", true, "f(int, int, int)", 0x01},
    {"@f$qcit2", true, "f(char, int, int)", 0x01},
    {"@f$qrix3Foo", true, "f(int&, const Foo)", 0x01},
    {"@f$qxpxc", true, "f(const char * const)", 0x01},
    {"@f$qwi", true, "f(volatile int)", 0x01},
    {"@f$qpqi$v", true, "f(void (*)(int))", 0x01},
    {"@f$qpqqsi$i", true, "f(int __stdcall (*)(int))", 0x01},
    {"@f$qa10$i", true, "f(int[10])", 0x01},
    {"@f$qa0$a3$c", true, "f(char[][3])", 0x01},
    {"@f$qM3Fooi", true, "f(int Foo::*)", 0x01},
    {"@f$qM3Fooqi$v", true, "f(void (Foo::*)(int))", 0x01},
    {"@f$qynpqv$v", true, "f(void (__closure *)())", 0x01},
    {"@f$qynpqqrp14System@TObject$v", true, "f(void __fastcall (__closure *)(System::TObject *))", 0x01},
    {"@%Ev$ynpqqrp14System@TObject$v%@f", false, "Ev<void __fastcall (__closure *)(System::TObject *)>::f", 0x106},
    {"@%DynamicArray$uc%@f", false, "DynamicArray<unsigned char>::f", 0x106},  // no kind letter
    {"@%DynamicArray$uc%@f$qqrv", true, "__fastcall DynamicArray<unsigned char>::f()", 0x101},
    {"@%Set$i%@x", false, "Set<int>::x", 0x106},
    {"@%Cb$pqi$v%@f", false, "Cb<void (*)(int)>::f", 0x106},
    {"@f$qi$pc", true, "char * f(int)", 0x01},
    {"@Foo@get$xqqrv", true, "__fastcall Foo::get() const", 0x101},
    {"@Foo@get$qqgqri", true, "__fastcall __saveregs Foo::get(int)", 0x101},
    {"@Foo@$bctr$qqrv", true, "__fastcall Foo::Foo()", 0x102},
    {"@ns@Foo@$bdtr$qqrv", true, "__fastcall ns::Foo::~Foo()", 0x103},
    {"@%Foo$i%@bar$qqri", true, "__fastcall Foo<int>::bar(int)", 0x101},

    // Not mangled: copied unchanged.
    {"WinMain", false, "WinMain", 0x80000000u},
    {"@Foo@12", false, "@Foo@12", 0x80000000u},
    {"", false, "", 0x80000000u},

    // Malformed names keep the text written before the fault.
    {"@Foo@$bzzz$qqrv", false, "Foo::", umError},
    {"@Foo@$bctr$qqrv", false, "Foo::Foo", 0x102},
    {"@$bctr$qqrv", false, "", umError},
    {"@Foo@bar$qqrk", true, "Foo::bar(", umError},
    {"@Foo@bar$k", true, "Foo::bar", umError},
    {"@f$q9Foo", true, "f(", umError},
    {"@f$qt1", true, "f(", umError},
    {"@f$qit2", true, "f(int, ", umError},
    {"@f$qyk", true, "f(", umError},
    {"@Foo@$vc1$a", false, "Foo::__thunk__ [a,", umError},
    {"@Foo@$zz", false, "Foo::", umError},
    {"@_$C", false, "", umError},
    {"@@$xx", false, "", umError},
    {"@Foo#bar", false, "Foo#bar", 0x06},
    {"@%Foo$i", false, "Foo<int", umError},
    {"@%Foo$i$q%", false, "Foo<", umError},
    {"@f$qi%", true, "f(int", umError},                 // "%" ends no function's arguments
    {"@Foo@$oi", false, "Foo::operator int", umError},  // a conversion needs its closing "$"
    {"@f$qyni", true, "f(", umError},                   // a closure qualifies a function pointer only
};

TEST(Unmangle, Table) {
    for (const TCase& c : kCases) {
        char out[2049];
        std::memset(out, 'Z', sizeof(out));
        uint32_t flags = Unmangle(c.Source, out, sizeof(out), nullptr, nullptr, c.Args, false);
        EXPECT_STREQ(c.Output, out) << c.Source << (c.Args ? " (args)" : "");
        EXPECT_EQ(c.Flags, flags) << c.Source << (c.Args ? " (args)" : "") << " -> " << out;
    }
}

TEST(Unmangle, QualifierAndBaseName) {
    char out[256], qual[256], base[256];
    std::strcpy(qual, "untouched");
    EXPECT_EQ(0x101u, Unmangle("@ns@Foo@bar$qqri", out, 256, qual, base, true, false));
    EXPECT_STREQ("__fastcall ns::Foo::bar(int)", out);
    EXPECT_STREQ("ns::Foo", qual);
    EXPECT_STREQ("bar", base);

    EXPECT_EQ(0x102u, Unmangle("@Foo@$bctr$qqrv", out, 256, qual, base, false, false));
    EXPECT_STREQ("Foo", qual);
    EXPECT_STREQ("Foo", base);

    std::strcpy(qual, "untouched");
    EXPECT_EQ(0x06u, Unmangle("@main", out, 256, qual, base, false, false));
    EXPECT_STREQ("untouched", qual);  // no "::" written
    EXPECT_STREQ("main", base);

    EXPECT_EQ(0x10106u, Unmangle("@@Foo@bar", out, 256, qual, base, false, false));
    EXPECT_STREQ("__linkproc__ Foo::bar", out);
    EXPECT_STREQ("Foo", qual);  // the prefix is not part of the name
}

TEST(Unmangle, EntryChecks) {
    char out[16];
    EXPECT_EQ(umError, Unmangle("@a", out, 8193, nullptr, nullptr, false, false));
    EXPECT_EQ(umNotMangled, Unmangle(nullptr, out, 16, nullptr, nullptr, false, false));
    EXPECT_EQ(umError, Unmangle("@a", nullptr, 16, nullptr, nullptr, false, false));
    EXPECT_EQ(umError, Unmangle("@a", out, 0, nullptr, nullptr, false, false));
    // A plain name is cut to the buffer and terminated.
    EXPECT_EQ(umNotMangled, Unmangle("ABCDEFGHIJKLMNOPQRSTUVWXYZ", out, 8, nullptr, nullptr, false, false));
    EXPECT_STREQ("ABCDEFG", out);
    // The caller's text is never changed, even when it is read lowered.
    char upper[] = "@FOO@BAR";
    Unmangle(upper, out, 16, nullptr, nullptr, false, false);
    EXPECT_STREQ("@FOO@BAR", upper);
    EXPECT_STREQ("foo::bar", out);
}

TEST(Unmangle, SourceLimitOf250Characters) {
    std::string ok = "@" + std::string(249, 'a');
    std::string tooLong = "@" + std::string(250, 'a');
    char out[2049];
    EXPECT_EQ(0x06u, Unmangle(ok.c_str(), out, sizeof(out), nullptr, nullptr, false, false));
    EXPECT_EQ(std::string(249, 'a'), out);
    EXPECT_EQ(umError, Unmangle(tooLong.c_str(), out, sizeof(out), nullptr, nullptr, false, false));
    // The text produced before the limit stays, terminated.
    EXPECT_EQ(std::string(249, 'a'), out);
}

TEST(Unmangle, OutputBufferFull) {
    char out[12];
    std::memset(out, 'Z', sizeof(out));
    EXPECT_EQ(umError, Unmangle("@Foo@barbazquux", out, 10, nullptr, nullptr, false, false));
    EXPECT_STREQ("Foo::barb", out);
    EXPECT_EQ('Z', out[10]);  // nothing past the buffer
    // Exactly filling the buffer is fine.
    EXPECT_EQ(0x106u, Unmangle("@Foo@barb", out, 10, nullptr, nullptr, false, false));
    EXPECT_STREQ("Foo::barb", out);
    // An insertion that does not fit leaves the output as it was.
    EXPECT_EQ(umError, Unmangle("@Foo@bar$qqrv", out, 12, nullptr, nullptr, true, false));
    EXPECT_STREQ("Foo::bar()", out);
}

TEST(Unmangle, ThirtySixArgumentsAtMost) {
    std::string args36 = "@f$q" + std::string(36, 'i');
    std::string args37 = "@f$q" + std::string(37, 'i');
    char out[2049];
    EXPECT_EQ(0x01u, Unmangle(args36.c_str(), out, sizeof(out), nullptr, nullptr, true, false));
    EXPECT_EQ(umError, Unmangle(args37.c_str(), out, sizeof(out), nullptr, nullptr, true, false));
    // Later arguments are reachable by letter references: "ta" is the tenth.
    EXPECT_EQ(0x01u, Unmangle("@f$qcccccccccita", out, sizeof(out), nullptr, nullptr, true, false));
    EXPECT_STREQ("f(char, char, char, char, char, char, char, char, char, int, int)", out);
}

TEST(Unmangle, PrefixRunLimit) {
    std::string ok = "@f$q" + std::string(98, 'x') + "i";
    std::string bad = "@f$q" + std::string(99, 'x') + "i";
    char out[2049];
    EXPECT_EQ(0x01u, Unmangle(ok.c_str(), out, sizeof(out), nullptr, nullptr, true, false));
    EXPECT_EQ(umError, Unmangle(bad.c_str(), out, sizeof(out), nullptr, nullptr, true, false));
}

// Random and cut names must never write past the buffer: guard bytes on
// both sides stay intact and the text is always terminated inside.
TEST(Unmangle, RandomNamesStayInsideTheBuffer) {
    std::vector<std::string> seeds;
    for (const TCase& c : kCases) seeds.push_back(c.Source);
    std::mt19937 rng(1234);
    const char alphabet[] = "@$%_0123456789abcdefghijklmnopqrstuvwxyzMT";
    for (int round = 0; round < 20000; ++round) {
        std::string name;
        if (round % 2) {
            name = seeds[rng() % seeds.size()];
            name = name.substr(0, rng() % (name.size() + 1));  // truncated
            if (!name.empty() && rng() % 2) name[rng() % name.size()] = alphabet[rng() % (sizeof(alphabet) - 1)];
        } else {
            name = "@";
            size_t len = rng() % 300;
            for (size_t i = 0; i < len; ++i) name += alphabet[rng() % (sizeof(alphabet) - 1)];
        }
        int size = 1 + static_cast<int>(rng() % 64);
        std::vector<char> buf(size + 32, 'G');
        char* out = buf.data() + 16;
        Unmangle(name.c_str(), out, size, nullptr, nullptr, rng() % 2, false);
        for (int i = 0; i < 16; ++i) ASSERT_EQ('G', buf[i]) << name;
        for (int i = 0; i < 16; ++i) ASSERT_EQ('G', out[size + i]) << name;
        ASSERT_NE(nullptr, std::memchr(out, 0, size)) << name;
    }
}

TEST(Unmangle, ReadableNameForReports) {
    EXPECT_EQ("Sysutils::Exception::Exception", UnmangleName("@Sysutils@Exception@$bctr$qqrx20System@UnicodeString"));
    EXPECT_EQ("f(int)", UnmangleName("@f$qi", true));
    EXPECT_EQ("plain_c_name", UnmangleName("plain_c_name"));
}

}  // namespace
