// The multipart/form-data body of an upload from the engine's fields and
// files. The layout itself is in httpuploader_multipart_layout.h; the
// engine writes exactly these pieces and computes the announced content
// length from the same functions.
#pragma once
#include <string>

#include "http/httpuploader_model.h"
#include "http/httpuploader_multipart_layout.h"

namespace http::multipart {

// A boundary of three pseudo-random numbers (FormatBoundary): 39
// characters. The generator is seeded once per process.
std::string MakeBoundary();

// The file name without its folder: the text after the last '\', '/' or ':'.
std::wstring FileNameOf(const std::wstring& path);
// A name as it goes on the wire: UTF-8, with half a surrogate pair (which
// UTF-8 cannot carry) written as the percent-escaped bytes of its code unit.
std::string NameToUtf8(const std::wstring& name);

std::string FieldHeader(const std::string& boundary, const THTTPUploaderField& field);
// The file name (SendName, or PathName's without its folder) goes out in
// UTF-8 (NameToUtf8).
std::string FileHeader(const std::string& boundary, const THTTPUploaderFile& file);

}  // namespace http::multipart
