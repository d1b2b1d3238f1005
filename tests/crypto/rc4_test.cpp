#include "crypto/rc4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hex_util.h"

namespace {

std::vector<unsigned char> bytes(const std::string& hexText)
{
    std::vector<unsigned char> out;
    for (size_t k = 0; k + 1 < hexText.size(); k += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hexText.substr(k, 2), nullptr, 16)));
    return out;
}

// The first `count` keystream bytes of a cipher keyed with the given bytes.
std::vector<unsigned char> keystream(const std::vector<unsigned char>& key, size_t count)
{
    rc4Cipher c;
    c.setKey(key.data(), static_cast<int32_t>(key.size()));
    std::vector<unsigned char> ks(count, 0);
    c.crypt(ks.data(), static_cast<int32_t>(count), 0);
    return ks;
}

bool sameState(const rc4Cipher& a, const rc4Cipher& b)
{
    return a.i == b.i && a.j == b.j && std::memcmp(a.permutation, b.permutation, 256) == 0;
}

std::string encrypt(const char* key, const std::string& text)
{
    rc4Cipher c;
    c.setKey(key);
    std::vector<unsigned char> buf(text.begin(), text.end());
    c.crypt(buf.data(), static_cast<int32_t>(buf.size()), 0);
    return hex(buf.data(), buf.size());
}

struct StreamVector {
    const char* key;
    size_t offset;
    const char* stream;
};

// Keystream excerpts for four keys of the published RC4 test vector table.
const StreamVector streamVectors[] = {
    {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
    {"0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
    {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
    {"0102030405", 256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
    {"0102030405", 496, "42b7d0cdd918a8a33dd51781c81f4041"},
    {"0102030405", 512, "6459844432a7da923cfb3eb4980661f6"},
    {"0102030405", 1520, "3294f744d8f9790507e70f62e5bbceea"},
    {"0102030405", 1536, "d8729db41882259bee4f825325f5a130"},
    {"0102030405", 4080, "068326a2118416d21f9d04b2cd1ca050"},
    {"0102030405", 4096, "ff25b58995996707e51fbdf08b34d875"},
    {"833222772a", 0, "80ad97bdc973df8a2e879e92a497efda"},
    {"833222772a", 16, "20f060c2f2e5126501d3d4fea10d5fc0"},
    {"833222772a", 4096, "bf42c3018c2f7c66bfde524975768115"},
    {"0102030405060708090a0b0c0d0e0f10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
    {"0102030405060708090a0b0c0d0e0f10", 16, "5248c4959014126a6e8a84f11d1a9e1c"},
    {"0102030405060708090a0b0c0d0e0f10", 240, "065902e4b620f6cc36c8589f66432f2b"},
    {"0102030405060708090a0b0c0d0e0f10", 256, "d39d566bc6bce3010768151549f3873f"},
    {"0102030405060708090a0b0c0d0e0f10", 4096, "a36a4c301ae8ac13610ccbc12256cacc"},
    {"ebb46227c6cc8b37641910833222772a", 0, "720c94b63edf44e131d950ca211a5a30"},
    {"ebb46227c6cc8b37641910833222772a", 16, "c366fdeacf9ca80436be7c358424d20b"},
    {"ebb46227c6cc8b37641910833222772a", 1520, "3c70047e8cbc038e3b9820db601da495"},
    {"ebb46227c6cc8b37641910833222772a", 4080, "a2221a11b833ccb498a59540f0545f4a"},
};

} // namespace

TEST(Rc4Vectors, PublishedKeystreams)
{
    for (const auto& v : streamVectors) {
        auto ks = keystream(bytes(v.key), v.offset + 16);
        EXPECT_EQ(hex(ks.data() + v.offset, 16), v.stream) << "key " << v.key << " offset " << v.offset;
    }
}

TEST(Rc4Vectors, ClassicTextVectors)
{
    EXPECT_EQ(encrypt("Key", "Plaintext"), "bbf316e8d940af0ad3");
    EXPECT_EQ(encrypt("Wiki", "pedia"), "1021bf0420");
    EXPECT_EQ(encrypt("Secret", "Attack at dawn"), "45a01f645fc35b383552544b9bf5");
}

// The one-byte crypt, the buffer crypt and nextState walk the same keystream.
TEST(Rc4Vectors, AllFormsAgree)
{
    const auto key = bytes("0102030405");
    auto ks = keystream(key, 300);

    rc4Cipher a;
    a.setKey(key.data(), 5);
    rc4Cipher b = a;
    for (size_t k = 0; k < ks.size(); ++k) {
        EXPECT_EQ(a.crypt(static_cast<unsigned char>(0x5A)), ks[k] ^ 0x5A) << k;
        int t = b.nextState();
        ASSERT_GE(t, 0);
        ASSERT_LE(t, 255);
        EXPECT_EQ(b.permutation[t], ks[k]) << k;
    }
    // Buffer calls in odd-sized pieces continue the stream where they left off.
    rc4Cipher c;
    c.setKey(key.data(), 5);
    std::vector<unsigned char> buf(300, 0);
    size_t pos = 0;
    for (int32_t piece : {1, 7, 0, 64, 100, 128}) {
        c.crypt(buf.data() + pos, piece, 0);
        pos += static_cast<size_t>(piece);
    }
    EXPECT_EQ(buf, ks);
}

TEST(Rc4Keying, StringAndByteFormsMatch)
{
    rc4Cipher a, b;
    a.setKey("Secret");
    b.setKey(reinterpret_cast<const unsigned char*>("Secret"), 6);
    EXPECT_TRUE(sameState(a, b));
}

// Raw keys may contain zero bytes; they are key material, not a terminator.
TEST(Rc4Keying, ZeroBytesInRawKey)
{
    const unsigned char withZero[3] = {'a', 0, 'b'};
    auto full = keystream({withZero, withZero + 3}, 32);
    auto prefix = keystream({withZero, withZero + 1}, 32);
    EXPECT_NE(full, prefix);
}

TEST(Rc4Keying, EmptyKeyGivesIdentity)
{
    rc4Cipher fresh;
    for (int n = 0; n < 256; ++n)
        ASSERT_EQ(fresh.permutation[n], n);
    EXPECT_EQ(fresh.i, 0);
    EXPECT_EQ(fresh.j, 0);

    // Re-keying with nothing resets the permutation but keeps the indices.
    rc4Cipher c;
    c.setKey("Key");
    for (int k = 0; k < 5; ++k)
        c.nextState();
    int32_t i = c.i, j = c.j;
    c.setKey(reinterpret_cast<const unsigned char*>("x"), 0);
    for (int n = 0; n < 256; ++n)
        ASSERT_EQ(c.permutation[n], n);
    EXPECT_EQ(c.i, i);
    EXPECT_EQ(c.j, j);

    c.setKey("");
    for (int n = 0; n < 256; ++n)
        ASSERT_EQ(c.permutation[n], n);
    c.setKey(nullptr);
    for (int n = 0; n < 256; ++n)
        ASSERT_EQ(c.permutation[n], n);
}

TEST(Rc4Keying, RekeyingRestartsTheStream)
{
    rc4Cipher c;
    c.setKey("Wiki");
    std::vector<unsigned char> first(1000, 0);
    c.crypt(first.data(), 1000, 0);

    c.setKey("Other key");
    std::vector<unsigned char> junk(333, 0);
    c.crypt(junk.data(), 333, 0);

    c.setKey("Wiki");
    std::vector<unsigned char> second(1000, 0);
    c.crypt(second.data(), 1000, 0);
    EXPECT_EQ(first, second);

    rc4Cipher fresh;
    fresh.setKey("Wiki");
    c.setKey("Wiki");
    EXPECT_TRUE(sameState(c, fresh));
}

TEST(Rc4Crypt, KeepStateLeavesCipherAsFound)
{
    rc4Cipher c;
    c.setKey("Key");
    for (int k = 0; k < 10; ++k)
        c.nextState(); // start mid-stream, not at i = j = 0
    const rc4Cipher before = c;

    const std::string text = "The quick brown fox jumps over the lazy dog";
    std::vector<unsigned char> a(text.begin(), text.end()), b = a, d = a;
    const auto len = static_cast<int32_t>(a.size());

    c.crypt(a.data(), len, 1);
    EXPECT_TRUE(sameState(c, before));
    c.crypt(b.data(), len, -7);
    EXPECT_TRUE(sameState(c, before));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, std::vector<unsigned char>(text.begin(), text.end()));

    c.crypt(d.data(), len, 0);
    EXPECT_EQ(d, a);
    EXPECT_FALSE(sameState(c, before));

    // Advancing by len steps gives the same state as the crypt with 0.
    rc4Cipher stepped = before;
    for (int32_t k = 0; k < len; ++k)
        stepped.nextState();
    EXPECT_TRUE(sameState(c, stepped));
}

TEST(Rc4Crypt, EmptyOrNegativeLengthChangesNothing)
{
    rc4Cipher c;
    c.setKey("Key");
    c.nextState();
    const rc4Cipher before = c;
    unsigned char buf[4] = {1, 2, 3, 4};
    for (int32_t keep : {0, 1}) {
        c.crypt(buf, 0, keep);
        c.crypt(buf, -1, keep);
        c.crypt(buf, INT32_MIN, keep);
    }
    c.crypt(nullptr, 4, 0);
    EXPECT_TRUE(sameState(c, before));
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[3], 4);
}

// Indices set from outside to out-of-range values never index past the array.
TEST(Rc4Crypt, IndicesStayInRange)
{
    rc4Cipher c;
    c.setKey("Key");
    c.i = 1000;
    c.j = -3;
    unsigned char buf[64] = {};
    c.crypt(buf, 64, 0);
    EXPECT_GE(c.i, 0);
    EXPECT_LE(c.i, 255);
    EXPECT_GE(c.j, 0);
    EXPECT_LE(c.j, 255);
    c.i = -1;
    c.j = 4096;
    int t = c.nextState();
    EXPECT_GE(t, 0);
    EXPECT_LE(t, 255);
}
