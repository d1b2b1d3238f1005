// The main menu loop run headlessly from start to end: configuration,
// master password prompt, both lists, preselections and the saved file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#define NCURSES_NOMACROS
#include <curses.h>

#include "client/build.h"
#include "client/cmain.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"
#include "console/term.h"
#include "crypto/rc4.h"
#include "list_util.h"
#include "peer_util.h"

namespace {

namespace fs = std::filesystem;

using Screen = std::array<uint16_t, 25 * 80>;

// Keeps every cell and the cursor each time the program asks for a key.
class ScriptTerminal : public MemoryTerminal {
public:
    struct Picture {
        Screen cells;
        int cursorX, cursorY;
    };
    std::vector<Picture> pictures;

    Picture now() const
    {
        Picture p;
        memcpy(p.cells.data(), shown, sizeof shown);
        p.cursorX = cursorX;
        p.cursorY = cursorY;
        return p;
    }
    int readKey(int timeoutMs, INPUT_RECORD& record) override
    {
        pictures.push_back(now());
        return MemoryTerminal::readKey(timeoutMs, record);
    }
    void type(const std::string& text)
    {
        pushText(text);
        pushKey(13);
    }
};

std::string rowChars(const Screen& s, int row, int from = 0, int n = 80)
{
    std::string t;
    for (int c = from; c < from + n; ++c) t += static_cast<char>(s[row * 80 + c] & 0xFF);
    return t;
}
std::string rowAttrs(const Screen& s, int row)
{
    std::string t;
    for (int c = 0; c < 80; ++c) t += static_cast<char>(s[row * 80 + c] >> 8);
    return t;
}
bool holds(const Screen& s, const std::string& text)
{
    for (int r = 0; r < 25; ++r)
        if (rowChars(s, r).find(text) != std::string::npos) return true;
    return false;
}

// A status row as the legend table describes it: the row cleared in 0x70,
// then each field of n cells written left to right.
struct Field {
    int x;
    const char* text;
    int width;
    unsigned char attr;
};
std::pair<std::string, std::string> legendRow(std::initializer_list<Field> fields)
{
    std::string chars(80, ' '), attrs(80, '\x70');
    for (const Field& f : fields)
        for (int i = 0; i < f.width && f.x + i < 80; ++i) {
            size_t len = strlen(f.text);
            chars[f.x + i] = i < static_cast<int>(len) ? f.text[i] : ' ';
            attrs[f.x + i] = static_cast<char>(f.attr);
        }
    return {chars, attrs};
}

struct Pause {
    int ms;
    std::string status;
    size_t keysReadBefore;
};
ScriptTerminal* pausingTerminal = nullptr;
std::vector<Pause> pauses;

void recordPause(int ms)
{
    Screen s;
    memcpy(s.data(), pausingTerminal->shown, sizeof pausingTerminal->shown);
    pauses.push_back({ms, rowChars(s, 24) + "|" + rowAttrs(s, 24) + "|" + rowChars(s, 23) + rowAttrs(s, 23),
                      pausingTerminal->pictures.size()});
}

// A loopback server for one connection: it reads the client's 128-byte
// opening block, checks it under the expected session key, and then either
// closes in order (the client sees the server close) or resets (the client
// sees the connection lost). Every wait is bounded.
class OneShotServer {
public:
    enum Mode { closeInOrder, reset };
    int port = 0;
    bool accepted = false;
    bool openingVerified = false;

    OneShotServer(Mode mode, const char* password) : mode_(mode)
    {
        serverInfo::makePassword(key_, password);
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = peer::loopback();
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener_, 4);
        port = peer::boundPort(listener_);
        thread_ = std::thread([this] { serve(); });
    }
    ~OneShotServer()
    {
        finish();
        close(listener_);
    }
    // Waits for the server's side to end; its results can be read after it.
    void finish()
    {
        if (thread_.joinable()) thread_.join();
    }

private:
    Mode mode_;
    unsigned char key_[16];
    int listener_ = -1;
    std::thread thread_;

    static bool readable(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) == 1;
    }
    void serve()
    {
        if (!readable(listener_, 5000)) return;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        accepted = true;
        unsigned char block[128];
        size_t got = 0;
        while (got < sizeof block && readable(fd, 5000)) {
            ssize_t n = recv(fd, block + got, sizeof block - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == sizeof block) {
            rc4Cipher c;
            c.setKey(key_, 16);
            c.crypt(block, sizeof block, 0);
            openingVerified = block[127] == '0';
        }
        if (mode_ == reset) {
            linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        } else {
            shutdown(fd, SHUT_WR);
            char sink[256];
            while (readable(fd, 5000) && recv(fd, sink, sizeof sink, 0) > 0) {
            }
        }
        close(fd);
    }
};

using lists::proxyHeader;
using lists::serverHeader;
using lists::storedField;

class MainLoop : public ::testing::Test, protected lists::ProgramFolder {
protected:
    ScriptTerminal term;
    consoleMain app;

    void SetUp() override
    {
        ASSERT_TRUE(makeFolder());
        setTerminal(&term);
        keyboardInputInit(nullptr);
        pausingTerminal = &term;
        pauses.clear();
        app.init(nullptr);
        app.pauseMs = recordPause;
    }
    void TearDown() override
    {
        setTerminal(nullptr);
        pausingTerminal = nullptr;
        for (char** g : {&startupProxy, &startupServer}) setGlobalString(g, nullptr);
        EXIT = 0;
        removeFolder();
    }
    int firstPicture(const std::string& text) const
    {
        for (size_t i = 0; i < term.pictures.size(); ++i)
            if (holds(term.pictures[i].cells, text)) return static_cast<int>(i);
        return -1;
    }
};

const std::string sample = serverHeader +
                           "server=a.example:4242,Alpha\r\n"
                           "server=b.example:5000,Beta\r\n" +
                           proxyHeader + "proxy=user:pw@10.0.0.9:3128,Office\r\n";

TEST_F(MainLoop, WithoutStoredPasswordsTheProxyListComesFirstAndEscSaves)
{
    writeFile("server=b.example:5000,Beta\nserver=a.example,Alpha\nproxy=user:pw@10.0.0.9:3128,Office\n");
    term.pushKey(27);
    EXPECT_EQ(app.execute(), 0);
    EXPECT_EQ(readFile(), sample);
    EXPECT_EQ(app.configError, "");
    ASSERT_EQ(term.pictures.size(), 1u);   // the Esc; then nothing was asked for

    const auto& pic = term.pictures[0];
    EXPECT_FALSE(holds(pic.cells, "Master password:"));
    EXPECT_EQ(rowChars(pic.cells, 0), "ZEV Telvane/IP v.1.7" + std::string(60, ' '));
    EXPECT_EQ(rowAttrs(pic.cells, 0), std::string(80, '\x31'));
    EXPECT_EQ(pic.cells[5 * 80], 0x18B1);   // the background outside the list
    EXPECT_EQ(pic.cells[22 * 80 + 79], 0x18B1);
    auto legend = legendRow({{1, "Insert=", 7, 0x70},
                             {8, "New Proxy Server", 16, 0x71},
                             {25, "Delete=", 7, 0x70},
                             {32, "Remove Proxy Server", 19, 0x71},
                             {52, "F3=", 3, 0x70},
                             {55, "Edit Proxy Server", 17, 0x71}});
    EXPECT_EQ(rowChars(pic.cells, 24), legend.first);
    EXPECT_EQ(rowAttrs(pic.cells, 24), legend.second);
    EXPECT_EQ(rowChars(pic.cells, 6, 7, 21), "[Select Proxy Server]");
    EXPECT_EQ(pic.cursorX, 0);
    EXPECT_EQ(pic.cursorY, 24);
    EXPECT_EQ(term.titles, std::vector<std::string>{"Quorvex Client v.1.7 - disconnected"});
}

TEST_F(MainLoop, ServerListUnderAProxyShowsItsTitleAndBothLegendRows)
{
    writeFile(sample);
    term.pushText("o");
    term.pushKey(13);   // Office
    term.pushKey(27);   // leave the server list: the proxy list keeps Office active
    term.pushKey(KEY_HOME);
    term.pushKey(13);   // [Direct Connection]
    term.pushKey(27);
    term.pushKey(27);
    app.execute();
    ASSERT_EQ(term.pictures.size(), 7u);

    const auto& viaProxy = term.pictures[2].cells;
    EXPECT_EQ(rowChars(viaProxy, 4, 6, 40), "[Proxy Server: Office - 10.0.0.9:3128]\xCD\xCD");
    auto row23 = legendRow({{1, "Insert=", 7, 0x70},
                            {8, "New Server", 10, 0x71},
                            {20, "Delete=", 7, 0x70},
                            {27, "Remove Server", 13, 0x71},
                            {42, "F3=", 7, 0x70},
                            {45, "Edit Server", 13, 0x71},
                            {58, "F4=", 7, 0x70},
                            {61, "Save Password", 13, 0x71}});
    auto row24 = legendRow({{1, "F5=", 7, 0x70}, {4, "Set Master Password", 19, 0x71}});
    EXPECT_EQ(rowChars(viaProxy, 23), row23.first);
    EXPECT_EQ(rowAttrs(viaProxy, 23), row23.second);
    EXPECT_EQ(rowChars(viaProxy, 24), row24.first);
    EXPECT_EQ(rowAttrs(viaProxy, 24), row24.second);
    EXPECT_EQ(term.pictures[2].cursorY, 24);

    const auto& direct = term.pictures[5].cells;
    EXPECT_EQ(rowChars(direct, 4, 5, 3), "\xC9\xCD\xCD");   // no border title
    EXPECT_EQ(readFile(), sample);
}

std::string serverAt(int port, const std::string& desc, const std::string& stored = "")
{
    return "server=127.0.0.1:" + std::to_string(port) + "," + desc + (stored.empty() ? "" : "," + stored) + "\n";
}

TEST_F(MainLoop, AFailedConnectionIsShownForOneSecondAndTheServerListReturns)
{
    const peer::ReservedPort closed;
    writeFile(serverAt(closed.port(), "Beta") + "server=a.example,Alpha\n");
    term.pushKey(13);       // [Direct Connection]
    term.pushText("b");
    term.pushKey(13);       // Beta
    term.pushKey(13);       // the connection's own error message
    term.pushKey(27);
    term.pushKey(27);
    EXPECT_EQ(app.execute(), 0);
    ASSERT_EQ(term.pictures.size(), 6u);
    const auto& connecting = term.pictures[3].cells;
    EXPECT_TRUE(holds(connecting, "Connection to IP address 127.0.0.1 has failed!"));
    auto row24 = legendRow({{0, "Connecting....", 80, 0x71}, {59, "Esc=", 7, 0x70}, {63, "Abort connection", 16, 0x71}});
    EXPECT_EQ(rowChars(connecting, 24), row24.first);
    EXPECT_EQ(rowAttrs(connecting, 24), row24.second);
    EXPECT_EQ(rowChars(connecting, 23), std::string(80, '\xB1'));
    EXPECT_EQ(rowAttrs(connecting, 23), std::string(80, '\x18'));

    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].ms, 1000);
    EXPECT_EQ(pauses[0].keysReadBefore, 4u);
    const std::string failed = "Connection failed." + std::string(62, ' ');
    EXPECT_EQ(pauses[0].status, failed + "|" + std::string(80, '\x71') + "|" + std::string(80, '\xB1') +
                                    std::string(80, '\x18'));
    // After the pause the server list is back, still on Beta.
    EXPECT_TRUE(holds(term.pictures[4].cells, "Set Master Password"));
    EXPECT_EQ(app.socket, nullptr);
}

// With the Windows build's profile: the v.1.73 title row, and the window
// title naming the server from its choice until a list is shown again.
TEST_F(MainLoop, TheWindowsProfileShowsItsTitleRowAndWindowTitles)
{
    peer::ProfileScope windows(windowsProfile);
    const peer::ReservedPort closed;
    const int port = closed.port();
    writeFile(serverAt(port, "Beta"));
    term.pushKey(13);       // [Direct Connection]
    term.pushKey(13);       // Beta
    term.pushKey(13);       // the connection's own error message
    term.pushKey(27);
    term.pushKey(27);
    app.execute();
    const std::string off = "Quorvex Client v.1.73 - disconnected";
    const std::vector<std::string> titles = {
        off, off, "Beta (127.0.0.1:" + std::to_string(port) + ") - Quorvex Client v.1.73", off, off};
    EXPECT_EQ(term.titles, titles);
    ASSERT_EQ(term.pictures.size(), 5u);
    EXPECT_EQ(rowChars(term.pictures[0].cells, 0), "ZEV Telvane/IP v.1.73" + std::string(59, ' '));
    EXPECT_TRUE(holds(term.pictures[2].cells, "Connection to 127.0.0.1:" + std::to_string(port) + " has failed!"));
}

TEST_F(MainLoop, WithoutAStoredPasswordTheRemotePasswordIsAskedAndEscDrops)
{
    OneShotServer server(OneShotServer::closeInOrder, "unused");
    const std::string desc = "Beta server with a long name";
    writeFile(serverAt(server.port, desc));
    term.pushKey(13);
    term.pushKey(13);
    term.pushKey(27);       // at "Password for ..."
    term.pushKey(27);
    term.pushKey(27);
    EXPECT_EQ(app.execute(), 0);
    server.finish();
    EXPECT_TRUE(server.accepted);
    EXPECT_FALSE(server.openingVerified);   // no session was started
    EXPECT_EQ(app.socket, nullptr);
    EXPECT_TRUE(pauses.empty());
    ASSERT_EQ(term.pictures.size(), 5u);
    const auto& prompt = term.pictures[2].cells;
    EXPECT_EQ(rowChars(prompt, 24), "Enter remote password..." + std::string(56, ' '));
    EXPECT_EQ(rowAttrs(prompt, 24), std::string(80, '\x71'));
    const std::string text = "Password for " + desc.substr(0, 20) + ":";
    EXPECT_EQ(rowChars(prompt, 11, 21, static_cast<int>(text.size())), text);
    EXPECT_EQ(prompt[11 * 80 + 21] >> 8, 0x1E);
    EXPECT_EQ(prompt[10 * 80 + 20] & 0xFF, 0xC9);
    EXPECT_EQ(prompt[10 * 80 + 59] & 0xFF, 0xBB);
    EXPECT_TRUE(holds(term.pictures[3].cells, "Set Master Password"));
}

TEST_F(MainLoop, ATypedPasswordKeysTheSessionAndAClosedSessionIsReported)
{
    OneShotServer server(OneShotServer::closeInOrder, "typed");
    writeFile(serverAt(server.port, "Beta"));
    term.pushKey(13);
    term.pushKey(13);
    term.type("typed");
    term.pushKey(27);
    term.pushKey(27);
    EXPECT_EQ(app.execute(), 4001);
    server.finish();
    EXPECT_TRUE(server.openingVerified);
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].ms, 500);
    EXPECT_EQ(pauses[0].status.substr(0, 161),
              "Remote server closed connection !" + std::string(47, ' ') + "|" + std::string(80, '\x71'));
    EXPECT_EQ(app.socket, nullptr);
    EXPECT_EQ(term.keys.size(), 0u);
}

TEST_F(MainLoop, AStoredPasswordIsUsedWithoutAskingAndALostSessionIsReported)
{
    OneShotServer server(OneShotServer::reset, "remote");
    writeFile(serverAt(server.port, "Beta", storedField("remote", "m1")));
    term.type("m1");
    term.pushKey(13);
    term.pushKey(13);
    term.pushKey(27);
    term.pushKey(27);
    EXPECT_EQ(app.execute(), 4002);
    server.finish();
    EXPECT_TRUE(server.openingVerified);
    EXPECT_EQ(firstPicture("Password for"), -1);
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].ms, 500);
    EXPECT_EQ(pauses[0].status.substr(0, 80), "Connection with remote server lost !" + std::string(44, ' '));
}

TEST_F(MainLoop, StoredPasswordsNeedTheMasterPasswordFirst)
{
    const std::string file = serverHeader + "server=a.example:4242,Alpha," + storedField("remote", "m1") +
                             "\r\n" + proxyHeader;
    writeFile(file);
    term.pushKey(13);          // empty: asked again at once
    term.type("wrong");        // rejected after a pause
    term.type("m1");
    term.pushKey(27);          // proxy list
    app.execute();
    ASSERT_NE(app.servers.masterPassword(), nullptr);
    EXPECT_STREQ(app.servers.masterPassword(), "m1");
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].ms, 1000);
    EXPECT_EQ(pauses[0].keysReadBefore, 7u);   // Enter, "wrong" and Enter

    const auto& prompt = term.pictures[0];
    EXPECT_EQ(rowChars(prompt.cells, 24), "Enter QUORVEX master password." + std::string(50, ' '));
    EXPECT_EQ(rowAttrs(prompt.cells, 24), std::string(80, '\x70'));
    EXPECT_EQ(rowChars(prompt.cells, 11, 21, 16), "Master password:");
    EXPECT_EQ(prompt.cells[11 * 80 + 21] >> 8, 0x4E);
    EXPECT_EQ(prompt.cells[10 * 80 + 20] >> 8, 0x4E);   // frame corner at 20,10
    EXPECT_EQ(prompt.cells[10 * 80 + 59] >> 8, 0x4E);   // width 40
    EXPECT_FALSE(holds(term.pictures[6].cells, "wrong"));
    EXPECT_TRUE(holds(term.pictures[6].cells, "*****"));

    const int list = firstPicture("Select Proxy Server");
    ASSERT_GE(list, 0);
    EXPECT_EQ(list, 10);
    EXPECT_EQ(readFile(), file);   // saved again under the same master password
}

TEST_F(MainLoop, EscAtTheMasterPasswordWritesTheFileBackUnchanged)
{
    const std::string file = serverHeader + "server=a.example:4242,Alpha," + storedField("remote", "m1") +
                             "\r\nserver=b.example:4242,Beta\r\n" + proxyHeader;
    // Read in another order and with other spellings; written back in the canonical form.
    writeFile("server = b.example,Beta\nserver=a.example:4242,Alpha, " + storedField("remote", "m1") + "\n");
    term.pushKey(27);
    app.execute();
    EXPECT_EQ(app.servers.masterPassword(), nullptr);
    EXPECT_EQ(firstPicture("Select Proxy Server"), -1);
    EXPECT_EQ(readFile(), file);
}

TEST_F(MainLoop, InputEndingAtTheMasterPasswordPromptStillSaves)
{
    const std::string file = serverHeader + "server=a.example:4242,Alpha," + storedField("remote", "m1") +
                             "\r\n" + proxyHeader;
    writeFile(file);
    term.type("wrong");
    EXPECT_EQ(app.execute(), 0);
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(readFile(), file);
}

// --direct is the direct connection itself, never an entry named like it.
TEST_F(MainLoop, PreselectionsConnectWithoutShowingTheListsAndAreUsedOnce)
{
    const peer::ReservedPort closed;
    writeFile(serverAt(closed.port(), "Beta") + "server=a.example,Alpha\n" +
              "tunnel=/nonexistent/relay,[Direct Connection]\nproxy=p.example,[Direct Connection]\n");
    setGlobalString(&startupProxy, directConnectionText);
    setGlobalString(&startupServer, "be");
    term.pushKey(13);   // the connection's error message
    term.pushKey(27);
    term.pushKey(27);
    app.execute();
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].keysReadBefore, 1u);
    ASSERT_EQ(term.pictures.size(), 3u);
    EXPECT_FALSE(holds(term.pictures[0].cells, "Select Proxy Server"));
    EXPECT_FALSE(holds(term.pictures[0].cells, "Set Master Password"));
    EXPECT_TRUE(holds(term.pictures[0].cells, "Connecting...."));
    EXPECT_TRUE(holds(term.pictures[0].cells, "Connection to IP address 127.0.0.1 has failed!"));
    EXPECT_EQ(startupProxy, nullptr);
    EXPECT_EQ(startupServer, nullptr);
    EXPECT_STREQ(static_cast<serverInfo*>(app.servers.getActiveItem()->data)->description, "Beta");
}

TEST_F(MainLoop, APreselectionThatMatchesNothingShowsTheList)
{
    writeFile(sample);
    setGlobalString(&startupProxy, "Nowhere");
    setGlobalString(&startupServer, "Nothing");
    term.pushKey(13);   // the proxy list is shown: [Direct Connection]
    term.pushKey(27);   // the server list is shown
    term.pushKey(27);
    app.execute();
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(term.pictures.size(), 3u);
    EXPECT_EQ(startupProxy, nullptr);
    EXPECT_EQ(startupServer, nullptr);
}

TEST_F(MainLoop, EditsMadeInTheListsAreSaved)
{
    term.pushKey(KEY_IC);
    term.pushKey(13);     // the kind: HTTPS proxy
    term.type("Office");
    term.type("10.0.0.9:3128");
    term.pushKey(27);     // no user name
    term.pushKey(KEY_HOME);
    term.pushKey(13);     // [Direct Connection]
    term.pushKey(KEY_IC);
    term.type("Alpha");
    term.type("a.example:5000");
    term.pushKey(KEY_F(4));
    term.type("m");
    term.type("m");
    term.pushKey(13);
    term.type("remote");
    // the script ends: every list leaves as on Esc
    app.execute();
    EXPECT_EQ(readFile(), serverHeader + "server=a.example:5000,Alpha," + storedField("remote", "m") + "\r\n" +
                                proxyHeader + "proxy=10.0.0.9:3128,Office\r\n");
}

TEST_F(MainLoop, ATerminationRequestEndsTheLoopAndSaves)
{
    writeFile("server=a.example,Alpha\n");
    EXIT = 1;
    term.pushKey(13);
    term.pushKey(13);
    app.execute();
    EXPECT_EQ(term.keys.size(), 2u);   // nothing was read
    EXPECT_EQ(readFile(), serverHeader + "server=a.example:4242,Alpha\r\n" + proxyHeader);
}

TEST_F(MainLoop, AConfigurationThatCannotBeReadEndsTheRunAtOnceWithoutSaving)
{
    fs::create_directory(cfg());
    term.pushKey(13);
    EXPECT_EQ(app.execute(), 0);
    EXPECT_EQ(app.configError, "cannot read " + cfg().string() + ": " + strerror(EISDIR));
    EXPECT_TRUE(term.pictures.empty());   // no list was shown
    EXPECT_TRUE(fs::is_directory(cfg()));
    EXPECT_TRUE(fs::is_empty(cfg()));
}

TEST(Pause, ATerminationRequestEndsAPauseAtOnce)
{
    using clock = std::chrono::steady_clock;
    auto seconds = [](clock::time_point since) { return std::chrono::duration<double>(clock::now() - since).count(); };
    EXIT = 1;   // already asked for when the pause begins
    auto start = clock::now();
    consoleMain::sleepMs(20000);
    EXPECT_LT(seconds(start), 10.0);   // not the 20 s
    EXIT = 0;
    // Asked for by a signal during the pause, as the program's handler does.
    struct sigaction ask {}, old {};
    ask.sa_handler = [](int) { EXIT = 1; };
    sigaction(SIGALRM, &ask, &old);
    itimerval in50ms{};
    in50ms.it_value.tv_usec = 50000;
    setitimer(ITIMER_REAL, &in50ms, nullptr);
    start = clock::now();
    consoleMain::sleepMs(20000);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_LT(seconds(start), 10.0);   // not the 20 s
    EXIT = 0;
    start = clock::now();
    consoleMain::sleepMs(30);
    EXPECT_GE(seconds(start), 0.025);
}

}  // namespace
