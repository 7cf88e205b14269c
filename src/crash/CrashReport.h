// The pieces of a crash report: the texts the crash report filter composes
// (custom-information line, location message, control dump, system
// information, drives, memory), the crash identifier, the UTF-8 report file,
// the event-log entry and the start of the external diagnostics program.
// Kept apart from the filter so that each piece can be built and checked on
// its own, from given lists and system records.
#pragma once
#include <cstdint>
#include <string>

#include "rtl/StringList.h"
#include "rtl/Win.h"

namespace rtl {
class TWinControl;
class TForm;
}  // namespace rtl

namespace crash {

struct TExceptionMessageInfo;
struct TExceptionRecord;

// --- message step ---

// "<message> (<source file as recorded>, <line>)".
std::wstring CustomInfoLine(const TExceptionMessageInfo& info);

// The message with the source location: class, module and address, the
// exception's own message, then module, source, line and procedure.
std::wstring LocationMessage(const std::wstring& className, const TExceptionMessageInfo& info);

// --- system text ---

// One line per windowed control, two blanks of indentation per level:
// name (or "<unnamed>"), ": ", class name, the window text in double quotes
// when there is one, and "(ControlActive)" or "(FormActive)" for the focused
// control and the active form. An exception while one control is described
// becomes a line with its message; the walk goes on with the next control.
void DumpControl(rtl::TStringList& out, const rtl::TWinControl& control, int level,
                 const rtl::TWinControl* activeControl, const rtl::TForm* activeForm);

// Every form of the screen, in creation order, at level 0. An error that the
// per-control handling does not absorb ends the dump; lines so far stay.
void DumpForms(rtl::TStringList& out);

// The "SYSTEM INFO" block (preceded by an empty line) for a version record.
void AddSystemInfo(rtl::TStringList& out, const OSVERSIONINFOW& version);
// The same for the running system.
void AddSystemInfo(rtl::TStringList& out);

// The drive queries the drive lines are made from; the system's by default.
struct TDriveQueries {
    DWORD(WINAPI* LogicalDriveStrings)(DWORD length, wchar_t* buffer);
    UINT(WINAPI* DriveType)(const wchar_t* root);
    BOOL(WINAPI* DiskFreeSpace)
    (const wchar_t* root, ULARGE_INTEGER* availableToCaller, ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree);
};
const TDriveQueries& SystemDriveQueries();

// Three lines (quota free, total, total free, in megabytes) per fixed drive
// whose free space can be read. Other drives are left out; an error ends the
// list silently.
void AddDriveInfo(rtl::TStringList& out, const TDriveQueries& queries = SystemDriveQueries());

// The memory lines: load in percent, then the six counters in megabytes.
// The extended query: the plain one caps every figure near 4 GB.
void AddMemoryInfo(rtl::TStringList& out, const MEMORYSTATUSEX& status);
void AddMemoryInfo(rtl::TStringList& out);

// --- report ---

// The code address an exception was raised at: the raise site for runtime
// exceptions, the faulting instruction otherwise.
uint32_t ExceptionAddressOf(const TExceptionRecord& record);

// <program file>_<version>_<address as 8 hex digits>_<class name>.
std::wstring CrashId(const std::wstring& programFileName, const std::wstring& version, uint32_t address,
                     const std::wstring& className);

// The event-log text and the log part of the report.
std::wstring EventText(const std::wstring& message, const std::wstring& detailText, const std::wstring& callStackText,
                       const std::wstring& registersText, const std::wstring& customInfoText,
                       const std::wstring& systemText);
std::wstring LogText(const std::wstring& callStackText, const std::wstring& registersText,
                     const std::wstring& customInfoText, const std::wstring& systemText);

struct TCrashReportTexts {
    std::wstring Title;  // the application's title
    std::wstring CrashId;
    std::wstring Application;  // the program file name
    std::wstring Version;
    std::wstring Message;
    std::wstring DetailText;
    std::wstring LogText;
    rtl::TStringList ClosingSections;  // after [Log], line by line
};

// The report's lines: [System] with its five keys, [Message], [Detail] and
// [Log]; the multi-line texts are single items whose line breaks stay. Then
// the closing sections.
rtl::TStringList CrashReportLines(const TCrashReportTexts& texts);

// The [Minidump] section: the file name of the minidump beside the report,
// or, when `fileName` is empty, why there is none.
void AddMinidumpSection(rtl::TStringList& out, const std::wstring& fileName, const std::wstring& error);

// The sections after [Log] of the report at `reportPath`: the process's
// facts (CrashFacts.h), then the minidump, written beside the report for the
// exception `record`/`context` of thread `failingThreadId` (which is not the
// calling thread when a stack overflow is reported from a fresh one), or
// why it is not.
rtl::TStringList ClosingSections(const std::wstring& reportPath, const TExceptionRecord& record, const CONTEXT& context,
                                 DWORD failingThreadId);

// Writes the lines as UTF-8 with byte-order mark, each ended by CR LF,
// creating or overwriting the file. Raises EInOutError when the file cannot
// be created or written.
void SaveUtf8Lines(const std::wstring& path, const rtl::TStringList& lines);

// The name of the running program without its folder.
std::wstring ProgramFileName();

// Writes `text` as the single insertion string of an error entry (category
// 1, event 1) of the Application log under the source `source`.
void WriteEventLog(const std::wstring& source, const std::wstring& text);

// --- the diagnostics program ---

// <common program files>Quillfen\Orvex Engine 9.0\ (with trailing backslash).
std::wstring DiagViewFolder();
constexpr wchar_t cDiagViewFileName[] = L"diagview.exe";

// The parameters it is started with: -c "<report path>".
std::wstring DiagViewParameters(const std::wstring& reportPath);

// Starts the diagnostics program on the report. False when the shell could
// not start it; the reason is left in the thread's last error.
bool LaunchDiagView(const std::wstring& reportPath);

// The text of the message box shown when the diagnostics program cannot be
// started: names the report file so that the user can send it by hand.
std::wstring FatalErrorText(const std::wstring& applicationTitle, const std::wstring& systemMessage,
                            const std::wstring& reportPath);
// The message when neither the crash report nor the error log could be
// written: the reason and the exception's own message.
std::wstring UnsavedReportText(const std::wstring& applicationTitle, const std::wstring& reason,
                               const std::wstring& exceptionMessage);

// The address the fatal-error text asks the user to write to.
constexpr wchar_t cSupportAddress[] = L"support@quillfen.com";

}  // namespace crash
