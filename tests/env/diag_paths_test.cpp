#include <gtest/gtest.h>

#include <shlobj.h>

#include "TestUtil.h"
#include "env/DiagPaths.h"
#include "env/TextUtils.h"

using testutil::CaptureRaise;

namespace {

bool IsDir(const std::wstring& p) {
    DWORD a = GetFileAttributesW(p.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(ShellFolderPath, EndsInOneBackslash) {
    std::wstring appData = env::GetShellFolderPath(CSIDL_APPDATA);
    ASSERT_FALSE(appData.empty());
    EXPECT_EQ(L'\\', appData.back());
    EXPECT_NE(L'\\', appData[appData.size() - 2]);
    EXPECT_TRUE(IsDir(appData));
    std::wstring programFiles = env::GetShellFolderPath(CSIDL_PROGRAM_FILES);
    EXPECT_EQ(L"C:\\Program Files\\", programFiles);
    // An identifier the shell does not know resolves to nothing.
    EXPECT_EQ(L"", env::GetShellFolderPath(0x7F));
}

TEST(DiagFolder, IsCreatedUnderRoamingAppData) {
    std::wstring folder = env::GetDiagFolder();
    EXPECT_EQ(env::GetShellFolderPath(CSIDL_APPDATA) + L"Quillfen\\Diag\\", folder);
    EXPECT_TRUE(IsDir(folder));
    // A removed folder comes back on the next call. Other programs of the
    // test prefix may have left files in it, so it is moved aside and back.
    std::wstring saved = folder.substr(0, folder.size() - 1) + L".saved";
    ASSERT_TRUE(MoveFileW(folder.c_str(), saved.c_str()));
    EXPECT_FALSE(IsDir(folder));
    EXPECT_EQ(folder, env::GetDiagFolder());
    EXPECT_TRUE(IsDir(folder));
    RemoveDirectoryW(folder.c_str());
    EXPECT_TRUE(MoveFileW(saved.c_str(), folder.substr(0, folder.size() - 1).c_str()));
}

TEST(DebugLogFileName, FollowsTheNamingRule) {
    SYSTEMTIME t{};
    t.wYear = 2014;
    t.wMonth = 2;
    t.wDay = 3;
    t.wHour = 14;
    t.wMinute = 5;
    t.wSecond = 9;
    EXPECT_EQ(L"C:\\d\\scripterror-1234-2014-02-03-14-05-09.log",
              env::FormatDebugLogFileName(L"C:\\d\\", L"scripterror", 1234, t));

    std::wstring now = env::GetDebugLogFileName(L"stem");
    std::wstring prefix = env::GetDiagFolder() + L"stem-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    ASSERT_EQ(prefix, now.substr(0, prefix.size()));
    std::wstring stamp = now.substr(prefix.size());
    EXPECT_EQ(23u, stamp.size());  // yyyy-mm-dd-hh-nn-ss.log
    EXPECT_EQ(L".log", stamp.substr(19));
}

TEST(EnsureDirectory, RootsAndExistingFoldersNeedNothing) {
    EXPECT_TRUE(env::EnsureDirectory(L"C:\\"));
    EXPECT_TRUE(env::EnsureDirectory(L"C:"));
    testutil::TempDir dir;
    EXPECT_TRUE(env::EnsureDirectory(dir.Path()));
    EXPECT_TRUE(env::EnsureDirectory(dir.Path().substr(0, dir.Path().size() - 1)));
}

TEST(EnsureDirectory, CreatesMissingParents) {
    testutil::TempDir dir;
    std::wstring deep = dir.Path() + L"a\\b\\c";
    EXPECT_TRUE(env::EnsureDirectory(deep + L"\\"));
    EXPECT_TRUE(IsDir(deep));
    // A file in the way makes the creation fail, reported as False.
    HANDLE f = CreateFileW((dir.Path() + L"file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    CloseHandle(f);
    EXPECT_FALSE(env::EnsureDirectory(dir.Path() + L"file\\sub"));
}

TEST(EnsureDirectory, EmptyPathsRaise) {
    auto empty = CaptureRaise([] { env::EnsureDirectory(L""); });
    ASSERT_TRUE(empty);
    EXPECT_EQ(L"Exception", empty->ClassName);
    EXPECT_EQ(L"Cannot create directory ", empty->Message);
    // A single relative component reaches an empty parent.
    auto relative = CaptureRaise([] { env::EnsureDirectory(L"qf-relative-only\\"); });
    ASSERT_TRUE(relative);
    EXPECT_EQ(L"Cannot create directory ", relative->Message);
}

TEST(TextUtils, WriteAnsiTextAndReplaceChar) {
    testutil::TempDir dir;
    std::wstring path = dir.Path() + L"out.txt";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    env::WriteAnsiText(f, L"caf\u00e9 ");
    env::WriteAnsiText(f, L"\u4e2d");  // no ANSI equivalent in code page 1252
    CloseHandle(f);
    char buf[16] = {};
    DWORD n = 0;
    f = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ReadFile(f, buf, sizeof(buf), &n, nullptr);
    CloseHandle(f);
    EXPECT_EQ(std::string("caf\xe9 ?"), std::string(buf, n));
    // Writing to a handle that is not open for writing is ignored quietly.
    env::WriteAnsiText(INVALID_HANDLE_VALUE, L"x");

    EXPECT_EQ(L"C:_a_b", env::ReplaceChar(L"C:\\a\\b", L'\\', L'_'));
    EXPECT_EQ(L"", env::ReplaceChar(L"", L'a', L'b'));
}

}  // namespace
