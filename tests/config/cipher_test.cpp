// RC4 and Base64 against their published test vectors.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "config/Base64.h"
#include "config/Rc4.h"

using config::Base64Decode;
using config::Base64Encode;
using config::TRc4;

namespace {

std::vector<uint8_t> Hex(const char* text) {
    std::vector<uint8_t> bytes;
    for (const char* p = text; p[0] && p[1];) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

// RFC 6229, section 2: key stream bytes at several offsets for a 40-bit and
// a 64-bit key (the latter is the key size of the stored proxy login), and
// one key of the "other keys" set.
struct TRc4Vector {
    const char* Key;
    size_t Offset;
    const char* Stream;
};
const TRc4Vector kRc4Vectors[] = {
    {"0102030405", 0, "b2 39 63 05 f0 3d c0 27 cc c3 52 4a 0a 11 18 a8"},
    {"0102030405", 16, "69 82 94 4f 18 fc 82 d5 89 c4 03 a4 7a 0d 09 19"},
    {"0102030405", 240, "28 cb 11 32 c9 6c e2 86 42 1d ca ad b8 b6 9e ae"},
    {"0102030405", 4096, "ff 25 b5 89 95 99 67 07 e5 1f bd f0 8b 34 d8 75"},
    {"0102030405060708", 0, "97 ab 8a 1b f0 af b9 61 32 f2 f6 72 58 da 15 a8"},
    {"0102030405060708", 16, "82 63 ef db 45 c4 a1 86 84 ef 87 e6 b1 9e 5b 09"},
    {"0102030405060708", 1520, "1f e8 98 67 13 f0 7c 3d 9a e1 c1 63 ff 8c f9 d3"},
    {"0102030405060708", 4096, "3f b4 6e 2c 8f 0f 06 8e dc e8 cd cd 7d fc 58 62"},
    {"833222772a", 0, "80 ad 97 bd c9 73 df 8a 2e 87 9e 92 a4 97 ef da"},
    {"833222772a", 1024, "78 28 d0 74 11 9c ab 5c 22 b2 94 d7 a9 bf a0 bb"},
};

TEST(Rc4, PublishedKeyStreams) {
    for (const TRc4Vector& v : kRc4Vectors) {
        std::vector<uint8_t> key = Hex(v.Key), expected = Hex(v.Stream);
        // Enciphering zeros gives the key stream itself.
        std::vector<uint8_t> data(v.Offset + expected.size(), 0);
        TRc4 cipher(key.data(), key.size());
        cipher.Apply(data.data(), data.size());
        EXPECT_EQ(expected, std::vector<uint8_t>(data.begin() + static_cast<ptrdiff_t>(v.Offset), data.end()))
            << "key " << v.Key << " offset " << v.Offset;
    }
}

TEST(Rc4, StreamContinuesAcrossCallsAndDeciphersWithAFreshSchedule) {
    const std::vector<uint8_t> key = Hex("0102030405060708");
    const std::string plain = "The quick brown fox jumps over the lazy dog";
    std::string whole = plain, pieces = plain;
    TRc4(key.data(), key.size()).Apply(reinterpret_cast<uint8_t*>(whole.data()), whole.size());
    TRc4 split(key.data(), key.size());
    split.Apply(reinterpret_cast<uint8_t*>(pieces.data()), 5);
    split.Apply(reinterpret_cast<uint8_t*>(pieces.data()) + 5, 0);
    split.Apply(reinterpret_cast<uint8_t*>(pieces.data()) + 5, pieces.size() - 5);
    EXPECT_EQ(whole, pieces);
    EXPECT_NE(plain, whole);
    TRc4(key.data(), key.size()).Apply(reinterpret_cast<uint8_t*>(whole.data()), whole.size());
    EXPECT_EQ(plain, whole);
}

TEST(Rc4, StateIsWipedWhenTheCipherIsDestroyed) {
    alignas(TRc4) unsigned char storage[sizeof(TRc4)];
    const uint8_t key[] = {1, 2, 3, 4, 5, 6, 7, 8};
    auto* cipher = new (storage) TRc4(key, sizeof(key));
    uint8_t data[4] = {};
    cipher->Apply(data, sizeof(data));
    cipher->~TRc4();
    EXPECT_EQ(std::vector<unsigned char>(sizeof(storage), 0),
              std::vector<unsigned char>(storage, storage + sizeof(storage)));
}

// RFC 4648, section 10, and bytes that use "+" and "/".
TEST(Base64, PublishedVectorsBothWays) {
    const struct {
        std::string Bytes;
        const wchar_t* Text;
    } table[] = {
        {"", L""},
        {"f", L"Zg=="},
        {"fo", L"Zm8="},
        {"foo", L"Zm9v"},
        {"foob", L"Zm9vYg=="},
        {"fooba", L"Zm9vYmE="},
        {"foobar", L"Zm9vYmFy"},
        {std::string("\xfb\xff\xbf\x00\x10", 5), L"+/+/ABA="},
        {std::string("\x00\x00\x00", 3), L"AAAA"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.Text, Base64Encode(row.Bytes));
        std::string decoded = "junk";
        EXPECT_TRUE(Base64Decode(row.Text, decoded)) << testing::PrintToString(std::wstring(row.Text));
        EXPECT_EQ(row.Bytes, decoded);
    }
}

TEST(Base64, RejectsWhatIsNotBase64) {
    for (const wchar_t* text : {L"Zg=", L"Zm9vY", L"Zm9v\r\nYmFy", L"Zm9v YmFy", L"Zm-v", L"Zg==Zm8=", L"Z===", L"====",
                                L"Zm=v", L"Zm\u00e9v"}) {
        std::string decoded = "junk";
        EXPECT_FALSE(Base64Decode(text, decoded)) << testing::PrintToString(std::wstring(text));
        EXPECT_EQ("", decoded);
    }
}

}  // namespace
