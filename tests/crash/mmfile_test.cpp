#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "crash/ExcMemMap.h"
#include "rtl/Text.h"

using crash::TMMFileStream;
using testutil::CaptureRaise;

namespace {

// A file whose byte at offset i is (i * 7 + i / 256) & 0xFF.
std::wstring MakeFile(const testutil::TempDir& dir, const wchar_t* name, uint32_t size) {
    std::wstring path = dir.Path() + name;
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (size) WriteFile(h, data.data(), size, &written, nullptr);
    CloseHandle(h);
    return path;
}

uint8_t ByteAt(uint32_t i) { return static_cast<uint8_t>(i * 7 + i / 256); }

std::unique_ptr<TMMFileStream> Open(const std::wstring& path,
                                    int32_t mode = crash::fmOpenRead | crash::fmShareDenyNone) {
    return std::make_unique<TMMFileStream>(path, mode, L"QfTest." + path);
}

TEST(MMFileStream, ViewsAreAlignedToTheGranularity) {
    testutil::TempDir dir;
    auto s = Open(MakeFile(dir, L"big.bin", 300000));
    ASSERT_EQ(65536u, s->Granularity());
    EXPECT_FALSE(s->HasView());

    uint8_t buf[16];
    s->Seek(70000, crash::soFromBeginning);
    EXPECT_EQ(4, s->Read(buf, 4));
    EXPECT_EQ(65536u, s->ViewOffset());
    EXPECT_EQ(65536u, s->ViewSize());
    EXPECT_EQ(ByteAt(70000), buf[0]);
    EXPECT_EQ(ByteAt(70003), buf[3]);
    EXPECT_EQ(70004u, s->Position());

    // A second read inside the view maps nothing new.
    uint32_t maps = s->MapCount();
    s->Seek(100000, crash::soFromBeginning);
    EXPECT_EQ(ByteAt(100000), s->ReadByte());
    EXPECT_EQ(maps, s->MapCount());

    // Straddling a granule boundary: the view starts at the lower granule
    // and reaches past the next boundary after the request.
    s->Seek(65530, crash::soFromBeginning);
    EXPECT_EQ(10, s->Read(buf, 10));
    EXPECT_EQ(0u, s->ViewOffset());
    EXPECT_EQ(131072u, s->ViewSize());
    EXPECT_EQ(maps + 1, s->MapCount());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ByteAt(65530 + i), buf[i]);

    // A request ending exactly on a boundary gets one granule more.
    s->UnMapData();
    const uint8_t* p = s->MapData(131072 - 16, 16);
    EXPECT_EQ(65536u, s->ViewOffset());
    EXPECT_EQ(131072u, s->ViewSize());
    EXPECT_EQ(ByteAt(131072 - 16), p[0]);
    EXPECT_EQ(p + 5, s->GetRawData(131072 - 11));

    // The last view is clipped at the end of the file.
    s->Seek(299990, crash::soFromBeginning);
    s->Read(buf, 10);
    EXPECT_EQ(262144u, s->ViewOffset());
    EXPECT_EQ(300000u - 262144u, s->ViewSize());

    s->UnMapData();
    EXPECT_FALSE(s->HasView());
}

TEST(MMFileStream, SmallFiles) {
    testutil::TempDir dir;
    auto s = Open(MakeFile(dir, L"small.bin", 100));
    EXPECT_EQ(100u, s->Size());
    EXPECT_EQ(92, s->Seek(-8, crash::soFromEnd));
    uint32_t a = s->ReadDword();
    EXPECT_EQ(0u, s->ViewOffset());
    EXPECT_EQ(100u, s->ViewSize());
    uint32_t expected = ByteAt(92) | ByteAt(93) << 8 | ByteAt(94) << 16 | uint32_t(ByteAt(95)) << 24;
    EXPECT_EQ(expected, a);
    EXPECT_EQ(uint16_t(ByteAt(96) | ByteAt(97) << 8), s->ReadWord());
    EXPECT_EQ(reinterpret_cast<void*>(uintptr_t(expected)), (s->Seek(92, crash::soFromBeginning), s->ReadPointer()));
    EXPECT_EQ(96, s->Seek(0, crash::soFromCurrent));
    EXPECT_EQ(90, s->Seek(-6, crash::soFromCurrent));
    EXPECT_EQ(90, s->Seek(5, 7));  // unknown origin: position unchanged
    // Seeking never checks against the size.
    EXPECT_EQ(1000, s->Seek(1000, crash::soFromBeginning));
}

TEST(MMFileStream, WriteOnlyMovesThePosition) {
    testutil::TempDir dir;
    std::wstring path = MakeFile(dir, L"w.bin", 100);
    {
        auto s = Open(path, crash::fmOpenReadWrite | crash::fmShareDenyNone);
        s->Seek(10, crash::soFromBeginning);
        uint8_t junk[10] = {};
        EXPECT_EQ(10, s->Write(junk, 10));
        EXPECT_EQ(20u, s->Position());
    }
    auto s = Open(path);
    s->Seek(10, crash::soFromBeginning);
    for (uint32_t i = 10; i < 20; ++i) EXPECT_EQ(ByteAt(i), s->ReadByte());
}

TEST(MMFileStream, RequestsPastTheEndRaiseInsteadOfReadingOutside) {
    testutil::TempDir dir;
    auto s = Open(MakeFile(dir, L"small.bin", 100));
    uint8_t buf[8];
    s->Seek(96, crash::soFromBeginning);
    auto r = CaptureRaise([&] { s->Read(buf, 8); });
    ASSERT_TRUE(r);
    EXPECT_EQ(L"EMMFileError", r->ClassName);
    EXPECT_EQ(L"Can't read 8 bytes at offset 96: the file has 100 bytes", r->Message);
    EXPECT_TRUE(CaptureRaise([&] { s->MapData(0xFFFFFFF0u, 0x20); }));  // wraps around 32 bits
    EXPECT_TRUE(CaptureRaise([&] { s->MapData(101, 0); }));
    EXPECT_TRUE(CaptureRaise([&] { s->Seek(-1, crash::soFromBeginning), s->ReadByte(); }));
    // Up to the last byte is fine.
    EXPECT_FALSE(CaptureRaise([&] { s->MapData(0, 100); }));
    EXPECT_FALSE(CaptureRaise([&] { s->MapData(99, 1); }));
}

TEST(MMFileStream, OpenErrors) {
    testutil::TempDir dir;
    std::wstring missing = dir.Path() + L"missing.bin";
    auto r = CaptureRaise([&] { Open(missing); });
    ASSERT_TRUE(r);
    EXPECT_EQ(L"EMMFileError", r->ClassName);
    EXPECT_EQ(L"Can't open file " + missing + L": " + rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND), r->Message);

    std::wstring empty = MakeFile(dir, L"empty.bin", 0);
    r = CaptureRaise([&] { Open(empty); });
    ASSERT_TRUE(r);
    EXPECT_EQ(0u, r->Message.find(L"Can't create file mapping for " + empty + L": ")) << rtl::ToAnsi(r->Message);
    // The file handle was closed: the file can be deleted at once.
    EXPECT_TRUE(DeleteFileW(empty.c_str()));

    r = CaptureRaise([&] { Open(missing, crash::fmOpenWrite); });
    ASSERT_TRUE(r);
    EXPECT_EQ(L"Invalid file mode: fmOpenWrite", r->Message);
}

TEST(MMFileStream, MappingNameHasUnderscoresForBackslashes) {
    testutil::TempDir dir;
    std::wstring path = MakeFile(dir, L"named.bin", 100);
    TMMFileStream s(path, crash::fmOpenRead | crash::fmShareDenyNone, L"ZudAvizi.C:\\dir\\app.exe");
    EXPECT_EQ(L"ZudAvizi.C:_dir_app.exe", s.MappingName());
    HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, L"ZudAvizi.C:_dir_app.exe");
    EXPECT_NE(nullptr, h);
    if (h) CloseHandle(h);

    // A second stream with the same name shares the existing mapping object.
    TMMFileStream again(path, crash::fmOpenRead | crash::fmShareDenyNone, L"ZudAvizi.C:\\dir\\app.exe");
    again.Seek(50, crash::soFromBeginning);
    EXPECT_EQ(ByteAt(50), again.ReadByte());
}

TEST(MMFileStream, DenyWriteSharingKeepsWritersOut) {
    testutil::TempDir dir;
    std::wstring path = MakeFile(dir, L"share.bin", 100);
    auto s = Open(path, crash::fmOpenRead | crash::fmShareDenyWrite);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

}  // namespace
