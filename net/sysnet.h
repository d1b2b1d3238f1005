#pragma once

// The few socket and waiting calls whose names, flags or error codes differ
// between POSIX sockets and Winsock, so that the code above them reads the
// same in both builds. Descriptors are ints in both (Winsock's handles fit).

#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SockLen = int;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SockLen = socklen_t;
#endif

// True on Windows: new sockets count as blocking, and a socket taken over
// with a descriptor is switched to blocking mode (Winsock hands out accepted
// sockets with the listening socket's mode).
extern const bool sockBlockingByDefault;
// What Socket::accept(addr, len) returns when the socket cannot accept.
extern const int sockNoAcceptResult;

// Starts and stops the platform's socket library (Winsock 1.1).
void sockStartup();
void sockCleanup();

// A new TCP socket of the family (AF_INET, AF_INET6), or -1.
int sockOpenTcp(int family = AF_INET);
int sockClose(int s);
// FIONBIO: 0 on success.
int sockSetNonBlocking(int s, bool on);
// One send or recv without flags, except that a send to a peer that has
// gone reports an error instead of raising a signal.
int sockSend(int s, const void* buffer, int len);
int sockRecv(int s, void* buffer, int len);
// Peeks at one byte without waiting and without taking it.
int sockPeekByte(int s);

// The error code of the last failed socket call (errno, WSAGetLastError).
int sockLastError();
void sockSetLastError(int err);
// Error codes as sockLastError reports them.
extern const int sockErrInvalid;       // an invalid argument
extern const int sockErrFault;         // a bad buffer address
extern const int sockErrIsConnected;   // the socket is already connected
extern const int sockErrTimedOut;      // a connection attempt ran out of time
// The system's words for an error code as sockLastError reports it
// ("Connection refused"); never empty.
std::string sockErrorText(int err);
// A non-blocking call that would have had to wait.
bool sockWouldBlock(int err);
// A non-blocking connect that is still under way.
bool sockInProgress(int err);
// A call cut short by a signal.
bool sockInterrupted(int err);
// The peer has gone: reset, aborted or a broken pipe.
bool sockPeerGone(int err);

// What sockWait watches and reports.
enum : int { sockReadable = 1, sockWritable = 2, sockExcept = 4 };
// Waits up to ms milliseconds (-1: no limit) until the socket is ready for
// one of `events`. Returns the ready events, 0 after the time, -1 on an
// error. A closed peer shows as readable. A connect that failed shows as
// writable on Linux and only as sockExcept on Windows: wait for both.
int sockWait(int s, int events, int ms);

// The error a non-blocking connect ended with (SO_ERROR): 0 when it
// succeeded; the error of getsockopt itself when that fails.
int sockPendingError(int s);

// TCP_NODELAY on, so that small messages leave at once. 0 on success.
int sockSetNoDelay(int s);
// Keepalive probes after idleS seconds of silence, every intervalS seconds,
// count of them unanswered ending the connection (the Windows build has a
// fixed count of 10 and spreads the same time over it); unacknowledged data
// gives up after the same time where the system allows. A link that vanished
// without closing then fails within about idleS + intervalS * count seconds.
// 0 when every option was set.
int sockSetKeepAlive(int s, int idleS, int intervalS, int count);

// One address to connect to, IPv4 or IPv6, with its port, as the socket
// calls take it.
struct sockAddress {
    sockaddr_storage storage{};
    SockLen length = 0;

    int family() const { return storage.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// The address of an IPv4 literal (as inet_addr reads it, 0.0.0.0 and
// 255.255.255.255 excepted: those are names) or an IPv6 literal, with the
// port (host order, taken modulo 65536). False for anything else.
bool sockLiteralAddress(const char* host, int port, sockAddress& out);
// Every TCP address of a literal or host name (getaddrinfo, either family),
// in the order the resolver gives them, each with the port; empty when the
// name does not resolve. Safe to call from several threads.
std::vector<sockAddress> sockResolveAll(const char* host, int port);
// The address without its port in the system's text form: 10.1.2.3, or
// 2001:db8::1 for IPv6 (no brackets).
std::string sockAddressText(const sockAddress& address);
// The port in host order.
int sockAddressPort(const sockAddress& address);

// Sleeps for ms milliseconds.
void sockSleepMs(int ms);

// The two messages the Windows build shows when setting up a socket fails;
// nothing on Linux.
void sockReportBindError(int err);
void sockReportListenError();
