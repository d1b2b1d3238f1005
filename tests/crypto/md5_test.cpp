#include "crypto/md5c.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hex_util.h"

namespace {

std::string md5Hex(const std::string& msg)
{
    unsigned char d[16];
    MD5Sum(d, msg.data(), static_cast<int32_t>(msg.size()));
    return hex(d);
}

// Hashes msg by feeding it in pieces of the given sizes (the rest in one piece).
std::string md5Pieces(const std::string& msg, const std::vector<size_t>& pieces)
{
    MD5Context ctx;
    MD5Init(&ctx);
    size_t pos = 0;
    for (size_t p : pieces) {
        MD5Update(&ctx, reinterpret_cast<const unsigned char*>(msg.data()) + pos, static_cast<uint32_t>(p));
        pos += p;
    }
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>(msg.data()) + pos,
              static_cast<uint32_t>(msg.size() - pos));
    unsigned char d[16];
    MD5Final(d, &ctx);
    return hex(d);
}

std::string patterned(size_t n)
{
    std::string s(n, '\0');
    for (size_t k = 0; k < n; ++k)
        s[k] = static_cast<char>((k * 131 + 7) & 0xff);
    return s;
}

} // namespace

TEST(Md5, Rfc1321Vectors)
{
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int k = 0; k < 8; ++k)
        digits += "1234567890";
    EXPECT_EQ(md5Hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, MillionAs)
{
    std::string chunk(1000, 'a');
    MD5Context ctx;
    MD5Init(&ctx);
    for (int k = 0; k < 1000; ++k)
        MD5Update(&ctx, reinterpret_cast<const unsigned char*>(chunk.data()), 1000);
    unsigned char d[16];
    MD5Final(d, &ctx);
    EXPECT_EQ(hex(d), "7707d6ae4e027c70eea2a935c2296f21");
}

// Messages whose padding falls right at or across the block boundaries.
TEST(Md5, PaddingBoundaries)
{
    // Lengths 55 and 56 differ in whether the length fits in the first block.
    EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5, IncrementalEqualsOneShot)
{
    const std::vector<std::vector<size_t>> splits = {
        {1},           {55},          {56},         {63},       {64},      {65},
        {55, 1},       {56, 8},       {63, 1, 64},  {1, 63},    {64, 64},  {3, 61, 1, 127},
        {0, 0, 17, 0}, {127, 1, 200}, {32, 32, 32}, {120, 136},
    };
    for (size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 200u, 1000u}) {
        std::string msg = patterned(len);
        std::string whole = md5Hex(msg);
        for (const auto& split : splits) {
            size_t total = 0;
            for (size_t p : split)
                total += p;
            if (total > len)
                continue;
            EXPECT_EQ(md5Pieces(msg, split), whole) << "length " << len << " first piece " << split[0];
        }
        // Byte by byte is the most awkward split of all.
        std::vector<size_t> ones(len, 1);
        EXPECT_EQ(md5Pieces(msg, ones), whole) << "length " << len;
    }
}

// The block words come from any byte address, not only aligned ones.
TEST(Md5, UnalignedInput)
{
    std::string msg = patterned(300);
    std::string whole = md5Hex(msg);
    std::vector<unsigned char> shifted(msg.size() + 8);
    for (size_t off = 1; off < 8; ++off) {
        std::memcpy(shifted.data() + off, msg.data(), msg.size());
        unsigned char d[16];
        MD5Sum(d, shifted.data() + off, static_cast<int32_t>(msg.size()));
        EXPECT_EQ(hex(d), whole) << "offset " << off;
    }
}

TEST(Md5, BitCountCarriesIntoHighWord)
{
    MD5Context ctx;
    MD5Init(&ctx);
    ctx.count[0] = 0xFFFFFFF8u; // one byte short of 2^32 bits
    const unsigned char b = 'x';
    MD5Update(&ctx, &b, 1);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Md5, TransformOnPaddedEmptyMessage)
{
    // The empty message is one block: 0x80 then zeros, bit count 0.
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    uint32_t block[16] = {0x80};
    MD5Transform(state, block);
    unsigned char d[16];
    for (int n = 0; n < 4; ++n)
        for (int k = 0; k < 4; ++k)
            d[4 * n + k] = static_cast<unsigned char>(state[n] >> (8 * k));
    EXPECT_EQ(hex(d), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, NegativeLengthLeavesDigestAlone)
{
    unsigned char d[16];
    std::memset(d, 0xAB, sizeof d);
    MD5Sum(d, "abc", -1);
    for (unsigned char c : d)
        EXPECT_EQ(c, 0xAB);
}

TEST(PasswordDigest, SaltIsAppended)
{
    unsigned char d[16];
    passwordDigest(d, "");
    EXPECT_EQ(hex(d), md5Hex("Nivarol"));
    EXPECT_EQ(hex(d), "355fb1286165900574dc092b9adce132");

    passwordDigest(d, "secret");
    EXPECT_EQ(hex(d), md5Hex("secretNivarol"));
    EXPECT_EQ(hex(d), "58678a21675bcc0c54d620c7f5a716f5");

    // Password bytes above 0x7f are hashed as they are.
    passwordDigest(d, "p\xe4ss");
    EXPECT_EQ(hex(d), md5Hex("p\xe4ssNivarol"));
}

TEST(PasswordDigest, NullGivesZeros)
{
    unsigned char d[16];
    std::memset(d, 0xAB, sizeof d);
    passwordDigest(d, nullptr);
    for (unsigned char c : d)
        EXPECT_EQ(c, 0);
}
