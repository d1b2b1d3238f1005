// Session keys, the session menu and its commands, seen from the server.

#include "console/global.h"
#include "peer_util.h"
#include "tests/crypto/hex_util.h"

using namespace peer;

namespace {

constexpr int keyDelete = 0512;

using ScreenSet = std::vector<std::pair<uint32_t, std::string>>;

struct Scenario {
    Handshake hello;
    ScreenSet screens{{3, "Console"}, {7, "Logs"}, {9, "Shell"}};
    uint32_t screenId = 9;
};

// Runs a session with the keys queued beforehand. The peer opens the session
// and, once the client has acknowledged a first (empty) screen update, the
// keys are typed; then `check` reads what they must produce; afterwards
// nothing more may arrive before the client closes (the keys end with
// Shift+F2 or a menu end).
int runKeys(HeadlessClient& c, const Scenario& s, std::function<void(PeerLink&)> check) {
    const std::deque<int> keys = c.term.takeAll();
    const bool goneAfterKeys = c.term.goneWhenEmpty;
    c.term.setGone(false);   // nothing typed yet is not the end of input
    ScriptedPeer p([&](PeerLink& l) {
        ASSERT_TRUE(serverHandshake(l, s.hello));
        l.sendMessage(0, screenList(s.screens));
        l.sendScreenId(s.screenId);
        std::vector<unsigned char> empty;
        for (int i = 0; i < 3; ++i) putWord(empty, 0);   // cursor, no characters, no attributes
        l.sendMessage(3, empty);
        uint32_t ack = 0;
        ASSERT_TRUE(l.recvWord(ack));
        ASSERT_EQ(ack, 0x10004u);
        for (int k : keys) c.term.push(k);
        c.term.setGone(goneAfterKeys);
        check(l);
        int extra = -1;
        EXPECT_TRUE(l.closedByClient(8000, &extra));
        EXPECT_EQ(extra, 0) << "unexpected bytes after the expected messages";
    });
    EXPECT_EQ(c.connect(p.port()), 0);
    int r = c.session();
    c.app.closeConnection();
    p.finish();
    return r;
}

void expectWords(PeerLink& l, const std::vector<uint32_t>& words) {
    for (uint32_t w : words) {
        uint32_t got = 0;
        ASSERT_TRUE(l.recvWord(got)) << "waiting for " << std::hex << w;
        EXPECT_EQ(got, w) << std::hex << got << " != " << w;
    }
}

std::vector<uint32_t> selectMessage(uint32_t id) { return {2, id}; }

std::string screenRow(const std::vector<std::string>& shot, int row, int col, size_t n) {
    return shot[row].substr(col, n);
}

// Types the text into the open box and Enter.
void typeLine(HeadlessClient& c, const char* text) {
    c.term.push(text);
    c.term.push(keyEnter);
}

// Opens the session menu's password change (its fourth item).
void openChange(HeadlessClient& c) {
    c.term.pushKeys({shiftF(1), keyDown, keyDown, keyDown, keyEnter});
}

// Opens Restart Server (when offered), five items before the session
// menu's last.
void openRestart(HeadlessClient& c) {
    c.term.pushKeys({shiftF(1), keyEnd, keyUp, keyUp, keyUp, keyUp, keyUp, keyUp, keyUp, keyEnter});
}

// The first snapshot that shows text at (col, row), or null.
const std::vector<std::string>* shotContaining(const TestTerminal& t, int row, int col, const std::string& text) {
    static std::vector<std::vector<std::string>> shots;
    shots = t.snapshots();
    for (const auto& s : shots)
        if (s[row].compare(col, text.size(), text) == 0) return &s;
    return nullptr;
}

}  // namespace

TEST(SessionKeyWords, OrdinaryKeysCarryScanCodeAndCharacter) {
    WaitingClient c;
    c.term.pushKeys({'a', keyEsc, 'A', keyEnter,
                     keyF(1),   // F1 without Shift is an ordinary key
                     200, '-', '\t', keyDown,
                     1, 0x1C,   // Ctrl+A, Ctrl+backslash
                     keyF(10), keyF(12), 127,
                     shiftF(2)});
    int r = runKeys(c, {}, [](PeerLink& l) {
        expectWords(l, {word(5, 0x1E61), word(5, 0x011B), word(5, 0x0041), word(5, 0x1C0D), word(5, 0x3B00),
                        word(5, 0x00C8), word(5, 0x4A2D), word(5, 0x0F09), word(5, 0x5000), word(5, 0x9E01),
                        word(5, 0xAB1C), word(5, 0x4400), word(5, 0x5800), word(5, 0x0E08)});
    });
    EXPECT_EQ(r, 0);
}

// On a UTF-8 terminal: a character goes as its code page 437 code; one the
// code page lacks goes as nothing and the status row says so; the bytes of
// a broken character go nowhere.
TEST(SessionKeyWords, Utf8CharactersGoInCodePage437) {
    WaitingClient c;
    c.term.utf8Input = true;
    c.term.push("\xC3\xA4\xE2\x82\xAC\xC3x\xCE\xB1");   // ä € (broken) x α
    c.term.push(shiftF(2));
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {word(5, 0x0084), word(5, 0x2D78), word(5, 0x00E0)}); }),
              0);
    EXPECT_TRUE(c.term.everShown(0, 24, "Not in code page 437: U+20AC"));
}

// Records that the curses backend never produces: left Ctrl, scan bit 7 and
// Esc with Alt and Ctrl.
TEST(SessionKeyWords, ControlBitsAndTheAltCtrlEsc) {
    HeadlessClient c;
    ScriptedPeer p([](PeerLink& l) {
        expectWords(l, {word(5, 0x9E01), word(5, 0x9C0D), word(5, 0x002E), word(5, 0x811B)});
    });
    ASSERT_EQ(c.connect(p.port()), 0);
    unsigned char digest[16];
    passwordDigest(digest, "quorvex");
    c.app.sendCipher.setKey(digest, 16);
    auto key = [](uint32_t code, uint32_t scan, char ch, uint32_t state) {
        KEY_EVENT_RECORD k{};
        k.bKeyDown = 1;
        k.wVirtualKeyCode = code;
        k.wVirtualScanCode = scan;
        k.uChar.AsciiChar = ch;
        k.dwControlKeyState = state;
        return k;
    };
    for (KEY_EVENT_RECORD k : {key(0x1E, 0x1E, 1, ksLeftCtrl), key(0x1C, 0x9C, 13, 0),
                               key(kcEsc, kcEsc, 27, ksShiftedFunction | ksLeftCtrl), key(kcEsc, kcEsc, 0, ksLeftCtrl)})
        EXPECT_EQ(c.app.onKey(k), 0);
    p.finish();
}

TEST(SessionShortcuts, ShiftF2EndsWithoutSendingAndShiftF5SendsWordEight) {
    WaitingClient c;
    c.term.pushKeys({shiftF(5), shiftF(2),
                     'z'});   // never read: the session has ended
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {8}); }), 0);
    EXPECT_TRUE(c.term.keyPending());
}

TEST(SessionShortcuts, ShiftF4AndShiftF3WalkTheScreenList) {
    WaitingClient c;
    c.term.pushKeys({shiftF(4),   // 9 is last: wraps to 3
                     shiftF(3),   // 3 is first: wraps to 9
                     shiftF(3),   // to 7
                     shiftF(2)});
    std::vector<uint32_t> expected;
    for (uint32_t id : {3u, 9u, 7u})
        for (uint32_t w : selectMessage(id)) expected.push_back(w);
    EXPECT_EQ(runKeys(c, {}, [&](PeerLink& l) { expectWords(l, expected); }), 0);
    EXPECT_EQ(c.app.session.currentScreenId, 7);
    EXPECT_EQ(c.app.session.previousScreenId, 9);
}

TEST(SessionShortcuts, SingleScreenSelectsNothing) {
    WaitingClient c;
    c.term.pushKeys({shiftF(4), shiftF(3), shiftF(2)});
    Scenario s;
    s.screens = {{4, "Only"}};
    s.screenId = 4;
    EXPECT_EQ(runKeys(c, s, [](PeerLink&) {}), 0);
}

TEST(SessionShortcuts, ShiftF6ShowsTheCurrentScreenName) {
    WaitingClient c;
    c.term.pushKeys({shiftF(6), keyEsc, shiftF(2)});
    Scenario s;
    s.screenId = 7;
    EXPECT_EQ(runKeys(c, s, [](PeerLink&) {}), 0);
    // Column 1, row 21, three rows high: the name on row 22 from column 4.
    EXPECT_TRUE(c.term.everShown(4, 22, "Logs"));
    EXPECT_FALSE(c.term.everShown(4, 22, "Console"));
}

TEST(SessionMenu, WithoutRestartFourCommandsAndTheReconnectSwitchThenEnd) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyDown, keyEnter});   // End Remote Session With Server
    Scenario s;
    s.hello.word1 = 0;
    EXPECT_EQ(runKeys(c, s, [](PeerLink&) {}), 0);
    const auto* shot = shotContaining(c.term, 11, 18, "Select Screen To View");
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(screenRow(*shot, 12, 18, 30), "End Remote Session With Server");
    EXPECT_EQ(screenRow(*shot, 13, 18, 39), "Resume Remote Session With Server (ESC)");
    EXPECT_EQ(screenRow(*shot, 14, 18, 30), "Change Remote Console Password");
    EXPECT_EQ(screenRow(*shot, 15, 18, 8), "Send key");
    EXPECT_EQ(screenRow(*shot, 16, 18, 28), "Reconnect automatically: off");
    EXPECT_EQ(screenRow(*shot, 17, 18, 19), "Save screen to file");
    EXPECT_EQ(screenRow(*shot, 18, 18, 19), "Record session: off");
    EXPECT_EQ(screenRow(*shot, 19, 18, 11), "Scroll back");
    EXPECT_EQ(screenRow(*shot, 20, 18, 20), "Save history to file");
    EXPECT_EQ(screenRow(*shot, 21, 18, 30), "Share in a browser (read-only)");
    EXPECT_EQ(static_cast<unsigned char>((*shot)[22][15]), static_cast<unsigned char>(brd[5]))
        << "the frame closes under eleven items";
    EXPECT_FALSE(c.term.everShown(18, 15, "Restart Server"));
}

TEST(SessionMenu, RestartItemOnlyWhenTheGreetingOffersIt) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyEsc,   // leave the menu: the session goes on
                     'q', shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {word(5, 0x1071)}); }), 0);
    EXPECT_TRUE(c.term.everShown(18, 15, "Restart Server"));
}

// The switch turns reconnection on and off in place; the menu stays open
// and shows the new state under Restart Server.
TEST(SessionMenu, TheReconnectItemTogglesInPlace) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyEnd, keyUp, keyUp, keyUp, keyUp, keyUp, keyEnter,   // on
                     keyEnter,                      // off again
                     keyEnter,                      // on
                     keyEsc, shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink&) {}), 0);
    EXPECT_TRUE(c.app.options.autoReconnect);
    EXPECT_TRUE(c.term.everShown(18, 17, "Reconnect automatically: on "));
    EXPECT_TRUE(c.term.everShown(18, 17, "Reconnect automatically: off"));
    const auto* shot = shotContaining(c.term, 17, 18, "Reconnect automatically: on ");
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(static_cast<unsigned char>((*shot)[23][15]), static_cast<unsigned char>(brd[5]));
}

// Shift+F2 goes as Shift and F2; Ctrl+Alt+Del as the word the server takes
// for it.
TEST(SessionMenu, SendKeyListsTheKeysThatCannotBeTyped) {
    WaitingClient c;
    const int sendKey[] = {shiftF(1), keyEnd, keyUp, keyUp, keyUp, keyUp, keyUp, keyUp, keyEnter};
    for (int k : sendKey) c.term.push(k);
    c.term.pushKeys({keyDown, keyEnter});
    for (int k : sendKey) c.term.push(k);
    c.term.pushKeys({keyEnd, keyUp, keyUp, keyEnter, shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {word(5, 0x2A00), word(5, 0x3C00), word(5, 0x002E)}); }),
              0);
    EXPECT_TRUE(c.term.everShown(18, 13, "Shift+F6"));
}

TEST(SessionMenu, ResumeKeepsTheSession) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyDown, keyDown, keyEnter, '1', shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {word(5, 0x0231)}); }), 0);
}

TEST(SessionMenu, ScreenSubmenuIsSortedAndTypeAheadSelects) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyEnter,   // Select Screen To View
                     's', keyEnter,         // Shell
                     shiftF(1), keyEnter,
                     keyHome, keyEnter,     // the first in name order
                     shiftF(2)});
    Scenario s;
    s.screens = {{9, "Shell"}, {3, "console"}, {7, "Logs"}};
    s.screenId = 7;
    std::vector<uint32_t> expected = {2, 9, 2, 3};
    EXPECT_EQ(runKeys(c, s, [&](PeerLink& l) { expectWords(l, expected); }), 0);
    // Three screens: height 5 at row 11; names sorted without regard to case.
    const auto* shot = shotContaining(c.term, 12, 18, "console");
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(screenRow(*shot, 13, 18, 4), "Logs");
    EXPECT_EQ(screenRow(*shot, 14, 18, 5), "Shell");
}

TEST(SessionMenu, ChoosingTheCurrentScreenSendsNothing) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyEnter, 'l', keyEnter,   // Logs, already current
                     shiftF(2)});
    Scenario s;
    s.screenId = 7;
    EXPECT_EQ(runKeys(c, s, [](PeerLink&) {}), 0);
}

TEST(SessionMenu, ManyScreensGiveTwentyRowsAtRowTwo) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyEnter, keyEsc,   // back to the session menu
                     keyEsc, shiftF(2)});
    Scenario s;
    s.screens.clear();
    for (uint32_t i = 1; i <= 25; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "screen %02u", i);
        s.screens.push_back({i, name});
    }
    s.screenId = 1;
    EXPECT_EQ(runKeys(c, s, [](PeerLink&) {}), 0);
    const auto* shot = shotContaining(c.term, 3, 18, "screen 01");
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(screenRow(*shot, 22, 18, 9), "screen 20");
    EXPECT_EQ(static_cast<unsigned char>((*shot)[2][15]), static_cast<unsigned char>(brd[2]));
    EXPECT_EQ(static_cast<unsigned char>((*shot)[23][15]), static_cast<unsigned char>(brd[5]));
}

// A session with a single screen or none gets a one-row submenu at row 12.
TEST(SessionMenu, EmptyScreenListGivesOneRowAtRowTwelve) {
    WaitingClient c;
    c.term.pushKeys({shiftF(1), keyEnter, keyEnter,   // nothing to choose: back to the session menu
                     keyEsc, shiftF(2)});
    Scenario s;
    s.screens.clear();
    EXPECT_EQ(runKeys(c, s, [](PeerLink&) {}), 0);
    bool seen = false;
    for (const auto& shot : c.term.snapshots())
        if (static_cast<unsigned char>(shot[12][15]) == static_cast<unsigned char>(brd[2]) &&
            static_cast<unsigned char>(shot[14][15]) == static_cast<unsigned char>(brd[5]))
            seen = true;
    EXPECT_TRUE(seen);
}

class PasswordChange : public ::testing::Test {
protected:
    static std::vector<unsigned char> changeMessage(const char* password) {
        std::vector<unsigned char> m = {7, 0, 0, 0};
        unsigned char d[16];
        passwordDigest(d, password);
        m.insert(m.end(), d, d + 16);
        return m;
    }
    static void expectChange(PeerLink& l, const char* password) {
        unsigned char got[20];
        ASSERT_TRUE(l.recvExact(got, 20));
        EXPECT_EQ(std::vector<unsigned char>(got, got + 20), changeMessage(password));
    }
};

TEST_F(PasswordChange, SendsTheDigestAndUpdatesTheSavedPassword) {
    WaitingClient c;
    c.server->setPassword("old one");
    openChange(c);
    typeLine(c, "secret");
    typeLine(c, "secret");
    c.term.push(shiftF(2));
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectChange(l, "secret"); }), 0);
    unsigned char d[16];
    passwordDigest(d, "secret");
    EXPECT_TRUE(c.server->hasPassword());
    EXPECT_EQ(std::memcmp(c.server->password, d, 16), 0);
    EXPECT_EQ(std::memcmp(c.app.reconnectKey, d, 16), 0) << "a reconnection uses the new password";
    EXPECT_TRUE(c.term.everShown(21, 11, "New Password:"));
    EXPECT_TRUE(c.term.everShown(21, 11, "Retype Password:"));
    for (const auto& shot : c.term.snapshots())
        for (const auto& row : shot) EXPECT_EQ(row.find("secret"), std::string::npos) << "masked";
}

TEST_F(PasswordChange, EntryWithoutSavedPasswordStaysWithout) {
    WaitingClient c;
    openChange(c);
    typeLine(c, "n3w");
    typeLine(c, "n3w");
    c.term.push(shiftF(2));
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectChange(l, "n3w"); }), 0);
    EXPECT_FALSE(c.server->hasPassword());
}

TEST_F(PasswordChange, MismatchShowsTheMessageAndSendsNothing) {
    WaitingClient c;
    c.server->setPassword("kept");
    openChange(c);
    typeLine(c, "one");
    typeLine(c, "two");
    c.term.pushKeys({keyEnter,   // the message box
                     keyEsc,     // the session menu
                     shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink&) {}), 0);
    EXPECT_TRUE(c.term.everShown("Entered passwords does not match, try it again please."));
    unsigned char d[16];
    passwordDigest(d, "kept");
    EXPECT_EQ(std::memcmp(c.server->password, d, 16), 0);
}

TEST_F(PasswordChange, EmptyPasswordReturnsToTheMenuWithoutSecondPrompt) {
    WaitingClient c;
    openChange(c);
    c.term.pushKeys({keyEnter,   // empty
                     keyUp,      // the menu again: up to "Resume"
                     keyEnter, shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink&) {}), 0);
    EXPECT_FALSE(c.term.everShown(21, 11, "Retype Password:"));
}

TEST_F(PasswordChange, CancelAtTheSecondPromptSendsNothing) {
    WaitingClient c;
    openChange(c);
    typeLine(c, "abc");
    c.term.pushKeys({keyEsc, keyEsc, shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink&) {}), 0);
    EXPECT_TRUE(c.term.everShown(21, 11, "Retype Password:"));
}

class RestartConfirm : public ::testing::Test {
protected:
    static void clearField(HeadlessClient& c) {
        for (int i = 0; i < 7; ++i) c.term.push(keyDelete);
    }
};

TEST_F(RestartConfirm, RestartSendsNineAfterAWrongWordKeptTheBoxOpen) {
    WaitingClient c;
    openRestart(c);
    typeLine(c, "restart");   // lower case: the box comes back with the text
    clearField(c);
    typeLine(c, "RESTART");
    c.term.pushKeys({'x',   // the menu is closed, the session goes on
                     shiftF(2)});
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {9, word(5, 0x2D78)}); }), 0);
    EXPECT_TRUE(c.term.everShown(21, 11, "Enter 'RESTART' for confirmation:"));
    EXPECT_TRUE(c.term.everShown(21, 12, "restart"));
}

TEST_F(RestartConfirm, GravelSendsTheForcedRestart) {
    WaitingClient c;
    openRestart(c);
    typeLine(c, "GRAVEL");
    c.term.push(shiftF(2));
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {10}); }), 0);
}

TEST_F(RestartConfirm, TypingStopsAtSevenCharactersAndEscCancels) {
    WaitingClient c;
    openRestart(c);
    typeLine(c, "RESTARTX");   // cut to 7 characters by the box: that is RESTART
    c.term.push(shiftF(2));
    EXPECT_EQ(runKeys(c, {}, [](PeerLink& l) { expectWords(l, {9}); }), 0);

    WaitingClient d;
    openRestart(d);
    typeLine(d, "RESTAR");
    d.term.pushKeys({keyEsc,   // cancel the box
                     keyEsc,   // leave the menu
                     shiftF(2)});
    EXPECT_EQ(runKeys(d, {}, [](PeerLink&) {}), 0);
}

// ---------------------------------------------------------------------------
// The same commands as the stand-in server logs them.

namespace {

std::string hexDigest(const char* password) {
    unsigned char d[16];
    passwordDigest(d, password);
    return hex(d);
}

class SimCommands : public SimLogTest {};

}  // namespace

TEST_F(SimCommands, RestartWordsPasswordChangeAndWordEight) {
    SimProcess sim({"--port=0", "--log=" + log_});
    ASSERT_GT(sim.port(), 0);
    WaitingClient c;
    for (const char* word : {"RESTART", "GRAVEL"}) {
        openRestart(c);
        typeLine(c, word);
    }
    openChange(c);
    typeLine(c, "pw2");
    typeLine(c, "pw2");
    c.term.push(shiftF(5));
    ASSERT_EQ(c.connect(sim.port()), 0);
    EXPECT_EQ(typeAfterFirstScreen(c, sim, "{\"type\":8,"), 0);
    auto lines = readLines(log_);
    EXPECT_EQ(countLines(lines, "{\"type\":9,\"value\":0}"), 1);
    EXPECT_EQ(countLines(lines, "{\"type\":10,\"value\":0}"), 1);
    EXPECT_EQ(countLines(lines, "{\"type\":7,\"digest\":\"" + hexDigest("pw2") + "\"}"), 1);
    EXPECT_EQ(countLines(lines, "{\"type\":8,\"value\":0}"), 1);
    EXPECT_TRUE(c.term.everShown(18, 15, "Restart Server"));
}

TEST_F(SimCommands, NoRestartItemWhenTheServerDoesNotOfferIt) {
    SimProcess sim({"--port=0", "--log=" + log_, "--no-restart"});
    ASSERT_GT(sim.port(), 0);
    WaitingClient c;
    openRestart(c);   // the last item is the password change here
    c.term.pushKeys({keyEsc, keyEsc, shiftF(5)});
    ASSERT_EQ(c.connect(sim.port()), 0);
    EXPECT_EQ(typeAfterFirstScreen(c, sim, "{\"type\":8,"), 0);
    EXPECT_TRUE(c.term.everShown(18, 14, "Change Remote Console Password"));
    EXPECT_FALSE(c.term.everShown(18, 15, "Restart Server"));
    EXPECT_TRUE(c.term.everShown(21, 11, "New Password:"));
}
