#include "diagview/CrashReportFile.h"

#include <algorithm>

#include "crash/CrashReportFormat.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace diagview {

namespace {

namespace fmt = crash::report;

// UTF-8 to text; bytes that are not UTF-8 become U+FFFD and are reported.
std::wstring DecodeUtf8(const std::string& bytes, bool& valid) {
    valid = true;
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    DWORD flags = MB_ERR_INVALID_CHARS;
    if (n <= 0) {
        valid = false;
        flags = 0;
        n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
    }
    std::wstring text(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, flags, bytes.data(), size, text.data(), n);
    return text;
}

}  // namespace

bool ParseCrashReport(const std::string& bytes, TCrashReport& report, std::wstring& error) {
    report = TCrashReport();
    if (bytes.empty()) {
        error = L"The file is empty.";
        return false;
    }
    const bool hasBom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    bool utf8 = true;
    const std::wstring text = DecodeUtf8(hasBom ? bytes.substr(3) : bytes, utf8);
    return ParseCrashReportText(text, hasBom, utf8, report, error);
}

bool LoadCrashReport(const std::wstring& path, TCrashReport& report, std::wstring& error) {
    report = TCrashReport();
    rtl::ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = L"The crash report cannot be opened: " + rtl::SysErrorMessage(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) {
        error = L"The size of the crash report cannot be read: " + rtl::SysErrorMessage(GetLastError());
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > cMaxReportBytes) {
        error = L"The file is too large to be a crash report (" + std::to_wstring(size.QuadPart) + L" bytes).";
        return false;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        error = L"The crash report cannot be read: " + rtl::SysErrorMessage(GetLastError());
        return false;
    }
    return ParseCrashReport(bytes, report, error);
}

std::wstring FormatCrashReport(const TCrashReport& r) {
    std::wstring text;
    auto line = [&](const std::wstring& s) { text += s + L"\r\n"; };
    auto section = [&](const wchar_t* heading, const std::wstring& body) {
        line(L"");
        line(heading);
        line(std::wstring(wcslen(heading), L'-'));
        line(body.empty() ? L"(not in the report)" : body);
    };
    line(L"Program:   " + r.Value(fmt::cTitleKey) + L" (" + r.Value(fmt::cApplicationKey) + L", version " +
         r.Value(fmt::cVersionKey) + L")");
    line(L"Crash ID:  " + r.Value(fmt::cCrashIdKey));
    line(L"Product:   " + r.Value(fmt::cProductIdKey));
    if (!r.Problems.empty()) {
        line(L"");
        line(L"This report is damaged:");
        for (const std::wstring& p : r.Problems) line(L"  - " + p);
    }
    section(L"Message", r.Message);
    if (!r.Detail.empty()) section(L"Detail", r.Detail);
    section(L"Call stack", r.CallStack);
    section(L"Registers", r.Registers);
    section(L"Additional information", r.CustomInfo);
    section(L"Windows and controls", r.Controls);
    section(L"System information", r.SystemInfo);
    for (const TReportSection& closing : r.Closing)
        section(closing.Header.substr(1, closing.Header.size() - 2).c_str(),
                JoinLines(closing.Lines, 0, closing.Lines.size()));
    return text;
}

bool ReportPathFromCommandLine(const std::vector<std::wstring>& args, std::wstring& path, std::wstring& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != L"-c" && args[i] != L"/c") continue;
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = L"The option -c needs the path of a crash report.";
            return false;
        }
        path = args[i + 1];
        return true;
    }
    error = L"No crash report was given. Start the program as: diagview -c \"report path\"";
    return false;
}

}  // namespace diagview
