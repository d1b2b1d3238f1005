// Connection set-up: Base64, the proxy line reader and the TCP connect with
// its messages.

#include <cstdlib>

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

bool anyShotHas(const TestTerminal& t, const std::string& text) {
    for (const auto& shot : t.snapshots())
        for (const auto& row : shot)
            if (row.find(text) != std::string::npos) return true;
    return false;
}

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

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
    }
    void TearDown() override { setTerminal(nullptr); }
    TestTerminal term;
    SocketPair pair;
};

TEST_F(LineReader, ReadsOneLineAndLeavesTheRest) {
    pair.write("HTTP/1.0 200 OK\r\nnext");
    char buf[64];
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 64, nullptr), 0);
    EXPECT_STREQ(buf, "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(pair.rest(), "next");
}

TEST_F(LineReader, ClosedPeerIs4001) {
    pair.write("partial");
    ::close(pair.fd[1]);
    pair.fd[1] = -1;
    char buf[64];
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 64, nullptr), 4001);
    EXPECT_STREQ(buf, "partial");
}

TEST_F(LineReader, TooLongLineIs4006AndStaysInBounds) {
    pair.write("123456789\n");
    char buf[12];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 8, nullptr), 4006);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(buf[8], '#');
    EXPECT_EQ(pair.rest(), "9\n") << "the byte that did not fit is consumed, the rest stays";
}

TEST_F(LineReader, LineFillingTheBufferKeepsItsTerminatorInside) {
    pair.write("1234567\nAB\n");
    char buf[12];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 8, nullptr), 0);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(buf[8], '#');
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 8, nullptr), 0);
    EXPECT_STREQ(buf, "AB\n");
}

TEST_F(LineReader, EscAbortsOtherKeysAreDropped) {
    term.push('x');
    term.push(keyEsc);
    char buf[16];
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 16, nullptr), -1);
    EXPECT_FALSE(term.keyPending());

    term.push('y');
    pair.write("line\n");
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 16, nullptr), 0);
    EXPECT_STREQ(buf, "line\n");
}

TEST_F(LineReader, TerminalGoneAborts) {
    term.setGone(true);
    char buf[16];
    EXPECT_EQ(telnetRead(pair.fd[0], buf, 16, nullptr), -1);
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

TEST(Connect, DirectConnectionIsBlockingAndReadsNothing) {
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
    char b[8] = {};
    EXPECT_EQ(::recv(c.app.socket->sock, b, 5, MSG_WAITALL), 5) << "nothing of the peer's data was read";
    EXPECT_STREQ(b, "early");
    c.app.closeConnection();
    p.finish();
}

TEST(Connect, RefusedConnectionIs4004WithItsMessage) {
    HeadlessClient c;
    c.term.setGone(false);
    c.term.blockingLimitMs = 200;   // the message box: answered by the terminal going away
    EXPECT_EQ(c.connect(closedPort()), 4004);
    EXPECT_TRUE(anyShotHas(c.term, "Connection to IP address 127.0.0.1 has failed!"));
    EXPECT_TRUE(anyShotHas(c.term, "Press Enter to continue..."));
    EXPECT_NE(c.app.socket, nullptr) << "the caller deletes the socket object";
}

TEST(Connect, UnresolvedNameIs4007WithItsMessage) {
    HeadlessClient c;
    c.term.setGone(false);
    c.term.blockingLimitMs = 200;
    std::free(c.server->hostName);
    c.server->hostName = strdup("nohost.invalid");
    EXPECT_EQ(c.app.connect(c.server, nullptr), 4007);
    EXPECT_TRUE(anyShotHas(c.term, "IP address resolution has failed for hostname 'nohost.invalid'!"));
}

// A listener whose accept queue is full never completes the handshake, so
// the connect stays in progress until Esc.
TEST(Connect, EscDuringTheWaitAbortsAtOnceWithoutMessage) {
    int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(l, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    HeadlessClient c;
    c.term.setGone(false);
    std::thread esc([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.term.push('x');
        c.term.push(keyEsc);
    });
    const auto start = Clock::now();
    EXPECT_EQ(c.connect(ntohs(a.sin_port)), -1);
    const auto took = Clock::now() - start;
    esc.join();
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_EQ(c.term.blockingReads(), 0) << "no message box";
    c.app.closeConnection();
    ::close(filler);
    ::close(l);
}

TEST(Connect, TerminationRequestAbortsTheWait) {
    int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(l, 0);
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);

    HeadlessClient c;
    c.term.setGone(false);
    std::thread stop([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXIT = 1;
    });
    int r = c.connect(ntohs(a.sin_port));
    stop.join();
    EXIT = 0;
    EXPECT_EQ(r, -1);
    ::close(filler);
    ::close(l);
}
