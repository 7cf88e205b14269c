#include "diagview/SendReport.h"

#include "crash/CrashReportFormat.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace diagview {

namespace {

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

TReportSendContents ReportSendContents(const std::wstring& reportPath, const TCrashReport& report) {
    TReportSendContents contents;
    const std::wstring crashId = report.Value(crash::report::cCrashIdKey);
    contents.Description = L"Crash report " + (crashId.empty() ? rtl::ExtractFileName(reportPath) : crashId);
    contents.Files.push_back(reportPath);
    const std::wstring minidump = crash::report::MinidumpPathFor(reportPath);
    if (IsFile(minidump)) contents.Files.push_back(minidump);

    // The Application key holds the program's file name; a path or an empty
    // value from a damaged report must not lead outside the report's folder.
    const std::wstring program = report.Value(crash::report::cApplicationKey);
    if (!program.empty() && program.find_first_of(L"\\/:") == std::wstring::npos) {
        const size_t dot = program.find_last_of(L'.');
        const std::wstring errorLog = rtl::ExtractFilePath(reportPath) + program.substr(0, dot) + L".errlog";
        if (!program.substr(0, dot).empty() && IsFile(errorLog)) contents.Files.push_back(errorLog);
    }
    return contents;
}

}  // namespace diagview
