#include "net/tcpopt.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

int setNoDelay(int sock) {
    const int on = 1;
    return setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int setKeepAlive(int sock, int idleS, int intervalS, int count) {
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

int sendSome(int sock, const void* data, int len) {
    if (len <= 0) return 0;
    return static_cast<int>(::send(sock, data, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT));
}

socketErrorKind lastSocketError() {
    switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return socketRetry;
    case EINTR:
        return socketInterrupted;
    case EPIPE:
    case ECONNRESET:
        return socketClosed;
    default:
        return socketFailed;
    }
}

unsigned int resolveFirstIPv4(const char* hostname) {
    if (!hostname) return INADDR_NONE;
    const in_addr_t dotted = inet_addr(hostname);
    if (dotted != INADDR_NONE && dotted != 0) return dotted;
    // gethostbyname keeps the resolver's order; the reentrant form lets a
    // lookup run on a thread of its own.
    hostent entry{};
    hostent* result = nullptr;
    int err = 0;
    std::vector<char> work(2048);
    while (gethostbyname_r(hostname, &entry, work.data(), work.size(), &result, &err) == ERANGE &&
           work.size() < (1u << 20))
        work.resize(work.size() * 2);
    if (!result || result->h_addrtype != AF_INET || result->h_length != 4 || !result->h_addr_list ||
        !result->h_addr_list[0])
        return INADDR_NONE;
    in_addr_t address = INADDR_NONE;
    std::memcpy(&address, result->h_addr_list[0], sizeof address);
    return address;
}
