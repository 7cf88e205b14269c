// How each chosen file goes to support. A text log (a type sent as
// text/plain) larger than kCompressAbove goes as "NAME.zip", a zip archive
// holding it, when that archive is smaller than the log: logs compress to a
// fraction of their size, and the upload takes that much less time. The
// archive is written to a temporary file that lives as long as the
// TUploadFiles. Everything else goes as it is, and so does a log that
// cannot be read or is too large for a zip archive: the upload then
// reports it as it reports any file it cannot send.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "env/TempFile.h"

namespace support {

// Smaller logs gain too little to be worth an archive.
constexpr uint64_t kCompressAbove = 64 * 1024;

// "text/plain" for .txt .log .errlog .ini .csv, "text/xml", "application/zip",
// else "application/octet-stream".
std::string ContentTypeOf(const std::wstring& path);
// Whether a file of this name and size is compressed when the archive
// comes out smaller.
bool MayGoCompressed(const std::wstring& path, uint64_t size);

struct TUploadFile {
    std::wstring Path;      // what is read: the user's file or its archive
    std::wstring SendName;  // the file name the part carries
    std::string ContentType;
    uint64_t Size = 0;          // bytes sent (as announced when prepared)
    uint64_t OriginalSize = 0;  // bytes of the user's file
    bool Compressed = false;
};

// Called while an archive is written: the file's name, bytes read, its size.
// May raise to stop (a cancel); the archives written so far are deleted.
using TCompressProgress = std::function<void(const std::wstring& name, uint64_t read, uint64_t size)>;

class TUploadFiles {
public:
    explicit TUploadFiles(const std::vector<std::wstring>& paths, const TCompressProgress& onProgress = {});

    const std::vector<TUploadFile>& Files() const { return FFiles; }
    bool AnyCompressed() const;
    uint64_t Size() const;          // bytes of the files as sent
    uint64_t OriginalSize() const;  // bytes of the user's files

private:
    std::vector<TUploadFile> FFiles;
    std::vector<env::TTempFile> FArchives;  // deleted with this object
};

}  // namespace support
