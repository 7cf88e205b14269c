// The byte layout of a multipart/form-data body (RFC 7578): boundary, part
// header lines and closing line. The engine writes exactly these pieces and
// computes the announced content length from the same functions.
#pragma once
#include <string>

#include "http/httpuploader_model.h"

namespace http::multipart {

// 27 hyphens and three pseudo-random numbers 0..65535 as four upper-case hex
// digits each: 39 characters. The generator is seeded once per process.
std::string MakeBoundary();

// A name inside a quoted header parameter: '"', CR and LF are written as
// %22, %0D and %0A, as browsers do for form data, so a name cannot end the
// quoted string or start a header line of its own. Other bytes go out as
// they are.
std::string EscapeQuoted(const std::string& name);

// The file name without its folder: the text after the last '\', '/' or ':'.
std::wstring FileNameOf(const std::wstring& path);
// A name as it goes on the wire: UTF-8, with half a surrogate pair (which
// UTF-8 cannot carry) written as the percent-escaped bytes of its code unit.
std::string NameToUtf8(const std::wstring& name);

// "--B" CRLF, the Content-Disposition line, CRLF (the value follows).
std::string FieldHeader(const std::string& boundary, const THTTPUploaderField& field);
// "--B" CRLF, Content-Disposition with the file name, Content-Type, CRLF.
std::string FileHeader(const std::string& boundary, const THTTPUploaderFile& file);
// "--B--" CRLF, after the last part.
std::string ClosingLine(const std::string& boundary);

inline constexpr char kCRLF[] = "\r\n";

}  // namespace http::multipart
