// Turns mangled procedure names, as stored in the names table of TD32 debug
// information, into readable text: "@Sysutils@Exception@$bctr$qqrx20System@UnicodeString"
// becomes "Sysutils::Exception::Exception". Qualifiers are separated by "@",
// special members begin with "$", templates are enclosed in "%", type names
// carry a length prefix and basic types are single letters.
//
// Not reentrant: the working state and the scratch buffer are shared, so two
// threads must never unmangle at the same time.
#pragma once
#include <cstdint>
#include <string>

namespace crash {

// Result flags. The low byte is the kind of symbol.
enum : uint32_t {
    umKindMask = 0xFF,
    umFunction = 1,  // an argument list was decoded
    umConstructor = 2,
    umDestructor = 3,
    umOperator = 4,
    umConversion = 5,
    umData = 6,   // data, or a function whose arguments were not decoded
    umThunk = 7,  // "$vc"
    umTypeDescriptor = 8,
    umVirtualTable = 9,
    umVdThunk = 10,       // "$vsf", "$vsn"
    umDynamicThunk = 11,  // "$dc"
    umQualified = 0x100,
    umTemplate = 0x200,
    umVdFlag = 0x400,
    umFriendList = 0x800,
    umCatchTable = 0x1000,
    umDtorTable = 0x2000,
    umThrowList = 0x4000,
    umExcContext = 0x8000,
    umLinkProc = 0x10000,
    umBufferFull = 0x1000000,
    umTooLong = 0x2000000,
    umError = 0x4000000,
    umNotMangled = 0x80000000u,
};

// Largest output buffer, and the most arguments one list may hold. (The
// longest name read is mangled::kMaxNameChars, in crash/MangledNames.h.)
constexpr int kUnmangleMaxOutput = 8192;
constexpr int kUnmangleMaxArgs = 36;

// Unmangles the zero-terminated `source` into `dest` (`destSize` bytes,
// always terminated unless destSize is out of range). `qualifier` and
// `baseName` (may be null; sized like `dest`) receive the text before the last
// "::" and the last component when the parse succeeds. `decodeArgs` writes
// argument lists, calling conventions and return types. `isDelphi` is
// accepted for the caller's convenience and not used. Every failure answers
// umError; a name that is not mangled is copied with umNotMangled.
uint32_t Unmangle(const char* source, char* dest, int32_t destSize, char* qualifier, char* baseName, bool decodeArgs,
                  bool isDelphi);

// The readable form of a procedure name as the crash report shows it: a
// 2049-byte buffer, no argument list, whatever the result flags say.
std::string UnmangleName(const std::string& mangled, bool decodeArgs = false);

}  // namespace crash
