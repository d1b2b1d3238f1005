#pragma once
#include <cstdint>

struct _win_st;
class consoleMain;

// RFC 4648 alphabet of make_base64_string.
extern const char base64_table[65];

// Base64 of the text's bytes (no terminator, no line breaks) in a new
// zero-terminated string that the caller releases with free(); null when out
// of memory. A null text encodes as the empty string.
char* make_base64_string(const char* text);

// Reads one line of a proxy's answer, one byte per recv, into buffer (which
// holds at least maxLen bytes); the line keeps its line feed when there is room
// for it and is always terminated. Esc (or the terminal going away) aborts.
// 0 a line was read; -1 Esc; 4001 the peer closed; 4002 socket error;
// 4006 more than maxLen - 1 bytes without a line feed.
int telnetRead(int sock, char* buffer, int maxLen, _win_st* window);

// What waitSocketOrKey saw.
enum : int { seenSocket = 1, seenKeys = 2 };

// One wait point for the socket and the terminal together: waits up to
// timeoutMs (never spinning) until fd reports `events` (POLLIN or POLLOUT; a
// hang-up or error counts as ready) or, when watchKeys, until a key may be
// waiting. Returns a mask of seenSocket and seenKeys; 0 on timeout or signal.
int waitSocketOrKey(int fd, short events, int timeoutMs, bool watchKeys);

// Sends all len bytes on a plain (unencrypted) socket without raising
// SIGPIPE; 0 when everything went out, else -1.
int sendAll(int fd, const char* data, int len);

// The first 12 characters of a proxy status line that grants the tunnel.
bool proxyGranted(const char* statusLine);
