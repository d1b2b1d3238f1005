#include "crypto/ccomm.h"

#include "crypto/rc4.h"

#include "net/sysnet.h"

// Encrypts the buffer in place and hands it to one send(). A peer that has
// gone away shows as -1 instead of a SIGPIPE that would end the program.
int32_t c_send(rc4Cipher& cipher, int sock, void* buffer, int32_t len)
{
    if (len <= 0)
        return 0;
    if (buffer == nullptr) {
        sockSetLastError(sockErrFault);
        return -1;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    cipher.crypt(bytes, len, 0);
    return sockSend(sock, bytes, len);
}

// One recv() of at most len bytes; only the bytes that arrived pass through
// the cipher, so a failed or closed read leaves the keystream in step.
int32_t c_recv(rc4Cipher& cipher, int sock, void* buffer, int32_t len)
{
    if (len <= 0)
        return 0;
    if (buffer == nullptr) {
        sockSetLastError(sockErrFault);
        return -1;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    int32_t n = sockRecv(sock, bytes, len);
    if (n > 0)
        cipher.crypt(bytes, n, 0);
    return n;
}
