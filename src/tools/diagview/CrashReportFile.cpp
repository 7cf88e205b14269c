#include "diagview/CrashReportFile.h"

#include <algorithm>

#include "crash/CrashReportFormat.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace diagview {

namespace {

namespace fmt = crash::report;
using TLines = std::vector<std::wstring>;

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

// Lines ended by CR LF (a bare LF is accepted too); the text after the last
// line break is a line only when it is not empty.
TLines SplitLines(const std::wstring& text) {
    TLines lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Lines [from, to) joined with CR LF, without leading and trailing empty lines.
std::wstring Join(const TLines& lines, size_t from, size_t to) {
    while (from < to && lines[from].empty()) ++from;
    while (to > from && lines[to - 1].empty()) --to;
    std::wstring text;
    for (size_t i = from; i < to; ++i) {
        if (i > from) text += L"\r\n";
        text += lines[i];
    }
    return text;
}

size_t Find(const TLines& lines, size_t from, bool (*match)(const std::wstring&)) {
    for (size_t i = from; i < lines.size(); ++i)
        if (match(lines[i])) return i;
    return lines.size();
}

// The log holds, in this order: the call stack, the register dump (from
// "Main Thread ID" to the next empty line), the custom information (listed
// twice: once on its own and once at the head of the system text), the
// CONTROLS block and the SYSTEM INFO block.
void SplitLog(const TLines& log, TCrashReport& r) {
    const size_t n = log.size();
    const size_t regs = Find(log, 0, [](const std::wstring& l) { return l.starts_with(fmt::cRegistersHead); });
    const size_t afterRegs = regs < n ? regs : 0;
    const size_t controls = Find(log, afterRegs, [](const std::wstring& l) { return l == fmt::cControlsHeading; });
    const size_t sysInfo = Find(log, controls < n ? controls : afterRegs,
                                [](const std::wstring& l) { return l == fmt::cSystemInfoHeading; });
    const size_t blocks = std::min(controls, sysInfo);

    r.CallStack = Join(log, 0, std::min(regs, blocks));
    size_t customStart = std::min(regs, blocks);
    if (regs < blocks) {
        size_t regsEnd = regs;
        while (regsEnd < blocks && !log[regsEnd].empty()) ++regsEnd;
        r.Registers = Join(log, regs, regsEnd);
        customStart = regsEnd;
    } else {
        r.Problems.push_back(L"The log has no register dump.");
    }
    TLines custom;
    for (size_t i = customStart; i < blocks; ++i)
        if (!log[i].empty() && std::find(custom.begin(), custom.end(), log[i]) == custom.end()) custom.push_back(log[i]);
    r.CustomInfo = Join(custom, 0, custom.size());

    // A block starts after its heading and, when it is there, its underline.
    auto body = [&](size_t heading, const wchar_t* underline) {
        return heading + 1 < n && log[heading + 1] == underline ? heading + 2 : heading + 1;
    };
    if (controls < n)
        r.Controls = Join(log, body(controls, fmt::cControlsUnderline), sysInfo > controls ? sysInfo : n);
    else
        r.Problems.push_back(L"The log has no CONTROLS block.");
    if (sysInfo < n)
        r.SystemInfo = Join(log, body(sysInfo, fmt::cSystemInfoUnderline), n);
    else
        r.Problems.push_back(L"The log has no SYSTEM INFO block.");
}

}  // namespace

std::wstring TCrashReport::Value(const std::wstring& key) const {
    for (const auto& [k, v] : System)
        if (k == key) return v;
    return {};
}

std::wstring TCrashReport::SectionValue(const std::wstring& header, const std::wstring& key) const {
    for (const TReportSection& section : Closing)
        if (section.Header == header)
            for (const std::wstring& line : section.Lines)
                if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == L'=')
                    return line.substr(key.size() + 1);
    return {};
}

bool ParseCrashReport(const std::string& bytes, TCrashReport& report, std::wstring& error) {
    report = TCrashReport();
    if (bytes.empty()) {
        error = L"The file is empty.";
        return false;
    }
    const bool hasBom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    bool utf8 = true;
    const TLines lines = SplitLines(DecodeUtf8(hasBom ? bytes.substr(3) : bytes, utf8));

    size_t i = 0;
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i == lines.size() || lines[i] != fmt::cSystemSection) {
        error = L"The file does not start with a [System] section, so it is not a crash report.";
        return false;
    }
    if (!utf8) report.Problems.push_back(L"Some bytes are not UTF-8 text; they are shown as \uFFFD.");
    if (!hasBom) report.Problems.push_back(L"The byte-order mark is missing.");

    // Sections in their fixed order; each header ends the section before it.
    const wchar_t* const headers[] = {fmt::cMessageSection, fmt::cDetailSection, fmt::cLogSection};
    size_t sectionStart[3] = {lines.size(), lines.size(), lines.size()};
    size_t next = 0;
    for (size_t k = i + 1; k < lines.size() && next < 3; ++k)
        if (lines[k] == headers[next]) sectionStart[next++] = k;

    for (size_t k = i + 1; k < sectionStart[0] && k < lines.size(); ++k) {
        if (lines[k].empty()) continue;
        const size_t eq = lines[k].find(L'=');
        if (eq == std::wstring::npos || eq == 0)
            report.Problems.push_back(L"The [System] section holds a line that is not a key: \"" + lines[k] + L"\".");
        else
            report.System.emplace_back(lines[k].substr(0, eq), lines[k].substr(eq + 1));
    }
    for (const wchar_t* key : fmt::cSystemKeys) {
        bool found = false;
        for (const auto& kv : report.System) found = found || kv.first == key;
        if (!found) report.Problems.push_back(std::wstring(L"The [System] section has no ") + key + L" line.");
    }
    for (size_t s = 0; s < 3; ++s)
        if (sectionStart[s] == lines.size())
            report.Problems.push_back(std::wstring(L"The ") + headers[s] + L" section is missing: the report is incomplete.");

    auto sectionEnd = [&](size_t s) { return s + 1 < 3 ? std::min(sectionStart[s + 1], lines.size()) : lines.size(); };
    if (sectionStart[0] < lines.size()) report.Message = Join(lines, sectionStart[0] + 1, sectionEnd(0));
    if (sectionStart[1] < lines.size()) report.Detail = Join(lines, sectionStart[1] + 1, sectionEnd(1));
    if (sectionStart[2] < lines.size()) {
        // The log ends where the first closing section starts.
        auto isClosing = [](const std::wstring& line) {
            return std::find(std::begin(fmt::cClosingSections), std::end(fmt::cClosingSections), line) !=
                   std::end(fmt::cClosingSections);
        };
        size_t end = sectionStart[2] + 1;
        while (end < lines.size() && !isClosing(lines[end])) ++end;
        const TLines log(lines.begin() + static_cast<std::ptrdiff_t>(sectionStart[2] + 1),
                         lines.begin() + static_cast<std::ptrdiff_t>(end));
        SplitLog(log, report);
        for (size_t k = end; k < lines.size(); ++k) {
            if (isClosing(lines[k]))
                report.Closing.push_back({lines[k], {}});
            else if (!lines[k].empty())
                report.Closing.back().Lines.push_back(lines[k]);
        }
    }
    return true;
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
                Join(closing.Lines, 0, closing.Lines.size()));
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
