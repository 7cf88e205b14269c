#include "diagview/CrashReportText.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>
#include <string_view>

#include "crash/CrashReportFormat.h"

namespace diagview {

namespace {

namespace fmt = crash::report;

// Text of another character type, one code unit each (the format's texts
// and ours are within the Basic Multilingual Plane).
template <class S, class C>
S Str(const C* text, size_t n) {
    S s;
    s.reserve(n);
    for (size_t i = 0; i < n; ++i) s += static_cast<typename S::value_type>(text[i]);
    return s;
}
template <class S, class C>
S Str(const C* text) {
    return Str<S>(text, std::char_traits<C>::length(text));
}

// Lines ended by CR LF (a bare LF is accepted too); the text after the last
// line break is a line only when it is not empty.
template <class S>
std::vector<S> SplitLines(const S& text) {
    std::vector<S> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == S::npos) end = text.size();
        S line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

template <class S>
size_t Find(const std::vector<S>& lines, size_t from, const S& wanted, bool prefix) {
    for (size_t i = from; i < lines.size(); ++i)
        if (prefix ? lines[i].compare(0, wanted.size(), wanted) == 0 : lines[i] == wanted) return i;
    return lines.size();
}

// The log holds, in this order: the call stack, the register dump (from
// "Main Thread ID" to the next empty line), the custom information (listed
// twice: once on its own and once at the head of the system text), the
// CONTROLS block and the SYSTEM INFO block.
template <class S>
void SplitLog(const std::vector<S>& log, TBasicCrashReport<S>& r) {
    const size_t n = log.size();
    const size_t regs = Find(log, 0, Str<S>(fmt::cRegistersHead.data(), fmt::cRegistersHead.size()), true);
    const size_t afterRegs = regs < n ? regs : 0;
    const size_t controls = Find(log, afterRegs, Str<S>(fmt::cControlsHeading), false);
    const size_t sysInfo = Find(log, controls < n ? controls : afterRegs, Str<S>(fmt::cSystemInfoHeading), false);
    const size_t blocks = std::min(controls, sysInfo);

    r.CallStack = JoinLines(log, 0, std::min(regs, blocks));
    size_t customStart = std::min(regs, blocks);
    if (regs < blocks) {
        size_t regsEnd = regs;
        while (regsEnd < blocks && !log[regsEnd].empty()) ++regsEnd;
        r.Registers = JoinLines(log, regs, regsEnd);
        customStart = regsEnd;
    } else {
        r.Problems.push_back(Str<S>(u"The log has no register dump."));
    }
    std::vector<S> custom;
    for (size_t i = customStart; i < blocks; ++i)
        if (!log[i].empty() && std::find(custom.begin(), custom.end(), log[i]) == custom.end())
            custom.push_back(log[i]);
    r.CustomInfo = JoinLines(custom, 0, custom.size());

    // A block starts after its heading and, when it is there, its underline.
    auto body = [&](size_t heading, const wchar_t* underline) {
        return heading + 1 < n && log[heading + 1] == Str<S>(underline) ? heading + 2 : heading + 1;
    };
    if (controls < n)
        r.Controls = JoinLines(log, body(controls, fmt::cControlsUnderline), sysInfo > controls ? sysInfo : n);
    else
        r.Problems.push_back(Str<S>(u"The log has no CONTROLS block."));
    if (sysInfo < n)
        r.SystemInfo = JoinLines(log, body(sysInfo, fmt::cSystemInfoUnderline), n);
    else
        r.Problems.push_back(Str<S>(u"The log has no SYSTEM INFO block."));
}

}  // namespace

template <class S>
S JoinLines(const std::vector<S>& lines, size_t from, size_t to) {
    while (from < to && lines[from].empty()) ++from;
    while (to > from && lines[to - 1].empty()) --to;
    S text;
    for (size_t i = from; i < to; ++i) {
        if (i > from) text += Str<S>(u"\r\n");
        text += lines[i];
    }
    return text;
}

template <class S>
S TBasicCrashReport<S>::Value(const S& key) const {
    for (const auto& [k, v] : System)
        if (k == key) return v;
    return {};
}

template <class S>
S TBasicCrashReport<S>::SectionValue(const S& header, const S& key) const {
    for (const TBasicReportSection<S>& section : Closing)
        if (section.Header == header)
            for (const S& line : section.Lines)
                if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == u'=')
                    return line.substr(key.size() + 1);
    return {};
}

template <class S>
bool ParseCrashReportText(const S& text, bool hasBom, bool utf8, TBasicCrashReport<S>& report, S& error) {
    report = TBasicCrashReport<S>();
    const std::vector<S> lines = SplitLines(text);

    size_t i = 0;
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i == lines.size() || lines[i] != Str<S>(fmt::cSystemSection)) {
        error = Str<S>(u"The file does not start with a [System] section, so it is not a crash report.");
        return false;
    }
    if (!utf8) report.Problems.push_back(Str<S>(u"Some bytes are not UTF-8 text; they are shown as \uFFFD."));
    if (!hasBom) report.Problems.push_back(Str<S>(u"The byte-order mark is missing."));

    // Sections in their fixed order; each header ends the section before it.
    const S headers[] = {Str<S>(fmt::cMessageSection), Str<S>(fmt::cDetailSection), Str<S>(fmt::cLogSection)};
    size_t sectionStart[3] = {lines.size(), lines.size(), lines.size()};
    size_t next = 0;
    for (size_t k = i + 1; k < lines.size() && next < 3; ++k)
        if (lines[k] == headers[next]) sectionStart[next++] = k;

    for (size_t k = i + 1; k < sectionStart[0] && k < lines.size(); ++k) {
        if (lines[k].empty()) continue;
        const size_t eq = lines[k].find(u'=');
        if (eq == S::npos || eq == 0)
            report.Problems.push_back(Str<S>(u"The [System] section holds a line that is not a key: \"") + lines[k] +
                                      Str<S>(u"\"."));
        else
            report.System.emplace_back(lines[k].substr(0, eq), lines[k].substr(eq + 1));
    }
    for (const wchar_t* key : fmt::cSystemKeys) {
        bool found = false;
        for (const auto& kv : report.System) found = found || kv.first == Str<S>(key);
        if (!found)
            report.Problems.push_back(Str<S>(u"The [System] section has no ") + Str<S>(key) + Str<S>(u" line."));
    }
    for (size_t s = 0; s < 3; ++s)
        if (sectionStart[s] == lines.size())
            report.Problems.push_back(Str<S>(u"The ") + headers[s] +
                                      Str<S>(u" section is missing: the report is incomplete."));

    auto sectionEnd = [&](size_t s) { return s + 1 < 3 ? std::min(sectionStart[s + 1], lines.size()) : lines.size(); };
    if (sectionStart[0] < lines.size()) report.Message = JoinLines(lines, sectionStart[0] + 1, sectionEnd(0));
    if (sectionStart[1] < lines.size()) report.Detail = JoinLines(lines, sectionStart[1] + 1, sectionEnd(1));
    if (sectionStart[2] < lines.size()) {
        // The log ends where the first closing section starts.
        std::vector<S> closing;
        for (const wchar_t* header : fmt::cClosingSections) closing.push_back(Str<S>(header));
        auto isClosing = [&](const S& line) {
            return std::find(closing.begin(), closing.end(), line) != closing.end();
        };
        size_t end = sectionStart[2] + 1;
        while (end < lines.size() && !isClosing(lines[end])) ++end;
        const std::vector<S> log(lines.begin() + static_cast<std::ptrdiff_t>(sectionStart[2] + 1),
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

// Windows text, where wide characters are UTF-16 code units, and the build machine's.
#define QF_INSTANTIATE_REPORT_TEXT(S)                                                       \
    template struct TBasicCrashReport<S>;                                                   \
    template bool ParseCrashReportText<S>(const S&, bool, bool, TBasicCrashReport<S>&, S&); \
    template S JoinLines<S>(const std::vector<S>&, size_t, size_t);
#if WCHAR_MAX == 0xFFFF
QF_INSTANTIATE_REPORT_TEXT(std::wstring)
#endif
QF_INSTANTIATE_REPORT_TEXT(std::u16string)

}  // namespace diagview
