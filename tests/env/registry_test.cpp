#include <gtest/gtest.h>

#include "TestUtil.h"
#include "env/ErrorControlledRegistry.h"
#include "rtl/Text.h"

using env::TRegistryErrorControlled;
using testutil::CaptureRaise;

namespace {

const wchar_t* kKey = L"Software\\Quillfen\\Tests\\Registry";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { TRegistryErrorControlled().DeleteKey(kKey); }
    void TearDown() override { TRegistryErrorControlled().DeleteKey(kKey); }

    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY h;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(h);
    }
};

TEST_F(RegistryTest, WritesAndReadsBackStringsAndIntegers) {
    TRegistryErrorControlled reg;
    EXPECT_EQ(HKEY_CURRENT_USER, reg.RootKey());
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString(L"name", L"h\u00e9llo");
    reg.WriteInteger(L"port", -8080);
    EXPECT_TRUE(reg.ValueExists(L"name"));
    EXPECT_FALSE(reg.ValueExists(L"nothing"));

    TRegistryErrorControlled again;
    ASSERT_TRUE(again.OpenKeyReadOnly(kKey));
    EXPECT_EQ(L"h\u00e9llo", again.ReadString(L"name"));
    EXPECT_EQ(-8080, again.ReadInteger(L"port"));
    EXPECT_EQ(0, again.LastError());
    EXPECT_EQ(L"", again.LastErrorMsg());
}

TEST_F(RegistryTest, OpenOfMissingKeyAnswersFalseWithTheSystemCode) {
    TRegistryErrorControlled reg;
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.LastError());
    EXPECT_FALSE(reg.OpenKeyReadOnly(kKey));
    auto raised = CaptureRaise([&] { reg.RaiseLastRegistryError(L""); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"ERegistryException", raised->ClassName);
    EXPECT_EQ(rtl::SysErrorMessage(2) + L" (00000002)", raised->Message);
    EXPECT_NE(L"", rtl::SysErrorMessage(2));
}

TEST_F(RegistryTest, RaiseLastRegistryErrorFormats) {
    TRegistryErrorControlled reg;
    // After a successful call: no system text, a blank and eight zeros.
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    auto ok = CaptureRaise([&] { reg.RaiseLastRegistryError(L""); });
    ASSERT_TRUE(ok);
    EXPECT_EQ(L" (00000000)", ok->Message);

    // With a message: two lines, the message first.
    TRegistryErrorControlled missing;
    EXPECT_FALSE(missing.OpenKeyReadOnly(L"Software\\Quillfen\\Tests\\NoSuchKey"));
    auto two = CaptureRaise([&] { missing.RaiseLastRegistryError(L"Cannot read settings"); });
    ASSERT_TRUE(two);
    EXPECT_EQ(L"Cannot read settings\r\n" + rtl::SysErrorMessage(2) + L" (00000002)", two->Message);
}

TEST_F(RegistryTest, MissingValues) {
    TRegistryErrorControlled reg;
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    EXPECT_EQ(L"", reg.ReadString(L"absent"));
    auto raised = CaptureRaise([&] { reg.ReadInteger(L"absent"); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"ERegistryException", raised->ClassName);
    EXPECT_EQ(L"Failed to get data for 'absent'", raised->Message);
}

TEST_F(RegistryTest, WrongTypes) {
    const wchar_t four[] = L"a";  // 4 bytes with its terminator
    SetRaw(L"short string", REG_SZ, four, sizeof(four));
    const wchar_t longer[] = L"a longer text";
    SetRaw(L"long string", REG_SZ, longer, sizeof(longer));
    DWORD number = 7;
    SetRaw(L"number", REG_DWORD, &number, sizeof(number));
    const BYTE blob[] = {1, 2, 3};
    SetRaw(L"blob", REG_BINARY, blob, sizeof(blob));

    TRegistryErrorControlled reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    auto a = CaptureRaise([&] { reg.ReadInteger(L"short string"); });
    ASSERT_TRUE(a);
    EXPECT_EQ(L"Invalid data type for 'short string'", a->Message);
    // Too large for the 4-byte buffer: the data cannot be read at all.
    auto b = CaptureRaise([&] { reg.ReadInteger(L"long string"); });
    ASSERT_TRUE(b);
    EXPECT_EQ(L"Failed to get data for 'long string'", b->Message);
    auto c = CaptureRaise([&] { reg.ReadString(L"number"); });
    ASSERT_TRUE(c);
    EXPECT_EQ(L"Invalid data type for 'number'", c->Message);
    auto d = CaptureRaise([&] { reg.ReadString(L"blob"); });
    ASSERT_TRUE(d);
    EXPECT_EQ(L"Invalid data type for 'blob'", d->Message);
}

TEST_F(RegistryTest, StringsAreCutAtTheFirstZeroAndExpandableStringsRead) {
    const wchar_t embedded[] = L"first\0second";
    SetRaw(L"embedded", REG_SZ, embedded, sizeof(embedded));
    const wchar_t expand[] = L"%TEMP%\\x";
    SetRaw(L"expand", REG_EXPAND_SZ, expand, sizeof(expand));
    // No terminator stored at all.
    const wchar_t bare[] = {L'a', L'b', L'c'};
    SetRaw(L"bare", REG_SZ, bare, sizeof(bare));
    SetRaw(L"empty", REG_SZ, L"", 0);

    TRegistryErrorControlled reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    EXPECT_EQ(L"first", reg.ReadString(L"embedded"));
    EXPECT_EQ(L"%TEMP%\\x", reg.ReadString(L"expand"));
    EXPECT_EQ(L"abc", reg.ReadString(L"bare"));
    EXPECT_EQ(L"", reg.ReadString(L"empty"));
}

TEST_F(RegistryTest, WritesToAReadOnlyKeyRaise) {
    TRegistryErrorControlled setup;
    ASSERT_TRUE(setup.OpenKey(kKey, true));
    setup.CloseKey();
    TRegistryErrorControlled reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    auto s = CaptureRaise([&] { reg.WriteString(L"v", L"x"); });
    ASSERT_TRUE(s);
    EXPECT_EQ(L"Failed to set data for 'v'", s->Message);
    auto i = CaptureRaise([&] { reg.WriteInteger(L"w", 1); });
    ASSERT_TRUE(i);
    EXPECT_EQ(L"Failed to set data for 'w'", i->Message);
}

TEST_F(RegistryTest, ReadsUnderLocalMachine) {
    TRegistryErrorControlled reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKeyReadOnly(L"Software\\Microsoft\\Windows\\CurrentVersion"));
    std::wstring dir = reg.ReadString(L"ProgramFilesDir");
    EXPECT_EQ(L"C:\\Program Files", dir);
}

}  // namespace
