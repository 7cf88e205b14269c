// The archive writer read back by a strict reader: every signature, the
// offsets, CRC and sizes, and the data inflated to the exact bytes; then
// which files go compressed, and that no temporary file outlives a send.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "TestUtil.h"
#include "env/TempFile.h"
#include "http/NetTestUtil.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"
#include "support/UploadFiles.h"
#include "support/ZipFile.h"
#include "support/ZipLayout.h"

namespace {

using namespace support::zip;
using support::kCompressAbove;

template <class T>
T At(const std::string& bytes, size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// The one entry of `archive`: its flags, DOS date and time, name, and data.
struct TEntry {
    uint16_t Flags = 0, Date = 0, Time = 0;
    std::string Name, Data;
};
TEntry ReadOneEntryArchive(const std::string& archive) {
    TEntry e;
    const auto end = At<TEndRecord>(archive, archive.size() - sizeof(TEndRecord));
    EXPECT_EQ(kEndRecordSignature, end.Signature);
    EXPECT_EQ(1, end.TotalEntries);
    EXPECT_EQ(archive.size() - sizeof(TEndRecord), size_t{end.CentralDirectoryOffset} + end.CentralDirectorySize);
    const auto central = At<TCentralHeader>(archive, end.CentralDirectoryOffset);
    const auto local = At<TLocalHeader>(archive, central.LocalHeaderOffset);
    EXPECT_EQ(kCentralHeaderSignature, central.Signature);
    EXPECT_EQ(kLocalHeaderSignature, local.Signature);
    EXPECT_EQ(sizeof(central) + central.NameLength, end.CentralDirectorySize);
    EXPECT_EQ(0, memcmp(&local.VersionNeeded, &central.VersionNeeded, 26)) << "local and central headers differ";
    EXPECT_EQ(kMethodDeflate, local.Method);
    const size_t data = central.LocalHeaderOffset + sizeof(local) + local.NameLength + local.ExtraLength;
    EXPECT_EQ(end.CentralDirectoryOffset, data + local.CompressedSize);
    e.Name = archive.substr(sizeof(local), local.NameLength);
    EXPECT_EQ(e.Name, archive.substr(end.CentralDirectoryOffset + sizeof(central), central.NameLength));
    e.Flags = local.Flags, e.Date = local.ModDate, e.Time = local.ModTime;
    e.Data.resize(local.UncompressedSize);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(archive.data() + data));
    z.avail_in = local.CompressedSize;
    z.next_out = reinterpret_cast<Bytef*>(e.Data.data());
    z.avail_out = local.UncompressedSize;
    EXPECT_EQ(Z_STREAM_END, inflate(&z, Z_FINISH));
    EXPECT_EQ(0u, z.avail_in + z.avail_out);
    inflateEnd(&z);
    EXPECT_EQ(local.Crc32, testhttp::Crc32(e.Data.data(), e.Data.size()));
    return e;
}

std::string Lines(size_t length) {
    std::string text;
    for (int i = 0; text.size() < length; ++i) text += "12:00:00 event " + std::to_string(i) + "\r\n";
    return text.substr(0, length);
}

TEST(ZipFileTest, ArchivesReadBackToTheExactBytesWithTheirNameAndLocalDate) {
    struct Case {
        const wchar_t* Name;
        std::string Content;
        uint64_t Announced;  // what the caller measured; a log can shrink meanwhile
        const char* Utf8Name;
        uint16_t Flags;
    } cases[] = {
        {L"orvex.errlog", Lines(300000), 300000, "orvex.errlog", 0},
        {L"journal-\u00E9t\u00E9.log", Lines(5000), 5000, "journal-\xC3\xA9t\xC3\xA9.log", kFlagUtf8Name},
        {L"empty.log", "", 0, "empty.log", 0},
        {L"cut.log", Lines(1000), 5000, "cut.log", 0},
        {L"noise.bin", testhttp::Pattern(200000, 3), 200000, "noise.bin", 0},
    };
    SYSTEMTIME when{2024, 3, 5, 15, 13, 45, 30, 0};  // local time, as zip dates are
    FILETIME local{}, modified{};
    SystemTimeToFileTime(&when, &local);
    LocalFileTimeToFileTime(&local, &modified);
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Utf8Name);
        testutil::Touch(dir.Path() + c.Name, c.Content, 0);
        rtl::ScopedFileHandle source(
            CreateFileW((dir.Path() + c.Name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        env::TTempFile target;
        const support::TZipOfFile zip =
            support::WriteZipOfFile(source.Get(), c.Announced, c.Name, modified, target.Handle());
        const std::string archive = testutil::ReadFileBytes(target.Path());
        EXPECT_EQ(archive.size(), zip.ArchiveSize);
        EXPECT_EQ(c.Content.size(), zip.Size);
        const TEntry e = ReadOneEntryArchive(archive);
        EXPECT_EQ(c.Utf8Name, e.Name);
        EXPECT_EQ(c.Flags, e.Flags);
        EXPECT_EQ((2024 - 1980) << 9 | 3 << 5 | 15, e.Date);
        EXPECT_EQ(13 << 11 | 45 << 5 | 30 / 2, e.Time);
        EXPECT_TRUE(e.Data == c.Content);
    }
}

// Temporary files go to a folder of the test's own, so what is left is seen.
class UploadFilesTest : public testing::Test {
protected:
    void SetUp() override { SetEnvironmentVariableW(L"TMP", Temp.Path().c_str()); }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", nullptr); }
    testutil::TempDir Temp, Files;
};

TEST_F(UploadFilesTest, LargeTextLogsGoAsZipOnlyWhenThatIsSmaller) {
    struct Case {
        const wchar_t* Name;
        std::string Content;
        const wchar_t* SendName;  // nullptr: not compressed
        const char* ContentType;
    } cases[] = {
        {L"x.LOG", Lines(200000), L"x.LOG.zip", "application/zip"},
        {L"settings.ini", Lines(support::kCompressAbove + 1), L"settings.ini.zip", "application/zip"},
        {L"small.log", Lines(support::kCompressAbove), nullptr, "text/plain"},
        {L"noise.txt", testhttp::Pattern(200000, 5), nullptr, "text/plain"},  // does not shrink
        {L"report.dmp", Lines(200000), nullptr, "application/octet-stream"},
        {L"gone.log", "", nullptr, "text/plain"},  // cannot be read: goes as it is, the upload reports it
    };
    std::vector<std::wstring> paths;
    for (const Case& c : cases) {
        paths.push_back(Files.Path() + c.Name);
        if (c.Content.size()) testutil::Touch(paths.back(), c.Content, 0);
    }
    {
        const support::TUploadFiles files(paths);
        ASSERT_EQ(std::size(cases), files.Files().size());
        for (size_t i = 0; i < std::size(cases); ++i) {
            const support::TUploadFile& f = files.Files()[i];
            SCOPED_TRACE(rtl::ToAnsi(cases[i].Name));
            EXPECT_EQ(cases[i].SendName != nullptr, f.Compressed);
            EXPECT_EQ(cases[i].SendName ? cases[i].SendName : cases[i].Name, f.SendName);
            EXPECT_EQ(cases[i].ContentType, f.ContentType);
            EXPECT_EQ(cases[i].Content.size(), f.OriginalSize);
            EXPECT_EQ(f.Compressed ? testutil::ReadFileBytes(f.Path).size() : cases[i].Content.size(), f.Size);
            EXPECT_EQ(f.Compressed, f.Path != paths[i]);
        }
    }
    EXPECT_TRUE(testutil::FilesIn(Temp.Path()).empty());
    // A cancel while a log is compressed leaves no archive behind either.
    EXPECT_TRUE(testutil::CaptureRaise([&] {
        support::TUploadFiles(paths, [](auto&, uint64_t, uint64_t) { rtl::RaiseNew<rtl::EAbort>(L"cancelled"); });
    }));
    EXPECT_TRUE(testutil::FilesIn(Temp.Path()).empty());
}

}  // namespace
