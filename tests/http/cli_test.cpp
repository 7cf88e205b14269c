// The command-line uploader as scripts use it: exit codes, the body in a
// file, status events and the status code on stderr.
#include <gtest/gtest.h>

#include "NetTestUtil.h"
#include "TestUtil.h"
#include "http/httpuploader_errors.h"
#include "rtl/Text.h"

using testhttp::TServers;
using testhttp::TSummary;

namespace {

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(servers.Running()); }
    // Runs httpupload with `args`; stdout and stderr together in `output`.
    DWORD Run(const std::wstring& args, std::string& output) {
        std::wstring exe = testutil::ExeFolder() + L"..\\..\\src\\tools\\httpupload.exe";
        return testutil::RunAndWait(L"\"" + exe + L"\" " + args, &output, 120000);
    }
    std::string LastLine(const std::string& text) {
        std::string t = text;
        while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
        return t.substr(t.find_last_of('\n') + 1);
    }
    const TServers& servers = TServers::Get();
    testutil::TempDir dir;
};

TEST_F(CliTest, UploadsFieldsAndFilesAndWritesTheBodyToAFile) {
    std::wstring file = dir.Path() + L"report.log";
    uint32_t crc = testhttp::WritePatternFile(file, 300000, 21);
    // Text beyond the ANSI code page, in a value and in a file name.
    const std::wstring place = L"Z\u00FCrich \u6771\u4EAC";
    std::wstring named = dir.Path() + place + L".txt";
    uint32_t namedCrc = testhttp::WritePatternFile(named, 10, 3);
    std::wstring body = dir.Path() + L"answer.txt";
    std::string out;
    DWORD code = Run(L"--field \"comment=two words\" --field empty= --file \"log=" + file +
                         L";text/plain\" --field \"place=" + place + L"\" --file \"n=" + named + L"\" --output \"" +
                         body + L"\" " + servers.Url("http", L"/cli?status=201"),
                     out);
    EXPECT_EQ(0u, code) << out;
    EXPECT_EQ("HTTP status 201", LastLine(out)) << out;
    EXPECT_NE(std::string::npos, out.find("Uploading report.log: 0 B of 292 KiB")) << out;
    EXPECT_NE(std::string::npos, out.find("File report.log complete")) << out;
    TSummary s(testutil::ReadFileBytes(body));
    EXPECT_EQ("ok", s.Check);
    ASSERT_EQ(5u, s.Items.size());
    EXPECT_EQ("comment", s.Items[0].Name);
    EXPECT_EQ(testhttp::Crc32("two words", 9), s.Items[0].Crc);
    EXPECT_EQ(0u, s.Items[1].Length);
    const std::string utf8 = rtl::ToUtf8(place);  // fields go first, then files
    EXPECT_EQ(testhttp::Crc32(utf8.data(), utf8.size()), s.Items[2].Crc);
    EXPECT_EQ("report.log", s.Items[3].FileName);
    EXPECT_EQ("text/plain", s.Items[3].ContentType);
    EXPECT_EQ(crc, s.Items[3].Crc);
    EXPECT_EQ(utf8 + ".txt", s.Items[4].FileName);
    EXPECT_EQ(namedCrc, s.Items[4].Crc);
}

TEST_F(CliTest, HeadersAndBodyGoToStdoutAndAnErrorStatusStillExitsZero) {
    std::string out;
    DWORD code = Run(L"--headers " + servers.Url("http", L"/x?status=404&body=big:100"), out);
    EXPECT_EQ(0u, code) << out;
    // stdout and stderr share one pipe here: the header block, then the
    // 100 body bytes, then the status line.
    size_t head = out.find("HTTP/1.1 404 ");
    ASSERT_NE(std::string::npos, head) << out;
    size_t bodyStart = out.find("\r\n\r\n", head) + 4;
    EXPECT_EQ(std::string("\0\1\2\3", 4), out.substr(bodyStart, 4));
    EXPECT_NE(std::string::npos, out.find("X-Check: ok")) << out;
    EXPECT_EQ(out.size() - 16, out.rfind("HTTP status 404\n"));
}

TEST_F(CliTest, FailuresHaveTheirOwnExitCodesAndMessages) {
    std::string out;
    EXPECT_EQ(3u, Run(L"--file f=" + dir.Path() + L"missing.bin " + servers.Url("http", L"/m"), out)) << out;
    EXPECT_NE(std::string::npos, out.find("httpupload: CreateFile failed for \"" + rtl::ToUtf8(dir.Path()) +
                                          "missing.bin\", error = 2 (" + rtl::ToUtf8(http::UploadErrorText(2)) + ")"))
        << out;

    out.clear();
    EXPECT_EQ(2u, Run(L"--field novalue " + servers.Url("http", L"/m"), out));
    EXPECT_NE(std::string::npos, out.find("--field needs NAME=VALUE")) << out;
    out.clear();
    EXPECT_EQ(2u, Run(L"ftp://host/x", out));
    out.clear();
    EXPECT_EQ(5u, Run(L"--output " + dir.Path() + L"no\\such\\dir\\x " + servers.Url("http", L"/m"), out)) << out;

    out.clear();
    EXPECT_EQ(0u, Run(L"--help", out));
    for (const char* option : {"--field", "--file", "--proxy", "--proxy-user", "--proxy-password", "--no-ui",
                               "--output", "--headers", "--fail", "--proxy-password-env", "--proxy-password-stdin",
                               "--retry", "--connect-timeout", "--max-time", "Exit codes"})
        EXPECT_NE(std::string::npos, out.find(option)) << option;
}

// The options scripts lean on, each against the real servers.
TEST_F(CliTest, OptionsAsScriptsUseThem) {
    std::wstring semi = dir.Path() + L"a;b.log";
    testhttp::WritePatternFile(semi, 100, 4);
    SetEnvironmentVariableW(L"QF_PROXY_PASSWORD", L"s3cret");
    const std::wstring answer = dir.Path() + L"answer.bin";
    const std::wstring proxyAuth = L"127.0.0.1:" + std::to_wstring(servers.Port("proxy_auth"));
    const struct {
        std::wstring Args;
        DWORD Code;
        const char* InAnswer;  // expected in the --output file
        const char* InOutput = "";
    } cases[] = {
        {L"--retry 2 " + servers.Url("http", L"/r?status=503"), 0, "check ok", "trying again in 2 s (attempt 3 of 3)"},
        {L"--retry 1 http://127.0.0.1:1/nothing-listens", 3, nullptr, "trying again in 1 s (attempt 2 of 2)"},
        {L"--fail " + servers.Url("http", L"/f?status=404"), 6, ""},
        {L"--fail " + servers.Url("http", L"/f?status=201"), 0, "check ok"},
        {L"--proxy http://127.0.0.1:" + std::to_wstring(servers.Port("proxy")) + L"/ " +
             servers.Url("http", L"/p?nolength=1"),
         0, "tinyproxy"},
        {L"--proxy " + proxyAuth + L" --proxy-user quill --proxy-password-env QF_PROXY_PASSWORD " +
             servers.Url("http", L"/pa?nolength=1"),
         0, "check ok"},
        {L"--proxy " + proxyAuth + L" --proxy-user quill --proxy-password-env QF_NO_SUCH_VARIABLE " +
             servers.Url("http", L"/pa"),
         2, nullptr},
        {L"--file \"f=" + semi + L"\" " + servers.Url("http", L"/s"), 0, "613b622e6c6f67"},  // hex of "a;b.log"
        {L"--field a=b " + servers.Url("http", L"/big?body=big:20000000"), 0, nullptr},
    };
    for (const auto& c : cases) {
        DeleteFileW(answer.c_str());
        std::string out;
        EXPECT_EQ(c.Code, Run(L"--output \"" + answer + L"\" " + c.Args, out)) << rtl::ToAnsi(c.Args) << "\n" << out;
        EXPECT_NE(std::string::npos, out.find(c.InOutput)) << out;
        if (c.InAnswer) {
            EXPECT_NE(std::string::npos, testutil::ReadFileBytes(answer).find(c.InAnswer)) << rtl::ToAnsi(c.Args);
        }
    }
    // The last answer, 20 MB, went to its file as it arrived: all of it.
    EXPECT_EQ(20000000u, testutil::ReadFileBytes(answer).size());
    SetEnvironmentVariableW(L"QF_PROXY_PASSWORD", nullptr);
}

TEST_F(CliTest, CtrlBreakCancelsTheTransfer_WineSkipsWhenConsoleEventsAreNotDelivered) {
    std::wstring file = dir.Path() + L"slow.bin";
    testhttp::WritePatternFile(file, 64u << 20, 22);
    std::wstring cmd = L"\"" + testutil::ExeFolder() + L"..\\..\\src\\tools\\httpupload.exe\" --file f=" + file + L" " +
                       servers.Url("http", L"/slow");
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                               &si, &pi));
    Sleep(1500);
    DWORD early = STILL_ACTIVE;
    GetExitCodeProcess(pi.hProcess, &early);
    BOOL sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pi.dwProcessId);
    DWORD sendError = GetLastError();
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    DWORD wait = WaitForSingleObject(pi.hProcess, !sent && wine ? 0 : 60000);
    DWORD code = ~0u;
    GetExitCodeProcess(pi.hProcess, &code);
    if (wait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(static_cast<DWORD>(STILL_ACTIVE), early) << "the upload ended before the break was sent";
    if (code != 4 && wine)
        GTEST_SKIP() << "Wine deviation: GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT) answered " << sent << " (error "
                     << sendError << "): the uploader was not cancelled (exit code " << code
                     << ", 259 = still running and ended by the test)";
    EXPECT_EQ(4u, code);
}

}  // namespace
