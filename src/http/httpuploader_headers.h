// Reading the header block of a server's answer (raw bytes, lines ended by
// CR LF, LF or CR). Includes no operating system header: the build machine
// fuzzes it.
#pragma once
#include <string>

namespace http {

// The first line of `headers` that begins with `start` (compared without
// regard to case), trimmed; false when none does.
bool FindHeaderLine(const std::string& headers, const char* start, std::string& line);

// The file name suggested by a Content-Disposition header in `headers`, or
// false when the block has no such header or it names no usable file. The
// name keeps only its last path component and loses the bytes no file name
// may hold (controls and "*<>?|).
bool ParseContentDispositionFilename(const std::string& headers, std::string& fileName);

}  // namespace http
