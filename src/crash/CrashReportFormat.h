// The layout of a crash report file, in one place for the crash report
// filter that writes it and the diagnostics program that reads it: the
// section headers in file order, the keys of [System] and the markers that
// divide the log into its blocks. Header only, so that a reader needs no
// part of the crash facility to use it.
#pragma once
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
inline constexpr const wchar_t* cSystemKeys[] = {cTitleKey, cCrashIdKey, cApplicationKey, cProductIdKey,
                                                 cVersionKey};
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

}  // namespace crash::report
