#pragma once
#include <cstdint>

// One RC4 state. Encryption and decryption are the same operation.
class rc4Cipher {
public:
    unsigned char permutation[256];
    int32_t i;
    int32_t j;

    rc4Cipher();
    ~rc4Cipher();
    rc4Cipher(const rc4Cipher&) = default;
    rc4Cipher& operator=(const rc4Cipher&) = default;
    void setKey(const char* key);
    void setKey(const unsigned char* key, int32_t length);
    int nextState();
    unsigned char crypt(unsigned char b);
    void crypt(unsigned char* buffer, int32_t length, int32_t keepState);
    // Forgets the keyed state: a state that is left behind decrypts the rest
    // of the stream, and running it back gives the key's starting state.
    void wipe();
};
