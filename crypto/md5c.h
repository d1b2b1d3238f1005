#pragma once
#include <cstdint>

// MD5 message digest (RFC 1321).
struct MD5Context {
    uint32_t state[4];
    uint32_t count[2];   // bit count, low word first
    unsigned char buffer[64];
};

void MD5Init(MD5Context* ctx);
void MD5Update(MD5Context* ctx, const unsigned char* data, uint32_t len);
void MD5Final(unsigned char digest[16], MD5Context* ctx);
void MD5Transform(uint32_t state[4], const uint32_t block[16]);
void MD5Sum(unsigned char digest[16], const void* data, int32_t len);

// The salt appended to a password before hashing.
inline constexpr char passwordSalt[] = "Nivarol";
// MD5 of the password's bytes followed by the 7 salt bytes. Null gives zeros.
void passwordDigest(unsigned char digest[16], const char* password);
