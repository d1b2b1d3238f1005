// What the Windows build shows: its title row, the console window's titles
// through the main loop, and the connection failure texts with their ports.

#include "tests/win32/win_util.h"

using namespace win;

namespace {

const char disconnected[] = "Quorvex Client v.1.73 - disconnected";

class Texts : public ::testing::Test {
protected:
    DialogTerminal term;
    void SetUp() override { setTerminal(&term); }
    void TearDown() override { setTerminal(nullptr); }
};

}  // namespace

// Proxy list, server list, a refused connection, the server list again,
// the proxy list again: the title names the server from the moment it is
// chosen (cut to 80 characters) until a list is shown again.
TEST_F(Texts, TitlesTitleRowAndARefusedConnectionThroughTheMainLoop) {
    ProgramFolder folder;
    const ReservedPort closed;
    const int port = closed.port();
    const std::string desc = "Console server of the east wing in rack seven";
    folder.write("quorcli.cfg", "server=127.0.0.1:" + std::to_string(port) + "," + desc + "\r\n");
    term.keysOf({13, 13, 13, 27, 27});
    consoleMain app;
    app.init(nullptr);
    app.pauseMs = [](int) {};
    EXPECT_EQ(app.execute(), 0);
    EXPECT_TRUE(term.keys.empty());

    const std::string named = desc + " (127.0.0.1:" + std::to_string(port) + ") - Quorvex Client v.1.73";
    ASSERT_GT(named.size(), 80u);
    const std::vector<std::string> titles = {disconnected, disconnected, named.substr(0, 80), disconnected,
                                             disconnected};
    EXPECT_EQ(term.titles, titles);

    ASSERT_EQ(term.pictures.size(), 5u);
    EXPECT_EQ(DialogTerminal::text(term.pictures[0], 0), "ZEV Telvane/IP v.1.73" + std::string(59, ' '));
    EXPECT_EQ(DialogTerminal::attr(term.pictures[0], 79, 0), 0x31);
    const std::string refused = "Connection to 127.0.0.1:" + std::to_string(port) + " has failed!";
    EXPECT_NE(DialogTerminal::text(term.pictures[2], 11).find(refused), std::string::npos);
    EXPECT_EQ(DialogTerminal::attr(term.pictures[2], 40, 11), 0x4E);
}

// The proxy's refusal names the proxy's host and port.
TEST_F(Texts, ProxyRefusalNamesTheProxyAndItsPort) {
    std::string request;
    Peer proxy([&](Link& l) {
        char b[256];
        while (request.find("\r\n\r\n") == std::string::npos && sockWait(l.fd, sockReadable, 5000) > 0) {
            const int n = sockRecv(l.fd, b, sizeof b);
            if (n <= 0) break;
            request.append(b, static_cast<size_t>(n));
        }
        const char answer[] = "HTTP/1.0 403 Forbidden\r\n\r\n";
        sockSend(l.fd, answer, static_cast<int>(sizeof answer - 1));
    });
    consoleMain app;
    app.init(nullptr);
    app.servers.init(nullptr);
    app.proxies.init(nullptr);
    char serverLine[] = "target.example:5000,Target";
    const std::string proxyText = "127.0.0.1:" + std::to_string(proxy.port()) + ",Office";
    std::vector<char> proxyLine(proxyText.begin(), proxyText.end());
    proxyLine.push_back(0);
    app.servers.parse(serverLine);
    app.proxies.parse(proxyLine.data());
    auto* server = static_cast<serverInfo*>(app.servers.getItem(0)->data);
    auto* via = static_cast<proxyInfo*>(app.proxies.getItem(0)->data);

    EXPECT_EQ(app.connect(server, via), 4005);
    app.closeConnection();
    proxy.finish();
    EXPECT_EQ(request.rfind("CONNECT target.example:5000 HTTP/1.0\r\n", 0), 0u) << request;
    EXPECT_TRUE(term.everShown("Connection to 127.0.0.1:" + std::to_string(proxy.port()) + " has failed!"));
}

// A tunnel command that cannot be started is named in the failure, cut to
// 40 characters.
TEST_F(Texts, ATunnelCommandThatCannotStartIsNamed) {
    consoleMain app;
    app.init(nullptr);
    app.servers.init(nullptr);
    app.proxies.init(nullptr);
    char serverLine[] = "target.example:5000,Target";
    const std::string command = "C:\\nonexistent\\quorcli-relay-program.exe %h %p";
    std::string tunnelLine = command + ",Bastion";
    app.servers.parse(serverLine);
    app.proxies.parseTunnel(tunnelLine.data());
    auto* server = static_cast<serverInfo*>(app.servers.getItem(0)->data);
    auto* tunnel = static_cast<proxyInfo*>(app.proxies.getItem(0)->data);
    ASSERT_NE(tunnel->command, nullptr);
    EXPECT_EQ(app.connect(server, tunnel), 4004);
    app.closeConnection();
    EXPECT_TRUE(term.everShown("Tunnel command '" + command.substr(0, 40) + "' has failed!"));
}
