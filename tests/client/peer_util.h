#pragma once
// Helpers of the connection and session tests: a scripted QUORVEX peer on
// loopback, the stand-in server process and a fixture reading its log, a
// terminal whose keys another thread can push, a headless client around
// consoleMain, and the other build's profile for a test.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "client/build.h"
#include "client/cmain.h"
#include "programs/main_parts.h"
#include "client/scrlist.h"
#include "console/cutil.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"
#include "console/term.h"
#include "crypto/md5c.h"
#include "crypto/rc4.h"
#include "net/iclass.h"
#include "tests/client/wire_util.h"

namespace peer {

// Curses key codes used by the scripts.
constexpr int keyEnter = 13;
constexpr int keyEsc = 27;
constexpr int keyDown = 0402;
constexpr int keyUp = 0403;
constexpr int keyHome = 0406;
constexpr int keyBackspace = 0407;
constexpr int keyEnd = 0550;
constexpr int keyF(int n) { return 0410 + n; }
constexpr int shiftF(int n) { return keyF(12 + n); }   // Shift+F1..F8 arrive as F13..F20

using Clock = std::chrono::steady_clock;

// A terminal for tests: keys may be pushed from any thread; every key served
// and every blocking read that starts leaves a snapshot of the screen text.
class TestTerminal : public MemoryTerminal {
public:
    // How long a blocking read may wait for a pushed key before the terminal
    // reads as gone (keeps a broken test from hanging).
    int blockingLimitMs = 10000;
    // Off for tests that type tens of thousands of keys.
    bool keepSnapshots = true;

    void push(int code) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(code);
        cv_.notify_all();
    }
    void push(const std::string& text) {
        for (unsigned char c : text) push(static_cast<int>(c));
    }
    // Several keys, in order.
    void pushKeys(std::initializer_list<int> codes) {
        for (int code : codes) push(code);
    }
    // Takes every key still to come out of the script (to push it later).
    std::deque<int> takeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::deque<int> all;
        all.swap(queue_);
        return all;
    }
    void setGone(bool gone) {
        std::lock_guard<std::mutex> lock(mutex_);
        goneWhenEmpty = gone;
        cv_.notify_all();
    }
    int readKey(int timeoutMs, INPUT_RECORD& record) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (queue_.empty() && timeoutMs != 0 && !goneWhenEmpty) {
            if (timeoutMs < 0) {
                snapshotLocked();
                ++blockingReads_;
                cv_.notify_all();
            }
            int limit = timeoutMs < 0 ? blockingLimitMs : timeoutMs;
            cv_.wait_for(lock, std::chrono::milliseconds(limit), [&] { return !queue_.empty() || goneWhenEmpty; });
            if (queue_.empty() && timeoutMs < 0) return -1;
        }
        if (queue_.empty()) return goneWhenEmpty ? -1 : 0;
        makeKeyEvent(queue_.front(), &record);
        queue_.pop_front();
        snapshotLocked();
        ++served_;
        return 1;
    }
    bool keyPending() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++looks_;
        cv_.notify_all();
        return !queue_.empty();
    }
    // Every refresh keeps the screen's text for waitUntilShown.
    int refresh() override {
        std::lock_guard<std::mutex> lock(mutex_);
        refreshed_.clear();
        for (int r = 0; r < 25; ++r) refreshed_ += rowText(r);
        cv_.notify_all();
        return MemoryTerminal::refresh();
    }
    // Waits until the client looks for a key without reading one (as a wait
    // for keys and a socket together does) more than `before` times.
    bool waitForLook(int before, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return looks_ > before; });
    }
    int looks() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return looks_;
    }
    // Waits until a refresh has shown the text.
    bool waitUntilShown(const std::string& text, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return refreshed_.find(text) != std::string::npos; });
    }
    // Waits until a dialog blocks for a key (count of such reads above before).
    bool waitForBlockingRead(int before, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return blockingReads_ > before; });
    }
    int blockingReads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return blockingReads_;
    }
    int served() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return served_;
    }
    std::vector<std::vector<std::string>> snapshots() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return snapshots_;
    }
    // True when some snapshot shows text at (col, row).
    bool everShown(int col, int row, const std::string& text) const {
        for (const auto& s : snapshots())
            if (s[row].compare(col, text.size(), text) == 0) return true;
        return false;
    }
    // True when some snapshot shows text anywhere.
    bool everShown(const std::string& text) const {
        for (const auto& shot : snapshots())
            for (const auto& row : shot)
                if (row.find(text) != std::string::npos) return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::deque<int> queue_;
    std::vector<std::vector<std::string>> snapshots_;
    std::string refreshed_;   // the 25 rows of the last refresh, one after another
    int blockingReads_ = 0;
    int served_ = 0;
    mutable int looks_ = 0;

    void snapshotLocked() {
        if (!keepSnapshots) return;
        std::vector<std::string> rows;
        for (int r = 0; r < 25; ++r) rows.push_back(rowText(r));
        snapshots_.push_back(std::move(rows));
    }
};

struct Handshake {
    bool greeting = true;           // byte 127 of the opening block is '0'
    uint32_t cmd = 0;
    uint32_t word1 = 1;
    const char* text = "QUORVEX Ready";
};

// The server's side of the opening exchange; checks what the client sends.
inline bool serverHandshake(PeerLink& link, const Handshake& h = {}) {
    unsigned char opening[128];
    if (!link.recvExact(opening, 128)) {
        ADD_FAILURE() << "no opening block from the client";
        return false;
    }
    for (int i = 0; i < 127; ++i) {
        const unsigned char b = opening[i];
        EXPECT_EQ(b, static_cast<unsigned char>((b & 0xC8) | 0x37)) << "filler byte " << i;
    }
    EXPECT_EQ(opening[127], '0');
    std::vector<unsigned char> block(128, 0x55);
    block[127] = h.greeting ? '0' : '1';
    if (h.greeting) {
        unsigned char hello[26] = {};
        for (int b = 0; b < 4; ++b) {
            hello[b] = static_cast<unsigned char>(h.cmd >> (8 * b));
            hello[4 + b] = static_cast<unsigned char>(h.word1 >> (8 * b));
        }
        std::memcpy(hello + 12, h.text, 13);
        block.resize(128 + sizeof hello);
        std::memcpy(block.data() + 128, hello, sizeof hello);
    }
    if (!link.send(block)) return false;
    if (h.greeting) {
        unsigned char hello[26];
        if (!link.recvExact(hello, 26)) return false;
        EXPECT_EQ(getWord(hello), 0u);
        EXPECT_EQ(getWord(hello + 4), 1u);
        EXPECT_EQ(getWord(hello + 8), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(hello + 12), 13), "QUORCLI Ready");
        EXPECT_EQ(hello[25], 0);
    }
    uint32_t start = 0;
    if (!link.recvWord(start)) return false;
    EXPECT_EQ(start, 1u);
    return true;
}

// Runs a test with another build's profile (texts, titles, what the session
// understands); this build's own is back at the end of the scope.
class ProfileScope {
public:
    explicit ProfileScope(const buildProfile& profile) { useBuildProfile(&profile); }
    ~ProfileScope() { useBuildProfile(nullptr); }
    ProfileScope(const ProfileScope&) = delete;
    ProfileScope& operator=(const ProfileScope&) = delete;
};

// The address 127.0.0.1:port.
inline sockaddr_in loopback(int port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// The address ::1:port.
inline sockaddr_in6 loopback6(int port = 0) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    return a;
}

// A socket of the family bound to its loopback address and port (shared
// with SO_REUSEPORT when asked for); -1 when that fails.
inline int bindLoopback(int family, int port = 0, bool sharePort = false) {
    int s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (sharePort) setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    const sockaddr_in a4 = loopback(port);
    const sockaddr_in6 a6 = loopback6(port);
    const int bound = family == AF_INET6 ? ::bind(s, reinterpret_cast<const sockaddr*>(&a6), sizeof a6)
                                         : ::bind(s, reinterpret_cast<const sockaddr*>(&a4), sizeof a4);
    if (bound == 0) return s;
    ::close(s);
    return -1;
}

// The port of a bound stream socket of either family (0 when it is not bound).
inline int boundPort(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// A free port on 127.0.0.1 below the range the system hands out as the local
// ports of outgoing connections, for a program that binds its port itself
// and whose port a test takes over once the program is stopped: only an
// explicit bind can take such a port in between. 0 when none was found.
inline int portBelowEphemeralRange() {
    int low = 32768;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(f, "%d", &low) != 1) low = 32768;
        std::fclose(f);
    }
    const int first = std::max(1024, low / 2);
    static unsigned next = static_cast<unsigned>(::getpid()) * 7919u;
    for (int tries = 0; tries < 200 && low > first; ++tries) {
        const int port = first + static_cast<int>(next++ % static_cast<unsigned>(low - first));
        const int s = bindLoopback(AF_INET, port);
        if (s < 0) continue;
        ::close(s);
        return port;
    }
    return 0;
}

// A port on 127.0.0.1 (::1 for AF_INET6) held for the object's life by a
// socket bound with SO_REUSEPORT that never listens. Connections to it are
// refused, as by a stopped server, and no other socket takes it meanwhile,
// not even as the local port of an outgoing connection; stand-ins started
// on it with --reuse-port listen on it, one after another.
class ReservedPort {
public:
    explicit ReservedPort(int family = AF_INET) : fd_(bindLoopback(family, 0, true)) {
        port_ = fd_ >= 0 ? boundPort(fd_) : 0;
    }
    ~ReservedPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

// A listening socket on 127.0.0.1 (or ::1) and a thread that runs a script
// on the first connection it accepts. A receive buffer size given is set
// before listening, so the connection opens with the small window.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<void(PeerLink&)> script, const char* password = "quorvex",
                          int family = AF_INET, int receiveBuffer = 0)
        : script_(std::move(script)), password_(password) {
        listenFd_ = bindLoopback(family);
        if (receiveBuffer > 0) setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        ::listen(listenFd_, 4);
        port_ = boundPort(listenFd_);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedPeer() { finish(); }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return port_; }
    void finish() {
        if (thread_.joinable()) thread_.join();
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
    }
    bool accepted() const { return accepted_; }

private:
    std::function<void(PeerLink&)> script_;
    const char* password_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> accepted_{false};
    std::thread thread_;

    void serve() {
        pollfd pfd{listenFd_, POLLIN, 0};
        if (poll(&pfd, 1, 10000) <= 0) return;
        PeerLink link;
        link.fd = ::accept(listenFd_, nullptr, nullptr);
        if (link.fd < 0) return;
        accepted_ = true;
        link.keyWith(password_);
        script_(link);
        ::close(link.fd);
    }
};

// The stand-in server program, started with options; stopped by its pid.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            std::string path = QUOR_BINARY_DIR "/quorvex-sim";
            argv.push_back(path.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        ::close(out[1]);
        readPort(out[0]);
        ::close(out[0]);
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // SIGTERM, up to 3 s for the exit, then SIGKILL. Any thread may call it;
    // once it returns the process has been reaped, also when another thread
    // was stopping it.
    void stop() {
        std::lock_guard<std::mutex> lock(stopping_);
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 300; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            usleep(10000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    std::atomic<pid_t> pid_{-1};
    std::mutex stopping_;
    int port_ = 0;

    void readPort(int fd) {
        std::string text;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline && text.find('\n') == std::string::npos) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) continue;
            char b[256];
            ssize_t r = ::read(fd, b, sizeof b);
            if (r <= 0) break;
            text.append(b, static_cast<size_t>(r));
        }
        // 127.0.0.1:PORT, or [::1]:PORT when bound to an IPv6 address.
        const size_t at = text.find("listening on ");
        const size_t colon = at == std::string::npos ? at : text.rfind(':', text.find('\n', at));
        if (colon != std::string::npos && colon > at) port_ = std::atoi(text.c_str() + colon + 1);
    }
};

// Lines of a JSON log file written by the stand-in (one object per line).
inline std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream f(path);
    for (std::string line; std::getline(f, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// Lines of the log that contain text.
inline int countLines(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines) n += l.find(text) != std::string::npos;
    return n;
}

// Waits (bounded) until the log holds at least n lines containing text.
inline bool waitForLog(const std::string& path, const std::string& text, int n = 1, int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (countLines(readLines(path), text) >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

inline std::string tempDir() {
    char templ[] = "/tmp/quorcli-test-XXXXXX";
    const char* d = mkdtemp(templ);
    return d ? d : "/tmp";
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool canConnect(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// tinyproxy in the foreground with its configuration and log in a
// temporary folder. It binds its port itself, one below the range of
// outgoing connections' ports: a port that was free a moment before may have
// been taken by then, and then tinyproxy ends and another port is tried. It
// is ready once its log says it accepts connections.
class Tinyproxy {
public:
    // With a user, the proxy asks for Basic credentials (its BasicAuth).
    explicit Tinyproxy(int connectPort, const char* user = nullptr, const char* password = nullptr) {
        dir_ = tempDir();
        conf_ = dir_ + "/tinyproxy.conf";
        log_ = dir_ + "/tinyproxy.log";
        for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) start(connectPort, user, password);
    }
    ~Tinyproxy() {
        stop();
        std::remove(conf_.c_str());
        std::remove(log_.c_str());
        rmdir(dir_.c_str());
    }
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;
    // 0 when it could not be started.
    int port() const { return port_; }

private:
    void start(int connectPort, const char* user, const char* password) {
        const int candidate = portBelowEphemeralRange();
        std::remove(log_.c_str());
        FILE* f = std::fopen(conf_.c_str(), "w");
        if (!f || candidate == 0) {
            if (f) std::fclose(f);
            return;
        }
        std::fprintf(f, "Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\n"
                        "ConnectPort %d\nLogLevel Info\nLogFile \"%s\"\n", candidate, connectPort, log_.c_str());
        if (user) std::fprintf(f, "BasicAuth %s %s\n", user, password);
        std::fclose(f);
        pid_ = fork();
        if (pid_ == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execl("/usr/bin/tinyproxy", "tinyproxy", "-d", "-c", conf_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (pid_ > 0 && Clock::now() < deadline) {
            std::ifstream log(log_);
            const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
            if (text.find("Accepting connections.") != std::string::npos) {
                port_ = candidate;
                return;
            }
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;   // it could not listen
            else std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
    }

public:
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int i = 0;
        while (waitpid(pid_, nullptr, WNOHANG) != pid_ && i++ < 300) usleep(10000);
        if (i > 300) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    std::string dir_, conf_, log_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// consoleMain on the test terminal, with the parts the program puts around
// it and one server entry selected.
class HeadlessClient {
public:
    TestTerminal term;
    consoleMain app;
    sessionParts parts{app, programOptions{}};
    serverInfo* server = nullptr;   // owned by app.servers

    HeadlessClient() {
        setTerminal(&term);
        keyboardInputInit(nullptr);
        app.init(nullptr);
        app.servers.init(nullptr);
        server = new serverInfo();
        server->hostName = strdup("127.0.0.1");
        app.servers.add("test server", 1, server);
    }
    ~HeadlessClient() {
        app.closeConnection();
        setTerminal(nullptr);
    }
    int connect(int port, proxyInfo* proxy = nullptr) {
        server->port = port;
        return app.connect(server, proxy);
    }
    // Keys the session with the password's digest and runs it.
    int session(const char* password = "quorvex") {
        passwordDigest(app.sessionKey, password);
        return app.processConnection();
    }
};

// A headless client whose terminal waits for keys (up to its blocking limit)
// instead of reading as gone once the pushed keys are used up.
struct WaitingClient : HeadlessClient {
    WaitingClient() { term.setGone(false); }
};

// Runs the session on this thread while `driver` runs beside it and types.
// Should the session outlive the driver by graceMs, the stand-in is told to
// stop, which ends the session (a broken test fails instead of hanging).
inline int runSimSession(HeadlessClient& c, SimProcess& sim, const std::function<void()>& driver,
                         int graceMs = 5000) {
    std::atomic<bool> ended{false};
    std::thread side([&] {
        driver();
        const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
        while (!ended && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ended && sim.pid() > 0) kill(sim.pid(), SIGTERM);
    });
    int r = c.session();
    ended = true;
    side.join();
    c.app.closeConnection();
    return r;
}

// Tests against the stand-in server that read its log (one JSON line per
// client message) in a temporary folder; skipped when it is not built.
class SimLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat st{};
        if (stat(QUOR_BINARY_DIR "/quorvex-sim", &st) != 0) GTEST_SKIP() << "quorvex-sim not built";
        dir_ = tempDir();
        log_ = dir_ + "/sim.log";
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::remove(log_.c_str());
            rmdir(dir_.c_str());
        }
    }
    // Runs the session as runSimSession does until the log holds text, then
    // ends it with Shift+F2 and stops the stand-in.
    int runUntilLogged(HeadlessClient& c, SimProcess& sim, const std::string& text) {
        int r = runSimSession(c, sim, [&] {
            EXPECT_TRUE(waitForLog(log_, text));
            c.term.push(shiftF(2));
        });
        sim.stop();
        return r;
    }
    // As runUntilLogged, but the keys queued so far are typed only once the
    // client has acknowledged its first screen (the session is established).
    int typeAfterFirstScreen(HeadlessClient& c, SimProcess& sim, const std::string& text) {
        const std::deque<int> keys = c.term.takeAll();
        int r = runSimSession(c, sim, [&] {
            EXPECT_TRUE(waitForLog(log_, "{\"type\":4,"));
            for (int k : keys) c.term.push(k);
            EXPECT_TRUE(waitForLog(log_, text));
            c.term.push(shiftF(2));
        });
        sim.stop();
        return r;
    }
    std::string dir_;
    std::string log_;
};

}  // namespace peer
