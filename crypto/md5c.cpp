#include "crypto/md5c.h"

#include <cstring>

#include "net/sutil.h"

namespace {

// Reads one little-endian 32-bit word from possibly unaligned bytes.
inline uint32_t loadLE32(const unsigned char* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
#else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
}

inline void storeLE32(unsigned char* p, uint32_t w)
{
    p[0] = static_cast<unsigned char>(w);
    p[1] = static_cast<unsigned char>(w >> 8);
    p[2] = static_cast<unsigned char>(w >> 16);
    p[3] = static_cast<unsigned char>(w >> 24);
}

inline uint32_t rotl(uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

// The four round functions, written in the forms with the fewest operations.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

// One step: a = b + ((a + f(b,c,d) + word + constant) <<< s). The word and
// constant are added first since they do not depend on the previous step.
#define MD5_STEP(f, a, b, c, d, w, k, s)                  \
    do {                                                  \
        (a) += (w) + uint32_t(k);                         \
        (a) += f((b), (c), (d));                          \
        (a) = rotl((a), (s)) + (b);                       \
    } while (0)

// The 64 steps of the compression function over the words x[0..15].
inline void compress(uint32_t state[4], const uint32_t x[16])
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

// Runs the compression function over `blocks` consecutive 64-byte blocks.
void compressBytes(uint32_t state[4], const unsigned char* p, uint32_t blocks)
{
    uint32_t x[16];
    for (; blocks > 0; --blocks, p += 64) {
        for (int n = 0; n < 16; ++n)
            x[n] = loadLE32(p + 4 * n);
        compress(state, x);
    }
}

} // namespace

void MD5Init(MD5Context* ctx)
{
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->count[0] = 0;
    ctx->count[1] = 0;
}

void MD5Update(MD5Context* ctx, const unsigned char* data, uint32_t len)
{
    if (len == 0)
        return;
    uint32_t used = (ctx->count[0] >> 3) & 63;

    // The bit count is 64 bits wide, kept as two words.
    uint32_t low = ctx->count[0] + (len << 3);
    if (low < ctx->count[0])
        ++ctx->count[1];
    ctx->count[0] = low;
    ctx->count[1] += len >> 29;

    if (used != 0) {
        uint32_t room = 64 - used;
        if (len < room) {
            std::memcpy(ctx->buffer + used, data, len);
            return;
        }
        std::memcpy(ctx->buffer + used, data, room);
        compressBytes(ctx->state, ctx->buffer, 1);
        data += room;
        len -= room;
    }
    // Whole blocks straight from the caller's data, the tail into the buffer.
    compressBytes(ctx->state, data, len / 64);
    data += len & ~uint32_t(63);
    len &= 63;
    if (len != 0)
        std::memcpy(ctx->buffer, data, len);
}

void MD5Final(unsigned char digest[16], MD5Context* ctx)
{
    uint32_t used = (ctx->count[0] >> 3) & 63;
    unsigned char bits[8];
    storeLE32(bits, ctx->count[0]);
    storeLE32(bits + 4, ctx->count[1]);

    ctx->buffer[used++] = 0x80;
    if (used > 56) {
        std::memset(ctx->buffer + used, 0, 64 - used);
        compressBytes(ctx->state, ctx->buffer, 1);
        used = 0;
    }
    std::memset(ctx->buffer + used, 0, 56 - used);
    std::memcpy(ctx->buffer + 56, bits, 8);
    compressBytes(ctx->state, ctx->buffer, 1);

    for (int n = 0; n < 4; ++n)
        storeLE32(digest + 4 * n, ctx->state[n]);
    // The context holds message bytes and state; do not leave them behind.
    wipeMemory(ctx, sizeof *ctx);
}

void MD5Transform(uint32_t state[4], const uint32_t block[16])
{
    compress(state, block);
}

void MD5Sum(unsigned char digest[16], const void* data, int32_t len)
{
    if (len < 0)
        return;
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, static_cast<const unsigned char*>(data), static_cast<uint32_t>(len));
    MD5Final(digest, &ctx);
}

void passwordDigest(unsigned char digest[16], const char* password)
{
    if (password == nullptr) {
        std::memset(digest, 0, 16);
        return;
    }
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>(password),
              static_cast<uint32_t>(std::strlen(password)));
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>(passwordSalt), 7);
    MD5Final(digest, &ctx);
}
