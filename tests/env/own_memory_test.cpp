#include <gtest/gtest.h>

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
