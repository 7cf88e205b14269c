#include "support/ZipFile.h"

#include <zlib.h>

#include <memory>

#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "support/ZipLayout.h"

namespace support {

namespace {

constexpr DWORD kBlock = 64 * 1024;

void WriteAll(HANDLE target, const void* data, DWORD length) {
    DWORD written = 0;
    if (!WriteFile(target, data, length, &written, nullptr))
        rtl::RaiseInOutError(L"The archive could not be written", GetLastError());
    if (written != length) rtl::RaiseInOutError(L"The archive could not be written", ERROR_DISK_FULL);
}

uint64_t Position(HANDLE file) {
    LARGE_INTEGER zero{}, at{};
    if (!SetFilePointerEx(file, zero, &at, FILE_CURRENT))
        rtl::RaiseInOutError(L"The archive could not be written", GetLastError());
    return static_cast<uint64_t>(at.QuadPart);
}

void Seek(HANDLE file, uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN))
        rtl::RaiseInOutError(L"The archive could not be written", GetLastError());
}

// Zip dates are local MS-DOS dates, which start in 1980: an older or
// unreadable time becomes 1 January 1980, 00:00.
void DosDateTime(const FILETIME& modified, uint16_t& date, uint16_t& time) {
    FILETIME local{};
    WORD d = 0, t = 0;
    if (FileTimeToLocalFileTime(&modified, &local) && FileTimeToDosDateTime(&local, &d, &t) && d >= (1 << 5 | 1)) {
        date = d;
        time = t;
    } else {
        date = 1 << 5 | 1;
        time = 0;
    }
}

// A raw deflate stream (no zlib header: zip frames the data itself).
class TDeflater {
public:
    TDeflater() {
        if (deflateInit2(&FStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            rtl::RaiseInOutError(L"The compressor could not be started", ERROR_NOT_ENOUGH_MEMORY);
    }
    ~TDeflater() { deflateEnd(&FStream); }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    // Deflates `length` bytes (Z_FINISH: and ends the stream) into `target`;
    // answers the bytes written.
    uint64_t Put(const Bytef* data, DWORD length, int flush, HANDLE target) {
        uint64_t out = 0;
        FStream.next_in = const_cast<Bytef*>(data);
        FStream.avail_in = length;
        int status = Z_OK;
        do {
            FStream.next_out = FOut;
            FStream.avail_out = kBlock;
            status = deflate(&FStream, flush);
            if (status == Z_STREAM_ERROR) rtl::RaiseInOutError(L"The compressor failed", ERROR_INVALID_DATA);
            const DWORD produced = kBlock - FStream.avail_out;
            WriteAll(target, FOut, produced);
            out += produced;
        } while (FStream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        return out;
    }

private:
    z_stream FStream{};
    Bytef FOut[kBlock];
};

}  // namespace

TZipOfFile WriteZipOfFile(HANDLE source, uint64_t size, const std::wstring& entryName, const FILETIME& modified,
                          HANDLE target, const std::function<void(uint64_t)>& onRead) {
    if (size > kMaxZipSourceSize)
        rtl::RaiseInOutError(L"The file is too large for a zip archive", ERROR_FILE_TOO_LARGE);
    const std::string name = rtl::ToUtf8(entryName);
    bool ascii = true;
    for (unsigned char c : name) ascii = ascii && c < 0x80;

    zip::TLocalHeader local{};
    local.Signature = zip::kLocalHeaderSignature;
    local.VersionNeeded = zip::kVersionDeflate;
    local.Flags = ascii ? 0 : zip::kFlagUtf8Name;
    local.Method = zip::kMethodDeflate;
    DosDateTime(modified, local.ModDate, local.ModTime);
    local.NameLength = static_cast<uint16_t>(name.size());
    const uint64_t start = Position(target);
    // The header is written again once the CRC and the sizes are known.
    WriteAll(target, &local, sizeof(local));
    WriteAll(target, name.data(), local.NameLength);

    auto deflater = std::make_unique<TDeflater>();
    std::unique_ptr<Bytef[]> block(new Bytef[kBlock]);
    uint32_t crc = crc32(0, nullptr, 0);
    uint64_t read = 0, compressed = 0;
    while (read < size) {
        DWORD got = 0;
        const DWORD want = size - read < kBlock ? static_cast<DWORD>(size - read) : kBlock;
        if (!ReadFile(source, block.get(), want, &got, nullptr))
            rtl::RaiseInOutError(L"The file could not be read", GetLastError());
        if (got == 0) break;
        crc = crc32(crc, block.get(), got);
        read += got;
        compressed += deflater->Put(block.get(), got, Z_NO_FLUSH, target);
        if (onRead) onRead(read);
    }
    compressed += deflater->Put(nullptr, 0, Z_FINISH, target);
    if (compressed > zip::kZip32Limit - 1)
        rtl::RaiseInOutError(L"The compressed file is too large for a zip archive", ERROR_FILE_TOO_LARGE);

    local.Crc32 = crc;
    local.CompressedSize = static_cast<uint32_t>(compressed);
    local.UncompressedSize = static_cast<uint32_t>(read);
    const uint64_t central = Position(target);
    Seek(target, start);
    WriteAll(target, &local, sizeof(local));
    Seek(target, central);

    zip::TCentralHeader entry{};
    entry.Signature = zip::kCentralHeaderSignature;
    entry.VersionMadeBy = zip::kVersionDeflate;
    entry.VersionNeeded = local.VersionNeeded;
    entry.Flags = local.Flags;
    entry.Method = local.Method;
    entry.ModTime = local.ModTime;
    entry.ModDate = local.ModDate;
    entry.Crc32 = local.Crc32;
    entry.CompressedSize = local.CompressedSize;
    entry.UncompressedSize = local.UncompressedSize;
    entry.NameLength = local.NameLength;
    entry.ExternalAttributes = FILE_ATTRIBUTE_ARCHIVE;
    entry.LocalHeaderOffset = 0;
    WriteAll(target, &entry, sizeof(entry));
    WriteAll(target, name.data(), entry.NameLength);

    zip::TEndRecord end{};
    end.Signature = zip::kEndRecordSignature;
    end.DiskEntries = end.TotalEntries = 1;
    end.CentralDirectorySize = static_cast<uint32_t>(sizeof(entry) + name.size());
    if (central - start > zip::kZip32Limit - 1)
        rtl::RaiseInOutError(L"The compressed file is too large for a zip archive", ERROR_FILE_TOO_LARGE);
    end.CentralDirectoryOffset = static_cast<uint32_t>(central - start);
    WriteAll(target, &end, sizeof(end));
    return TZipOfFile{crc, static_cast<uint32_t>(read), static_cast<uint32_t>(compressed),
                      static_cast<uint32_t>(Position(target) - start)};
}

}  // namespace support
