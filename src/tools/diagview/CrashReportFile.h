// Reading a crash report for display: the INI-style UTF-8 file the crash
// report filter writes ([System] keys, [Message], [Detail], [Log] and the
// closing sections), with the log split into call stack, registers, custom
// information, controls and system information. A damaged report is read as far as it goes and every
// problem is named; one that cannot be read at all says why.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace diagview {

struct TReportSection {
    std::wstring Header;  // "[Time]"
    std::vector<std::wstring> Lines;
};

struct TCrashReport {
    std::vector<std::pair<std::wstring, std::wstring>> System;  // key, value in file order
    std::wstring Message;
    std::wstring Detail;
    std::wstring CallStack;
    std::wstring Registers;
    std::wstring CustomInfo;
    std::wstring Controls;
    std::wstring SystemInfo;
    // The sections after [Log] (time, process, modules, threads, minidump) in
    // file order; reports of older versions have none.
    std::vector<TReportSection> Closing;
    // What is wrong with a report that could still be read.
    std::vector<std::wstring> Problems;

    // The value of a [System] key, or empty.
    std::wstring Value(const std::wstring& key) const;
    // The value of `key` in the closing section `header`, or empty.
    std::wstring SectionValue(const std::wstring& header, const std::wstring& key) const;
};

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
