#include "http/httpuploader_multipart.h"

#include <ctime>
#include <random>

#include "rtl/Text.h"
#include "rtl/Win.h"

namespace http::multipart {

namespace {

// Seeded from the clock when the process starts.
std::mt19937& Generator() {
    static std::mt19937 generator(static_cast<unsigned>(GetTickCount()) ^ static_cast<unsigned>(time(nullptr)) ^
                                  (GetCurrentProcessId() << 16));
    return generator;
}
[[maybe_unused]] const bool kSeededAtStart = (Generator(), true);

}  // namespace

std::string MakeBoundary() {
    std::uniform_int_distribution<unsigned> number(0, 65535);
    unsigned a = number(Generator()), b = number(Generator()), c = number(Generator());
    return FormatBoundary(a, b, c);
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\:");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::string FieldHeader(const std::string& boundary, const THTTPUploaderField& field) {
    return FieldHeader(boundary, field.Name);
}

std::string FileHeader(const std::string& boundary, const THTTPUploaderFile& file) {
    return FileHeader(boundary, file.FieldName, rtl::ToAnsi(FileNameOf(file.PathName)), file.ContentType);
}

}  // namespace http::multipart
