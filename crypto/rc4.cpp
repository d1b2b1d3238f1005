#include "crypto/rc4.h"

#include <bit>
#include <cstring>

#include "net/sutil.h"

namespace {

constexpr bool littleEndian = std::endian::native == std::endian::little;

// One generator step over S: the next keystream byte.
inline uint32_t nextKey(unsigned char* S, uint32_t& i, uint32_t& j)
{
    i = (i + 1) & 0xff;
    const uint32_t si = S[i];
    j = (j + si) & 0xff;
    const uint32_t sj = S[j];
    S[i] = static_cast<unsigned char>(sj);
    S[j] = static_cast<unsigned char>(si);
    return S[(si + sj) & 0xff];
}

// Runs `length` generator steps over S with the indices in i and j, XORing
// each keystream byte into the buffer.
inline void cryptWith(unsigned char* S, int32_t& iRef, int32_t& jRef, unsigned char* buf, int32_t length)
{
    // Local copies keep the indices in registers instead of reloading them
    // after every store to S.
    uint32_t i = static_cast<uint32_t>(iRef);
    uint32_t j = static_cast<uint32_t>(jRef);
    int32_t n = 0;
    // Eight keystream bytes gathered into one word and XORed with eight
    // bytes of the buffer at once: one load and one store instead of eight
    // of each, which leaves the state's loads and stores the only traffic.
    for (; n + 8 <= length; n += 8) {
        uint64_t keys = 0;
#pragma GCC unroll 8
        for (int b = 0; b < 8; ++b) keys |= uint64_t{nextKey(S, i, j)} << (8 * (littleEndian ? b : 7 - b));
        uint64_t word;
        std::memcpy(&word, buf + n, sizeof word);
        word ^= keys;
        std::memcpy(buf + n, &word, sizeof word);
    }
    for (; n < length; ++n) buf[n] ^= static_cast<unsigned char>(nextKey(S, i, j));
    iRef = static_cast<int32_t>(i);
    jRef = static_cast<int32_t>(j);
}

} // namespace

rc4Cipher::rc4Cipher() : i(0), j(0)
{
    setKey("");
}

rc4Cipher::~rc4Cipher()
{
    wipe();
}

void rc4Cipher::wipe()
{
    wipeMemory(permutation, sizeof permutation);
    i = 0;
    j = 0;
}

void rc4Cipher::setKey(const char* key)
{
    int32_t length = key != nullptr ? static_cast<int32_t>(std::strlen(key)) : 0;
    setKey(reinterpret_cast<const unsigned char*>(key), length);
}

void rc4Cipher::setKey(const unsigned char* key, int32_t length)
{
    unsigned char* S = permutation;
    for (int n = 0; n < 256; ++n)
        S[n] = static_cast<unsigned char>(n);
    // An empty key leaves the identity permutation and the indices as they were.
    if (key == nullptr || length <= 0)
        return;
    i = 0;
    j = 0;
    unsigned int t = 0;
    int32_t k = 0;
    for (int n = 0; n < 256; ++n) {
        unsigned char sn = S[n];
        t = (t + sn + key[k]) & 0xff;
        S[n] = S[t];
        S[t] = sn;
        if (++k == length)
            k = 0;
    }
}

int rc4Cipher::nextState()
{
    i = (i + 1) & 0xff;
    j = (j + permutation[i]) & 0xff;
    unsigned char s = permutation[i];
    permutation[i] = permutation[j];
    permutation[j] = s;
    return (permutation[i] + permutation[j]) & 0xff;
}

unsigned char rc4Cipher::crypt(unsigned char b)
{
    return static_cast<unsigned char>(permutation[nextState()] ^ b);
}

void rc4Cipher::crypt(unsigned char* buffer, int32_t length, int32_t keepState)
{
    if (buffer == nullptr || length <= 0)
        return;
    if (keepState != 0) {
        // Working on a copy is the same as saving and restoring the state.
        unsigned char S[256];
        std::memcpy(S, permutation, sizeof S);
        int32_t ci = i, cj = j;
        cryptWith(S, ci, cj, buffer, length);
        wipeMemory(S, sizeof S);
        return;
    }
    cryptWith(permutation, i, j, buffer, length);
}
