// A crash report file as diagview reads it, from any text: the reader
// answers a report (with its problems named) or a reason, and what it
// answers is consistent with the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crash/CrashReportFormat.h"
#include "diagview/CrashReportText.h"

namespace {

using S = std::u16string;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "crash report: %s\n", what);
        std::abort();
    }
}

S Str(const wchar_t* w) { return S(w, w + std::char_traits<wchar_t>::length(w)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // First byte: byte-order mark and UTF-8 validity; then the text, one
    // code unit per byte (0xFF stands for U+FFFD).
    const bool hasBom = data[0] & 1, utf8 = data[0] & 2;
    S text;
    for (size_t i = 1; i < size; ++i) text += data[i] == 0xFF ? u'\uFFFD' : static_cast<char16_t>(data[i]);

    diagview::TBasicCrashReport<S> report;
    S error;
    if (!diagview::ParseCrashReportText(text, hasBom, utf8, report, error)) {
        Check(!error.empty(), "refused without a reason");
        return 0;
    }
    Check(text.find(Str(crash::report::cSystemSection)) != S::npos, "a report without [System]");
    Check(hasBom || !report.Problems.empty(), "missing byte-order mark not named");
    Check(utf8 || !report.Problems.empty(), "bad bytes not named");
    for (const auto& [key, value] : report.System) {
        Check(!key.empty() && key.find(u'=') == S::npos, "empty key or key holding '='");
        Check(report.Value(key).size() <= text.size(), "value longer than the text");
    }
    for (const auto& section : report.Closing) {
        bool known = false;
        for (const wchar_t* header : crash::report::cClosingSections) known = known || section.Header == Str(header);
        Check(known, "closing section with an unknown header");
        for (const S& line : section.Lines) {
            Check(!line.empty(), "empty line kept in a closing section");
            size_t eq = line.find(u'=');
            if (eq != S::npos && eq > 0) (void)report.SectionValue(section.Header, line.substr(0, eq));
        }
    }
    for (const S* part : {&report.Message, &report.Detail, &report.CallStack, &report.Registers, &report.CustomInfo,
                          &report.Controls, &report.SystemInfo})
        Check(part->size() <= text.size() + text.size(), "a part longer than the text allows");
    return 0;
}
