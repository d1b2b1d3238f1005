// Sessions side by side in one process, on one wait point, against stand-ins
// that each serve a program on a pseudo-terminal.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>

#include "client/connect.h"
#include "client/pxylist.h"
#include "client/sessionhost.h"
#include "crypto/md5c.h"
#include "history/history.h"
#include "screen/formats.h"
#include "tests/client/peer_util.h"

using namespace peer;

namespace {

bool shows(const hostedSession& s, const std::string& text) {
    return screenText(s.session.model).find(text) != std::string::npos;
}

// How many lines of the history hold `text`.
int historyLines(const screenHistory& h, const std::string& text) {
    int n = 0;
    for (const screenLine& line : h.lines()) n += lineText(line.data()).find(text) != std::string::npos;
    return n;
}

}  // namespace

// Two sessions at once: each shows its own server's screen, takes its own
// keys, and keeps its own history of what scrolled by.
TEST(HostedSessions, TwoAtOnceStayApart) {
    struct stat st{};
    if (stat(QUOR_BINARY_DIR "/quorvex-sim", &st) != 0) GTEST_SKIP() << "quorvex-sim not built";
    const std::string dir = tempDir();
    const std::string password = dir + "/pw";
    std::ofstream(password) << "quorvex\n";
    chmod(password.c_str(), 0600);
    const char* names[] = {"alpha", "bravo"};
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const char* name : names)
        sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
            "--pty=sh -c 'read x; echo " + std::string(name) + " got $x; seq -f " + name + "-%g 1 60; read y'",
            "--password-file=" + password, "--port=0"}));

    waitPoint waits;
    sessionHost host(waits);
    std::vector<std::unique_ptr<screenHistory>> histories;
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_GT(sims[i]->port(), 0);
        hostedSession& s = host.add(names[i]);
        histories.push_back(std::make_unique<screenHistory>(s.session.feed));
        unsigned char key[16];
        passwordDigest(key, "quorvex");
        ASSERT_TRUE(s.open("127.0.0.1", sims[i]->port(), key));
    }
    hostedSession& a = *host.sessions()[0];
    hostedSession& b = *host.sessions()[1];
    ASSERT_TRUE(host.runUntil([&] { return a.session.sessionEstablished && b.session.sessionEstablished; }, 20000));

    // Each is typed its own line, through its own queue of keys.
    for (auto [s, typed] : {std::pair{&a, "x1\r"}, std::pair{&b, "y2\r"}})
        for (const char* c = typed; *c; ++c) {
            INPUT_RECORD key{};
            makeKeyEvent(static_cast<unsigned char>(*c), &key);
            s->sendKey(key);
        }
    ASSERT_TRUE(host.runUntil([&] { return shows(a, "alpha-60") && shows(b, "bravo-60"); }, 20000))
        << screenText(a.session.model) << screenText(b.session.model);
    EXPECT_EQ(host.running(), 2u);
    EXPECT_FALSE(shows(a, "bravo") || shows(b, "alpha"));
    // What scrolled off, the typed line's answer first, is in its own history.
    EXPECT_EQ(historyLines(*histories[0], "alpha got x1"), 1);
    EXPECT_EQ(historyLines(*histories[1], "bravo got y2"), 1);
    EXPECT_GT(historyLines(*histories[0], "alpha-"), 10);
    EXPECT_GT(historyLines(*histories[1], "bravo-"), 10);
    EXPECT_EQ(historyLines(*histories[0], "bravo") + historyLines(*histories[1], "alpha"), 0);

    // One ends; the other runs on.
    a.endSession();
    ASSERT_TRUE(host.runUntil([&] { return !a.running(); }, 5000));
    EXPECT_TRUE(b.running());
    EXPECT_EQ(a.result(), resultEnded);
    for (auto& sim : sims) sim->stop();
    ASSERT_TRUE(host.runUntil(nullptr, 10000));
    EXPECT_EQ(b.result(), resultServerClosed);
    std::remove(password.c_str());
    rmdir(dir.c_str());
}

// A session kept open through a proxy entry: a real tinyproxy carries it to
// the stand-in's screen, and a refusal fails the attempt in the proxy's
// words; a tunnel entry's command carries it too. A name is looked up while
// the wait point turns on.
TEST(HostedSessions, KeptOpenThroughAProxyOrATunnel) {
    struct stat st{};
    if (stat(QUOR_BINARY_DIR "/quorvex-sim", &st) != 0) GTEST_SKIP() << "quorvex-sim not built";
    if (stat("/usr/bin/tinyproxy", &st) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    if (stat(QUOR_BINARY_DIR "/tools/relay", &st) != 0) GTEST_SKIP() << "relay not built";
    const std::string dir = tempDir();
    const std::string password = dir + "/pw";
    std::ofstream(password) << "quorvex\n";
    chmod(password.c_str(), 0600);
    SimProcess sim({"--pty=sh -c 'echo routed-ok; read x'", "--password-file=" + password, "--port=0"});
    ASSERT_GT(sim.port(), 0);
    Tinyproxy tiny(sim.port());
    ASSERT_GT(tiny.port(), 0) << "tinyproxy did not start";
    proxyInfo proxy;
    proxy.hostName = strdup("127.0.0.1");
    proxy.port = tiny.port();
    proxyInfo tunnel;
    // The relay goes to the stand-in whatever port it is given.
    const std::string relay = QUOR_BINARY_DIR "/tools/relay %h " + std::to_string(sim.port());
    ASSERT_EQ(tunnel.setTunnel(relay.c_str(), "Relay"), 0);
    // A command that outlives its relay and ignores the request to end: it
    // goes only when forced, after its grace.
    proxyInfo stubborn;
    const std::string pidFile = dir + "/stubborn.pid";
    const std::string lingering = "sh -c 'trap \"\" TERM; echo $$ > " + pidFile + "; " QUOR_BINARY_DIR "/tools/relay %h " +
                                  std::to_string(sim.port()) + "; exec sleep 30'";
    ASSERT_EQ(stubborn.setTunnel(lingering.c_str(), "Stubborn"), 0);
    int stubbornPid = 0;

    // The lookup answers once a timer of the wait point has run, or after 5 s.
    struct gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false, waited = false;
    };
    auto g = std::make_shared<gate>();
    hostLookup = [g](const char*, int port) {
        std::unique_lock<std::mutex> lock(g->mutex);
        g->waited = g->opened.wait_for(lock, std::chrono::seconds(5), [&] { return g->open; });
        sockAddress address;
        sockLiteralAddress("127.0.0.1", port, address);
        return std::vector<sockAddress>{address};
    };

    struct row {
        const proxyInfo* via;
        const char* host;
        int port;           // where the session asks to be connected
        const char* shown;  // on the screen, or else in the failure's words
        bool lingers = false;
    };
    // tinyproxy connects to the stand-in's port only.
    for (const row& r : {row{&proxy, "127.0.0.1", sim.port(), "routed-ok"},
                         row{&proxy, "127.0.0.1", sim.port() + 1, "has failed! HTTP/1.0 403"},
                         row{&tunnel, "127.0.0.1", sim.port() + 1, "routed-ok"},
                         row{nullptr, "console.test", sim.port(), "routed-ok"},
                         row{&stubborn, "127.0.0.1", sim.port(), "routed-ok", true}}) {
        struct endingWords : screenWatcher {
            std::string words;
            void sessionEnded(const remoteScreen&, const sessionEnding& how) override { words = how.words; }
        } ended;
        waitPoint waits;
        sessionHost host(waits);
        hostedSession& s = host.add("routed");
        s.session.feed.subscribe(&ended);
        unsigned char key[16];
        passwordDigest(key, "quorvex");
        g->open = false;
        s.keepOpen(r.host, r.port, key, r.via);
        waits.at(waitPoint::clock::now(), [g] {
            std::lock_guard<std::mutex> lock(g->mutex);
            g->open = true;
            g->opened.notify_all();
        });
        EXPECT_TRUE(host.runUntil([&] { return shows(s, r.shown) || ended.words.find(r.shown) != std::string::npos; },
                                  20000))
            << r.shown << ": " << ended.words;
        EXPECT_TRUE(r.via || g->waited) << "the lookup held the wait point";
        s.endSession();
        if (r.lingers) {
            // The session is over while the command still has its grace:
            // ending it did not hold the wait point.
            std::ifstream(pidFile) >> stubbornPid;
            EXPECT_TRUE(host.runUntil([&] { return !s.active(); }, 5000));
            EXPECT_EQ(kill(stubbornPid, 0), 0) << "the wait point waited for the command to end";
        }
        s.session.feed.unsubscribe(&ended);
    }
    // Gone with its session, and reaped: not even a zombie is left.
    ASSERT_GT(stubbornPid, 0);
    EXPECT_NE(kill(stubbornPid, 0), 0);
    std::remove(pidFile.c_str());
    hostLookup = nullptr;
    std::remove(password.c_str());
    rmdir(dir.c_str());
}
