// Reading the text of a crash report: the [System] keys, [Message],
// [Detail], [Log] and the closing sections, with the log split into call
// stack, registers, custom information, controls and system information. A
// damaged report is read as far as it goes and every problem is named.
//
// Includes no operating system header: the text is UTF-16 code units in any
// string type of them, std::wstring on Windows and std::u16string where the
// build machine fuzzes the reader.
#pragma once
#include <cstddef>
#include <utility>
#include <vector>

namespace diagview {

template <class S>
struct TBasicReportSection {
    S Header;  // "[Time]"
    std::vector<S> Lines;
};

template <class S>
struct TBasicCrashReport {
    std::vector<std::pair<S, S>> System;  // key, value in file order
    S Message;
    S Detail;
    S CallStack;
    S Registers;
    S CustomInfo;
    S Controls;
    S SystemInfo;
    // The sections after [Log] (time, process, modules, threads, minidump) in
    // file order; reports of older versions have none.
    std::vector<TBasicReportSection<S>> Closing;
    // What is wrong with a report that could still be read.
    std::vector<S> Problems;

    // The value of a [System] key, or empty.
    S Value(const S& key) const;
    // The value of `key` in the closing section `header`, or empty.
    S SectionValue(const S& header, const S& key) const;
};

// Parses the text of a report decoded from its bytes: `hasBom` when they
// began with the UTF-8 byte-order mark (not part of `text`), `utf8` when
// every byte was UTF-8. False (with `error` saying why) when the text is not
// a crash report at all; true otherwise, with `report.Problems` naming any
// damage.
template <class S>
bool ParseCrashReportText(const S& text, bool hasBom, bool utf8, TBasicCrashReport<S>& report, S& error);

// Lines [from, to) joined with CR LF, without leading and trailing empty lines.
template <class S>
S JoinLines(const std::vector<S>& lines, size_t from, size_t to);

}  // namespace diagview
