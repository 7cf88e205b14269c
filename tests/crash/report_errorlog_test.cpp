// Opening the error log while another writer may hold it.
#include <gtest/gtest.h>

#include <thread>

#include "TestUtil.h"
#include "crash/ErrorLogFile.h"
#include "env/TextUtils.h"

namespace {

// Another writer: opens the log without sharing, signals, holds it for
// `holdMs`, appends its own entry and closes.
class OtherWriter {
public:
    OtherWriter(std::wstring path, DWORD holdMs) : FOpened(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        FThread = std::thread([this, path, holdMs] {
            HANDLE f = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            SetEvent(FOpened);
            if (f == INVALID_HANDLE_VALUE) return;
            Sleep(holdMs);
            SetFilePointer(f, 0, nullptr, FILE_END);
            env::WriteAnsiText(f, L"other entry\r\n");
            CloseHandle(f);
        });
        WaitForSingleObject(FOpened, 10000);
    }
    ~OtherWriter() {
        FThread.join();
        CloseHandle(FOpened);
    }

private:
    HANDLE FOpened;
    std::thread FThread;
};

TEST(ErrorLogFile, AnEntryWaitsForAWriterThatHoldsTheLogBriefly) {
    testutil::TempDir dir;
    const std::wstring path = dir.Path() + L"app.errlog";
    {
        OtherWriter other(path, 300);
        const DWORD start = GetTickCount();
        rtl::ScopedFileHandle log = crash::OpenErrorLogForAppend(path);
        ASSERT_TRUE(log.IsValid()) << "entry dropped, error " << GetLastError();
        EXPECT_GE(GetTickCount() - start, 200u);  // it really had to wait
        env::WriteAnsiText(log.Get(), L"our entry\r\n");
    }
    // Both entries are there, ours appended after the other writer's.
    EXPECT_EQ("other entry\r\nour entry\r\n", testutil::ReadFileBytes(path));
}

TEST(ErrorLogFile, AWriterThatHoldsTheLogTooLongCostsABoundedWait) {
    testutil::TempDir dir;
    const std::wstring path = dir.Path() + L"app.errlog";
    OtherWriter other(path, 1500);
    const DWORD start = GetTickCount();
    rtl::ScopedFileHandle log = crash::OpenErrorLogForAppend(path, 200);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(log.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(ErrorLogFile, CreatesTheLogAppendsAndHoldsItExclusively) {
    testutil::TempDir dir;
    const std::wstring path = dir.Path() + L"app.errlog";
    for (const wchar_t* entry : {L"one\r\n", L"two\r\n"}) {
        rtl::ScopedFileHandle log = crash::OpenErrorLogForAppend(path);
        ASSERT_TRUE(log.IsValid());
        // Nobody else gets in while an entry is written, not even a reader.
        HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, other);
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
        env::WriteAnsiText(log.Get(), entry);
    }
    EXPECT_EQ("one\r\ntwo\r\n", testutil::ReadFileBytes(path));
}

TEST(ErrorLogFile, OtherFailuresGiveUpAtOnce) {
    testutil::TempDir dir;
    const DWORD start = GetTickCount();
    rtl::ScopedFileHandle log = crash::OpenErrorLogForAppend(dir.Path() + L"missing\\app.errlog");
    EXPECT_FALSE(log.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_LT(GetTickCount() - start, 700u);  // no waiting for a folder to appear
    EXPECT_FALSE(crash::OpenErrorLogForAppend(L"").IsValid());
}

}  // namespace
