#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "env/OwnMemory.h"
#include "env/klog.h"
#include "rtl/Win.h"

namespace {

TEST(OwnMemory, ReadsAndWritesValidMemory) {
    char source[8] = "abcdefg";
    char target[8] = {};
    EXPECT_TRUE(env::ReadOwnMemory(source, target, 8));
    EXPECT_STREQ("abcdefg", target);
    EXPECT_TRUE(env::WriteOwnMemory(source, "XYZ", 3));
    EXPECT_STREQ("XYZdefg", source);
}

TEST(OwnMemory, InvalidAddressesAnswerFalseWithoutFaulting) {
    char buf[16];
    EXPECT_FALSE(env::ReadOwnMemory(nullptr, buf, 4));
    EXPECT_FALSE(env::ReadOwnMemory(buf, nullptr, 4));
    EXPECT_FALSE(env::WriteOwnMemory(nullptr, buf, 4));
    EXPECT_FALSE(env::WriteOwnMemory(buf, nullptr, 4));

    // A reserved but uncommitted page, then a released one.
    void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, page);
    EXPECT_FALSE(env::ReadOwnMemory(page, buf, 4));
    EXPECT_FALSE(env::WriteOwnMemory(page, "x", 1));
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_FALSE(env::ReadOwnMemory(page, buf, 4));
    // A read that starts valid and runs into an unmapped page fails whole.
    char* two = static_cast<char*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(nullptr, VirtualAlloc(two, 4096, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(env::ReadOwnMemory(two + 4092, buf, 4));
    EXPECT_FALSE(env::ReadOwnMemory(two + 4092, buf, 8));
    VirtualFree(two, 0, MEM_RELEASE);
}

// A write across pages of different protections reaches both, and each
// page keeps its own protection afterwards (code is not left writable).
TEST(OwnMemory, WritesAcrossProtectionsAndGivesEachPageItsProtectionBack) {
    const DWORD protections[] = {PAGE_READONLY, PAGE_EXECUTE_READ, PAGE_READWRITE};
    auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 3 * 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old = 0;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(VirtualProtect(pages + i * 4096, 4096, protections[i], &old));

    uint8_t bytes[8200];
    for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_TRUE(env::WriteOwnMemory(pages + 4, bytes, sizeof(bytes)));
    EXPECT_EQ(0, std::memcmp(pages + 4, bytes, sizeof(bytes)));
    for (int i = 0; i < 3; ++i) {
        MEMORY_BASIC_INFORMATION mbi{};
        ASSERT_NE(0u, VirtualQuery(pages + i * 4096, &mbi, sizeof(mbi)));
        EXPECT_EQ(protections[i], mbi.Protect) << "page " << i;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(OwnMemory, StackTopIsAboveTheCurrentFrame) {
    int local = 0;
    auto* top = static_cast<char*>(env::GetStackTop());
    auto* here = reinterpret_cast<char*>(&local);
    EXPECT_GT(top, here);
    MEMORY_BASIC_INFORMATION mbi{};
    ASSERT_NE(0u, VirtualQuery(here, &mbi, sizeof(mbi)));
    EXPECT_EQ(top, static_cast<char*>(mbi.BaseAddress) + mbi.RegionSize);
}

TEST(KLog, AccessorCreatesOneInstanceAndShutdownClearsIt) {
    env::TKLog* first = env::KLog();
    EXPECT_EQ(first, env::KLog());
    first->Log(L"nothing happens");
    env::DoneKLog();
    env::InitKLog();
    EXPECT_NE(nullptr, env::KLog());
    env::DoneKLog();
}

}  // namespace
