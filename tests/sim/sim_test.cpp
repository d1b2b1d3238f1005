// The stand-in server as a process: started on a free loopback port and
// spoken to by a small client made of c_send and c_recv.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "screen/decode.h"
#include "crypto/ccomm.h"
#include "crypto/md5c.h"
#include "crypto/rc4.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The client's model of the screen that the updates paint.
remoteScreen shown;
using Clock = std::chrono::steady_clock;

constexpr int waitMs = 10000;   // upper bound of every wait for something expected

void putLe32(Bytes& out, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}

uint32_t getLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// quorvex-sim started with --port=0; stopped by its pid at the end.
class SimProcess {
public:
    // Reads the first `ports` lines: a port each.
    explicit SimProcess(std::vector<std::string> args, int ports = 1)
    {
        args.insert(args.begin(), "--port=0");
        int out[2];
        if (pipe(out) != 0)
            return;
        const std::string path = QUOR_BINARY_DIR "/quorvex-sim";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(path.c_str())};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        for (int i = 0; i < ports && readPort(); ++i)
            ports_.push_back(port_);
    }
    ~SimProcess()
    {
        stop();
        if (stdout_ >= 0)
            close(stdout_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    int port() const { return ports_.empty() ? 0 : ports_[0]; }
    const std::vector<int>& ports() const { return ports_; }
    const std::string& firstLine() const { return first_; }

    // SIGTERM, then up to 10 s for the exit; the exit status, or -1.
    int stop()
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }

private:
    bool readPort()
    {
        line_.clear();
        port_ = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        char c = 0;
        while (c != '\n' && msLeft(deadline) > 0) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, msLeft(deadline)) <= 0 || read(stdout_, &c, 1) != 1)
                break;
            if (c != '\n')
                line_.push_back(c);
        }
        const auto colon = line_.rfind(':');
        if ((line_.rfind("quorvex-sim listening on 127.0.0.1:", 0) == 0 ||
             line_.rfind("quorvex-sim listening on [::1]:", 0) == 0) &&
            colon != std::string::npos)
            port_ = std::atoi(line_.c_str() + colon + 1);
        if (first_.empty())
            first_ = line_;
        return port_ > 0;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    int port_ = 0;
    std::vector<int> ports_;
    std::string line_, first_;
};

struct Message {
    uint16_t type = 0;
    uint16_t lengthBits = 0;
    Bytes payload;
};

// A client of the session protocol, enough to drive the server.
class TestClient {
public:
    TestClient(int port, const char* password)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        unsigned char key[16];
        passwordDigest(key, password);
        send_.setKey(key, 16);
        recv_.setKey(key, 16);
    }
    ~TestClient() { close(fd_); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return connected_; }

    // Exactly n bytes within timeoutMs, decrypted.
    bool recvExact(unsigned char* buffer, size_t n, int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t got = 0;
        while (got < n) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, msLeft(deadline)) <= 0)
                return false;
            const int32_t r = c_recv(recv_, fd_, buffer + got, static_cast<int32_t>(n - got));
            if (r <= 0)
                return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    // True when the server closed the connection within timeoutMs.
    bool closedByServer(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        unsigned char b;
        return poll(&p, 1, timeoutMs) == 1 && recv(fd_, &b, 1, 0) == 0;
    }
    void sendBytes(Bytes bytes) { c_send(send_, fd_, bytes.data(), static_cast<int32_t>(bytes.size())); }
    void sendWord(uint16_t type, uint16_t value = 0, const Bytes& extra = {})
    {
        Bytes b;
        putLe32(b, type | (uint32_t{value} << 16));
        b.insert(b.end(), extra.begin(), extra.end());
        sendBytes(b);
    }
    void sendKey(uint16_t keyWord) { sendWord(5, keyWord); }
    void ack() { sendWord(4, 1); }

    Bytes opening;
    Bytes greeting;
    // The client's side of the opening exchange; the server's greeting is
    // read when its opening block announces one.
    bool openingExchange(bool compressed = false)
    {
        opening.assign(128, 0);
        if (!recvExact(opening.data(), 128, waitMs))
            return false;
        Bytes mine(128, 0x37);
        mine[127] = '0';
        if (opening[127] == '0') {
            greeting.assign(26, 0);
            if (!recvExact(greeting.data(), 26, waitMs))
                return false;
            sendBytes(mine);
            Bytes hello;
            putLe32(hello, 0);
            putLe32(hello, 1);
            putLe32(hello, 0);
            const char text[] = "QUORCLI Ready";
            hello.insert(hello.end(), text, text + 13);
            hello.push_back(0);
            sendBytes(hello);
        } else {
            sendBytes(mine);
        }
        sendWord(1);
        if (compressed)
            sendWord(20);
        return true;
    }

    // The next message, with the payload its type carries.
    std::optional<Message> readMessage(int timeoutMs)
    {
        unsigned char header[4];
        if (!recvExact(header, 4, timeoutMs))
            return std::nullopt;
        Message m;
        const uint32_t w = getLe32(header);
        m.type = static_cast<uint16_t>(w & 0xFFFF);
        m.lengthBits = static_cast<uint16_t>(w >> 16);
        size_t length = 0;
        if (m.type == 2)
            length = 4;
        else if ((m.type == 0 || m.type == 3 || m.type == 5 || m.type == 6) && m.lengthBits <= 8000)
            length = m.lengthBits;
        m.payload.resize(length);
        if (length && !recvExact(m.payload.data(), length, timeoutMs))
            return std::nullopt;
        return m;
    }
    // The next message other than the idle header.
    std::optional<Message> readBusy(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (msLeft(deadline) > 0) {
            auto m = readMessage(msLeft(deadline));
            if (!m || m->type != 1)
                return m;
        }
        return std::nullopt;
    }

    uint32_t screenId = 0;
    int updates = 0;
    // Paints updates and acknowledges them until done() holds; false on timeout.
    bool runUntil(const std::function<bool()>& done, int timeoutMs = waitMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (msLeft(deadline) == 0)
                return false;
            auto m = readMessage(msLeft(deadline));
            if (!m)
                return false;
            handle(*m);
        }
        return true;
    }
    void handle(const Message& m)
    {
        Bytes expanded(unpackBufferSize);
        if (m.type == 2) {
            screenId = getLe32(m.payload.data());
        } else if (m.type == 3) {
            paintScreenUpdate(shown, m.payload.data(), static_cast<int32_t>(m.payload.size()));
            ++updates;
            ack();
        } else if (m.type == 6) {
            const int32_t n = unpackScreenData(m.payload.data(), expanded.data(),
                                               static_cast<int32_t>(m.payload.size()), unpackBufferSize);
            EXPECT_GT(n, 0);
            paintScreenUpdate(shown, expanded.data(), n);
            ++updates;
            ack();
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    rc4Cipher send_;
    rc4Cipher recv_;
};

std::string screenRow(int y)
{
    std::string s;
    for (int x = 0; x < screenCols; ++x)
        s.push_back(static_cast<char>(shown.cells[y][x] & 0xFF));
    return s;
}

bool screenShows(const std::string& text)
{
    for (int y = 0; y < screenRows; ++y)
        if (screenRow(y).find(text) != std::string::npos)
            return true;
    return false;
}

std::string digestHex(const char* password)
{
    unsigned char d[16];
    passwordDigest(d, password);
    std::string s;
    char two[3];
    for (unsigned char b : d) {
        std::snprintf(two, sizeof two, "%02x", b);
        s += two;
    }
    return s;
}

class TempLog {
public:
    TempLog()
    {
        char pattern[] = "/tmp/quorvex-sim-log-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0)
            close(fd);
        path = pattern;
    }
    ~TempLog() { std::remove(path.c_str()); }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    // Waits (bounded) until the line appears.
    bool waitFor(const std::string& line) const
    {
        return waitUntil([&](const std::string& l) { return l == line; });
    }
    bool waitForPart(const std::string& part) const
    {
        return waitUntil([&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
    bool waitUntil(const std::function<bool(const std::string&)>& match) const
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        while (Clock::now() < deadline) {
            for (const auto& l : lines())
                if (match(l))
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string path;
};

// --- opening exchange ---

TEST(SimOpening, GreetingPathThenListIdAndUpdate)
{
    SimProcess sim({"--heartbeat-ms=20"});
    ASSERT_GT(sim.port(), 0) << sim.firstLine();
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.openingExchange());
    for (int k = 0; k < 127; ++k)
        ASSERT_EQ(c.opening[static_cast<size_t>(k)] & 0x37, 0x37) << "filler byte " << k;
    ASSERT_EQ(c.greeting.size(), 26u);
    EXPECT_EQ(getLe32(&c.greeting[0]), 0u);
    EXPECT_EQ(getLe32(&c.greeting[4]), 1u);
    EXPECT_EQ(getLe32(&c.greeting[8]), 0u);
    EXPECT_EQ(std::string(c.greeting.begin() + 12, c.greeting.begin() + 25), "QUORVEX Ready");

    auto list = c.readBusy(waitMs);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->type, 0);
    Bytes expected(4, 0);
    for (auto [id, name] : {std::pair<uint32_t, std::string>{1, "Console"}, {2, "Monitor"}, {3, "Log"}}) {
        putLe32(expected, id);
        putLe32(expected, static_cast<uint32_t>(name.size()));
        expected.insert(expected.end(), name.begin(), name.end());
    }
    EXPECT_EQ(list->payload, expected);

    auto id = c.readBusy(waitMs);
    ASSERT_TRUE(id);
    ASSERT_EQ(id->type, 2);
    EXPECT_EQ(id->lengthBits, 4);
    EXPECT_EQ(getLe32(id->payload.data()), 1u);

    auto update = c.readBusy(waitMs);
    ASSERT_TRUE(update);
    ASSERT_EQ(update->type, 3);
    std::memset(shown.cells, 0, sizeof shown.cells);
    ASSERT_EQ(paintScreenUpdate(shown, update->payload.data(), static_cast<int32_t>(update->payload.size())), 0);
    EXPECT_NE(screenRow(0).find("QUORVEX Server Console"), std::string::npos);
    EXPECT_EQ(screenRow(2).substr(0, 9), "quorvex> ");
    EXPECT_EQ(shown.cursorX, 9);
    EXPECT_EQ(shown.cursorY, 2);
    c.ack();

    // Idle: only headers of type 1 without payload.
    const auto end = Clock::now() + std::chrono::milliseconds(200);
    int idle = 0;
    while (msLeft(end) > 0) {
        auto m = c.readMessage(msLeft(end));
        if (!m)
            break;
        EXPECT_EQ(m->type, 1);
        EXPECT_EQ(m->lengthBits, 0);
        ++idle;
    }
    EXPECT_GE(idle, 3);
}

TEST(SimOpening, WithoutGreetingTheListComesAfterTheStartWord)
{
    TempLog log;
    SimProcess sim({"--no-greeting", "--log=" + log.path});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    EXPECT_NE(c.opening[127], '0');
    EXPECT_TRUE(c.greeting.empty());
    auto list = c.readBusy(waitMs);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->type, 0);
    EXPECT_TRUE(log.waitFor("{\"type\":1,\"value\":0}"));
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("greeting"), std::string::npos) << line;
}

TEST(SimOpening, GreetingOptions)
{
    SimProcess sim({"--greeting-cmd=2", "--no-restart", "--bad-greeting"});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    ASSERT_EQ(c.greeting.size(), 26u);
    EXPECT_EQ(getLe32(&c.greeting[0]), 2u);
    EXPECT_EQ(getLe32(&c.greeting[4]), 0u);
    const std::string text(c.greeting.begin() + 12, c.greeting.begin() + 25);
    EXPECT_NE(text, "QUORVEX Ready");
    EXPECT_EQ(text.size(), 13u);
}

TEST(SimOpening, WrongPasswordSeesOnlyNoise)
{
    TempLog log;
    SimProcess sim({"--heartbeat-ms=10", "--log=" + log.path});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "not the password");
    Bytes opening(128);
    ASSERT_TRUE(c.recvExact(opening.data(), 128, waitMs));
    ASSERT_NE(opening[127], '0');
    // As a client does without a greeting: its opening block and start word.
    Bytes mine(128, 0x37);
    mine[127] = '0';
    c.sendBytes(mine);
    c.sendWord(1);
    // Headers keep coming, so a client counting them gives up.
    Bytes noise(26 + 40 * 4);
    ASSERT_TRUE(c.recvExact(noise.data(), noise.size(), waitMs));
    // The server could not read the start word either, so it sent no list.
    EXPECT_TRUE(log.waitForPart("\"type\":\"opening\""));
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("\"type\":1"), std::string::npos) << line;
}

TEST(SimOpening, ServesTheNextClientAfterOneLeaves)
{
    SimProcess sim({});
    ASSERT_GT(sim.port(), 0);
    for (int round = 0; round < 3; ++round) {
        TestClient c(sim.port(), "quorvex");
        ASSERT_TRUE(c.openingExchange()) << "round " << round;
        EXPECT_EQ(c.opening[127], '0');
        auto list = c.readBusy(waitMs);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->type, 0);
    }
}

// --- session ---

TEST(SimSession, NoSecondUpdateBeforeTheAcknowledgement)
{
    SimProcess sim({"--update-ms=20", "--heartbeat-ms=20"});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    std::optional<Message> m;
    while ((m = c.readBusy(waitMs)) && m->type != 3) {
    }
    ASSERT_TRUE(m);

    c.sendWord(2, 0, {2, 0, 0, 0});   // the Monitor, whose figures change every tick
    m = c.readBusy(waitMs);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->type, 2);
    EXPECT_EQ(getLe32(m->payload.data()), 2u);
    EXPECT_FALSE(c.readBusy(300)) << "an update came before the acknowledgement";

    c.ack();
    m = c.readBusy(waitMs);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->type, 3);
    const size_t full = m->payload.size();
    std::memset(shown.cells, 0, sizeof shown.cells);
    ASSERT_EQ(paintScreenUpdate(shown, m->payload.data(), static_cast<int32_t>(full)), 0);
    EXPECT_NE(screenRow(0).find("QUORVEX System Monitor"), std::string::npos);
    EXPECT_FALSE(c.readBusy(200));

    c.ack();
    m = c.readBusy(waitMs);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->type, 3);
    EXPECT_LT(m->payload.size(), full);   // only what changed
    ASSERT_EQ(paintScreenUpdate(shown, m->payload.data(), static_cast<int32_t>(m->payload.size())), 0);
    EXPECT_NE(screenRow(0).find("QUORVEX System Monitor"), std::string::npos);
}

TEST(SimSession, TypedKeysShowInTheNextUpdates)
{
    SimProcess sim({});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    std::memset(shown.cells, 0, sizeof shown.cells);
    ASSERT_TRUE(c.runUntil([&] { return c.updates == 1; }));

    for (uint16_t key : {0x2368, 0x1769, 0x0221})   // h, i, !
        c.sendKey(key);
    ASSERT_TRUE(c.runUntil([] { return screenRow(2).substr(0, 12) == "quorvex> hi!"; })) << screenRow(2);
    EXPECT_EQ(shown.cursorX, 12);
    EXPECT_EQ(shown.cursorY, 2);

    c.sendKey(0x0E08);   // Backspace
    ASSERT_TRUE(c.runUntil([] { return screenRow(2).substr(0, 12) == "quorvex> hi "; })) << screenRow(2);
    c.sendKey(0x1C0D);   // Enter
    ASSERT_TRUE(c.runUntil([] { return screenRow(3).substr(0, 9) == "quorvex> "; })) << screenRow(3);
    EXPECT_EQ(screenRow(2).substr(0, 12), "quorvex> hi ");
    EXPECT_EQ(shown.cursorY, 3);
    EXPECT_EQ(shown.cursorX, 9);
}

TEST(SimSession, SelectScreenAndCommands)
{
    SimProcess sim({});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    ASSERT_TRUE(c.runUntil([&] { return c.updates == 1; }));

    c.sendWord(2, 0, {3, 0, 0, 0});
    ASSERT_TRUE(c.runUntil([] { return screenRow(0).find("QUORVEX Event Log") != std::string::npos; }));
    EXPECT_EQ(c.screenId, 3u);
    c.sendWord(8);
    ASSERT_TRUE(c.runUntil([] { return screenShows("operator signal"); }));

    // An unknown screen is answered with the screen still shown.
    c.screenId = 0;
    c.sendWord(2, 0, {77, 0, 0, 0});
    ASSERT_TRUE(c.runUntil([&] { return c.screenId != 0; }));
    EXPECT_EQ(c.screenId, 3u);

    c.sendWord(2, 0, {1, 0, 0, 0});
    c.sendWord(9);
    ASSERT_TRUE(c.runUntil([] { return screenShows("*** Restart requested"); }));
    c.sendWord(10);
    ASSERT_TRUE(c.runUntil([] { return screenShows("*** Forced restart requested"); }));
    EXPECT_EQ(c.screenId, 1u);
}

TEST(SimSession, CompressedUpdatesAfterTheSecondStartWord)
{
    SimProcess sim({"--update-ms=20"});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange(true));
    ASSERT_TRUE(c.runUntil([&] { return c.updates == 1; }));
    c.sendWord(2, 0, {2, 0, 0, 0});
    int compressed = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (compressed == 0 && msLeft(deadline) > 0) {
        auto m = c.readMessage(msLeft(deadline));
        ASSERT_TRUE(m);
        EXPECT_NE(m->type, 3) << "an update that compresses was sent plain";
        compressed += m->type == 6;
        c.handle(*m);
    }
    EXPECT_GT(compressed, 0);
    EXPECT_NE(screenRow(0).find("QUORVEX System Monitor"), std::string::npos);
}

TEST(SimSession, JsonLogOfClientMessages)
{
    TempLog log;
    SimProcess sim({"--log=" + log.path});
    ASSERT_GT(sim.port(), 0);
    {
        TestClient c(sim.port(), "quorvex");
        ASSERT_TRUE(c.openingExchange());
        c.sendKey(0x1E61);
        c.sendWord(2, 0, {3, 0, 0, 0});
        unsigned char d[16];
        passwordDigest(d, "swordfish");
        c.sendWord(7, 0, Bytes(d, d + 16));
        c.sendWord(8);
        c.sendWord(99, 5);
        ASSERT_TRUE(log.waitFor("{\"type\":99,\"value\":5}"));
    }
    EXPECT_TRUE(log.waitFor("{\"event\":\"close\"}"));
    const std::vector<std::string> expected = {
        "{\"type\":\"opening\",\"bytes\":128,\"last\":48}",
        "{\"type\":\"greeting\",\"cmd\":0,\"word1\":1,\"word2\":0,\"text\":\"QUORCLI Ready\"}",
        "{\"type\":1,\"value\":0}",
        "{\"type\":5,\"value\":7777,\"keyword\":\"0x1e61\"}",
        "{\"type\":2,\"screen\":3}",
        "{\"type\":7,\"digest\":\"" + digestHex("swordfish") + "\"}",
        "{\"type\":8,\"value\":0}",
        "{\"type\":99,\"value\":5}",
    };
    const auto lines = log.lines();
    size_t at = 0;
    for (const auto& line : lines)
        if (at < expected.size() && line == expected[at])
            ++at;
    EXPECT_EQ(at, expected.size()) << "missing or out of order: " << (at < expected.size() ? expected[at] : "");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("{\"event\":\"accept\",\"peer\":\"127.0.0.1:", 0), 0u);
}

TEST(SimSession, NewPasswordCountsFromTheNextConnection)
{
    TempLog log;
    SimProcess sim({"--password=first", "--log=" + log.path});
    ASSERT_GT(sim.port(), 0);
    unsigned char d[16];
    passwordDigest(d, "second");
    {
        TestClient c(sim.port(), "first");
        ASSERT_TRUE(c.openingExchange());
        ASSERT_EQ(c.opening[127], '0');
        c.sendWord(7, 0, Bytes(d, d + 16));
        // The session goes on under the old key.
        ASSERT_TRUE(c.runUntil([&] { return c.updates == 1; }));
        ASSERT_TRUE(log.waitFor("{\"type\":7,\"digest\":\"" + digestHex("second") + "\"}"));
    }
    {
        TestClient c(sim.port(), "second");
        ASSERT_TRUE(c.openingExchange());
        EXPECT_EQ(c.opening[127], '0');
        EXPECT_EQ(std::string(c.greeting.begin() + 12, c.greeting.begin() + 25), "QUORVEX Ready");
    }
    {
        TestClient c(sim.port(), "first");
        Bytes opening(128);
        ASSERT_TRUE(c.recvExact(opening.data(), 128, waitMs));
        EXPECT_NE(opening[127], '0');
    }
}

// --- a program on a pseudo-terminal ---

// A typed line reaches the program; of its fast output, every line that
// scrolls by shows in some update; the last screen stays when it ends.
TEST(SimProgram, TypedLineReachesItAndNoScrolledLineIsLost)
{
    // The command, and the row that a scroll region leaves in place.
    const std::pair<std::string, std::string> cases[] = {
        {"sh -c 'read x; echo got $x; seq 1 300'", ""},
        {"sh -c 'read x; printf \"\\033[25;1HSTATUS\\033[1;24r\\033[24;1H\"; echo got $x; seq 1 300'", "STATUS"},
    };
    TempLog password;   // a private file
    std::ofstream(password.path) << "quorvex\n";
    for (const auto& [command, status] : cases) {
        SimProcess sim({"--pty=" + command, "--password-file=" + password.path});
        ASSERT_GT(sim.port(), 0);
        TestClient c(sim.port(), "quorvex");
        ASSERT_TRUE(c.openingExchange());
        ASSERT_TRUE(c.runUntil([&] { return c.updates == 1; }));
        EXPECT_EQ(c.screenId, 4u);
        for (uint16_t key : {0x2368, 0x1769, 0x1C0D})   // h, i, Enter
            c.sendKey(key);
        std::vector<bool> seen(301);
        bool answered = false;
        ASSERT_TRUE(c.runUntil([&] {
            for (int y = 0; y < screenRows; ++y)
                seen[static_cast<size_t>(std::clamp(std::atoi(screenRow(y).c_str()), 0, 300))] = true;
            answered = answered || screenShows("got hi");
            return screenShows("[program ended: exit status 0]");
        }, 4 * waitMs)) << command;
        EXPECT_TRUE(answered) << command;
        for (int n = 1; n <= 300; ++n)
            ASSERT_TRUE(seen[static_cast<size_t>(n)]) << n << " never shown; " << command;
        // The last lines fill the rows above the one that says the program ended.
        const int end = status.empty() ? 24 : 23;
        EXPECT_EQ(screenRow(end).substr(0, 14), "[program ended") << command;
        for (int y = 0; y < end; ++y)
            EXPECT_EQ(std::atoi(screenRow(y).c_str()), 301 - end + y) << command;
        EXPECT_EQ(screenRow(24).substr(0, status.size()), status);
    }
}

// --- failures for client tests ---

TEST(SimFailures, CloseOnAccept)
{
    SimProcess sim({"--close-on-accept"});
    ASSERT_GT(sim.port(), 0);
    for (int round = 0; round < 2; ++round) {
        TestClient c(sim.port(), "quorvex");
        ASSERT_TRUE(c.connected());
        EXPECT_TRUE(c.closedByServer(waitMs));
    }
}

TEST(SimFailures, GarbageHeadersInsteadOfTheSession)
{
    SimProcess sim({"--garbage-headers", "--heartbeat-ms=10"});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    int words = 0;
    for (; words < 60; ++words) {
        unsigned char w[4];
        ASSERT_TRUE(c.recvExact(w, 4, waitMs));
        const uint32_t type = getLe32(w) & 0xFFFF;
        EXPECT_TRUE(type != 0 && type != 2 && type != 3 && type != 5 && type != 6) << "type " << type;
    }
    EXPECT_EQ(words, 60);
}

TEST(SimFailures, StallInTheMiddleOfAnUpdate)
{
    SimProcess sim({"--stall", "--heartbeat-ms=10"});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    auto m = c.readBusy(waitMs);
    ASSERT_TRUE(m && m->type == 0);
    m = c.readBusy(waitMs);
    ASSERT_TRUE(m && m->type == 2);
    unsigned char header[4];
    ASSERT_TRUE(c.recvExact(header, 4, waitMs));
    EXPECT_EQ(getLe32(header), 3u | (100u << 16));
    unsigned char part[11];
    EXPECT_TRUE(c.recvExact(part, 10, waitMs));
    EXPECT_FALSE(c.recvExact(part + 10, 1, 300)) << "bytes after the stall";
}

TEST(SimFailures, OversizeAndNegativeLengths)
{
    for (const char* option : {"--oversize", "--negative"}) {
        SimProcess sim({option});
        ASSERT_GT(sim.port(), 0);
        TestClient c(sim.port(), "quorvex");
        ASSERT_TRUE(c.openingExchange());
        auto m = c.readBusy(waitMs);
        ASSERT_TRUE(m && m->type == 0);
        m = c.readBusy(waitMs);
        ASSERT_TRUE(m && m->type == 2);
        unsigned char header[4];
        ASSERT_TRUE(c.recvExact(header, 4, waitMs));
        const uint32_t w = getLe32(header);
        EXPECT_EQ(w & 0xFFFF, 3u);
        const auto length = static_cast<int16_t>(w >> 16);
        if (std::strcmp(option, "--oversize") == 0)
            EXPECT_EQ(length, 0x7FFF);
        else
            EXPECT_LT(length, 0);
    }
}

// --- process ---

TEST(SimProcessLife, EndsCleanlyOnSigtermWithAClientConnected)
{
    SimProcess sim({});
    ASSERT_GT(sim.port(), 0);
    TestClient c(sim.port(), "quorvex");
    ASSERT_TRUE(c.openingExchange());
    EXPECT_EQ(sim.stop(), 0);
}

// Each port is a server of its own: a client on one does not keep the
// other's waiting.
TEST(SimProcessLife, ServesSeveralPortsEachItsOwnClient)
{
    SimProcess sim({"--ports=2"}, 2);
    ASSERT_EQ(sim.ports().size(), 2u) << sim.firstLine();
    TestClient first(sim.ports()[0], "quorvex");
    TestClient second(sim.ports()[1], "quorvex");
    EXPECT_TRUE(first.openingExchange());
    EXPECT_TRUE(second.openingExchange());
    EXPECT_EQ(sim.stop(), 0);
}

// An IPv6 literal is shown in brackets before the port.
TEST(SimProcessLife, ListensOnAnIPv6Literal)
{
    SimProcess sim({"--bind=::1"});
    ASSERT_GT(sim.port(), 0) << sim.firstLine();
    EXPECT_EQ(sim.firstLine(), "quorvex-sim listening on [::1]:" + std::to_string(sim.port()));
}

TEST(SimProcessLife, BadArgumentsAndHelp)
{
    const std::vector<std::vector<std::string>> bad = {{"--port=99999"}, {"--bind=::1::2"}, {"--bind=localhost"},
                                                       {"--pty="}, {"--pty='open"}, {"--pty=sh", "--password=x"},
                                                       {"--port=65535", "--ports=2"}};
    for (const auto& args : bad) {
        SimProcess sim(args);
        EXPECT_EQ(sim.port(), 0) << args.back();
    }
    const std::string path = QUOR_BINARY_DIR "/quorvex-sim";
    const std::string help = path + " --help > /dev/null";
    EXPECT_EQ(std::system(help.c_str()), 0);
    const std::string wrong = path + " --frobnicate 2> /dev/null";
    EXPECT_NE(std::system(wrong.c_str()), 0);
}

}   // namespace
