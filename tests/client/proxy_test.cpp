// Connections through an HTTPS proxy: an in-test proxy that answers as told
// and then carries the session itself, and a real tinyproxy in front of the
// stand-in server.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <tuple>

#include "console/global.h"
#include "peer_util.h"

using namespace peer;

namespace {

// Reads the CONNECT request up to its empty line (bounded).
std::string readRequest(int fd) {
    std::string req;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (req.find("\r\n\r\n") == std::string::npos && Clock::now() < deadline && req.size() < 8192) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        char c;
        if (::recv(fd, &c, 1, 0) != 1) break;
        req.push_back(c);
    }
    return req;
}

void sendText(PeerLink& l, const std::string& s) { l.sendRaw(s.data(), s.size()); }

// A proxy entry for 127.0.0.1:port with optional credentials.
proxyInfo* makeProxy(int port, const char* user = nullptr, const char* password = nullptr) {
    auto* p = new proxyInfo();
    p->hostName = strdup("127.0.0.1");
    p->port = port;
    if (user) p->setUserName(user);
    if (password) p->setPassword(password);
    return p;
}

struct ProxyRun {
    std::string request;
    int connectResult = -100;
    int sessionResult = -100;
};

// The proxy answers `answer`; when tunnel is set it then acts as the server
// behind the tunnel for one short session.
ProxyRun throughProxy(HeadlessClient& c, const std::string& answer, bool tunnel, const char* user = nullptr,
                      const char* password = nullptr, const char* serverHost = "quorvex.example") {
    ProxyRun run;
    c.term.setGone(false);
    c.term.blockingLimitMs = 200;   // message boxes close by themselves
    std::free(c.server->hostName);
    c.server->hostName = strdup(serverHost);   // the proxy's business, never resolved here
    c.server->port = 4242;
    ScriptedPeer p([&](PeerLink& l) {
        run.request = readRequest(l.fd);
        if (answer.empty()) return;   // close without answering
        sendText(l, answer);
        if (tunnel) {
            EXPECT_TRUE(serverHandshake(l));
            l.sendScreenId(1);
        } else {
            l.closedByClient(5000);
        }
    });
    std::unique_ptr<proxyInfo> proxy(makeProxy(p.port(), user, password));
    run.connectResult = c.app.connect(c.server, proxy.get());
    if (run.connectResult == 0) {
        c.term.blockingLimitMs = 10000;
        run.sessionResult = c.session();
    }
    c.app.closeConnection();
    p.finish();
    return run;
}

// Success when the connect through the proxy succeeded and the session
// behind the tunnel ran until the server closed it.
::testing::AssertionResult carriedTheSession(const ProxyRun& run) {
    if (run.connectResult == 0 && run.sessionResult == 4001) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "connect " << run.connectResult << ", session " << run.sessionResult
                                         << " (expected 0 and 4001)";
}

}  // namespace

TEST(ProxyTunnel, Http10GrantedAndTheTunnelCarriesTheSession) {
    HeadlessClient c;
    ProxyRun r = throughProxy(c, "HTTP/1.0 200 Connection established\r\n\r\n", true);
    EXPECT_EQ(r.request, "CONNECT quorvex.example:4242 HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(carriedTheSession(r));
    EXPECT_EQ(c.app.session.currentScreenId, 1);
}

// An IPv6 server literal goes in brackets, as in a URL.
TEST(ProxyTunnel, IPv6ServerLiteralInBrackets) {
    HeadlessClient c;
    ProxyRun r = throughProxy(c, "HTTP/1.0 200 OK\r\n\r\n", true, nullptr, nullptr, "2001:db8::1");
    EXPECT_EQ(r.request, "CONNECT [2001:db8::1]:4242 HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(carriedTheSession(r));
}

TEST(ProxyTunnel, EmptyFirstLineBeforeTheStatus) {
    HeadlessClient c;
    EXPECT_TRUE(carriedTheSession(throughProxy(c, "\r\nHTTP/1.0 200 OK\r\n\r\n", true)));
}

TEST(ProxyTunnel, Http11StatusIsAccepted) {
    HeadlessClient c;
    EXPECT_TRUE(carriedTheSession(throughProxy(c, "HTTP/1.1 200 Connection established\r\n\r\n", true)));
}

// Header lines before the empty line are read away: the session's first
// byte is the server's.
TEST(ProxyTunnel, HeaderLinesBeforeTheEmptyLineLeaveTheTunnelClean) {
    HeadlessClient c;
    ProxyRun r = throughProxy(c, "HTTP/1.0 200 Connection established\r\nProxy-agent: test/1.0\r\nVia: x\r\n\r\n", true);
    EXPECT_TRUE(carriedTheSession(r));
    EXPECT_EQ(c.app.session.currentScreenId, 1);
}

TEST(ProxyRefusal, Status407Is4005WithTheProxyMessage) {
    HeadlessClient c;
    ProxyRun r = throughProxy(c, "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n", false);
    EXPECT_EQ(r.connectResult, 4005);
    EXPECT_TRUE(c.term.everShown("Connection to host '127.0.0.1' has failed!"));
}

TEST(ProxyRefusal, OtherAnswersAre4005) {
    // Closing without an answer, another protocol, a status line after two
    // empty lines, a status line over 1999 characters.
    for (const std::string& answer : {std::string(""), std::string("SSH-2.0-OpenSSH\r\n"),
                                      std::string("\r\n\r\nHTTP/1.0 200 OK\r\n\r\n"),
                                      "HTTP/1.0 200 " + std::string(2000, 'k') + "\r\n\r\n"}) {
        HeadlessClient c;
        ProxyRun r = throughProxy(c, answer, false);
        EXPECT_EQ(r.connectResult, 4005) << answer.substr(0, 40);
    }
}

TEST(ProxyRefusal, ProxyClosingAfterTheStatusLineIs4001) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        readRequest(l.fd);
        sendText(l, "HTTP/1.0 200 OK\r\n");
    });
    std::unique_ptr<proxyInfo> proxy(makeProxy(p.port()));
    EXPECT_EQ(c.app.connect(c.server, proxy.get()), 4001);
    EXPECT_EQ(c.term.blockingReads(), 0) << "no message box";
    p.finish();
}

TEST(ProxyRefusal, OverlongHeaderLineIs4006) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        readRequest(l.fd);
        sendText(l, "HTTP/1.0 200 OK\r\nX: " + std::string(2100, 'a') + "\r\n\r\n");
        l.closedByClient(5000);
    });
    std::unique_ptr<proxyInfo> proxy(makeProxy(p.port()));
    EXPECT_EQ(c.app.connect(c.server, proxy.get()), 4006);
    c.app.closeConnection();
    p.finish();
}

// A proxy that never answers keeps the client waiting until Esc, which
// counts as a refused status line.
TEST(ProxyRefusal, SilentProxyAbortedByEsc) {
    WaitingClient c;
    c.term.blockingLimitMs = 200;
    std::atomic<bool> gotRequest{false};
    ScriptedPeer p([&](PeerLink& l) {
        readRequest(l.fd);
        gotRequest = true;
        EXPECT_TRUE(c.term.waitForLook(c.term.looks())) << "the answer is not waited for";
        c.term.push(keyEsc);
        l.closedByClient(5000);
    });
    std::unique_ptr<proxyInfo> proxy(makeProxy(p.port()));
    EXPECT_EQ(c.app.connect(c.server, proxy.get()), 4005);
    EXPECT_TRUE(gotRequest);
    EXPECT_TRUE(c.term.everShown("Connection to host '127.0.0.1' has failed!"));
    c.app.closeConnection();
    p.finish();
}

// The request with credentials: the line every proxy of old reads, then the
// one standard proxies read, with the same Base64.
std::string requestWith(const std::string& encoded) {
    return "CONNECT quorvex.example:4242 HTTP/1.0\r\nAuthorization: basic " + encoded +
           "\r\nProxy-Authorization: Basic " + encoded + "\r\n\r\n";
}

TEST(ProxyCredentials, AuthorizationOnlyWithUserAndPassword) {
    {
        HeadlessClient c;
        ProxyRun r = throughProxy(c, "HTTP/1.0 200 OK\r\n\r\n", true, "user", "pass");
        EXPECT_EQ(r.request, requestWith("dXNlcjpwYXNz"));
        EXPECT_EQ(r.connectResult, 0);
    }
    {
        HeadlessClient c;
        ProxyRun r = throughProxy(c, "HTTP/1.0 200 OK\r\n\r\n", true, "Aladdin", "open sesame");
        EXPECT_EQ(r.request, requestWith("QWxhZGRpbjpvcGVuIHNlc2FtZQ=="));
    }
    for (auto [user, password] : {std::pair<const char*, const char*>{"user", nullptr}, {nullptr, "pass"}}) {
        HeadlessClient c;
        ProxyRun r = throughProxy(c, "HTTP/1.0 200 OK\r\n\r\n", true, user, password);
        EXPECT_EQ(r.request, "CONNECT quorvex.example:4242 HTTP/1.0\r\n\r\n");
    }
    // Empty texts are set credentials ("user:@host" and ":pass@host" in the
    // configuration), not missing ones.
    for (auto [user, password, encoded] : {std::tuple<const char*, const char*, const char*>{"user", "", "dXNlcjo="},
                                           {"", "pass", "OnBhc3M="}}) {
        HeadlessClient c;
        ProxyRun r = throughProxy(c, "HTTP/1.0 200 OK\r\n\r\n", true, user, password);
        EXPECT_EQ(r.request, requestWith(encoded));
    }
}

// ---------------------------------------------------------------------------
// A real proxy in front of the stand-in server.

// A whole session through a real tinyproxy: the client connects through it
// with the given credentials and, once the session shows its first screen,
// types a key and ends it. Returns what connect gave.
class RealProxy : public SimLogTest {
protected:
    void SetUp() override {
        struct stat st{};
        if (stat("/usr/bin/tinyproxy", &st) != 0) GTEST_SKIP() << "tinyproxy is not installed";
        SimLogTest::SetUp();
    }
    int session(const char* proxyUser, const char* proxyPassword, const char* user, const char* password) {
        SimProcess sim({"--port=0", "--log=" + log_});
        EXPECT_GT(sim.port(), 0);
        Tinyproxy proxy(sim.port(), proxyUser, proxyPassword);
        EXPECT_GT(proxy.port(), 0) << "tinyproxy did not start";
        WaitingClient c;
        c.term.blockingLimitMs = 300;   // a message box closes soon without a key
        c.server->port = sim.port();
        std::unique_ptr<proxyInfo> entry(makeProxy(proxy.port(), user, password));
        const int connected = c.app.connect(c.server, entry.get());
        refusedBox = c.term.everShown("Connection to host '127.0.0.1' has failed!");
        askedForCredentials = c.term.everShown("HTTP/1.0 407 Proxy Authentication Required");
        if (connected != 0) return connected;
        c.term.push('a');
        EXPECT_EQ(typeAfterFirstScreen(c, sim, "\"keyword\":\"0x1e61\""), 0);
        EXPECT_EQ(c.app.session.sessionEstablished, 1);
        EXPECT_GT(c.app.session.screens.count, 0);
        return 0;
    }
    bool refusedBox = false;
    bool askedForCredentials = false;   // the proxy's status line in the box
};

TEST_F(RealProxy, WholeSessionThroughTinyproxy) { EXPECT_EQ(session(nullptr, nullptr, nullptr, nullptr), 0); }

TEST_F(RealProxy, BasicAuthWithGoodAndBadCredentials) {
    EXPECT_EQ(session("operator", "s3cret", "operator", "s3cret"), 0);
    EXPECT_FALSE(refusedBox);
    EXPECT_EQ(session("operator", "s3cret", "operator", "wrong"), 4005);
    EXPECT_TRUE(refusedBox);
    EXPECT_EQ(session("operator", "s3cret", nullptr, nullptr), 4005);
    EXPECT_TRUE(refusedBox);
    EXPECT_TRUE(askedForCredentials);
}
