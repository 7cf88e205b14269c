#include "support/UploadFiles.h"

#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Try.h"
#include "support/ZipFile.h"

namespace support {

namespace {

uint64_t SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Writes the archive of `file` and takes it when it is smaller. The user's
// file is only read, shared as the upload engine shares it: a program may
// go on writing, renaming or deleting its log meanwhile.
void Compress(TUploadFile& file, std::vector<env::TTempFile>& archives, const TCompressProgress& onProgress) {
    rtl::ScopedFileHandle source(CreateFileW(file.Path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    FILETIME modified{};
    if (!source || !GetFileSizeEx(source.Get(), &size) || !GetFileTime(source.Get(), nullptr, nullptr, &modified))
        return;
    file.OriginalSize = file.Size = static_cast<uint64_t>(size.QuadPart);
    if (!MayGoCompressed(file.Path, file.Size)) return;
    const std::wstring name = rtl::ExtractFileName(file.Path);
    // A failed archive (a full disk, a log that became unreadable) costs
    // nothing but the compression: the log goes as it is.
    rtl::Try(
        [&] {
            env::TTempFile archive;
            const TZipOfFile zip =
                WriteZipOfFile(source.Get(), file.Size, name, modified, archive.Handle(), [&](uint64_t read) {
                    if (onProgress) onProgress(name, read, file.OriginalSize);
                });
            if (zip.ArchiveSize >= zip.Size) return;
            file.Path = archive.Path();
            file.SendName = name + L".zip";
            file.ContentType = "application/zip";
            file.Size = zip.ArchiveSize;
            file.OriginalSize = zip.Size;
            file.Compressed = true;
            archives.push_back(std::move(archive));
        },
        rtl::On<rtl::EInOutError>([](rtl::EInOutError&) {}));
}

}  // namespace

std::string ContentTypeOf(const std::wstring& path) {
    std::wstring ext = rtl::ExtractFileExt(path);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(towlower(c));
    if (ext == L".txt" || ext == L".log" || ext == L".errlog" || ext == L".ini" || ext == L".csv") return "text/plain";
    if (ext == L".xml") return "text/xml";
    if (ext == L".zip") return "application/zip";
    return "application/octet-stream";
}

bool MayGoCompressed(const std::wstring& path, uint64_t size) {
    return size > kCompressAbove && size <= kMaxZipSourceSize && ContentTypeOf(path) == "text/plain";
}

TUploadFiles::TUploadFiles(const std::vector<std::wstring>& paths, const TCompressProgress& onProgress) {
    for (const std::wstring& path : paths) {
        TUploadFile file;
        file.Path = path;
        file.SendName = rtl::ExtractFileName(path);
        file.ContentType = ContentTypeOf(path);
        if (file.ContentType == "text/plain")
            Compress(file, FArchives, onProgress);
        else
            file.OriginalSize = file.Size = SizeOf(path);
        FFiles.push_back(std::move(file));
    }
}

bool TUploadFiles::AnyCompressed() const {
    for (const TUploadFile& f : FFiles)
        if (f.Compressed) return true;
    return false;
}

uint64_t TUploadFiles::Size() const {
    uint64_t total = 0;
    for (const TUploadFile& f : FFiles) total += f.Size;
    return total;
}

uint64_t TUploadFiles::OriginalSize() const {
    uint64_t total = 0;
    for (const TUploadFile& f : FFiles) total += f.OriginalSize;
    return total;
}

}  // namespace support
