#pragma once

// TCP options and non-blocking transfer on a connected socket descriptor.

// TCP_NODELAY on, so that small messages leave at once. Returns the system result.
int setNoDelay(int sock);

// Keepalive probes after idleS seconds of silence, every intervalS seconds,
// count of them unanswered ending the connection; unacknowledged data gives
// up after the same time. A link that vanished without closing then fails
// within idleS + intervalS * count seconds. 0 when every option was set.
int setKeepAlive(int sock, int idleS, int intervalS, int count);

// One send that neither blocks on a non-blocking socket nor raises a signal:
// the bytes taken (maybe fewer than len), or -1 (see lastSocketError).
int sendSome(int sock, const void* data, int len);

// What the last failed socket call means for its caller.
enum socketErrorKind {
    socketRetry,        // would block: try again when the socket is ready
    socketInterrupted,  // a signal broke the call: try again
    socketClosed,   // the peer has gone (reset, broken pipe)
    socketFailed,   // any other error
};
socketErrorKind lastSocketError();

// The first IPv4 address of a dotted address or host name, in the order the
// resolver gives them, or INADDR_NONE. Safe to call from several threads.
unsigned int resolveFirstIPv4(const char* hostname);
