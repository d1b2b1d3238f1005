// Connection set-up: Base64, the proxy line reader and the TCP connect with
// its messages.

#include <netinet/tcp.h>

#include <cstdlib>
#include <memory>
#include <tuple>

#include "client/connect.h"
#include "console/global.h"
#include "peer_util.h"

using namespace peer;

namespace {

std::string base64(const std::string& text) {
    char* s = make_base64_string(text.c_str());
    std::string r = s ? s : "(null)";
    std::free(s);
    return r;
}

// A connected pair of stream sockets; closes both at the end.
struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { socketpair(AF_UNIX, SOCK_STREAM, 0, fd); }
    ~SocketPair() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void write(const std::string& s) const { ::send(fd[1], s.data(), s.size(), MSG_NOSIGNAL); }
    std::string rest() const {
        char b[256];
        ssize_t n = ::recv(fd[0], b, sizeof b, MSG_DONTWAIT);
        return n > 0 ? std::string(b, static_cast<size_t>(n)) : "";
    }
};

// The address and port of the peer a socket is connected to: "::1 5000".
std::string peerOf(int fd) {
    sockAddress a;
    a.length = sizeof a.storage;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a.storage), &a.length) != 0) return "none";
    return sockAddressText(a) + " " + std::to_string(sockAddressPort(a));
}

// A listener on 127.0.0.1 whose accept queue one connection already fills,
// so that a further connect never completes its handshake; closes both.
struct FullListener {
    int listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;

    // True when the listener is bound and listening and the filler connected.
    bool open() {
        sockaddr_in a = loopback();
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd, 0) != 0)
            return false;
        port = boundPort(listenFd);
        a = loopback(port);
        return ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~FullListener() {
        ::close(filler);
        ::close(listenFd);
    }
};

}  // namespace

TEST(Base64, PublishedVectors) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foob"), "Zm9vYg==");
    EXPECT_EQ(base64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64("user:pass"), "dXNlcjpwYXNz");
}

TEST(Base64, HighBytesLengthAndNull) {
    EXPECT_EQ(base64("\xFF\xFE"), "//4=");
    EXPECT_EQ(base64("\xFB\xEF\xBE"), "++++");
    for (size_t n = 0; n < 40; ++n) {
        std::string s = base64(std::string(n, 'x'));
        EXPECT_EQ(s.size(), 4 * ((n + 2) / 3)) << n;
        EXPECT_EQ(s.find_first_not_of(std::string(base64_table) + "="), std::string::npos);
    }
    char* s = make_base64_string(nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::free(s);
}

class LineReader : public ::testing::Test {
protected:
    void SetUp() override {
        setTerminal(&term);
        keyboardInputInit(nullptr);
        term.setGone(false);
        std::memset(buf, '#', sizeof buf);
    }
    void TearDown() override { setTerminal(nullptr); }
    // Reads one line into buf, giving the reader n bytes of it.
    int readLine(int n) { return telnetRead(pair.fd[0], buf, n, nullptr); }
    TestTerminal term;
    SocketPair pair;
    char buf[64];   // '#' beyond what a read wrote: a write past its n shows
};

TEST_F(LineReader, ReadsOneLineAndLeavesTheRest) {
    pair.write("HTTP/1.0 200 OK\r\nnext");
    EXPECT_EQ(readLine(64), 0);
    EXPECT_STREQ(buf, "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(pair.rest(), "next");
}

TEST_F(LineReader, ClosedPeerIs4001) {
    pair.write("partial");
    ::close(pair.fd[1]);
    pair.fd[1] = -1;
    EXPECT_EQ(readLine(64), 4001);
    EXPECT_STREQ(buf, "partial");
}

TEST_F(LineReader, TooLongLineIs4006AndStaysInBounds) {
    pair.write("123456789\n");
    EXPECT_EQ(readLine(8), 4006);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(buf[8], '#');
    EXPECT_EQ(pair.rest(), "9\n") << "the byte that did not fit is consumed, the rest stays";
}

TEST_F(LineReader, LineFillingTheBufferKeepsItsTerminatorInside) {
    pair.write("1234567\nAB\n");
    EXPECT_EQ(readLine(8), 0);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(buf[8], '#');
    EXPECT_EQ(readLine(8), 0);
    EXPECT_STREQ(buf, "AB\n");
}

TEST_F(LineReader, EscAbortsOtherKeysAreDropped) {
    term.push('x');
    term.push(keyEsc);
    EXPECT_EQ(readLine(16), -1);
    EXPECT_FALSE(term.keyPending());

    term.push('y');
    pair.write("line\n");
    EXPECT_EQ(readLine(16), 0);
    EXPECT_STREQ(buf, "line\n");
}

TEST_F(LineReader, TerminalGoneAborts) {
    term.setGone(true);
    EXPECT_EQ(readLine(16), -1);
}

TEST(ProxyStatus, GrantedOnlyFor200OfHttp10And11) {
    EXPECT_TRUE(proxyGranted("HTTP/1.0 200 Connection established"));
    EXPECT_TRUE(proxyGranted("HTTP/1.1 200 OK"));
    EXPECT_FALSE(proxyGranted("HTTP/1.0 407 Proxy Authentication Required"));
    EXPECT_FALSE(proxyGranted("http/1.0 200 OK"));
    EXPECT_FALSE(proxyGranted("HTTP/2 200"));
    EXPECT_FALSE(proxyGranted(""));
    EXPECT_FALSE(proxyGranted(nullptr));
}

// The connection also keeps itself alive with short timers, so that a link
// that vanishes ends the session within a minute.
TEST(Connect, DirectConnectionIsBlockingKeptAliveAndReadsNothing) {
    HeadlessClient c;
    ScriptedPeer p([](PeerLink& l) {
        const char hello[] = "early";
        l.sendRaw(hello, 5);
        EXPECT_TRUE(l.closedByClient(5000));
    });
    ASSERT_EQ(c.connect(p.port()), 0);
    ASSERT_NE(c.app.socket, nullptr);
    EXPECT_TRUE(c.app.socket->connected());
    EXPECT_EQ(fcntl(c.app.socket->sock, F_GETFL) & O_NONBLOCK, 0);
    auto option = [&](int level, int name) {
        int value = -1;
        socklen_t len = sizeof value;
        getsockopt(c.app.socket->sock, level, name, &value, &len);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 20);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 5);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 6);
    EXPECT_LE(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 60000);
    char b[8] = {};
    EXPECT_EQ(::recv(c.app.socket->sock, b, 5, MSG_WAITALL), 5) << "nothing of the peer's data was read";
    EXPECT_STREQ(b, "early");
    c.app.closeConnection();
    p.finish();
}

// The Windows build's text names the port; the line under it says why.
TEST(Connect, RefusedConnectionIs4004WithItsMessage) {
    const ReservedPort closed;
    const int port = closed.port();
    const std::string at = "127.0.0.1:" + std::to_string(port);
    const std::tuple<const buildProfile*, std::string, std::string> cases[] = {
        {&linuxProfile, "Connection to IP address 127.0.0.1 has failed!", "Connection refused (" + at + ")"},
        {&windowsProfile, "Connection to " + at + " has failed!", "Connection refused"},
    };
    for (const auto& [profile, text, cause] : cases) {
        ProfileScope scope(*profile);
        WaitingClient c;
        c.term.blockingLimitMs = 200;   // the message box: answered by the terminal going away
        EXPECT_EQ(c.connect(port), 4004);
        EXPECT_TRUE(c.term.everShown(text)) << text;
        EXPECT_TRUE(c.term.everShown(cause)) << cause;
        EXPECT_TRUE(c.term.everShown("Press Enter to continue..."));
        EXPECT_NE(c.app.socket, nullptr) << "the caller deletes the socket object";
    }
}

// The Windows build names the proxy's host and port when it refuses; an
// IPv6 host goes in brackets.
TEST(Connect, ProxyRefusalInTheWindowsTextNamesTheProxyPort) {
    ProfileScope windows(windowsProfile);
    using Case = std::tuple<int, const char*, const char*>;
    for (const auto& [family, host, shown] : {Case{AF_INET, "127.0.0.1", "127.0.0.1"}, Case{AF_INET6, "::1", "[::1]"}}) {
        ScriptedPeer proxy(
            [](PeerLink& l) {
                const std::string refusal = "HTTP/1.0 403 Forbidden\r\n\r\n";
                l.sendRaw(refusal.data(), refusal.size());
                EXPECT_TRUE(l.closedByClient(5000));
            },
            "quorvex", family);
        WaitingClient c;
        c.term.blockingLimitMs = 200;
        proxyInfo via;
        via.hostName = strdup(host);
        via.port = proxy.port();
        EXPECT_EQ(c.connect(4242, &via), 4005) << host;
        c.app.closeConnection();
        proxy.finish();
        const std::string text = std::string("Connection to ") + shown + ":" + std::to_string(proxy.port());
        EXPECT_TRUE(c.term.everShown(text + " has failed!")) << text;
    }
}

// The 4007 message names the host; a long name is shortened so that the
// whole message fits the box on the 80-column screen.
TEST(Connect, UnresolvedNameIs4007WithItsMessage) {
    const std::string longName = "a-very-long-host-name-that-no-resolver-knows-of.example.invalid";
    const std::pair<std::string, std::string> cases[] = {
        {"nohost.invalid", "IP address resolution has failed for hostname 'nohost.invalid'!"},
        {longName, "IP address resolution has failed for hostname '" + longName.substr(0, 25) + "...'!"},
    };
    for (const auto& [host, message] : cases) {
        WaitingClient c;
        c.term.blockingLimitMs = 200;
        std::free(c.server->hostName);
        c.server->hostName = strdup(host.c_str());
        EXPECT_EQ(c.app.connect(c.server, nullptr), 4007);
        EXPECT_LE(message.size(), 77u);
        EXPECT_TRUE(c.term.everShown(message)) << message;
    }
}

// The name lookup runs beside the wait for keys: Esc gives up on it at once.
TEST(Connect, EscAbortsASlowNameLookup) {
    auto loopbackAt = [](int port) {
        sockAddress a;
        sockLiteralAddress("::1", port, a);
        return std::vector<sockAddress>{a};
    };
    // The slow lookup says when it has begun, and lasts until the test lets
    // it go (10 s at most).
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool begun = false, open = false;
    };
    auto gate = std::make_shared<Gate>();
    hostLookupFn slow = [gate, loopbackAt](const char*, int port) {
        std::unique_lock<std::mutex> lock(gate->m);
        gate->begun = true;
        gate->cv.notify_all();
        gate->cv.wait_for(lock, std::chrono::seconds(10), [&] { return gate->open; });
        return loopbackAt(port);
    };
    hostLookupFn quick = [&](const char* host, int port) {
        return std::string(host) == "known.example" ? loopbackAt(port) : std::vector<sockAddress>{};
    };
    WaitingClient c;
    std::vector<sockAddress> found;
    EXPECT_EQ(resolveAbortable("known.example", 4242, found, nullptr, quick), 0);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(sockAddressPort(found[0]), 4242) << "the lookup is given the port";
    EXPECT_EQ(resolveAbortable("unknown.example", 4242, found, nullptr, quick), 4007);
    for (const char* literal : {"10.1.2.3", "2001:db8::1"}) {
        EXPECT_EQ(resolveAbortable(literal, 4242, found, nullptr, slow), 0) << literal << " is not looked up";
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(sockAddressText(found[0]), literal);
    }

    Clock::time_point pressed;
    std::thread esc([&] {
        std::unique_lock<std::mutex> lock(gate->m);
        EXPECT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(10), [&] { return gate->begun; }));
        lock.unlock();
        pressed = Clock::now();
        c.term.push(keyEsc);
    });
    EXPECT_EQ(resolveAbortable("slow.example", 4242, found, nullptr, slow), -1);
    const auto returned = Clock::now();
    esc.join();
    EXPECT_LT(returned - pressed, std::chrono::seconds(5)) << "not at once";
    std::lock_guard<std::mutex> lock(gate->m);
    gate->open = true;
    gate->cv.notify_all();
}

// A name with an IPv6 and an IPv4 address, as the lookup gives them: one
// that refuses gives way to the next, in either order; when all refuse, the
// message names the last one tried, an IPv6 one in its text form (in
// brackets before the port in the Windows build's text).
TEST(Connect, TriesTheAddressesOfANameInOrder) {
    ScriptedPeer v4([](PeerLink& l) { l.closedByClient(5000); });
    ScriptedPeer v6([](PeerLink& l) { l.closedByClient(5000); }, "quorvex", AF_INET6);
    const ReservedPort closed4(AF_INET), closed6(AF_INET6);
    const int dead4 = closed4.port();
    const int dead6 = closed6.port();
    ASSERT_GT(v6.port(), 0);
    using Addresses = std::vector<std::pair<const char*, int>>;
    const struct {
        Addresses addresses;
        const buildProfile* profile;
        int result;
        std::string shown;   // the peer connected to, or the message
    } cases[] = {
        {{{"::1", dead6}, {"127.0.0.1", v4.port()}}, &linuxProfile, 0, "127.0.0.1 " + std::to_string(v4.port())},
        {{{"127.0.0.1", dead4}, {"::1", v6.port()}}, &linuxProfile, 0, "::1 " + std::to_string(v6.port())},
        {{{"::1", dead6}, {"127.0.0.1", dead4}}, &linuxProfile, 4004, "Connection to IP address 127.0.0.1 has failed!"},
        {{{"127.0.0.1", dead4}, {"::1", dead6}}, &linuxProfile, 4004, "Connection to IP address ::1 has failed!"},
        {{{"127.0.0.1", dead4}, {"::1", dead6}}, &windowsProfile, 4004,
         "Connection to [::1]:" + std::to_string(dead6) + " has failed!"},
    };
    for (const auto& t : cases) {
        ProfileScope scope(*t.profile);
        hostLookup = [&t](const char* host, int) {
            std::vector<sockAddress> out;
            for (const auto& [text, port] : t.addresses) {
                sockAddress a;
                if (std::string(host) == "dual.example" && sockLiteralAddress(text, port, a)) out.push_back(a);
            }
            return out;
        };
        WaitingClient c;
        c.term.blockingLimitMs = 200;   // the message box
        std::free(c.server->hostName);
        c.server->hostName = strdup("dual.example");
        const auto start = Clock::now();
        EXPECT_EQ(c.app.connect(c.server, nullptr), t.result) << t.shown;
        // A pending address would keep it 10 s.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "a refusal moves on at once";
        hostLookup = nullptr;
        if (t.result == 0) {
            ASSERT_TRUE(c.app.socket && c.app.socket->connected());
            EXPECT_EQ(peerOf(c.app.socket->sock), t.shown);
        } else {
            EXPECT_TRUE(c.term.everShown(t.shown)) << t.shown;
        }
    }
}

// The stand-in listening on ::1, reached through a bracketed literal of the
// configuration file: a session until the first screen is acknowledged.
class Ipv6Session : public SimLogTest {};

TEST_F(Ipv6Session, ToABracketedLiteralOfTheConfiguration) {
    SimProcess sim({"--port=0", "--bind=::1", "--log=" + log_, "--update-ms=3600000"});
    ASSERT_GT(sim.port(), 0);
    WaitingClient c;
    std::string value = "[::1]:" + std::to_string(sim.port()) + ",Lab six";
    ASSERT_EQ(c.app.servers.parse(value.data()), 0);
    auto* entry = static_cast<serverInfo*>(c.app.servers.getItem(0)->data);   // sorted before "test server"
    ASSERT_STREQ(entry->description, "Lab six");
    ASSERT_EQ(c.app.connect(entry, nullptr), 0);
    EXPECT_EQ(runUntilLogged(c, sim, "{\"type\":4,"), 0);
    const auto lines = readLines(log_);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("{\"event\":\"accept\",\"peer\":\"[::1]:", 0), 0u) << lines.front();
}

// A listener whose accept queue is full never completes the handshake, so
// the connect stays in progress until Esc.
TEST(Connect, EscDuringTheWaitAbortsAtOnceWithoutMessage) {
    FullListener l;
    ASSERT_TRUE(l.open());

    WaitingClient c;
    Clock::time_point pressed;
    std::thread esc([&] {
        EXPECT_TRUE(c.term.waitForLook(0)) << "the connection is not waited for";
        pressed = Clock::now();
        c.term.push('x');
        c.term.push(keyEsc);
    });
    EXPECT_EQ(c.connect(l.port), -1);
    const auto returned = Clock::now();
    esc.join();
    EXPECT_LT(returned - pressed, std::chrono::seconds(5)) << "not at once";
    EXPECT_EQ(c.term.blockingReads(), 0) << "no message box";
    c.app.closeConnection();
}

TEST(Connect, TerminationRequestAbortsTheWait) {
    FullListener l;
    l.open();

    WaitingClient c;
    std::thread stop([&] {
        EXPECT_TRUE(c.term.waitForLook(0)) << "the connection is not waited for";
        EXIT = 1;
    });
    int r = c.connect(l.port);
    stop.join();
    EXIT = 0;
    EXPECT_EQ(r, -1);
}
