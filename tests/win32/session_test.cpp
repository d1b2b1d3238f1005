// The session of the Windows build against a peer on a Winsock loopback
// listener, with the keys coming through the console key queue.

#include <atomic>

#include "client/scrlist.h"
#include "client/sessionhost.h"
#include "screen/formats.h"
#include "tests/win32/win_util.h"

using namespace win;

namespace {

class Session : public OneServerApp {
protected:
    // Connects to the peer, runs the session and lets the peer finish.
    int run(Peer& p) {
        server->port = p.port();
        int r = app.connect(server, nullptr);
        EXPECT_EQ(r, 0);
        if (r == 0) {
            passwordDigest(app.sessionKey, "quorvex");
            r = app.processConnection();
        }
        app.closeConnection();
        p.finish();
        return r;
    }
};

uint32_t keyMessage(uint16_t keyWord) { return word(5, keyWord); }

std::string rowText(int row, int col, int n) {
    std::string t;
    for (int i = col; i < col + n; ++i) t.push_back(static_cast<char>(screenBuf[row][i] & 0xFF));
    return t;
}

}  // namespace

// The greeting is followed by the start word and the second start word, as
// separate words; a compressed update is expanded, painted and acknowledged
// once, and so is a plain one.
TEST_F(Session, GreetingStartWordsAndBothKindsOfUpdate) {
    const std::string row = "packed" + std::string(74, '=');
    Peer p([&](Link& l) {
        ASSERT_TRUE(serverOpening(l, true));
        uint32_t w = 0;
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 1u);
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 20u);
        l.sendScreenId(1);
        // The marker is also an attribute byte of the update: it travels escaped.
        const auto packed = compressed(rowUpdate(3, row, 0x1F, 0x4E), 0x1F);
        ASSERT_LT(packed.size(), 60u);
        l.sendMessage(6, packed);
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 0x10004u);
        EXPECT_TRUE(l.quiet(100)) << "one acknowledgement per update";
        l.sendMessage(3, textUpdate(10, 5, "plain", 0x70));
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 0x10004u);
        EXPECT_TRUE(l.quiet(100));
    });
    EXPECT_EQ(run(p), 4001);
    EXPECT_EQ(rowText(3, 0, 80), row);
    EXPECT_EQ(screenBuf[3][39] >> 8, 0x1F);
    EXPECT_EQ(screenBuf[3][40] >> 8, 0x4E);
    EXPECT_EQ(rowText(5, 10, 5), "plain");
    EXPECT_EQ(screenBuf[5][14] >> 8, 0x70);
    EXPECT_EQ(cursorX, 15);
    EXPECT_EQ(cursorY, 5);
}

TEST_F(Session, WithoutGreetingOnlyTheFirstStartWordIsSent) {
    Peer p([](Link& l) {
        ASSERT_TRUE(serverOpening(l, false));
        uint32_t w = 0;
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 1u);
        l.sendScreenId(4);
        EXPECT_TRUE(l.quiet(200)) << "no second start word";
    });
    EXPECT_EQ(run(p), 4001);
    EXPECT_EQ(app.session.currentScreenId, 4);
}

// Key words are made from the scan code and the character of the console's
// records; only left Alt (0x2) makes a shortcut: right Ctrl (0x4), which
// the terminal build's mask includes, does not.
TEST_F(Session, KeyWordsAndTheAltMask) {
    const DWORD alt = LEFT_ALT_PRESSED;
    Peer p([&](Link& l) {
        ASSERT_TRUE(serverOpening(l, true));
        uint32_t w = 0;
        ASSERT_TRUE(l.recvWord(w) && l.recvWord(w));
        l.sendMessage(0, screenList({{1, "One"}, {2, "Two"}}));
        l.sendScreenId(1);
        l.sendMessage(3, textUpdate(0, 0, "x", 0x07));
        ASSERT_TRUE(l.recvWord(w));   // the acknowledgement: the screen id has been taken
        putKeyEvent(keyRecord(VK_RETURN, 0x1C, 13));
        putKeyEvent(keyRecord('A', 0x1E, 1, LEFT_CTRL_PRESSED));
        putKeyEvent(keyRecord('Q', 0x10, '@', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED));   // AltGr+Q, German
        consoleCtrlHandler(CTRL_C_EVENT);
        putKeyEvent(keyRecord(VK_MENU, 0x38, 0, alt));
        putKeyEvent(keyRecord(VK_F2, 0x3C, 0, SHIFT_PRESSED));
        putKeyEvent(keyRecord(VK_F2, 0x3C, 0, RIGHT_CTRL_PRESSED));
        putKeyEvent(keyRecord(VK_F4, 0x3E, 0, alt));
        putKeyEvent(keyRecord(VK_F3, 0x3D, 0, alt));
        for (uint16_t expected : {0x1C0D, 0x9E01, 0x1040, 0x2E03, 0x3800, 0x3C00, 0x3C00}) {
            ASSERT_TRUE(l.recvWord(w));
            EXPECT_EQ(w, keyMessage(expected)) << std::hex << expected;
        }
        const std::vector<unsigned char> next = {2, 0, 0, 0, 2, 0, 0, 0}, back = {2, 0, 0, 0, 1, 0, 0, 0};
        EXPECT_EQ(l.recvBytes(8), next);
        EXPECT_EQ(l.recvBytes(8), back);
        putKeyEvent(keyRecord(VK_F2, 0x3C, 0, alt));
        EXPECT_TRUE(l.closedSilently()) << "Alt+F2 sends nothing";
    });
    EXPECT_EQ(run(p), 0);
    EXPECT_EQ(app.session.currentScreenId, 1);
}

// Two sessions on the one wait point of a thread: each shows what its own
// server painted, and a key given to one reaches only its server.
TEST(HostedSessions, TwoOnOneWaitPoint) {
    std::atomic<int> keysSeen[2] = {0, 0};
    auto script = [&](int i, const char* text) {
        return [&keysSeen, i, text](Link& l) {
            ASSERT_TRUE(serverOpening(l, true));
            uint32_t w = 0;
            ASSERT_TRUE(l.recvWord(w) && l.recvWord(w));
            l.sendScreenId(1);
            l.sendMessage(3, textUpdate(0, 2, text, 0x07));
            ASSERT_TRUE(l.recvWord(w));   // the acknowledgement
            // Keys until the client ends the session, each answered with an
            // update (which wakes the client's wait).
            while (l.recvWord(w))
                if ((w & 0xFFFF) == 5) {
                    ++keysSeen[i];
                    l.sendMessage(3, textUpdate(0, 3, "key", 0x07));
                }
        };
    };
    Peer first(script(0, "first"));
    Peer second(script(1, "second"));
    waitPoint waits;
    sessionHost host(waits);
    for (Peer* p : {&first, &second}) {
        unsigned char key[16];
        passwordDigest(key, "quorvex");
        ASSERT_TRUE(host.add("peer").open("127.0.0.1", p->port(), key));
    }
    hostedSession& a = *host.sessions()[0];
    hostedSession& b = *host.sessions()[1];
    auto row = [](const hostedSession& s) { return lineText(s.session.model.cells[2]); };
    ASSERT_TRUE(host.runUntil([&] { return row(a).find("first") == 0 && row(b).find("second") == 0; }, 10000));
    a.sendKey(keyRecord('A', 0x1E, 'a'));
    a.sendKey(keyRecord('B', 0x30, 'b'));
    ASSERT_TRUE(host.runUntil([&] { return keysSeen[0] == 2; }, 10000));
    a.endSession();
    b.endSession();
    ASSERT_TRUE(host.runUntil(nullptr, 10000));
    first.finish();
    second.finish();
    EXPECT_EQ(keysSeen[0], 2);
    EXPECT_EQ(keysSeen[1], 0);
}
