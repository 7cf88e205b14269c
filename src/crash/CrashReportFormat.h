// The layout of a crash report file, in one place for the crash report
// filter that writes it and the diagnostics program that reads it: the
// section headers in file order, the keys of [System] and the markers that
// divide the log into its blocks. Header only, so that a reader needs no
// part of the crash facility to use it.
#pragma once
#include <string>
#include <string_view>

namespace crash::report {

// --- sections, in file order ---
inline constexpr wchar_t cSystemSection[] = L"[System]";
inline constexpr wchar_t cMessageSection[] = L"[Message]";
inline constexpr wchar_t cDetailSection[] = L"[Detail]";
inline constexpr wchar_t cLogSection[] = L"[Log]";

// --- keys of [System], in file order ---
inline constexpr wchar_t cTitleKey[] = L"Title";
inline constexpr wchar_t cCrashIdKey[] = L"CrashID";
inline constexpr wchar_t cApplicationKey[] = L"Application";
inline constexpr wchar_t cProductIdKey[] = L"ProductID";
inline constexpr wchar_t cVersionKey[] = L"Version";
inline constexpr const wchar_t* cSystemKeys[] = {cTitleKey, cCrashIdKey, cApplicationKey, cProductIdKey, cVersionKey};
// The one value ProductID has.
inline constexpr wchar_t cProductId[] = L"1";

// --- blocks of [Log] ---
// The log is the call stack, the register dump, the custom information and
// the system text. The register dump's first line is this format; readers
// find the dump by the text before its first field.
inline constexpr wchar_t cRegistersHeadFormat[] = L"Main Thread ID = %.8X, Current Thread ID = %.8X";
inline constexpr std::wstring_view cRegistersHead = L"Main Thread ID =";
static_assert(std::wstring_view(cRegistersHeadFormat).starts_with(cRegistersHead));
// The system text's two blocks, each a heading line and its underline.
inline constexpr wchar_t cControlsHeading[] = L"CONTROLS";
inline constexpr wchar_t cControlsUnderline[] = L"========";
inline constexpr wchar_t cSystemInfoHeading[] = L"SYSTEM INFO";
inline constexpr wchar_t cSystemInfoUnderline[] = L"===========";

// --- sections after [Log], in file order (reports of older versions end with [Log]) ---
// The crash time: "yyyy-mm-dd hh:nn:ss.zzz", the local one followed by " UTC+hh:mm".
inline constexpr wchar_t cTimeSection[] = L"[Time]";
inline constexpr wchar_t cUtcKey[] = L"UTC";
inline constexpr wchar_t cLocalKey[] = L"Local";
// The process: id, command line, memory in KB (" KB" follows the figure), handles.
inline constexpr wchar_t cProcessSection[] = L"[Process]";
inline constexpr wchar_t cProcessIdKey[] = L"ProcessID";
inline constexpr wchar_t cCommandLineKey[] = L"CommandLine";
inline constexpr wchar_t cWorkingSetKey[] = L"WorkingSet";
inline constexpr wchar_t cPeakWorkingSetKey[] = L"PeakWorkingSet";
inline constexpr wchar_t cPrivateBytesKey[] = L"PrivateBytes";
inline constexpr wchar_t cHandleCountKey[] = L"HandleCount";
// A figure the system could not tell. A running process never has no memory
// or no handles, so 0 from a query means it does not know either (Wine 8
// answers every handle-count query with 0).
inline constexpr wchar_t cUnknown[] = L"unknown";
// One line per loaded module: base and size as eight hexadecimal digits, the
// file version (cNoVersion when there is none) and the path, blank-separated.
inline constexpr wchar_t cModulesSection[] = L"[Modules]";
inline constexpr wchar_t cNoVersion[] = L"-";
// One line per thread: its id as eight hexadecimal digits; the failing one
// is followed by cFailingMark.
inline constexpr wchar_t cThreadsSection[] = L"[Threads]";
inline constexpr wchar_t cFailingMark[] = L" (failing)";
// The minidump written beside the report: its file name, or why there is none.
inline constexpr wchar_t cMinidumpSection[] = L"[Minidump]";
inline constexpr wchar_t cMinidumpFileKey[] = L"File";
inline constexpr wchar_t cMinidumpErrorKey[] = L"Error";

// Every header a report can have after [Log].
inline constexpr const wchar_t* cClosingSections[] = {cTimeSection, cProcessSection, cModulesSection, cThreadsSection,
                                                      cMinidumpSection};

// The minidump is named like the report, with this extension in place of the report's.
inline constexpr wchar_t cMinidumpExtension[] = L".dmp";
inline std::wstring MinidumpPathFor(const std::wstring& reportPath) {
    const size_t slash = reportPath.find_last_of(L"\\/:");
    const size_t dot = reportPath.find_last_of(L'.');
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    return (hasExtension ? reportPath.substr(0, dot) : reportPath) + cMinidumpExtension;
}

}  // namespace crash::report
