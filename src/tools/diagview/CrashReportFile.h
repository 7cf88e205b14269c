// Reading a crash report file for display: the INI-style UTF-8 file the
// crash report filter writes, decoded and handed to the text reader
// (CrashReportText.h). A damaged report is read as far as it goes and every
// problem is named; one that cannot be read at all says why.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "diagview/CrashReportText.h"

namespace diagview {

using TReportSection = TBasicReportSection<std::wstring>;
using TCrashReport = TBasicCrashReport<std::wstring>;

// Larger files are not crash reports.
constexpr size_t cMaxReportBytes = 16u << 20;

// Parses the bytes of a report. False (with `error` saying why) when they are
// not a crash report at all; True otherwise, with `report.Problems` naming
// any damage.
bool ParseCrashReport(const std::string& bytes, TCrashReport& report, std::wstring& error);

// Reads and parses the file. False with `error` when it cannot be read or is
// not a crash report.
bool LoadCrashReport(const std::wstring& path, TCrashReport& report, std::wstring& error);

// The report as readable text with headings, CR LF line ends.
std::wstring FormatCrashReport(const TCrashReport& report);

// The report path of a command line "-c <path>" (the path may be quoted).
// False with `error` when the command line names no report.
bool ReportPathFromCommandLine(const std::vector<std::wstring>& args, std::wstring& path, std::wstring& error);

}  // namespace diagview
