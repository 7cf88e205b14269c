// What the crash report viewer sends to support for a report, and how it
// shows the server's answer. Kept apart from the window so it can be tested
// without one.
#pragma once
#include <string>
#include <vector>

#include "diagview/CrashReportFile.h"

namespace diagview {

struct TReportSendContents {
    std::wstring Description;         // "Crash report <CrashID>"
    std::vector<std::wstring> Files;  // the report, then the minidump and the error log when they exist
};

// The report file itself, the minidump written with it (named like the
// report) when it is there and, when one lies beside it, the crashed program's
// error log (<program name without extension>.errlog, named by the report's
// Application key). The description names the crash identifier, or the
// report's file name when a damaged report has none.
TReportSendContents ReportSendContents(const std::wstring& reportPath, const TCrashReport& report);

// One line per file as it stands now: its name and size, or that it cannot
// be read (it is then left out of the upload by the sender's own check).
std::wstring DescribeFiles(const std::vector<std::wstring>& files);

// The description sent: the report's (which names the crash) and, when the
// user wrote one, theirs after an empty line.
std::wstring PackageDescription(const TReportSendContents& contents, const std::wstring& userText);

}  // namespace diagview
