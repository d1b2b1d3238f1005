// Riding out a dropped link: the pauses between attempts, going back to the
// screen shown before, and the main loop against a stand-in server that is
// stopped mid-session and started again on the same port, which the test
// holds meanwhile.

#include <climits>
#include <memory>

#include "console/global.h"
#include "list_util.h"
#include "peer_util.h"

using namespace peer;

namespace {

TEST(ReconnectDelay, DoublesFromOneSecondUpToThirty) {
    const std::vector<std::pair<int, int>> table = {{0, 1}, {1, 2},  {2, 4},   {3, 8},      {4, 16},
                                                    {5, 30}, {6, 30}, {40, 30}, {INT_MAX, 30}, {-1, 1}};
    for (const auto& [attempt, seconds] : table) EXPECT_EQ(reconnectDelaySeconds(attempt), seconds) << attempt;
}

using ScreenSet = std::vector<std::pair<uint32_t, std::string>>;

// A reconnected session selects the screen shown before once the server has
// both listed its screens and shown one, in either order; a screen the
// server no longer lists, or the one it shows already, sends nothing.
TEST(Reselect, TheScreenShownBeforeComesBackWhenTheServerStillListsIt) {
    struct Case {
        const char* what;
        ScreenSet list;
        uint32_t shown;
        bool listFirst;
        bool sends;
    };
    const Case cases[] = {
        {"listed, list first", {{3, "Console"}, {7, "Logs"}, {9, "Shell"}}, 3, true, true},
        {"listed, list after the id", {{3, "Console"}, {7, "Logs"}}, 3, false, true},
        {"no longer listed", {{3, "Console"}, {9, "Shell"}}, 3, true, false},
        {"already shown", {{3, "Console"}, {7, "Logs"}}, 7, true, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        WaitingClient c;
        c.app.reselectScreenId = 7;
        ScriptedPeer p([&](PeerLink& l) {
            ASSERT_TRUE(serverHandshake(l));
            if (k.listFirst) l.sendMessage(0, screenList(k.list));
            l.sendScreenId(k.shown);
            if (!k.listFirst) l.sendMessage(0, screenList(k.list));
            if (k.sends) {
                uint32_t w[2] = {};
                ASSERT_TRUE(l.recvWord(w[0]) && l.recvWord(w[1]));
                EXPECT_EQ(w[0], 2u);
                EXPECT_EQ(w[1], 7u);
            }
            EXPECT_TRUE(l.quiet(300)) << "one selection at most";
        });
        ASSERT_EQ(c.connect(p.port()), 0);
        EXPECT_EQ(c.session(), 4001);
        c.app.closeConnection();
        p.finish();
        EXPECT_EQ(c.app.session.currentScreenId, k.sends ? 7 : static_cast<int32_t>(k.shown));
    }
}

// What the main loop's pauses showed, recorded on the client's thread.
TestTerminal* shownOn = nullptr;
std::vector<std::string> countdown;                  // status row of each countdown second
std::vector<std::pair<int, std::string>> plainPauses;   // other pauses: length and status row
std::function<bool()> onCountdownSecond;             // instead of looking for Esc; true stops

std::string statusRow() {
    std::string row = shownOn->rowText(24);
    return row.substr(0, row.find_last_not_of(' ') + 1);
}
// A countdown second without the wait; by default it only looks for Esc (or
// the end of input). A loop that never ends is stopped after 100 of them.
bool countdownSecond(_win_st*, int ms) {
    EXPECT_EQ(ms, 1000);
    countdown.push_back(statusRow());
    if (countdown.size() > 100) {
        ADD_FAILURE() << "reconnecting does not end";
        return true;
    }
    return onCountdownSecond ? onCountdownSecond() : consoleMain::escapeWithin(nullptr, 0);
}
void plainPause(int ms) { plainPauses.emplace_back(ms, statusRow()); }

std::string secondsLeft(int n) {
    return "Link lost - reconnecting in " + std::to_string(n) + " s (Esc stops)";
}

// The whole program loop, preselected to connect at once to the stand-in,
// with the password typed at its prompt; the countdown takes no real time.
class ReconnectLoop : public SimLogTest, protected lists::ProgramFolder {
protected:
    TestTerminal term;
    consoleMain app;

    void SetUp() override {
        SimLogTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(makeFolder());
        setTerminal(&term);
        keyboardInputInit(nullptr);
        term.setGone(false);
        shownOn = &term;
        countdown.clear();
        plainPauses.clear();
        onCountdownSecond = nullptr;
        app.init(nullptr);
        app.pauseMs = plainPause;
        app.escapeWait = countdownSecond;
    }
    void TearDown() override {
        onCountdownSecond = nullptr;
        restarted.reset();
        shownOn = nullptr;
        app.options.autoReconnect = false;
        setGlobalString(&startupProxy, nullptr);
        setGlobalString(&startupServer, nullptr);
        setTerminal(nullptr);
        removeFolder();
        SimLogTest::TearDown();
    }
    // The port of every stand-in of the test: held from start to end, so that
    // it stays refusing while none runs and nothing else takes it.
    ReservedPort port_;
    std::vector<std::string> simArgs(const char* extra = nullptr) {
        std::vector<std::string> args = {"--port=" + std::to_string(port_.port()), "--reuse-port", "--log=" + log_,
                                         "--heartbeat-ms=20"};
        if (extra) args.push_back(extra);
        return args;
    }
    // A stand-in connected to at start with reconnection on; at the first
    // second of the countdown, once that one has been reaped, a new one (with
    // `extra`) listens on the port.
    std::unique_ptr<SimProcess> restarted;
    std::unique_ptr<SimProcess> startRestartingSim(const char* extra = nullptr) {
        auto sim = std::make_unique<SimProcess>(simArgs());
        if (sim->port() <= 0) return nullptr;
        connectAtStart(sim->port());
        app.options.autoReconnect = true;
        onCountdownSecond = [this, first = sim.get(), extra] {
            if (!restarted) {
                first->stop();   // returns once reaped, also while the driver is stopping it
                restarted = std::make_unique<SimProcess>(simArgs(extra));
            }
            return false;
        };
        return sim;
    }
    // Through the proxy on proxyPort, when there is one.
    void connectAtStart(int port, int proxyPort = 0) {
        writeFile("server=127.0.0.1:" + std::to_string(port) + ",Sim\n" +
                  (proxyPort ? "proxy=127.0.0.1:" + std::to_string(proxyPort) + ",Proxy\n" : ""));
        setGlobalString(&startupProxy, proxyPort ? "Proxy" : directConnectionText);
        setGlobalString(&startupServer, "Sim");
        term.push("quorvex");
        term.push(keyEnter);
    }
    // Waits (bounded) until a key read has shown the text.
    bool shownSoon(const std::string& text, int timeoutMs = 15000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            if (term.everShown(text)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int accepts() { return countLines(readLines(log_), "\"event\":\"accept\""); }
    // Runs the loop (stopping the stand-in under the open session when asked
    // to); the end is reported as without reconnection: the message for half
    // a second, no countdown, and the server list again.
    void expectReportedAsBefore(SimProcess& sim, bool stopUnderSession) {
        std::thread driver([&] {
            if (stopUnderSession) {
                EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));
                sim.stop();
            }
            EXPECT_TRUE(shownSoon("Set Master Password"));
            term.setGone(true);
        });
        // A close may reach the client as a reset when it was sending.
        const int result = app.execute();
        driver.join();
        ASSERT_TRUE(result == 4001 || result == 4002) << result;
        EXPECT_TRUE(countdown.empty());
        ASSERT_EQ(plainPauses.size(), 1u);
        EXPECT_EQ(plainPauses[0].first, 500);
        EXPECT_EQ(plainPauses[0].second, result == 4001 ? "Remote server closed connection !"
                                                        : "Connection with remote server lost !");
    }
};

TEST_F(ReconnectLoop, ComesBackByItselfToTheScreenShownBefore) {
    auto sim = startRestartingSim();
    ASSERT_TRUE(sim);
    const std::string selectTwo = "{\"type\":2,\"screen\":2}";
    std::thread driver([&] {
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));   // the first screen is shown
        term.push(shiftF(4));                               // Console -> Monitor, screen 2
        EXPECT_TRUE(waitForLog(log_, selectTwo));
        sim->stop();
        EXPECT_TRUE(waitForLog(log_, selectTwo, 2, 15000));
        term.push(shiftF(2));
        term.setGone(true);
    });
    EXPECT_EQ(app.execute(), 0);
    driver.join();

    EXPECT_EQ(countdown, std::vector<std::string>{secondsLeft(1)});
    EXPECT_TRUE(plainPauses.empty()) << plainPauses.front().second;
    const auto lines = readLines(log_);
    std::vector<size_t> acceptAt, selectAt;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("\"event\":\"accept\"") != std::string::npos) acceptAt.push_back(i);
        if (lines[i].find(selectTwo) != std::string::npos) selectAt.push_back(i);
    }
    ASSERT_EQ(acceptAt.size(), 2u);
    ASSERT_EQ(selectAt.size(), 2u);
    EXPECT_GT(selectAt[1], acceptAt[1]) << "selected again on the new connection";
    for (unsigned char b : app.reconnectKey) EXPECT_EQ(b, 0) << "the kept digest is wiped";
}

TEST_F(ReconnectLoop, EscDuringThePausesStopsAndTheServerListReturns) {
    SimProcess sim(simArgs());
    ASSERT_GT(sim.port(), 0);
    connectAtStart(sim.port());
    app.options.autoReconnect = true;
    int seconds = 0;
    onCountdownSecond = [&] {
        if (++seconds == 3) term.push(keyEsc);
        return consoleMain::escapeWithin(nullptr, 0);
    };
    std::thread driver([&] {
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));
        sim.stop();
        EXPECT_TRUE(shownSoon("Set Master Password"));   // the server list's legend
        term.setGone(true);
    });
    EXPECT_EQ(app.execute(), -1);
    driver.join();

    // 1 s, a quietly failed attempt, then 2 s of which the second is stopped.
    EXPECT_EQ(countdown, (std::vector<std::string>{secondsLeft(1), secondsLeft(2), secondsLeft(1)}));
    EXPECT_FALSE(term.everShown("has failed!")) << "a failed attempt shows no message box";
    EXPECT_TRUE(plainPauses.empty());
    EXPECT_EQ(accepts(), 1);
}

// An attempt fails once its time is over, whatever holds it up: a server
// that accepts and then says nothing, or (through a proxy) a proxy that
// accepts and never answers. The next, longer pause follows.
class ReconnectAttempt : public ReconnectLoop, public ::testing::WithParamInterface<bool> {};

TEST_P(ReconnectAttempt, FailsOnceItsTimeIsOver) {
    const bool throughProxy = GetParam();
    app.attemptScreenWaitMs = 300;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Tinyproxy> proxy;
    std::deque<int> password;   // typed at its prompt: the wait for the proxy reads keys
    if (!throughProxy) {
        sim = startRestartingSim("--silent");
    } else {
        if (access("/usr/bin/tinyproxy", X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
        sim = std::make_unique<SimProcess>(simArgs());
        proxy = std::make_unique<Tinyproxy>(sim->port());
        connectAtStart(sim->port(), proxy->port());
        password = term.takeAll();
        app.options.autoReconnect = true;
        // The proxy's place is taken by one that accepts and says nothing.
        onCountdownSecond = [this, &proxy] {
            if (!restarted) {
                const int port = proxy->port();
                proxy->stop();
                restarted = std::make_unique<SimProcess>(std::vector<std::string>{
                    "--port=" + std::to_string(port), "--log=" + log_, "--heartbeat-ms=20", "--silent"});
            }
            return false;
        };
    }
    ASSERT_TRUE(sim);
    // Esc in the second pause.
    onCountdownSecond = [&, restart = onCountdownSecond] { return restart() || countdown.size() == 2; };
    std::thread driver([&] {
        if (!password.empty()) {
            EXPECT_TRUE(shownSoon("Password for Sim:"));
        }
        for (int k : password) term.push(k);
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));
        sim->stop();
        if (!shownSoon("Set Master Password")) {
            ADD_FAILURE() << "an attempt outlived its time";
            term.push(shiftF(2));
        }
        term.setGone(true);
    });
    EXPECT_EQ(app.execute(), -1);
    driver.join();
    EXPECT_EQ(countdown, (std::vector<std::string>{secondsLeft(1), secondsLeft(2)}));
    EXPECT_EQ(accepts(), 2) << "the first session and the silent attempt";
}

INSTANTIATE_TEST_SUITE_P(SilentServerOrProxy, ReconnectAttempt, ::testing::Bool());

TEST_F(ReconnectLoop, AnInvalidPasswordStopsReconnectingAndAsksForIt) {
    auto sim = startRestartingSim("--password=changed");
    ASSERT_TRUE(sim);
    std::thread driver([&] {
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));
        const int before = term.blockingReads();
        sim->stop();
        EXPECT_TRUE(term.waitForBlockingRead(before, 15000));   // the password prompt again
        term.setGone(true);
    });
    app.execute();
    driver.join();

    EXPECT_EQ(countdown, std::vector<std::string>{secondsLeft(1)});
    ASSERT_EQ(plainPauses.size(), 1u);
    EXPECT_EQ(plainPauses[0], std::make_pair(1000, std::string("Invalid password !")));
    ASSERT_FALSE(term.snapshots().empty());
    EXPECT_NE(term.snapshots().back()[11].find("Password for Sim:"), std::string::npos);
    EXPECT_EQ(accepts(), 3) << "the first session, the one attempt, the connection that asks";
}

TEST_F(ReconnectLoop, SwitchedOffALostLinkIsReportedAsBefore) {
    SimProcess sim(simArgs());
    ASSERT_GT(sim.port(), 0);
    connectAtStart(sim.port());
    expectReportedAsBefore(sim, true);
}

// A link lost before any screen came is no session to ride out.
TEST_F(ReconnectLoop, ALinkLostBeforeTheFirstScreenIsReportedAsBefore) {
    SimProcess sim(simArgs("--close-on-accept"));
    ASSERT_GT(sim.port(), 0);
    connectAtStart(sim.port());
    app.options.autoReconnect = true;
    expectReportedAsBefore(sim, false);
}

}  // namespace
