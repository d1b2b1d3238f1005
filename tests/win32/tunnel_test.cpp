// Tunnel entries on Windows: the relay program of the tests, started through
// pipes in a job object, carries the session to a loopback peer; the child
// is gone, by its pid, whenever the connection is closed.

#include <fstream>

#include "tests/win32/win_util.h"

using namespace win;

namespace {

// True when the process has ended (or no process has the id any more).
bool gone(long pid) {
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!h) return true;
    const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    CloseHandle(h);
    return ended;
}

class Tunnel : public OneServerApp {
protected:
    proxyInfo tunnel;
    ProgramFolder folder;

    void TearDown() override {
        OneServerApp::TearDown();
        std::remove(pidFile().c_str());
    }
    std::string pidFile() const { return folder.path + "relay.pid"; }
    // The relay beside this test program, with the options.
    void useRelay(const std::string& options) {
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string dir = self;
        dir.erase(dir.find_last_of("\\/") + 1);
        const std::string command = "\"" + dir + "relay.exe\" --pidfile=\"" + pidFile() + "\" " + options;
        ASSERT_EQ(tunnel.setTunnel(command.c_str(), "Relay"), 0);
    }
    long relayPid() {
        for (int i = 0; i < 2000; ++i) {   // 20 s and more
            std::ifstream f(pidFile());
            long pid = 0;
            if (f >> pid) return pid;
            Sleep(10);
        }
        ADD_FAILURE() << "the relay did not start";
        return 0;
    }
    int connect(int port) {
        server->port = port;
        return app.connect(server, &tunnel);
    }
    int session() {
        passwordDigest(app.sessionKey, "quorvex");
        return app.processConnection();
    }
};

// The peer opens the session and shows a screen; its closing reaches the
// client through the relay as the server closing.
TEST_F(Tunnel, TheSessionRunsThroughTheCommand) {
    Peer p([](Link& l) {
        ASSERT_TRUE(serverOpening(l, true));
        uint32_t w = 0;
        ASSERT_TRUE(l.recvWord(w) && l.recvWord(w));
        l.sendScreenId(1);
        l.sendMessage(3, textUpdate(2, 4, "tunnelled", 0x1F));
        ASSERT_TRUE(l.recvWord(w));
        EXPECT_EQ(w, 0x10004u);
    });
    useRelay("%h %p");
    ASSERT_EQ(connect(p.port()), 0);
    const long pid = relayPid();
    EXPECT_EQ(session(), 4001);
    p.finish();
    std::string row;
    for (int i = 2; i < 11; ++i) row.push_back(static_cast<char>(screenBuf[4][i] & 0xFF));
    EXPECT_EQ(row, "tunnelled");
    app.closeConnection();
    EXPECT_TRUE(gone(pid));
}

// The relay ends after the client's first acknowledgement while the peer
// keeps the connection open.
TEST_F(Tunnel, TheCommandEndingMidSessionIs4001) {
    Peer p([](Link& l) {
        ASSERT_TRUE(serverOpening(l, true));
        uint32_t w = 0;
        ASSERT_TRUE(l.recvWord(w) && l.recvWord(w));
        l.sendScreenId(1);
        l.sendMessage(3, textUpdate(0, 0, "x", 0x07));
        ASSERT_TRUE(l.recvWord(w));
        l.recvExact(&w, 4, 3000);   // until the relay has gone
    });
    useRelay("--exit-after-sent=166 %h %p");
    ASSERT_EQ(connect(p.port()), 0);
    const long pid = relayPid();
    EXPECT_EQ(session(), 4001);
    EXPECT_EQ(app.session.currentScreenId, 1);
    p.finish();
    app.closeConnection();
    EXPECT_TRUE(gone(pid));
}

TEST_F(Tunnel, EscBeforeTheServerGreetsAbortsAndEndsTheCommand) {
    useRelay("--hang %h %p");
    ASSERT_EQ(connect(1), 0);
    const long pid = relayPid();
    putKeyEvent(keyRecord(VK_ESCAPE, 0x01, 27));
    EXPECT_EQ(session(), -1);
    EXPECT_FALSE(gone(pid));
    app.closeConnection();
    EXPECT_TRUE(gone(pid));
}

}  // namespace
