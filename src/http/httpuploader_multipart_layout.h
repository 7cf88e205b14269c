// The bytes of a multipart/form-data body (RFC 7578) from plain text: part
// header lines, boundary and closing line. No operating system header: the
// build machine fuzzes the layout by reading back what it writes.
//
//   "--" boundary CRLF  header lines  CRLF  content CRLF   (one per part)
//   "--" boundary "--" CRLF                                (after the last)
#pragma once
#include <string>

namespace http::multipart {

inline constexpr char kCRLF[] = "\r\n";

// 27 hyphens and three numbers 0..65535 as four upper-case hex digits each.
std::string FormatBoundary(unsigned a, unsigned b, unsigned c);

// A name inside a quoted header parameter: '"', CR and LF are written as
// %22, %0D and %0A, as browsers do for form data, so a name cannot end the
// quoted string or start a header line of its own. Other bytes go out as
// they are.
std::string EscapeQuoted(const std::string& name);

// "--B" CRLF, the Content-Disposition line, CRLF (the value follows).
std::string FieldHeader(const std::string& boundary, const std::string& name);
// "--B" CRLF, Content-Disposition with the file name (as bytes), Content-Type, CRLF.
std::string FileHeader(const std::string& boundary, const std::string& fieldName, const std::string& fileName,
                       const std::string& contentType);
// "--B--" CRLF, after the last part.
std::string ClosingLine(const std::string& boundary);

}  // namespace http::multipart
