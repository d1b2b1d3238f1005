#include "client/outbox.h"

#include "crypto/ccomm.h"
#include "crypto/rc4.h"
#include "net/sysnet.h"

namespace {

bool retryLater() {
    const int err = sockLastError();
    return sockWouldBlock(err) || sockInterrupted(err);
}

}  // namespace

// Forgets what has gone out: all of it once nothing waits, otherwise the
// front once it is at least half of what is kept, so that each byte is moved
// at most about once.
void sessionOutbox::dropSent() {
    if (sent_ == kept_.size()) {
        kept_.clear();
        sent_ = 0;
    } else if (sent_ > 0 && sent_ >= kept_.size() / 2) {
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(sent_));
        sent_ = 0;
    }
}

void sessionOutbox::keep(const unsigned char* data, size_t len) {
    dropSent();
    kept_.insert(kept_.end(), data, data + len);
}

void sessionOutbox::fail() {
    failure_ = sockPeerGone(sockLastError()) ? 4001 : 4002;
    kept_.clear();
    sent_ = 0;
}

void sessionOutbox::post(void* data, int32_t len) {
    if (len <= 0 || !data || failure_) return;
    auto* bytes = static_cast<unsigned char*>(data);
    if (backlog() > 0) {
        // Behind what is kept: encrypt now, send in turn.
        cipher_.crypt(bytes, len, 0);
        keep(bytes, static_cast<size_t>(len));
        flush();
        return;
    }
    const int32_t n = c_send(cipher_, sock_, bytes, len);
    if (n == len) return;
    if (n < 0 && !retryLater()) {
        fail();
        return;
    }
    // The cipher has moved on by the whole message: what did not go out now
    // must still go, byte for byte, or the stream falls out of step.
    const int32_t done = n > 0 ? n : 0;
    keep(bytes + done, static_cast<size_t>(len - done));
}

void sessionOutbox::postWord(uint32_t word) {
    unsigned char bytes[4];
    for (int b = 0; b < 4; ++b) bytes[b] = static_cast<unsigned char>(word >> (8 * b));
    post(bytes, 4);
}

void sessionOutbox::flush() {
    while (backlog() > 0 && !failure_) {
        const size_t left = backlog();
        const int chunk = left > (1u << 20) ? (1 << 20) : static_cast<int>(left);
        const int n = sockSend(sock_, kept_.data() + sent_, chunk);
        if (n < 0) {
            if (!retryLater()) fail();
            break;
        }
        sent_ += static_cast<size_t>(n);
        if (n < chunk) break;
    }
    dropSent();
}
