#include "diagview/SendReport.h"

#include "crash/CrashReportFormat.h"
#include "env/DiagPaths.h"
#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Win.h"
#include "support/SupportUpload.h"

namespace diagview {

TReportSendContents ReportSendContents(const std::wstring& reportPath, const TCrashReport& report) {
    TReportSendContents contents;
    const std::wstring crashId = report.Value(crash::report::cCrashIdKey);
    contents.Description = L"Crash report " + (crashId.empty() ? rtl::ExtractFileName(reportPath) : crashId);
    contents.Files.push_back(reportPath);
    const std::wstring minidump = crash::report::MinidumpPathFor(reportPath);
    if (rtl::FileExists(minidump)) contents.Files.push_back(minidump);

    // The Application key holds the program's file name; a path or an empty
    // value from a damaged report must not lead outside the report's folder.
    const std::wstring program = report.Value(crash::report::cApplicationKey);
    if (!program.empty() && program.find_first_of(L"\\/:") == std::wstring::npos) {
        const std::wstring errorLog = env::ErrorLogFileName(rtl::ExtractFilePath(reportPath), program);
        const bool namesAProgram = program.find_last_of(L'.') != 0;  // not only an extension
        if (namesAProgram && rtl::FileExists(errorLog)) contents.Files.push_back(errorLog);
    }
    return contents;
}

std::wstring DescribeFiles(const std::vector<std::wstring>& files) {
    std::wstring text;
    for (const std::wstring& path : files) {
        if (!text.empty()) text += L"\r\n";
        WIN32_FILE_ATTRIBUTE_DATA data;
        text += rtl::ExtractFileName(path);
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            text += L"  (" +
                    support::FormatByteSize((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) +
                    L")";
        else
            text += L"  (cannot be read: " + rtl::SysErrorMessage(GetLastError()) + L")";
    }
    return text;
}

std::wstring PackageDescription(const TReportSendContents& contents, const std::wstring& userText) {
    size_t end = userText.find_last_not_of(L" \t\r\n");
    if (end == std::wstring::npos) return contents.Description;
    return contents.Description + L"\r\n\r\n" + userText.substr(0, end + 1);
}

}  // namespace diagview
