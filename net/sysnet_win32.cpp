#include "net/sysnet.h"

#include "net/iclass.h"

#include <mstcpip.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

const bool sockBlockingByDefault = true;
const int sockNoAcceptResult = -2;
const int sockErrInvalid = WSAEINVAL;
const int sockErrFault = WSAEFAULT;
const int sockErrIsConnected = WSAEISCONN;

namespace {

SOCKET handle(int s) { return static_cast<SOCKET>(s); }

// The socket library is up from before main until after it.
Winsock winsock;

} // namespace

void sockStartup() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
}

void sockCleanup() { WSACleanup(); }

// INVALID_SOCKET becomes -1. Not inherited: a command the program starts (a
// tunnel) gets none of its sockets.
int sockOpenTcp(int family) {
    const SOCKET s = ::socket(family, SOCK_STREAM, 0);
    if (s != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<int>(s);
}

int sockClose(int s) { return closesocket(handle(s)); }

int sockSetNonBlocking(int s, bool on) {
    // A wait leaves the socket selected to its event, which keeps it
    // non-blocking: the selection goes first.
    if (!on) WSAEventSelect(handle(s), nullptr, 0);
    u_long value = on ? 1 : 0;
    return ioctlsocket(handle(s), FIONBIO, &value);
}

// Winsock raises no signal for a send to a peer that has gone.
int sockSend(int s, const void* buffer, int len) {
    return ::send(handle(s), static_cast<const char*>(buffer), len, 0);
}

int sockRecv(int s, void* buffer, int len) { return ::recv(handle(s), static_cast<char*>(buffer), len, 0); }

// Winsock has no per-call "don't wait": callers switch the socket to
// non-blocking mode around this.
int sockPeekByte(int s) {
    char c;
    return ::recv(handle(s), &c, 1, MSG_PEEK);
}

int sockPendingError(int s) {
    int err = 0;
    int len = sizeof err;
    if (getsockopt(handle(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return WSAGetLastError();
    return err;
}

int sockSetNoDelay(int s) {
    const BOOL on = TRUE;
    return setsockopt(handle(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Windows sends 10 probes whatever is asked: the interval is stretched so
// that the whole wait stays what the caller asked for.
int sockSetKeepAlive(int s, int idleS, int intervalS, int count) {
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(idleS) * 1000u;
    values.keepaliveinterval = static_cast<ULONG>(intervalS * count) * 100u;
    DWORD returned = 0;
    return WSAIoctl(handle(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) == 0
               ? 0
               : -1;
}

int sockLastError() { return WSAGetLastError(); }

void sockSetLastError(int err) { WSASetLastError(err); }

const int sockErrTimedOut = WSAETIMEDOUT;

std::string sockErrorText(int err) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(err), 0, text, sizeof text, nullptr);
    // The system's sentence without its full stop and line end.
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' ')) --n;
    return n > 0 ? std::string(text, n) : "Winsock error " + std::to_string(err);
}

bool sockWouldBlock(int err) { return err == WSAEWOULDBLOCK; }

bool sockInProgress(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS || err == WSAEALREADY; }

bool sockInterrupted(int err) { return err == WSAEINTR; }

bool sockPeerGone(int err) { return err == WSAECONNRESET || err == WSAECONNABORTED || err == WSAESHUTDOWN; }

int sockWait(int s, int events, int ms) {
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (events & sockReadable)
        FD_SET(handle(s), &readSet);
    if (events & sockWritable)
        FD_SET(handle(s), &writeSet);
    if (events & sockExcept)
        FD_SET(handle(s), &exceptSet);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    int n = select(0, &readSet, &writeSet, &exceptSet, ms < 0 ? nullptr : &limit);
    if (n <= 0)
        return n;
    int seen = 0;
    if (FD_ISSET(handle(s), &readSet))
        seen |= sockReadable;
    if (FD_ISSET(handle(s), &writeSet))
        seen |= sockWritable;
    if (FD_ISSET(handle(s), &exceptSet))
        seen |= sockExcept;
    return seen;
}

void sockSleepMs(int ms) {
    if (ms > 0)
        Sleep(static_cast<DWORD>(ms));
}

void sockReportBindError(int err) {
    char text[64];
    std::snprintf(text, sizeof text, "Socket bind error %d\r\n", err);
    MessageBoxA(nullptr, text, "error", MB_OK);
}

// The socket library's own code is not what is printed here: the message
// has always shown the C runtime's errno.
void sockReportListenError() { std::printf("Socket listen error %d\r\n", errno); }
