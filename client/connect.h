#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/sysnet.h"

struct _win_st;
class consoleMain;
class proxyInfo;

// RFC 4648 alphabet of make_base64_string.
extern const char base64_table[65];

// Base64 of the text's bytes (no terminator, no line breaks) in a new
// zero-terminated string that the caller releases with free(); null when out
// of memory. A null text encodes as the empty string.
char* make_base64_string(const char* text);

// Reads one line of a proxy's answer, one byte per recv, into buffer (which
// holds at least maxLen bytes); the line keeps its line feed when there is room
// for it and is always terminated. Esc (or the terminal going away) aborts.
// 0 a line was read; -1 Esc; 4001 the peer closed; 4002 socket error, or
// the time of a reconnection attempt is over (consoleMain::connectLimitMs);
// 4006 more than maxLen - 1 bytes without a line feed.
int telnetRead(int sock, char* buffer, int maxLen, _win_st* window);

// Sends all len bytes on a plain (unencrypted) socket without raising
// SIGPIPE; 0 when everything went out, else -1.
int sendAll(int fd, const char* data, int len);

// The first 12 characters of a proxy status line that grants the tunnel.
bool proxyGranted(const char* statusLine);

// Reads the proxy's answer to a CONNECT request up to the empty line that
// ends its header, line by line into buffer (2001 bytes): 0 the tunnel is
// open; 4005 refused, closed or unreadable, with buffer saying why (the
// proxy's status line, what ended the reading, or nothing); 4001, 4002, 4006
// or -1 (Esc) while reading the lines after the status line.
int readProxyAnswer(int sock, char* buffer, _win_st* window);

// The longest proxy request or answer line (without its terminator).
constexpr int proxyMessageLen = 2000;
// The most header lines a proxy's answer may have after its status line.
constexpr int proxyHeaderLinesMax = 100;

// Writes the CONNECT request for host:port into buffer (proxyMessageLen + 1
// bytes), with Basic credentials when user and password are given (an empty
// password counts); the credentials in clear are wiped from buffer. Its
// length, or -1 when it does not fit.
int proxyRequest(char* buffer, const char* host, int port, const char* user, const char* password);

// The first line of a failed connection through the proxy at host:port, in
// this build's form; why follows it.
std::string proxyFailureText(const char* host, int port);

// A name lookup: every address of host with the port, in the order to try
// them; empty when the name does not resolve.
using hostLookupFn = std::function<std::vector<sockAddress>(const char* host, int port)>;
// The lookup that consoleMain::connect uses (sockResolveAll when empty);
// tests give names addresses of their own through it.
extern hostLookupFn hostLookup;

// Looks the host up (with lookup, on a thread of its own) while the operator
// can abort with Esc: 0 with the addresses in their order, 4007 when the name
// does not resolve, -1 on Esc. A literal address needs no lookup.
int resolveAbortable(const char* host, int port, std::vector<sockAddress>& addresses, _win_st* window,
                     const hostLookupFn& lookup = nullptr);

// After a session over the tunnel entry that ended before the server showed
// a screen: the command is ended and the last lines of its standard error
// are shown in a message box. True when it had written anything.
bool showTunnelErrors(consoleMain& app, const proxyInfo& tunnel);

// The 4007 message for a host name, shortened so that the whole message fits
// a message box on the 80-column screen.
void resolveFailureText(char* out, int size, const char* host);
