#include "crypto/ccomm.h"

#include "crypto/rc4.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/types.h>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif

// Encrypts the buffer in place and hands it to one send(). A peer that has
// gone away shows as -1 (EPIPE) instead of a SIGPIPE that would end the program.
int32_t c_send(rc4Cipher& cipher, int sock, void* buffer, int32_t len)
{
    if (len <= 0)
        return 0;
    if (buffer == nullptr) {
        errno = EFAULT;
        return -1;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    cipher.crypt(bytes, len, 0);
    return static_cast<int32_t>(::send(sock, bytes, static_cast<size_t>(len), MSG_NOSIGNAL));
}

// One recv() of at most len bytes; only the bytes that arrived pass through
// the cipher, so a failed or closed read leaves the keystream in step.
int32_t c_recv(rc4Cipher& cipher, int sock, void* buffer, int32_t len)
{
    if (len <= 0)
        return 0;
    if (buffer == nullptr) {
        errno = EFAULT;
        return -1;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    auto n = static_cast<int32_t>(::recv(sock, bytes, static_cast<size_t>(len), 0));
    if (n > 0)
        cipher.crypt(bytes, n, 0);
    return n;
}
