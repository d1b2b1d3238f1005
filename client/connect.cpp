#include "client/connect.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "client/build.h"
#include "client/cmain.h"
#include "console/cinput.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/term.h"
#include "console/wait.h"
#include "net/flags.h"
#include "net/iclass.h"
#include "net/sutil.h"
#include "net/sysnet.h"
#include "net/tunnel.h"

const char base64_table[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

constexpr int messageLen = proxyMessageLen;   // characters of the message buffer
constexpr int connectWaitMs = 120 * 1000;   // 120 turns of 1 s
constexpr int turnMs = 1000;
constexpr unsigned char errorColor = 0x4E;
constexpr char pressEnter[] = "Press Enter to continue...";
// Keepalive timers: a link that vanished ends the session within a minute.
constexpr int keepAliveIdleS = 20;
constexpr int keepAliveIntervalS = 5;
constexpr int keepAliveCount = 6;
// The widest text a message box shows whole on the 80-column screen.
constexpr int messageWidth = 77;

// Takes one key event without waiting; true on Esc, on the terminal going
// away and on a termination request, which all abort the wait.
bool abortRequested(_win_st* window) {
    if (EXIT) return true;
    INPUT_RECORD record{};
    int got = waitKey(window, &record, 0);
    if (got < 0) return true;
    return got > 0 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
           record.Event.KeyEvent.wVirtualKeyCode == kcEsc;
}

// Set while a connection is made without message boxes (consoleMain::quietFailures).
bool quietErrors = false;
// Where the connection being made keeps the words of its failure
// (consoleMain::connectFailure); null outside a connect.
std::string* failureWords = nullptr;

// The failure's text, and under it why when that is known.
void showError(_win_st* window, const char* text, const std::string& cause = "") {
    if (failureWords) *failureWords = cause.empty() ? std::string(text) : std::string(text) + " " + cause;
    if (quietErrors) return;
    messageBox(window, errorColor, cause.empty() ? text : (std::string(text) + "\n" + cause).c_str(), pressEnter);
}

// Keeps the failures of one connect quiet when its owner asks for it.
class quietScope {
public:
    explicit quietScope(bool quiet) : was_(quietErrors) { quietErrors = quiet; }
    ~quietScope() { quietErrors = was_; }
    quietScope(const quietScope&) = delete;
    quietScope& operator=(const quietScope&) = delete;

private:
    bool was_;
};

// Keeps the words of one connect's failure in its owner's string.
class wordsScope {
public:
    explicit wordsScope(std::string& words) : was_(failureWords) {
        words.clear();
        failureWords = &words;
    }
    ~wordsScope() { failureWords = was_; }
    wordsScope(const wordsScope&) = delete;
    wordsScope& operator=(const wordsScope&) = delete;

private:
    std::string* was_;
};

const char* orEmpty(const char* s) { return s ? s : ""; }

bool hasText(const char* s) { return s && *s; }

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// The end of the whole connection attempt (consoleMain::connectLimitMs):
// the lookup, the TCP connect and the proxy's answer all end by then.
// Clock's largest time when the attempt has no limit.
Clock::time_point attemptDeadline = Clock::time_point::max();

// A wait of at most ms that also ends with the attempt.
int attemptWait(int ms) { return std::min(ms, msUntil(attemptDeadline)); }

bool attemptOver() { return attemptDeadline != Clock::time_point::max() && msUntil(attemptDeadline) == 0; }

// Holds the attempt's deadline for one connect.
class attemptScope {
public:
    explicit attemptScope(int limitMs) {
        attemptDeadline = limitMs > 0 ? Clock::now() + std::chrono::milliseconds(limitMs) : Clock::time_point::max();
    }
    ~attemptScope() { attemptDeadline = Clock::time_point::max(); }
    attemptScope(const attemptScope&) = delete;
    attemptScope& operator=(const attemptScope&) = delete;
};

// Waits until the deadline for a non-blocking connect to finish. 0
// connected, 4004 failed (error: the system's code) or timed out, -1
// aborted by the operator.
int waitConnected(Socket& sock, _win_st* window, Clock::time_point deadline, int& error) {
    for (;;) {
        int left = msUntil(deadline);
        int seen = waitSocketOrKey(sock.sock, waitWrite, left < turnMs ? left : turnMs, true);
        if (seen & seenSocket) {
            // Ready also means "failed" (writable on Linux, an exception on
            // Windows): the pending error tells.
            error = sockPendingError(sock.sock);
            if (error != 0) return resultConnectFailed;
            Flags::set(sock.state, Socket::Connected);
            return 0;
        }
        if ((seen & seenKeys) && abortRequested(window)) return resultEscaped;
        if (EXIT) return resultEscaped;
        error = sockErrTimedOut;
        if (msUntil(deadline) == 0) return resultConnectFailed;
    }
}

// How long an address may stay pending before the next one is tried: an
// even part of the turns left, at most 10, and all of them for the last.
constexpr int maxTurnsPerAddress = 10;

// Connects the socket to the first of the addresses that answers, trying
// them in order within the 120 turns, each on a socket of its family. An
// address that fails at once gives way to the next at once; one still
// pending after its share of the turns is given up for the next. 0
// connected, 4004 none did, -1 aborted; `last` is the index of the last
// address tried and `error` the system's code of its failure.
int connectAny(Socket& sock, const std::vector<sockAddress>& addresses, _win_st* window, size_t& last, int& error) {
    const auto deadline = std::min(attemptDeadline, Clock::now() + std::chrono::milliseconds(connectWaitMs));
    int result = resultConnectFailed;
    last = 0;
    error = sockErrTimedOut;
    for (size_t i = 0; i < addresses.size() && result == resultConnectFailed; ++i) {
        if (i > 0 && msUntil(deadline) == 0) break;
        last = i;
        if (sock.open(addresses[i].family()) != 0) {
            error = sockLastError();
            continue;
        }
        sock.noblock();
        const int rc = sock.connectTo(addresses[i]);
        const int err = sockLastError();
        if (rc == 0 || sock.connected()) return 0;
        error = err;
        if (sock.sock < 0 || !sockInProgress(err)) continue;
        auto until = deadline;
        const size_t left = addresses.size() - i;
        if (left > 1) {
            int turns = msUntil(deadline) / turnMs / static_cast<int>(left);
            turns = turns < 1 ? 1 : (turns > maxTurnsPerAddress ? maxTurnsPerAddress : turns);
            until = std::min(deadline, Clock::now() + std::chrono::milliseconds(turns * turnMs));
        }
        result = waitConnected(sock, window, until, error);
    }
    return result;
}

// The 4004 message for the address whose connection failed, in this build's
// form; an IPv6 address in its text form, in brackets before a port.
void connectFailureText(char* out, int size, const sockAddress& address) {
    const std::string ip = sockAddressText(address);
    const bool v6 = address.family() == AF_INET6;
    if (thisBuild().failureTextsWithPort)
        std::snprintf(out, static_cast<size_t>(size),
                      v6 ? "Connection to [%s]:%d has failed!" : "Connection to %s:%d has failed!", ip.c_str(),
                      sockAddressPort(address));
    else
        std::snprintf(out, static_cast<size_t>(size), "Connection to IP address %s has failed!", ip.c_str());
}

// Why that connection failed, in the system's words, with the address and
// port tried where the text above does not name the port.
std::string connectFailureCause(int error, const sockAddress& address) {
    std::string cause = sockErrorText(error);
    if (thisBuild().failureTextsWithPort) return cause;
    const std::string ip = sockAddressText(address);
    const std::string host = address.family() == AF_INET6 ? "[" + ip + "]" : ip;
    return cause + " (" + host + ":" + std::to_string(sockAddressPort(address)) + ")";
}

// Builds the CONNECT request in buffer (messageLen + 1 bytes).
int buildProxyRequest(char* buffer, const serverInfo* server, const proxyInfo* proxy) {
    return proxyRequest(buffer, server->hostName, server->port, proxy->userName, proxy->password);
}

// Reads the proxy's status line (allowing one empty line before it). True
// when the proxy granted the tunnel; otherwise buffer says why: the status
// line, or what ended the reading (nothing after Esc).
bool readProxyStatus(int fd, char* buffer, _win_st* window) {
    int read = telnetRead(fd, buffer, messageLen, window);
    if (read == 0 && !*strip(buffer)) {
        read = telnetRead(fd, buffer, messageLen, window);
        if (read == 0) strip(buffer);
    }
    if (read == 0) return *buffer && proxyGranted(buffer);
    const std::string why = read == resultServerClosed ? "The proxy closed the connection"
                            : read == resultLinkLost ? sockErrorText(attemptOver() ? sockErrTimedOut : sockLastError())
                                           : "";
    std::snprintf(buffer, messageLen + 1, "%s", why.c_str());
    return false;
}

// Asks the proxy for a tunnel to the server and reads its answer up to the
// empty line that ends its header, so the tunnel starts clean.
// On 4005 buffer says why, as readProxyAnswer does.
int proxyExchange(int fd, const serverInfo* server, const proxyInfo* proxy, char* buffer, _win_st* window) {
    int len = buildProxyRequest(buffer, server, proxy);
    const int sent = len < 0 ? 0 : sendAll(fd, buffer, len);
    const int error = sockLastError();
    wipeMemory(buffer, messageLen + 1);   // the request holds the credentials
    if (len < 0) return resultProxyRefused;
    if (sent != 0) {
        std::snprintf(buffer, messageLen + 1, "%s", sockErrorText(error).c_str());
        return resultProxyRefused;
    }
    return readProxyAnswer(fd, buffer, window);
}

// What a name lookup on its own thread shares with the waiting side; either
// side may be the last to let go of it.
struct lookupJob {
    std::string host;
    int port = 0;
    hostLookupFn lookup;
    std::atomic<bool> finished{false};
    std::vector<sockAddress> addresses;
    wakeSignal done;
};

// Tunnel commands start only from a private configuration file: from any
// other the operator is told which folder, link or file is at fault (the
// end of the text kept when it is too long), and nothing starts.
int refuseTunnel(consoleMain& app) {
    app.connectFailureKind = "tunnel";
    static const std::string head = "Tunnel refused: ";
    const size_t room = static_cast<size_t>(messageWidth) - head.size();
    std::string why = app.tunnelRefusal;
    if (why.size() > room) why = "..." + why.substr(why.size() - (room - 3));
    showError(app.window, (head + why).c_str());
    return resultConnectFailed;
}

// Starts the tunnel command of the entry for the server; the session then
// runs over the command's standard input and output. 4004 when it cannot be
// started, with its message box.
int connectThroughTunnel(consoleMain& app, const serverInfo& server, const proxyInfo& tunnel) {
    if (!app.tunnelRefusal.empty()) return refuseTunnel(app);
    // The target goes into the command's arguments: only plain names and
    // numbers, which no relay takes for an option and no shell for a command.
    if (!tunnelTargetPlain(server.hostName, server.port)) {
        char message[128];
        std::string target = orEmpty(server.hostName);
        if (server.port < 1 || server.port > 65535) target = writtenHost(server.hostName) + ":" + std::to_string(server.port);
        resolveFailureText(message, sizeof message, target.c_str());
        showError(app.window, message);
        return resultNoSuchHost;
    }
    auto* carrier = new (std::nothrow) TunnelSocket;
    app.socket = carrier;
    if (!carrier) return resultNoMemory;
    std::vector<std::string> args;
    const int started = tunnelArguments(tunnel.command, server.hostName, server.port, args) ? carrier->start(args)
                                                                                              : tunnelFailed;
    if (started == tunnelStarted) return 0;
    char message[96];
    std::snprintf(message, sizeof message, "Tunnel command '%.40s' has failed!", orEmpty(tunnel.command));
    showError(app.window, message);
    return resultConnectFailed;
}

}  // namespace

int readProxyAnswer(int sock, char* buffer, _win_st* window) {
    if (!readProxyStatus(sock, buffer, window)) return resultProxyRefused;
    for (int line = 0; line < proxyHeaderLinesMax; ++line) {
        int r = telnetRead(sock, buffer, messageLen, window);
        if (r != 0) return r;
        strip(buffer);
        if (!*buffer) return 0;
    }
    buffer[0] = 0;
    return resultProxyRefused;
}

int proxyRequest(char* buffer, const char* host, int port, const char* user, const char* password) {
    // An IPv6 literal goes in brackets, as in a URL.
    const std::string target = writtenHost(host);
    int n = -1;
    // An empty password is still a password: only a missing one leaves the line out.
    if (user && password) {
        int c = std::snprintf(buffer, messageLen + 1, "%s:%s", user, password);
        char* encoded = (c >= 0 && c <= messageLen) ? make_base64_string(buffer) : nullptr;
        wipeMemory(buffer, messageLen + 1);   // the credentials in clear
        if (encoded) {
            // The second line is the one standard proxies read.
            n = std::snprintf(buffer, messageLen + 1,
                              "CONNECT %s:%d HTTP/1.0\r\nAuthorization: basic %s\r\n"
                              "Proxy-Authorization: Basic %s\r\n\r\n",
                              target.c_str(), port, encoded, encoded);
            wipeMemory(encoded, std::strlen(encoded));
            std::free(encoded);
            return (n >= 0 && n <= messageLen) ? n : -1;
        }
    }
    n = std::snprintf(buffer, messageLen + 1, "CONNECT %s:%d HTTP/1.0\r\n\r\n", target.c_str(), port);
    return (n >= 0 && n <= messageLen) ? n : -1;
}

std::string proxyFailureText(const char* host, int port) {
    char message[96];
    if (thisBuild().failureTextsWithPort)
        std::snprintf(message, sizeof message,
                      std::strchr(orEmpty(host), ':') ? "Connection to [%.40s]:%d has failed!"
                                                      : "Connection to %.40s:%d has failed!",
                      orEmpty(host), port);
    else
        std::snprintf(message, sizeof message, "Connection to host '%.40s' has failed!", orEmpty(host));
    return message;
}

hostLookupFn hostLookup;

int resolveAbortable(const char* host, int port, std::vector<sockAddress>& addresses, _win_st* window,
                     const hostLookupFn& lookup) {
    addresses.clear();
    if (!host) return resultNoSuchHost;
    // A literal address needs no lookup and no wait.
    sockAddress literal;
    if (sockLiteralAddress(host, port, literal)) {
        addresses.push_back(literal);
        return 0;
    }
    auto job = std::make_shared<lookupJob>();
    job->host = host;
    job->port = port;
    job->lookup = lookup ? lookup : hostLookupFn(sockResolveAll);
    const bool started = runDetached([job] {
        job->addresses = job->lookup(job->host.c_str(), job->port);
        job->finished = true;
        job->done.raise();
    });
    if (!started) {
        // No thread to be had: look it up here, without the abort.
        job->addresses = job->lookup(host, port);
        job->finished = true;
    }
    while (!job->finished) {
        const int seen = waitSocketOrKey(-1, 0, attemptWait(turnMs), true, &job->done);
        if (job->finished) break;
        if (attemptOver()) return resultNoSuchHost;
        // An abandoned lookup finishes on its own and frees what it shares.
        if ((seen & seenKeys) && abortRequested(window)) return resultEscaped;
        if (EXIT) return resultEscaped;
    }
    addresses = job->addresses;
    return addresses.empty() ? 4007 : 0;
}

bool showTunnelErrors(consoleMain& app, const proxyInfo& tunnel) {
    auto* carrier = dynamic_cast<TunnelSocket*>(app.socket);
    if (!carrier) return false;
    const std::vector<std::string> lines = carrier->finish();
    if (lines.empty()) return false;
    char head[96];
    std::snprintf(head, sizeof head, "Tunnel command '%.40s' has ended:", orEmpty(tunnel.command));
    std::string text = head;
    // Each line on as many rows as it takes.
    for (const std::string& line : lines)
        for (size_t at = 0; at < line.size(); at += messageWidth) text += "\n" + line.substr(at, messageWidth);
    showError(app.window, text.c_str());
    return true;
}

void resolveFailureText(char* out, int size, const char* host) {
    static const char format[] = "IP address resolution has failed for hostname '%s'!";
    const int room = messageWidth - static_cast<int>(sizeof format - 1 - 2);
    std::string shown = orEmpty(host);
    if (static_cast<int>(shown.size()) > room) shown = shown.substr(0, static_cast<size_t>(room - 3)) + "...";
    std::snprintf(out, static_cast<size_t>(size), format, shown.c_str());
}

bool proxyGranted(const char* statusLine) {
    return statusLine &&
           (std::strncmp(statusLine, "HTTP/1.0 200", 12) == 0 || std::strncmp(statusLine, "HTTP/1.1 200", 12) == 0);
}

char* make_base64_string(const char* text) {
    const auto* in = reinterpret_cast<const unsigned char*>(orEmpty(text));
    size_t len = std::strlen(orEmpty(text));
    auto* out = static_cast<char*>(std::malloc(4 * ((len + 2) / 3) + 1));
    if (!out) return nullptr;
    char* o = out;
    size_t i = 0;
    for (; i + 2 < len; i += 3) {
        uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
        *o++ = base64_table[(v >> 18) & 63];
        *o++ = base64_table[(v >> 12) & 63];
        *o++ = base64_table[(v >> 6) & 63];
        *o++ = base64_table[v & 63];
    }
    if (i < len) {
        uint32_t v = uint32_t{in[i]} << 16;
        if (i + 1 < len) v |= uint32_t{in[i + 1]} << 8;
        *o++ = base64_table[(v >> 18) & 63];
        *o++ = base64_table[(v >> 12) & 63];
        *o++ = (i + 1 < len) ? base64_table[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    *o = 0;
    return out;
}

int sendAll(int fd, const char* data, int len) {
    while (len > 0) {
        const int n = sockSend(fd, data, len);
        if (n < 0 && sockInterrupted(sockLastError())) continue;
        if (n < 0 && sockWouldBlock(sockLastError())) {
            waitSocketOrKey(fd, waitWrite, turnMs, false);
            continue;
        }
        if (n <= 0) return -1;
        data += n;
        len -= n;
    }
    return 0;
}

int telnetRead(int sock, char* buffer, int maxLen, _win_st* window) {
    if (!buffer || maxLen < 1) return resultProxyLineTooLong;
    int n = 0;
    int result = 0;
    for (;;) {
        int seen = waitSocketOrKey(sock, waitRead, attemptWait(turnMs), true);
        if (seen & seenSocket) {
            char c = 0;
            const int got = sockRecv(sock, &c, 1);
            if (got == 0) {
                result = 4001;
                break;
            }
            if (got < 0) {
                const int err = sockLastError();
                if (sockInterrupted(err)) {
                    updateScreen(window, 0, screenRows);
                } else if (!sockWouldBlock(err)) {
                    result = 4002;
                    break;
                }
            } else if (c == '\n') {
                // The line feed is kept only when the terminator still fits.
                if (n + 1 < maxLen) buffer[n++] = c;
                break;
            } else if (n + 1 >= maxLen) {
                result = resultProxyLineTooLong;
                break;
            } else {
                buffer[n++] = c;
            }
        }
        if ((seen & seenKeys) && abortRequested(window)) {
            result = -1;
            break;
        }
        if (EXIT) {
            result = -1;
            break;
        }
        // A reconnection attempt does not wait past its end for a line.
        if (attemptOver()) {
            result = 4002;
            break;
        }
    }
    buffer[n] = 0;
    return result;
}

// Opens the TCP connection to the server, directly or through the proxy's
// CONNECT tunnel; shows its own message box for every failure it names, and
// keeps its words in connectFailure.
sessionResult consoleMain::connect(serverInfo* server, proxyInfo* proxy) {
    const quietScope quiet(quietFailures);
    const wordsScope words(connectFailure);
    connectFailureKind = "name";
    const attemptScope attempt(connectLimitMs);
    if (server && server->invalidAddress) {
        closeConnection();
        char message[96];
        std::snprintf(message, sizeof message, "The address '%.50s' is not valid.", server->invalidAddress);
        showError(window, message);
        return resultNoSuchHost;
    }
    if (server && proxy && proxy->command) {
        closeConnection();
        connectFailureKind = "tunnel";
        return static_cast<sessionResult>(connectThroughTunnel(*this, *server, *proxy));
    }
    int result = resultConnectFailed;
    const bool viaProxy = proxy && hasText(proxy->hostName);
    const char* host = server ? server->hostName : nullptr;
    int port = server ? server->port : 0;
    if (viaProxy) {
        host = proxy->hostName;
        port = proxy->port;
    }

    std::unique_ptr<char[]> message(new (std::nothrow) char[messageLen + 1]);
    closeConnection();
    socket = new (std::nothrow) ClientSocket(0);
    if (!socket || !message || !server) return resultNoMemory;

    std::vector<sockAddress> addresses;
    const int looked = resolveAbortable(host, port, addresses, window, hostLookup);
    if (looked == -1) return resultEscaped;
    if (looked != 0) {
        resolveFailureText(message.get(), messageLen + 1, host);
        showError(window, message.get());
        return resultNoSuchHost;
    }

    size_t last = 0;
    int error = 0;
    result = connectAny(*socket, addresses, window, last, error);
    if (socket->connected()) {
        result = 0;
        sockSetKeepAlive(socket->sock, keepAliveIdleS, keepAliveIntervalS, keepAliveCount);
    }
    socket->block();

    if (result == 4004) {
        connectFailureKind = error == sockErrTimedOut ? "timeout" : "refused";
        connectFailureText(message.get(), messageLen + 1, addresses[last]);
        showError(window, message.get(), connectFailureCause(error, addresses[last]));
    }

    if (viaProxy && socket->connected()) {
        result = proxyExchange(socket->sock, server, proxy, message.get(), window);
        socket->block();   // the waits for the proxy's answer may have changed it
    }

    if (result == 4005 || result == 4006) connectFailureKind = "proxy";
    if (result == 4005) {
        const std::string cause = message.get();
        showError(window, proxyFailureText(proxy->hostName, proxy->port).c_str(), cause);
    }
    wipeMemory(message.get(), messageLen + 1);
    return static_cast<sessionResult>(result);
}
