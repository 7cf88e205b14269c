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

// The file name without its folder: the text after the last '\' or ':'.
std::wstring FileNameOf(const std::wstring& path);

std::string FieldHeader(const std::string& boundary, const THTTPUploaderField& field);
// The file name goes out in the ANSI code page.
std::string FileHeader(const std::string& boundary, const THTTPUploaderFile& file);

}  // namespace http::multipart
