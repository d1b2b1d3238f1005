#pragma once
#include <cstdint>

class rc4Cipher;

// Encrypts len bytes in place, then one send() of them; returns its result.
int32_t c_send(rc4Cipher& cipher, int sock, void* buffer, int32_t len);
// One recv() of at most len bytes; decrypts what arrived; returns its result.
// A result of 0 or -1 leaves the cipher untouched.
int32_t c_recv(rc4Cipher& cipher, int sock, void* buffer, int32_t len);
