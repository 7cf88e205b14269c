// End to end: the build appended TD32 made from this executable's DWARF; the
// reader must find the unit, procedure, file and line of functions defined
// here at known lines.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/ExcUnmangle.h"
#include "crash/ModuleDebugInfo.h"
#include "rtl/Text.h"

namespace selfcheck {

struct TKnown {
    int Value;
    int Twice(int x) const;
};

const int kTwiceLine = __LINE__ + 1;
__attribute__((noinline)) int TKnown::Twice(int x) const { return Value * x * 2; }

const int kFunctionLine = __LINE__ + 1;
__attribute__((noinline)) int KnownFunction(int count, const char* text) {
    int sum = 0;
    for (int i = 0; i < count && text[i]; ++i) sum += text[i] * (i + 1);
    return sum;
}

const int kOperatorLine = __LINE__ + 1;
__attribute__((noinline)) TKnown operator+(const TKnown& a, const TKnown& b) { return TKnown{a.Value + b.Value}; }

}  // namespace selfcheck

namespace {

struct TFound {
    std::wstring Unit, Proc, File;
    int32_t Line = -1, LineOffset = -1;
};

TFound LookUp(crash::TModuleDebugInfo& info, const void* address) {
    TFound f;
    int32_t unit, proc, file;
    if (info.ProcName(address, unit, proc)) {
        f.Unit = info.GetName(unit);
        f.Proc = rtl::FromAnsi(crash::UnmangleName(rtl::ToAnsi(info.GetName(proc)), true));
    }
    if (info.SourceLine(address, file, f.Line, f.LineOffset)) f.File = info.GetName(file);
    return f;
}

class SelfInfo : public ::testing::Test {
protected:
    void SetUp() override {
        HMODULE self = GetModuleHandleW(nullptr);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(self, path, MAX_PATH);
        FInfo = std::make_unique<crash::TModuleDebugInfo>(path, self);
        ASSERT_TRUE(FInfo->Loaded());
        EXPECT_FALSE(FInfo->IsDelphiModule());
    }
    std::unique_ptr<crash::TModuleDebugInfo> FInfo;
};

TEST_F(SelfInfo, FreeFunction) {
    const void* address = reinterpret_cast<const void*>(&selfcheck::KnownFunction);
    TFound f = LookUp(*FInfo, address);
    EXPECT_EQ(L"selfinfo_test.cpp", f.Unit);
    EXPECT_EQ(L"selfcheck::KnownFunction(int, const char *)", f.Proc);
    // Relative to the source root: no trace of the build machine's folders.
    EXPECT_EQ(L"tests\\crash\\selfinfo_test.cpp", f.File);
    EXPECT_EQ(selfcheck::kFunctionLine, f.Line);
    EXPECT_EQ(static_cast<int32_t>(FInfo->GetConvertedAddress(address)), f.LineOffset);

    // A few bytes in: the same procedure; the line is the function's or a later one.
    TFound inside = LookUp(*FInfo, static_cast<const uint8_t*>(address) + 6);
    EXPECT_EQ(f.Proc, inside.Proc);
    EXPECT_GE(inside.Line, selfcheck::kFunctionLine);
    EXPECT_LE(inside.Line, selfcheck::kFunctionLine + 4);
}

TEST_F(SelfInfo, MemberFunctionAndOperator) {
    auto member = &selfcheck::TKnown::Twice;
    const void* address;
    std::memcpy(&address, &member, sizeof(address));  // a non-virtual member: its code address
    TFound f = LookUp(*FInfo, address);
    EXPECT_EQ(L"selfcheck::TKnown::Twice(int)", f.Proc);
    EXPECT_EQ(selfcheck::kTwiceLine, f.Line);

    selfcheck::TKnown (*op)(const selfcheck::TKnown&, const selfcheck::TKnown&) = &selfcheck::operator+;
    f = LookUp(*FInfo, reinterpret_cast<const void*>(op));
    EXPECT_EQ(L"selfcheck::operator +(const selfcheck::TKnown&, const selfcheck::TKnown&)", f.Proc);
    EXPECT_EQ(selfcheck::kOperatorLine, f.Line);
    // Without the argument list, as the crash report shows it.
    int32_t unit, proc;
    ASSERT_TRUE(FInfo->ProcName(reinterpret_cast<const void*>(op), unit, proc));
    EXPECT_EQ("selfcheck::operator +", crash::UnmangleName(rtl::ToAnsi(FInfo->GetName(proc))));
}

TEST_F(SelfInfo, ModuleBaseCountsAsLogicalZero) {
    // Logical 0 is kept for the base itself, so it answers like the first byte of code.
    const uint8_t* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    EXPECT_EQ(0u, FInfo->GetConvertedAddress(base));
    TFound atBase = LookUp(*FInfo, base);
    TFound atCode = LookUp(*FInfo, base + 0x1000);
    EXPECT_EQ(atCode.Proc, atBase.Proc);
    EXPECT_EQ(atCode.Line, atBase.Line);
    EXPECT_NE(L"", atCode.Unit);
}

}  // namespace
