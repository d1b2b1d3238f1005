#include "net/sysnet.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

const bool sockBlockingByDefault = false;
const int sockNoAcceptResult = -1;
const int sockErrInvalid = EINVAL;
const int sockErrFault = EFAULT;
const int sockErrIsConnected = EISCONN;

void sockStartup() {}

void sockCleanup() {}

// Close-on-exec: a command the program starts (a tunnel) inherits none of its sockets.
int sockOpenTcp(int family) { return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int sockClose(int s) { return ::close(s); }

int sockSetNonBlocking(int s, bool on) {
    int value = on ? 1 : 0;
    return ioctl(s, FIONBIO, &value);
}

int sockSend(int s, const void* buffer, int len) {
    return static_cast<int>(::send(s, buffer, static_cast<size_t>(len), MSG_NOSIGNAL));
}

int sockRecv(int s, void* buffer, int len) {
    return static_cast<int>(::recv(s, buffer, static_cast<size_t>(len), 0));
}

int sockPeekByte(int s) {
    char c;
    return static_cast<int>(::recv(s, &c, 1, MSG_PEEK | MSG_DONTWAIT));
}

int sockLastError() { return errno; }

void sockSetLastError(int err) { errno = err; }

const int sockErrTimedOut = ETIMEDOUT;

std::string sockErrorText(int err) { return std::strerror(err); }

bool sockWouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

bool sockInProgress(int err) { return err == EINPROGRESS || err == EALREADY; }

bool sockInterrupted(int err) { return err == EINTR; }

bool sockPeerGone(int err) { return err == EPIPE || err == ECONNRESET || err == ECONNABORTED; }

int sockWait(int s, int events, int ms) {
    pollfd p{s, 0, 0};
    if (events & sockReadable)
        p.events |= POLLIN;
    if (events & sockWritable)
        p.events |= POLLOUT;
    if (events & sockExcept)
        p.events |= POLLPRI;
    int n = poll(&p, 1, ms < 0 ? -1 : ms);
    if (n <= 0)
        return n;
    int seen = 0;
    const short broken = POLLHUP | POLLERR | POLLNVAL;
    if (p.revents & (POLLIN | broken))
        seen |= sockReadable;
    if (p.revents & (POLLOUT | broken))
        seen |= sockWritable;
    if (p.revents & POLLPRI)
        seen |= sockExcept;
    return seen & events;
}

int sockPendingError(int s) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

int sockSetNoDelay(int sock) {
    const int on = 1;
    return setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int sockSetKeepAlive(int sock, int idleS, int intervalS, int count) {
    const int on = 1;
    const unsigned int userTimeoutMs = static_cast<unsigned int>(idleS + intervalS * count) * 1000u;
    int failed = 0;
    failed |= setsockopt(sock, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    failed |= setsockopt(sock, IPPROTO_TCP, TCP_KEEPIDLE, &idleS, sizeof idleS);
    failed |= setsockopt(sock, IPPROTO_TCP, TCP_KEEPINTVL, &intervalS, sizeof intervalS);
    failed |= setsockopt(sock, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    // Keepalive probes wait while sent data is unacknowledged; this covers that.
    failed |= setsockopt(sock, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
    return failed ? -1 : 0;
}

void sockSleepMs(int ms) {
    if (ms <= 0)
        return;
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void sockReportBindError(int) {}

void sockReportListenError() {}
