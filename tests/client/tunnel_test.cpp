// Tunnel entries: the command's arguments, and sessions carried by the
// relay program of the tests to the stand-in server.
#include <fcntl.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "net/tunnel.h"
#include "peer_util.h"

using namespace peer;

namespace {

TEST(TunnelArguments, SplittingQuotingAndSubstitution)
{
    struct Case {
        const char* command;
        const char* host;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"ssh -W %h:%p bastion", "db.example", {"ssh", "-W", "db.example:4242", "bastion"}},
        {"  nc\t%h  %p ", "10.0.0.1", {"nc", "10.0.0.1", "4242"}},
        {"relay %h", "2001:db8::1", {"relay", "[2001:db8::1]"}},
        {"relay %h", "[2001:db8::1]", {"relay", "[2001:db8::1]"}},
        {"x %h", "a b", {"x", "a b"}},   // substituted after splitting
        {"echo 100%% %x % a%h%%%p", "h", {"echo", "100%", "%x", "%", "ah%4242"}},
        {"a 'b c' \"d \\\" e \\\\ \\n\" f\\ g '' x'y'\"z\"", "h", {"a", "b c", "d \" e \\ \\n", "f g", "", "xyz"}},
        {"'%h' \"%p\" \\%h 'it''s' ends\\", "h", {"h", "4242", "\\h", "its", "ends\\"}},
        {"C:\\tools\\plink.exe \\\\srv\\x \\'q\\\"", "h", {"C:\\tools\\plink.exe", "\\\\srv\\x", "'q\""}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args;
        EXPECT_TRUE(tunnelArguments(c.command, c.host, 4242, args)) << c.command;
        EXPECT_EQ(args, c.args) << c.command;
    }
    for (const char* bad : {"", " \t ", "a 'open", "a \"open", "a \"x\\\""}) {
        std::vector<std::string> args{"stale"};
        EXPECT_FALSE(tunnelArguments(bad, "h", 1, args)) << bad;
        EXPECT_TRUE(args.empty()) << bad;
    }
    std::vector<std::string> args;
    EXPECT_FALSE(tunnelArguments(nullptr, "h", 1, args));
    for (const char* host : {"db.example", "10.0.0.1", "my_host-2", "2001:db8::1", "[::1]", "::ffff:10.0.0.1"})
        EXPECT_TRUE(tunnelTargetPlain(host, 65535)) << host;
    for (const char* host : {"", "-oProxyCommand=x", "a;reboot", "a b", "$(id)", "[::1", "[h]", "fe80::1%eth0", "a\nb"})
        EXPECT_FALSE(tunnelTargetPlain(host, 22)) << host;
    for (int port : {0, -1, 65536}) EXPECT_FALSE(tunnelTargetPlain("h", port)) << port;
}

// What a command said last on its standard error, fed byte by byte as a
// pipe may give it: four lines at most, each cut at 200 characters, blank
// lines and carriage returns dropped, control characters as '?', and an
// unfinished last line kept.
TEST(TunnelErrors, TheTailKeepsTheLastLinesInBounds)
{
    errorTail tail;
    const std::string text = "first\nsecond\r\n\n  \nthird\t\x1b[31m\n" + std::string(300, 'x') + "\nfifth";
    for (char c : text) tail.feed(&c, 1);
    EXPECT_EQ(tail.lines(), (std::vector<std::string>{"second", "third ?[31m", std::string(200, 'x'), "fifth"}));
}

// The descriptors of this process that a child inherits (those it was
// given itself, as "0,1,2"): a command the client starts gets no others.
std::string inheritableDescriptors()
{
    std::string list;
    for (int fd = 0; fd < 1024; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) list += (list.empty() ? "" : ",") + std::to_string(fd);
    }
    return list;
}

// True when no process has this id any more: neither running nor a zombie
// waiting to be reaped.
bool gone(long pid) { return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

class TunnelSession : public SimLogTest {
protected:
    proxyInfo tunnel;
    std::string pidFile;

    void SetUp() override
    {
        SimLogTest::SetUp();
        if (IsSkipped()) return;
        struct stat st{};
        if (stat(relay().c_str(), &st) != 0) GTEST_SKIP() << "relay not built";
        pidFile = dir_ + "/relay.pid";
    }
    void TearDown() override
    {
        std::remove(pidFile.c_str());
        SimLogTest::TearDown();
    }
    static std::string relay() { return QUOR_BINARY_DIR "/tools/relay"; }
    std::unique_ptr<SimProcess> startSim()
    {
        auto sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--port=0", "--log=" + log_, "--update-ms=3600000"});
        EXPECT_GT(sim->port(), 0);
        return sim;
    }
    void useCommand(const std::string& options)
    {
        ASSERT_EQ(tunnel.setTunnel((relay() + " --pidfile=" + pidFile + " " + options).c_str(), "Relay"), 0);
    }
    // The relay's pid, where its standard error goes and the descriptors it
    // inherited, once it has said.
    std::tuple<long, std::string, std::string> relayStarted()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            std::ifstream f(pidFile);
            long pid = 0;
            std::string target, fds;
            if (f >> pid >> target >> fds) return {pid, target, fds};
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the relay did not start";
        return {0, "", ""};
    }
};

TEST_F(TunnelSession, TheSessionRunsThroughTheCommandWhichEndsWithIt)
{
    auto sim = startSim();
    useCommand("%h %p");
    const std::string inherited = inheritableDescriptors();
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port(), &tunnel), 0);
    const auto [pid, stderrTarget, fds] = relayStarted();
    EXPECT_EQ(stderrTarget.rfind("pipe:", 0), 0u) << stderrTarget;
    EXPECT_EQ(fds, inherited);
    EXPECT_FALSE(gone(pid));
    // An acknowledged update: the screen came through the relay.
    EXPECT_EQ(runUntilLogged(c, *sim, "{\"type\":4,"), 0);
    EXPECT_TRUE(gone(pid));
}

TEST_F(TunnelSession, TheCommandEndingMidSessionIs4001)
{
    auto sim = startSim();
    // Opening block, greeting, start word and the first acknowledgement.
    useCommand("--exit-after-sent=162 %h %p");
    WaitingClient c;
    ASSERT_EQ(c.connect(sim->port(), &tunnel), 0);
    const long pid = std::get<0>(relayStarted());
    EXPECT_EQ(runSimSession(c, *sim, [] {}), 4001);
    EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));
    EXPECT_TRUE(gone(pid));
}

// Gone, or a zombie left to whoever adopted it (a grandchild of the tests).
bool ended(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return gone(pid) || ((stat >> id >> name >> state) && state == "Z");
}

// Waits (bounded) until the process has ended: a signal sent to one that no
// one of ours reaps takes effect when the system gets to it.
bool endsSoon(long pid)
{
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline && !ended(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ended(pid);
}

// The hanging relay reads nothing and ignores SIGTERM: closing its input is
// not enough, only the forced end takes it, and that comes after a bounded
// wait (the relay would hang for a minute). Started by a shell in the
// background, it is ended with the shell's process group.
TEST_F(TunnelSession, EscBeforeTheServerGreetsAbortsAndEndsTheCommand)
{
    for (const bool grandchild : {false, true}) {
        std::remove(pidFile.c_str());
        const std::string hang = relay() + " --pidfile=" + pidFile + " --hang";
        ASSERT_EQ(tunnel.setTunnel((grandchild ? "sh -c '" + hang + " & wait'" : hang + " --ignore-term").c_str(),
                                   "Relay"),
                  0);
        WaitingClient c;
        ASSERT_EQ(c.connect(1, &tunnel), 0);
        const long pid = std::get<0>(relayStarted());
        c.term.push("ab");
        c.term.push(keyEsc);
        EXPECT_EQ(c.session(), -1);
        EXPECT_FALSE(gone(pid));
        const auto start = Clock::now();
        c.app.closeConnection();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << grandchild;
        EXPECT_TRUE(grandchild ? endsSoon(pid) : gone(pid)) << grandchild;
    }
}

// The program killed outright cannot end its command: the command ends by
// itself when its parent dies.
TEST_F(TunnelSession, TheCommandDiesWithAKilledClient)
{
    const pid_t client = fork();
    if (client == 0) {
        TunnelSocket carrier;
        carrier.start({relay(), "--pidfile=" + pidFile, "--hang"});
        std::this_thread::sleep_for(std::chrono::seconds(30));
        _exit(0);
    }
    ASSERT_GT(client, 0);
    const long pid = std::get<0>(relayStarted());
    kill(client, SIGKILL);
    waitpid(client, nullptr, 0);
    EXPECT_TRUE(endsSoon(pid));
    if (!ended(pid)) kill(static_cast<pid_t>(pid), SIGKILL);
}

TEST_F(TunnelSession, ACommandThatCannotStartIs4004WithItsMessage)
{
    for (const char* command : {"/nonexistent/quorcli-relay %h", "relay 'unclosed"}) {
        WaitingClient c;
        c.term.blockingLimitMs = 200;   // the message box waits for a key
        ASSERT_EQ(tunnel.setTunnel(command, "Broken"), 0);
        EXPECT_EQ(c.connect(1, &tunnel), 4004) << command;
        EXPECT_TRUE(c.term.everShown("Tunnel command '" + std::string(command).substr(0, 40) + "' has failed!"))
            << command;
    }
    // A target that the command could take for an option starts nothing.
    WaitingClient c;
    c.term.blockingLimitMs = 200;
    std::free(c.server->hostName);
    c.server->hostName = strdup("-oProxyCommand=x");
    EXPECT_EQ(c.connect(1, &tunnel), 4007);
    EXPECT_TRUE(c.term.everShown("IP address resolution has failed for hostname '-oProxyCommand=x'!"));
    EXPECT_EQ(dynamic_cast<TunnelSocket*>(c.app.socket), nullptr);
    // From a file that is not private nothing starts; the box names the
    // fault, its path cut at the front to fit.
    WaitingClient r;
    r.term.blockingLimitMs = 200;
    r.app.tunnelRefusal = "/" + std::string(80, 'x') + ": writable by group (mode 0775)";
    EXPECT_EQ(r.connect(1, &tunnel), 4004);
    EXPECT_TRUE(r.term.everShown("Tunnel refused: ..." + std::string(27, 'x') + ": writable by group (mode 0775)"));
    struct stat st{};
    EXPECT_NE(stat(pidFile.c_str(), &st), 0) << "the command was started";
}

}  // namespace
