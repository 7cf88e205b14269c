#include <gtest/gtest.h>

#include "TestUtil.h"
#include "env/Version.h"

namespace {

TEST(Version, ImageWithoutResourceReadsZero) {
    env::InitVersionInfo();
    EXPECT_EQ(L"0.0.0.0", env::GetProgramVersionText());
}

TEST(Version, ImageWithResourceReadsItsFileVersion) {
    std::string out;
    DWORD code = testutil::RunAndWait(L"\"" + testutil::ExeFolder() + L"version_probe.exe\"", &out);
    EXPECT_EQ(0u, code);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    EXPECT_EQ("1.2.3.4", out);
}

TEST(Version, FormatsFourNumbers) { EXPECT_EQ(L"65535.0.7.65535", env::FormatVersion({0xFFFF0000u, 0x0007FFFFu})); }

}  // namespace
