// How each chosen file goes to support.
#pragma once
#include <string>

namespace app {

// "text/plain" for .txt .log .errlog .ini .csv, "text/xml", "application/zip",
// else "application/octet-stream".
std::string ContentTypeOf(const std::wstring& path);

}  // namespace app
