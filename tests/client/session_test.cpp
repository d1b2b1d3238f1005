// The session protocol against a scripted peer on loopback and against the
// stand-in server.

#include <algorithm>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/time.h>

#include "client/outbox.h"
#include "console/global.h"
#include "peer_util.h"

using namespace peer;

namespace {

// Connects, runs the session, closes the connection, lets the peer finish.
int runSession(HeadlessClient& c, ScriptedPeer& p, const char* password = "quorvex") {
    int r = c.connect(p.port());
    EXPECT_EQ(r, 0);
    if (r != 0) return -100;
    int s = c.session(password);
    c.app.closeConnection();
    p.finish();
    return s;
}

uint32_t keyMessage(uint16_t keyWord) { return word(5, keyWord); }

// A peer script that opens the session (handshake, then screen id 1) and
// goes on with `rest`.
std::function<void(PeerLink&)> onScreenOne(std::function<void(PeerLink&)> rest) {
    return [rest](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        l.sendScreenId(1);
        rest(l);
    };
}

}  // namespace

TEST(SessionOpening, GreetingPathPaintsAndAcknowledges) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        l.sendMessage(0, screenList({{3, "Console"}, {7, "Logs"}}));
        l.sendScreenId(3);
        l.sendMessage(3, textUpdate(10, 5, "hello", 0x1F));
        uint32_t ack = 0;
        ASSERT_TRUE(l.recvWord(ack));
        EXPECT_EQ(ack, 0x10004u);
        EXPECT_TRUE(l.quiet(200)) << "exactly one acknowledgement";
    });
    EXPECT_EQ(runSession(c, p), 4001);

    EXPECT_EQ(c.term.rowText(5).substr(10, 5), "hello");
    EXPECT_EQ(c.term.shown[5][12] >> 8, 0x1F);
    EXPECT_EQ(c.term.cursorX, 15);
    EXPECT_EQ(c.term.cursorY, 5);
    ASSERT_EQ(c.app.session.screens.count, 2);
    EXPECT_STREQ(c.app.session.screens.first->getName(), "Console");
    EXPECT_EQ(c.app.session.screens.last->getId(), 7u);
    EXPECT_EQ(c.app.session.currentScreenId, 3);
    EXPECT_EQ(c.app.session.sessionEstablished, 1);
    EXPECT_EQ(c.app.serverGreeting.getWord(1), 1u);
    for (unsigned char b : c.app.sessionKey) EXPECT_EQ(b, 0) << "session key wiped";
    // So are the keyed cipher states, which would decrypt any later session.
    for (const rc4Cipher* cipher : {&c.app.sendCipher, &c.app.recvCipher})
        EXPECT_EQ(std::count(cipher->permutation, cipher->permutation + 256, 0), 256);
}

// The filler of the opening block comes from a freshly seeded generator: two
// sessions never open with the same bytes.
TEST(SessionOpening, OpeningBlocksDifferFromSessionToSession) {
    std::vector<std::vector<unsigned char>> blocks;
    for (int run = 0; run < 2; ++run) {
        WaitingClient c;
        ScriptedPeer p([&blocks](PeerLink& l) {
            std::vector<unsigned char> opening(128);
            ASSERT_TRUE(l.recvExact(opening.data(), 128));
            blocks.push_back(opening);
        });
        runSession(c, p);
    }
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_NE(blocks[0], blocks[1]);
}

TEST(SessionOpening, WithoutGreetingOnlyTheStartWordIsSent) {
    WaitingClient c;
    c.app.serverGreeting.setWord(1, 5);   // left over from an earlier session
    ScriptedPeer p([](PeerLink& l) {
        Handshake h;
        h.greeting = false;
        ASSERT_TRUE(serverHandshake(l, h));
        l.sendScreenId(4);
        EXPECT_TRUE(l.quiet(200));
    });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.app.serverGreeting.getWord(1), 0u);
    EXPECT_EQ(c.app.session.currentScreenId, 4);
}

// The Windows build's second start word follows the start word on the
// greeting path only.
TEST(SessionOpening, WindowsProfileSendsStartWord20AfterTheGreetingOnly) {
    for (bool greeting : {true, false}) {
        ProfileScope windows(windowsProfile);
        WaitingClient c;
        ScriptedPeer p([greeting](PeerLink& l) {
            Handshake h;
            h.greeting = greeting;
            ASSERT_TRUE(serverHandshake(l, h));
            uint32_t w = 0;
            if (greeting) {
                ASSERT_TRUE(l.recvWord(w));
                EXPECT_EQ(w, 20u);
            }
            l.sendScreenId(1);
            EXPECT_TRUE(l.quiet(200)) << "greeting " << greeting;
        });
        EXPECT_EQ(runSession(c, p), 4001);
    }
}

TEST(SessionOpening, CommandWordOneIsAValidGreeting) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        Handshake h;
        h.cmd = 1;
        h.word1 = 0;
        ASSERT_TRUE(serverHandshake(l, h));
    });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.app.serverGreeting.getWord(1), 0u);
}

// A greeting with command word 2 or a text differing in one byte ends the
// session with 0 before the client sends anything more.
TEST(SessionOpening, InvalidGreetingsEndQuietly) {
    struct Case {
        uint32_t cmd;
        const char* text;
    };
    for (const Case& k : {Case{2, "QUORVEX Ready"}, Case{0, "QUORVEX ready"}, Case{1, "QUORVEX Readz"}}) {
        WaitingClient c;
        ScriptedPeer p([&k](PeerLink& l) {
            unsigned char opening[128];
            ASSERT_TRUE(l.recvExact(opening, 128));
            std::vector<unsigned char> block(128, 0);
            block[127] = '0';
            std::vector<unsigned char> hello(26, 0);
            hello[0] = static_cast<unsigned char>(k.cmd);
            std::memcpy(hello.data() + 12, k.text, 13);
            block.insert(block.end(), hello.begin(), hello.end());
            l.send(block);
            int extra = -1;
            EXPECT_TRUE(l.closedByClient(5000, &extra));
            EXPECT_EQ(extra, 0) << "nothing sent after an invalid greeting";
        });
        EXPECT_EQ(runSession(c, p), 0) << k.cmd << " " << k.text;
    }
}

TEST(SessionFraming, HeadersAndPayloadsAreSplitExactly) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        // Screen id with length bits 0x0010: still exactly 4 payload bytes.
        std::vector<unsigned char> v;
        putWord(v, word(2, 0x0010));
        putWord(v, 9);
        // Types without payload: the next header follows directly.
        putWord(v, word(4, 0x0100));
        putWord(v, word(1, 0x7FFF));
        putWord(v, word(7, 0xFFFF));
        putWord(v, word(6, 0x0004));   // no compressed updates on this build
        // Type 5: payload read and dropped.
        putWord(v, word(5, 3));
        v.insert(v.end(), {0x03, 0x00, 0x00});
        l.send(v);
        l.sendMessage(3, textUpdate(0, 1, "framed", 0x07));
        uint32_t ack = 0;
        ASSERT_TRUE(l.recvWord(ack));
        EXPECT_EQ(ack, 0x10004u);
        EXPECT_TRUE(l.quiet(200));
    });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.app.session.currentScreenId, 9);
    EXPECT_EQ(c.term.rowText(1).substr(0, 6), "framed");
}

// With the Windows build's profile a compressed update is expanded, painted
// like a plain one and acknowledged once.
TEST(SessionFraming, WindowsProfileExpandsPaintsAndAcknowledgesType6) {
    ProfileScope windows(windowsProfile);
    const std::string row = "packed" + std::string(74, '=');
    WaitingClient c;
    ScriptedPeer p([&row](PeerLink& l) {
        uint32_t w = 0;
        ASSERT_TRUE(serverHandshake(l) && l.recvWord(w));
        l.sendScreenId(1);
        // The marker is also an attribute byte of the update: it travels escaped.
        l.sendMessage(6, compressed(rowUpdate(4, row, 0x1F, 0x4E), 0x1F));
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 0x10004u);
        EXPECT_TRUE(l.quiet(200));
    });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.term.rowText(4), row);
    EXPECT_EQ(c.term.shown[4][39] >> 8, 0x1F);
    EXPECT_EQ(c.term.shown[4][40] >> 8, 0x4E);
    EXPECT_EQ(c.term.cursorY, 4);
}

TEST(SessionFraming, EveryUpdateIsAcknowledgedOnce) {
    WaitingClient c;
    ScriptedPeer p(onScreenOne([](PeerLink& l) {
        // Several updates in one burst, an empty one among them.
        std::vector<unsigned char> burst;
        for (int i = 0; i < 20; ++i) {
            auto u = i == 7 ? std::vector<unsigned char>{} : textUpdate(i, 2, "x", 0x07);
            putWord(burst, word(3, static_cast<uint16_t>(u.size())));
            burst.insert(burst.end(), u.begin(), u.end());
        }
        l.send(burst);
        for (int i = 0; i < 20; ++i) {
            uint32_t ack = 0;
            ASSERT_TRUE(l.recvWord(ack)) << "ack " << i;
            EXPECT_EQ(ack, 0x10004u);
        }
        EXPECT_TRUE(l.quiet(200));
    }));
    EXPECT_EQ(runSession(c, p), 4001);
}

// An update of many items reaches the terminal as one push per touched row
// and one refresh.
TEST(SessionFraming, AnUpdateIsShownWithOneRefresh) {
    WaitingClient c;
    ScriptedPeer p(onScreenOne([](PeerLink& l) {
        std::vector<unsigned char> chars = {0xC3, 0x02, 'a', 'b', 0x81, 0x43, 'z', 0xC4, 0x01, 'q'};
        std::vector<unsigned char> attrs = {0xC3, 0x45, 0x1E, 0xC4, 0x41, 0x70};
        std::vector<unsigned char> u;
        putWord(u, 5 | (7u << 16));
        putWord(u, static_cast<uint32_t>(chars.size()));
        u.insert(u.end(), chars.begin(), chars.end());
        putWord(u, static_cast<uint32_t>(attrs.size()));
        u.insert(u.end(), attrs.begin(), attrs.end());
        l.sendMessage(3, u);
        uint32_t ack = 0;
        EXPECT_TRUE(l.recvWord(ack));
    }));
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.term.rowText(3).substr(0, 2), "ab");
    EXPECT_EQ(c.term.rowText(3).substr(3, 3), "zzz");
    EXPECT_EQ(c.term.shown[3][4] >> 8, 0x1E);
    EXPECT_EQ(c.term.rowText(7).substr(0, 1), "q");
    EXPECT_EQ(c.term.shown[7][0] >> 8, 0x70);
    EXPECT_EQ(c.term.cursorX, 5);
    EXPECT_EQ(c.term.cursorY, 7);
    EXPECT_EQ(c.term.refreshes, 1);
    EXPECT_EQ(c.term.rowPushes[3], 1);
    EXPECT_EQ(c.term.rowPushes[7], 1);
    EXPECT_EQ(c.term.rowPushes[0], 0);
}

TEST(SessionFraming, PayloadOfExactlyTheBufferSizeFits) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        std::vector<unsigned char> big(8000, 0xAB);
        std::vector<unsigned char> v;
        putWord(v, word(5, 8000));
        v.insert(v.end(), big.begin(), big.end());
        l.send(v);
        l.sendScreenId(2);
        l.sendMessage(3, textUpdate(0, 0, "ok", 0x07));
        uint32_t ack = 0;
        EXPECT_TRUE(l.recvWord(ack));
        EXPECT_EQ(ack, 0x10004u);
    });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.app.session.currentScreenId, 2);
}

// Lengths that cannot fit the receive buffer end the session as a broken stream.
TEST(SessionFraming, HostileLengthsEndAs4002) {
    for (uint16_t type : {0, 3, 5}) {
        for (uint16_t len : {uint16_t{8001}, uint16_t{0x7FFF}, uint16_t{0xFFFF}, uint16_t{0x8000}}) {
            WaitingClient c;
            ScriptedPeer p(onScreenOne([=](PeerLink& l) {
                l.sendWord(word(type, len));
                l.send(std::vector<unsigned char>(64, 0));
                EXPECT_TRUE(l.closedByClient(5000));
            }));
            EXPECT_EQ(runSession(c, p), 4002) << "type " << type << " length " << len;
        }
    }
}

TEST(SessionFraming, EmptyPayloadsNeedNoBytes) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        l.sendMessage(0, screenList({{5, "Five"}}));
        l.sendMessage(5, {});
        l.sendMessage(0, {});   // an empty list message empties the list
        l.sendScreenId(5);
        l.sendMessage(3, {});
        uint32_t ack = 0;
        EXPECT_TRUE(l.recvWord(ack));
        EXPECT_EQ(ack, 0x10004u);
    });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.app.session.screens.count, 0);
    EXPECT_EQ(c.app.session.currentScreenId, 5);
}

TEST(SessionKeysQueue, KeysTypedBeforeTheFirstScreenIdFollowItInOrder) {
    WaitingClient c;
    c.term.push("abc");
    ScriptedPeer p([](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        for (int i = 0; i < 5; ++i) l.sendWord(word(7, 0));
        l.sendMessage(3, textUpdate(0, 0, "wait", 0x07));
        uint32_t w = 0;
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 0x10004u);
        EXPECT_TRUE(l.quiet(300)) << "no key before the session is established";
        l.sendScreenId(8);
        for (uint16_t expected : {0x1E61, 0x3062, 0x2E63}) {
            ASSERT_TRUE(l.recvWord(w));
            EXPECT_EQ(w, keyMessage(expected));
        }
    });
    EXPECT_EQ(runSession(c, p), 4001);
}

// The 35th header without a screen id ends the session; the 34th does not.
TEST(SessionPassword, ThirtyFiveHeadersWithoutScreenGive4003) {
    WaitingClient c;
    ScriptedPeer p([](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l));
        for (int i = 0; i < 34; ++i) l.sendWord(word(7, 0));
        EXPECT_TRUE(l.quiet(300)) << "still up after 34 headers";
        l.sendWord(word(7, 0));
        EXPECT_TRUE(l.closedByClient(5000));
    });
    EXPECT_EQ(runSession(c, p), 4003);
}

TEST(SessionPassword, WrongPasswordReadsNoiseAndGives4003) {
    WaitingClient c;
    ScriptedPeer p(
        [](PeerLink& l) {
            unsigned char opening[128];
            ASSERT_TRUE(l.recvExact(opening, 128));
            std::vector<unsigned char> data(128, 0);
            data[127] = '0';
            std::vector<unsigned char> hello(26, 0);
            std::memcpy(hello.data() + 12, "QUORVEX Ready", 13);
            data.insert(data.end(), hello.begin(), hello.end());
            for (int i = 0; i < 4000; ++i) putWord(data, word(7, 0));
            l.send(data);
            EXPECT_TRUE(l.closedByClient(5000));
        },
        "not the password");
    EXPECT_EQ(runSession(c, p, "quorvex"), 4003);
}

TEST(SessionEnd, ResetConnectionIs4002) {
    WaitingClient c;
    ScriptedPeer p(onScreenOne([](PeerLink& l) {
        linger lg{1, 0};
        setsockopt(l.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);   // close sends a reset
    }));
    EXPECT_EQ(runSession(c, p), 4002);
}

TEST(SessionEnd, InputGoneEndsTheSessionInOrder) {
    HeadlessClient c;   // an empty key script reads as the terminal gone
    ScriptedPeer p(onScreenOne([](PeerLink& l) {
        EXPECT_TRUE(l.closedByClient(5000));
    }));
    EXPECT_EQ(runSession(c, p), 0);
}

TEST(SessionEnd, TerminationRequestEndsTheSession) {
    WaitingClient c;
    ScriptedPeer p(onScreenOne([](PeerLink& l) {
        EXIT = 1;
        EXPECT_TRUE(l.closedByClient(5000));
    }));
    int r = runSession(c, p);
    EXIT = 0;
    EXPECT_EQ(r, 0);
}

TEST(SessionEnd, NewSessionStartsWithAnEmptyScreenList) {
    WaitingClient c;
    auto* s = new serverScreen();
    s->init(99, "old");
    c.app.session.screens.add(s);
    ScriptedPeer p([](PeerLink& l) { ASSERT_TRUE(serverHandshake(l)); });
    EXPECT_EQ(runSession(c, p), 4001);
    EXPECT_EQ(c.app.session.screens.count, 0);
}

namespace {
void ignoreAlarm(int) {}
}  // namespace

// Short sends to a peer that reads slowly, and a storm of signals that break
// every wait: each of many key messages arrives whole and in order.
TEST(SessionSending, InterruptedAndShortSendsKeepTheStreamInStep) {
    constexpr int keyCount = 20000;
    const std::string typed = "asdf";
    const uint16_t words[] = {0x1E61, 0x1F73, 0x2064, 0x2166};
    WaitingClient c;
    c.term.keepSnapshots = false;
    for (int i = 0; i < keyCount; ++i) c.term.push(typed[i % 4]);
    // The alarms go to this thread only: the peer's thread is born with them blocked.
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    int wrong = 0;
    ScriptedPeer p(onScreenOne([&](PeerLink& l) {
        const int small = 2048;
        setsockopt(l.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        for (int i = 0; i < keyCount; ++i) {
            if (i % 1000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            uint32_t w = 0;
            ASSERT_TRUE(l.recvWord(w)) << "message " << i;
            if (w != keyMessage(words[i % 4]) && wrong++ < 5) ADD_FAILURE() << "message " << i << ": " << std::hex << w;
        }
        c.term.push(shiftF(2));
        EXPECT_TRUE(l.closedByClient(5000));
    }));
    ASSERT_EQ(c.connect(p.port()), 0);
    const int small = 4096;
    setsockopt(c.app.socket->sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    struct sigaction action {}, old {};
    action.sa_handler = ignoreAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;   // no restarting: interrupted calls fail with EINTR
    sigaction(SIGALRM, &action, &old);
    pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
    itimerval storm{{0, 200}, {0, 200}};
    setitimer(ITIMER_REAL, &storm, nullptr);
    const int r = c.session();
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    c.app.closeConnection();
    p.finish();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(wrong, 0);
}

// A server that sends empty updates and never reads: once what waits in the
// client's outbox passes the backlog bound, the client stops reading too, and
// the end key still leaves.
TEST(SessionSending, AServerThatNeverReadsIsNotReadEither) {
    const int small = 4096;
    const int bound = static_cast<int>(outboxBacklogLimit);
    std::atomic<int> clientFd{-1};
    auto queued = [](int fd, unsigned long what) { int n = 0; return ioctl(fd, what, &n) == 0 ? n : -1; };
    WaitingClient c;
    ScriptedPeer p(onScreenOne([&](PeerLink& l) {
        // Where the bytes are: the server's send queue, the client's receive
        // queue, and for the acknowledgements the client's send queue and
        // the server's receive queue.
        struct queues {
            int sent, serverOut, clientIn, clientOut, serverIn;
            bool operator==(const queues&) const = default;
            // One acknowledgement per header taken; what no socket holds waits in the outbox.
            int outbox() const { return sent - serverOut - clientIn - clientOut - serverIn; }
        };
        queues q{}, again{};
        auto read = [&](queues& r) {
            r.serverOut = queued(l.fd, SIOCOUTQ);
            r.clientIn = queued(clientFd, SIOCINQ);
            r.clientOut = queued(clientFd, SIOCOUTQ);
            r.serverIn = queued(l.fd, SIOCINQ);
        };
        // Two readings that agree: nothing moved in between, so the outbox is exact.
        auto settled = [&] {
            again.sent = q.sent;
            read(q);
            read(again);
            return q == again;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!(settled() && q.outbox() > bound) && std::chrono::steady_clock::now() < deadline) {
            if (q.sent < (1 << 20) && sockWait(l.fd, sockWritable, 50) > 0) {
                for (int i = 0; i < 256 && sockWait(l.fd, sockWritable, 0) > 0 && l.sendWord(word(3, 0)); ++i)
                    q.sent += 4;
            } else if (q.sent >= (1 << 20)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));   // the client works through what it holds
            }
        }
        EXPECT_GT(q.outbox(), bound) << "the client takes headers while its outbox has room";
        EXPECT_LE(q.outbox(), bound + 64) << "and no more after";
        EXPECT_GT(q.clientIn, 0) << "what the server sent stays unread";
        c.term.push(shiftF(2));
        EXPECT_TRUE(l.closedByClient(5000));
    }), "quorvex", AF_INET, small);   // the acknowledgements back up after kilobytes, not the loopback's megabyte
    ASSERT_EQ(c.connect(p.port()), 0);
    clientFd = c.app.socket->sock;
    setsockopt(clientFd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    EXPECT_EQ(c.session(), 0);
    c.app.closeConnection();
}

// ---------------------------------------------------------------------------
// Against the stand-in server (its --log has one JSON line per client message).

class SimSession : public SimLogTest {
protected:
    // The stand-in with the log and a still picture unless told otherwise.
    std::unique_ptr<SimProcess> startSim(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port=0", "--log=" + log_, "--update-ms=3600000"});
        auto sim = std::make_unique<SimProcess>(args);
        EXPECT_GT(sim->port(), 0);
        return sim;
    }
    std::vector<std::string> log() const { return readLines(log_); }
};

TEST_F(SimSession, GreetingExchangeAndOneAcknowledgementPerUpdate) {
    auto sim = startSim({});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    // A still picture: one full update at the start and one per screen change.
    int r = runSimSession(c, *sim, [&] {
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,\"value\":1}", 1));
        c.term.push(shiftF(4));
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,\"value\":1}", 2));
        c.term.push(shiftF(4));
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,\"value\":1}", 3));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.term.push(shiftF(2));
    });
    sim->stop();
    EXPECT_EQ(r, 0);
    auto lines = log();
    EXPECT_EQ(countLines(lines, "\"type\":\"opening\",\"bytes\":128,\"last\":48"), 1);
    EXPECT_EQ(countLines(lines, "\"type\":\"greeting\",\"cmd\":0,\"word1\":1,\"word2\":0,\"text\":\"QUORCLI Ready\""), 1);
    EXPECT_EQ(countLines(lines, "{\"type\":1,\"value\":0}"), 1);
    EXPECT_EQ(countLines(lines, "{\"type\":2,"), 2);
    EXPECT_EQ(countLines(lines, "{\"type\":4,\"value\":1}"), 3) << "three updates, three acknowledgements";
    EXPECT_GE(c.app.session.screens.count, 2);
    EXPECT_EQ(c.app.serverGreeting.getWord(1), 1u);
}

TEST_F(SimSession, WithoutGreetingTheStartWordFollowsTheOpeningBlock) {
    auto sim = startSim({"--no-greeting"});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    EXPECT_EQ(runUntilLogged(c, *sim, "{\"type\":4,"), 0);
    auto lines = log();
    EXPECT_EQ(countLines(lines, "\"type\":\"greeting\""), 0);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[1].find("opening"), std::string::npos);
    EXPECT_NE(lines[2].find("{\"type\":1,\"value\":0}"), std::string::npos);
}

TEST_F(SimSession, InvalidGreetingsEndWithZeroBeforeTheClientGreets) {
    for (const char* option : {"--greeting-cmd=2", "--bad-greeting"}) {
        auto sim = startSim({option});
        WaitingClient c;
        ASSERT_EQ(c.connect(sim->port()), 0);
        int r = runSimSession(c, *sim, [] {});
        EXPECT_TRUE(waitForLog(log_, "\"event\":\"close\""));
        sim->stop();
        EXPECT_EQ(r, 0) << option;
        EXPECT_TRUE(c.app.greetingInvalid) << option;   // a batch run says the password was invalid
        auto lines = log();
        EXPECT_EQ(countLines(lines, "\"type\":\"greeting\""), 0) << option;
        EXPECT_EQ(countLines(lines, "{\"type\":1,"), 0) << option;
        std::remove(log_.c_str());
    }
}

TEST_F(SimSession, KeysBeforeTheFirstScreenAreSentAfterItInOrder) {
    auto sim = startSim({});
    WaitingClient c;
    c.term.push("abc");
    c.term.push(keyEsc);
    ASSERT_EQ(c.connect(sim->port()), 0);
    EXPECT_EQ(runUntilLogged(c, *sim, "\"keyword\":\"0x011b\""), 0);
    std::vector<std::string> keywords;
    for (const auto& line : log()) {
        size_t at = line.find("\"keyword\":\"");
        if (at != std::string::npos) keywords.push_back(line.substr(at + 11, 6));
    }
    EXPECT_EQ(keywords, (std::vector<std::string>{"0x1e61", "0x3062", "0x2e63", "0x011b"}));
}

TEST_F(SimSession, ServerClosingIs4001) {
    auto sim = startSim({"--close-on-accept"});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    EXPECT_TRUE(waitForLog(log_, "\"event\":\"close\""));
    EXPECT_EQ(c.session(), 4001);
}

TEST_F(SimSession, HeadersWithoutScreenGive4003) {
    auto sim = startSim({"--garbage-headers"});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    EXPECT_EQ(runSimSession(c, *sim, [] {}), 4003);
}

TEST_F(SimSession, WrongPasswordGives4003) {
    auto sim = startSim({"--password=not quorvex", "--heartbeat-ms=10"});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    EXPECT_EQ(runSimSession(c, *sim, [] {}), 4003);
}

// The operator types the password after the connection is made; however long
// that takes, the right password must not count as a wrong one.
TEST_F(SimSession, SlowlyTypedPasswordIsStillAccepted) {
    auto sim = startSim({"--heartbeat-ms=10"});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));   // 80 heartbeat periods
    EXPECT_EQ(runUntilLogged(c, *sim, "{\"type\":4,"), 0);
    EXPECT_EQ(c.app.session.sessionEstablished, 1);
}

TEST_F(SimSession, HostileLengthsGive4002) {
    for (const char* option : {"--oversize", "--negative"}) {
        auto sim = startSim({option});
        WaitingClient c;
        ASSERT_EQ(c.connect(sim->port()), 0);
        EXPECT_EQ(runSimSession(c, *sim, [] {}), 4002) << option;
    }
}

// Whatever keeps the session waiting (no screen yet, a payload cut short, a
// wrong password against a server that then waits for the greeting), the end
// key leaves at once, on the client side only: nothing is sent, the
// connection is closed, and a key typed before it is never sent.
TEST_F(SimSession, TheEndKeyLeavesEveryWaitingState) {
    const std::vector<std::vector<std::string>> cases = {
        {"--silent"}, {"--stall"}, {"--password=not quorvex", "--heartbeat-ms=0"}};
    for (const auto& options : cases) {
        auto sim = startSim(options);
        WaitingClient c;
        ASSERT_EQ(c.connect(sim->port()), 0);
        Clock::time_point pressed;
        int r = runSimSession(
            c, *sim,
            [&] {
                EXPECT_TRUE(waitForLog(log_, "\"type\":\"opening\""));
                // Time for the stalled update to come; nothing shows when it has.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                c.term.push('x');
                pressed = Clock::now();
                c.term.push(shiftF(2));
            },
            10000);
        const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count();
        EXPECT_EQ(r, 0) << options[0];
        // Within a second is the aim (scripts/bench); a stuck session would wait for the grace of 10 s.
        EXPECT_LT(tookMs, 5000) << options[0];
        EXPECT_TRUE(waitForLog(log_, "\"event\":\"close\"")) << options[0] << ": the stand-in saw no close";
        EXPECT_EQ(countLines(log(), "\"keyword\""), 0) << options[0];
        sim->stop();
        std::remove(log_.c_str());
    }
}

// Updates back to back: keys still get through, and the end key acts long
// before the flood ends.
TEST_F(SimSession, KeysAreReadDuringAFlood) {
    auto sim = startSim({"--flood=30"});
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port()), 0);
    Clock::time_point pressed;
    int r = runSimSession(c, *sim, [&] {
        EXPECT_TRUE(waitForLog(log_, "{\"type\":4,", 20));   // the flood is on
        pressed = Clock::now();
        c.term.push('q');
        EXPECT_TRUE(waitForLog(log_, "\"keyword\":\"0x1071\"", 1, 10000)) << "a key starved by the flood";
        c.term.push(shiftF(2));
    });
    const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count();
    sim->stop();
    EXPECT_EQ(r, 0);
    EXPECT_LT(tookMs, 15000) << "the flood lasts 30 s";
}

// A server that never reads: what the client sends piles up, yet the keys
// keep being read and the end key leaves.
TEST_F(SimSession, AServerThatDoesNotReadCannotHoldTheClient) {
    auto sim = startSim({"--no-read"});
    WaitingClient c;
    c.term.keepSnapshots = false;
    ASSERT_EQ(c.connect(sim->port()), 0);
    const int small = 4096;
    setsockopt(c.app.socket->sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::atomic<bool> ended{false};
    std::thread typist([&] {
        // Typed into the session: keys before the first screen would wait for it.
        EXPECT_TRUE(c.term.waitUntilShown("QUORVEX Server Console"));
        for (int i = 0; i < 60000 && !ended; ++i) c.term.push('a' + i % 26);
        c.term.push(shiftF(2));
    });
    const auto started = Clock::now();
    int r = c.session();
    ended = true;
    typist.join();
    int unsent = 0;
    ioctl(c.app.socket->sock, SIOCOUTQ, &unsent);
    c.app.closeConnection();
    sim->stop();
    EXPECT_EQ(r, 0);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count(), 20);
    EXPECT_GE(unsent, 4096) << "the socket never filled up";
}
