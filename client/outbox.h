#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class rc4Cipher;

// Past this much unsent output the session holds its keys back and stops
// reading from the server (whose messages would only add acknowledgements),
// until the server takes its output again.
constexpr size_t outboxBacklogLimit = 64 * 1024;

// The way out of a session. Each message is encrypted when it is posted, so
// the keystream follows the order of the messages, and goes out at once as
// far as the socket takes it; the rest is kept and sent, in order, when the
// socket is writable again. Posting never blocks, so a peer that stops
// reading cannot freeze the program. What has gone out is dropped, so the
// memory held follows what still waits, not the traffic so far.
class sessionOutbox {
public:
    sessionOutbox(rc4Cipher& cipher, int sock) : cipher_(cipher), sock_(sock) {}

    // Encrypts len bytes of data in place (the buffer holds ciphertext
    // afterwards) and sends or keeps them. Nothing is sent after a failure.
    void post(void* data, int32_t len);
    // A 4-byte word, little-endian.
    void postWord(uint32_t word);
    // Sends what is kept, as far as the socket takes it.
    void flush();
    // Bytes still waiting for the socket.
    size_t backlog() const { return kept_.size() - sent_; }
    // Bytes of memory held for what waits.
    size_t held() const { return kept_.capacity(); }
    // 0 while all is well; 4001 when the peer has gone, 4002 after another
    // socket error.
    int failure() const { return failure_; }

private:
    rc4Cipher& cipher_;
    int sock_;
    std::vector<unsigned char> kept_;
    size_t sent_ = 0;
    int failure_ = 0;

    void keep(const unsigned char* data, size_t len);
    void dropSent();
    void fail();
};
