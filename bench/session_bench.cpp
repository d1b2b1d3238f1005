// The live session end to end: the real quorcli runs in a pseudo-terminal
// (forkpty) connected to a small server inside this program. Measured:
//  - key latency: from a key written to the client's terminal to its key
//    message arriving at the server (median and 99th percentile);
//  - update throughput: full-screen changes sent as fast as the client's
//    acknowledgements come back, the client drawing into the real pty (5000
//    of them, or as many as a minute allows);
//  - idle CPU: the client's user+system time over 10 s of a quiet session,
//    with a silent server and with one that sends an empty header every
//    250 ms, as the stand-in server does while nothing changes;
//  - peak resident memory of the client after the update run (VmHWM); under
//    wine, of the program's own process;
//  - key latency of a shared session (--share) that gets a full-screen update
//    before every key, without a viewer and with one that never reads.
// With --never-read=SECONDS the program runs nothing of the above but the
// client, started with --reconnect, against a server that sends empty
// updates as fast as the socket takes them and never reads: every 10 s it
// prints the client's resident memory (VmRSS, VmHWM), its CPU use and how
// many connections it made (the client gives up a link that takes nothing
// for about 50 s, and comes back), and at the end whether Shift+F2 still
// ends the session.
// The client program is <build>/quorcli (beside this program's folder), the
// one named by QUORCLI, or the one given as --client=PATH. A Windows program
// (PATH ending in .exe) runs under wine, in the prefix WINEPREFIX (default
// <folder of the .exe>/wineprefix); the counters named wine_cpu_percent then
// add up every process of that prefix (the program, its conhost, wineserver,
// explorer and wine's services), so nothing else should use it meanwhile.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "crypto/ccomm.h"
#include "crypto/md5c.h"
#include "crypto/rc4.h"
#include "sim/encoder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char password[] = "quorvex";

std::string clientOption;   // --client=PATH

std::string clientPath() {
    if (!clientOption.empty()) return clientOption;
    if (const char* p = std::getenv("QUORCLI")) return p;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "quorcli";
    self[n] = 0;
    std::string dir(self);
    dir = dir.substr(0, dir.rfind('/'));          // <build>/bench
    return dir.substr(0, dir.rfind('/')) + "/quorcli";
}

bool windowsClient() {
    const std::string path = clientPath();
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

// The prefix the Windows client runs in; set in the environment before it starts.
std::string winePrefix() {
    if (const char* p = std::getenv("WINEPREFIX")) return p;
    const std::string exe = std::filesystem::absolute(clientPath()).string();
    return exe.substr(0, exe.rfind('/')) + "/wineprefix";
}

// CPU time of a process so far, in seconds (0 when gone): the scheduler's run
// time in nanoseconds summed over its threads, finer than the clock ticks of
// /proc/<pid>/stat, which round a client that wakes a few times a second to 0.
double processCpuSeconds(int pid) {
    std::error_code error;
    double seconds = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        double ns = 0;
        if (stat >> ns) seconds += ns / 1e9;
    }
    return seconds;
}

// A memory figure of /proc/<pid>/status ("VmHWM:", "VmRSS:") in MiB; 0 when unknown.
double statusMiB(int pid, const char* field) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t len = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, len, field) == 0) return std::atof(line.c_str() + len) / 1024.0;
    return 0;
}

// Peak resident set of a process so far, in MiB (VmHWM; 0 when unknown).
double peakResidentMiB(int pid) { return statusMiB(pid, "VmHWM:"); }

// CPU seconds of every wine process of the client's prefix, by pid.
std::map<int, double> wineProcessesCpu() {
    std::map<int, double> cpu;
    const std::string want = "WINEPREFIX=" + winePrefix();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code error;
        const std::string exe = std::filesystem::read_symlink(entry.path() / "exe", error).string();
        if (error || exe.find("/wine/") == std::string::npos) continue;
        std::ifstream env(entry.path() / "environ");
        std::string var;
        bool ours = false;
        while (!ours && std::getline(env, var, '\0')) ours = var == want;
        if (!ours) continue;
        const int pid = std::atoi(name.c_str());
        cpu[pid] = processCpuSeconds(pid);
    }
    return cpu;
}

// CPU seconds the prefix's processes used since the snapshot; processes
// started meanwhile count from 0, those that ended are lost.
double wineCpuSince(const std::map<int, double>& before) {
    double used = 0;
    for (const auto& [pid, seconds] : wineProcessesCpu()) {
        auto was = before.find(pid);
        used += seconds - (was == before.end() ? 0 : was->second);
    }
    return used;
}

void putWord(std::vector<unsigned char>& v, uint32_t w) {
    for (int b = 0; b < 4; ++b) v.push_back(static_cast<unsigned char>(w >> (8 * b)));
}

uint32_t getWord(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The server's end of one session.
class BenchServer {
public:
    int listenFd = -1;
    int fd = -1;
    int port = 0;
    rc4Cipher in, out;

    BenchServer() {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listenFd, 1);
        socklen_t len = sizeof a;
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~BenchServer() {
        if (fd >= 0) ::close(fd);
        if (listenFd >= 0) ::close(listenFd);
    }
    // The next connection, in place of the one before, with fresh ciphers.
    bool accept(int timeoutMs) {
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        if (fd >= 0) ::close(fd);
        unsigned char digest[16];
        passwordDigest(digest, password);
        in.setKey(digest, 16);
        out.setKey(digest, 16);
        fd = ::accept(listenFd, nullptr, nullptr);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd >= 0;
    }
    bool recvExact(void* buffer, int n, int timeoutMs = 5000) {
        auto* p = static_cast<unsigned char*>(buffer);
        int got = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
            int32_t r = c_recv(in, fd, p + got, n - got);
            if (r <= 0) return false;
            got += r;
        }
        return true;
    }
    bool send(std::vector<unsigned char> bytes) {
        int32_t n = c_send(out, fd, bytes.data(), static_cast<int32_t>(bytes.size()));
        return n == static_cast<int32_t>(bytes.size());
    }
    bool sendMessage(uint16_t type, const std::vector<unsigned char>& payload) {
        std::vector<unsigned char> v;
        putWord(v, type | (static_cast<uint32_t>(payload.size()) << 16));
        v.insert(v.end(), payload.begin(), payload.end());
        return send(v);
    }
    // Opening blocks, greetings and the start word.
    bool handshake() {
        unsigned char buf[128];
        if (!recvExact(buf, 128)) return false;
        std::vector<unsigned char> block(128, 0x37);
        block[127] = '0';
        std::vector<unsigned char> hello(26, 0);
        hello[4] = 1;
        std::memcpy(hello.data() + 12, "QUORVEX Ready", 13);
        block.insert(block.end(), hello.begin(), hello.end());
        if (!send(block)) return false;
        if (!recvExact(buf, 26) || !recvExact(buf, 4) || getWord(buf) != 1) return false;
        // The Windows build asks for compressed updates with a second start word.
        return !windowsClient() || (recvExact(buf, 4) && getWord(buf) == 20);
    }
    bool waitAck() {
        unsigned char b[4];
        return recvExact(b, 4) && getWord(b) == 0x10004;
    }
};

// Two screens that differ in every cell, characters and attributes.
ScreenImage patternScreen(int phase) {
    ScreenImage s;
    for (int r = 0; r < simRows; ++r)
        for (int c = 0; c < simCols; ++c) {
            s.chars[r][c] = static_cast<unsigned char>('A' + (r + c + phase) % 26);
            s.attrs[r][c] = static_cast<unsigned char>(phase ? 0x1F : 0x70);
        }
    s.cursorX = 0;
    s.cursorY = 24;
    return s;
}

// quorcli in a pseudo-terminal, started on a configuration that names the
// bench server; its output is read all the time so that it never blocks.
class ClientUnderTest {
public:
    pid_t pid = -1;
    int master = -1;
    std::atomic<long long> outputBytes{0};

    explicit ClientUnderTest(int port, bool reconnect = false, const char* extra = nullptr) {
        char templ[] = "/tmp/quorcli-bench-XXXXXX";
        if (!mkdtemp(templ)) return;
        dir_ = templ;
        // A Windows program finds its configuration beside its own file, so
        // it gets a copy rather than a link.
        std::error_code error;
        if (windowsClient()) {
            link_ = dir_ + "/quorcli.exe";
            std::filesystem::copy_file(clientPath(), link_, error);
            setenv("WINEPREFIX", winePrefix().c_str(), 1);
            setenv("WINEDEBUG", "-all", 0);
        } else {
            link_ = dir_ + "/quorcli";
            std::filesystem::create_symlink(clientPath(), link_, error);
        }
        if (error) return;
        std::ofstream(dir_ + "/quorcli.cfg") << "server=127.0.0.1:" << port << ",Bench\r\n";
        winsize ws{25, 80, 0, 0};
        pid = forkpty(&master, nullptr, nullptr, &ws);
        if (pid == 0) {
            setenv("TERM", "xterm", 1);
            if (windowsClient())
                execlp("wine", "wine", link_.c_str(), "--direct", "--server=Bench", reconnect ? "--reconnect" : nullptr,
                       static_cast<char*>(nullptr));
            else
                execl(link_.c_str(), link_.c_str(), "--direct", "--server=Bench", reconnect ? "--reconnect" : extra,
                      extra, static_cast<char*>(nullptr));
            _exit(127);
        }
        reader_ = std::thread([this] { drain(); });
    }
    ~ClientUnderTest() { stop(); }

    bool waitForOutput(const std::string& text, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (seen_.find(text) != std::string::npos) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // The first "http://HOST:PORT/TOKEN/" the client showed, or "".
    std::string sharedUrl() {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t at = seen_.find("http://127.0.0.1:");
        const size_t end = at == std::string::npos ? at : seen_.find('/', at + 17);
        if (end == std::string::npos || end + 34 > seen_.size() || seen_[end + 33] != '/') return "";
        return seen_.substr(at, end + 34 - at);
    }
    void type(const std::string& s) const {
        if (write(master, s.data(), s.size()) < 0) std::perror("write");
    }
    // User plus system CPU time of the client so far, in seconds.
    double cpuSeconds() const { return processCpuSeconds(pid); }
    // The client's peak resident memory in MiB. Under wine the started
    // process becomes the program itself (its loader execs in place); 0 when
    // it turns out to be something else.
    double peakMiB() const {
        if (windowsClient()) {
            std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
            std::string name;
            if (!std::getline(comm, name) || name.rfind("quorcli", 0) != 0) return 0;
        }
        return peakResidentMiB(pid);
    }
    void stop() {
        if (pid > 0) {
            // Shift+F2 ends the session; in the Windows console, Alt+F2.
            type(windowsClient() ? "\x1b[1;3Q" : "\x1b[26~");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            type("\x1b");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            type("\x1b");
            int i = 0;
            while (waitpid(pid, nullptr, WNOHANG) != pid && i++ < 200) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (i > 200) {
                kill(pid, SIGTERM);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
            pid = -1;
        }
        done_ = true;
        if (reader_.joinable()) reader_.join();
        if (master >= 0) ::close(master);
        master = -1;
        if (!dir_.empty()) {
            std::error_code error;
            std::filesystem::remove_all(dir_, error);
            dir_.clear();
        }
    }

private:
    std::string dir_, link_;
    std::thread reader_;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::string seen_;

    void drain() {
        char buf[65536];
        while (!done_) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            outputBytes += n;
            std::lock_guard<std::mutex> lock(mutex_);
            if (seen_.size() < 65536) seen_.append(buf, static_cast<size_t>(n));
        }
    }
};

// Takes the client's next connection and shows it one full screen; what did
// not come up, or null.
const char* showFirstScreen(BenchServer& server, int acceptMs) {
    if (!server.accept(acceptMs) || !server.handshake()) return "no session";
    std::vector<unsigned char> list;
    putWord(list, 0);
    putWord(list, 1);
    putWord(list, 5);
    for (char c : std::string("Bench")) list.push_back(static_cast<unsigned char>(c));
    std::vector<unsigned char> id;
    putWord(id, 1);
    ScreenImage first = patternScreen(0);
    if (!server.sendMessage(0, list) || !server.sendMessage(2, id) ||
        !server.sendMessage(3, encodeScreenUpdate(nullptr, first)) || !server.waitAck())
        return "the first update was not acknowledged";
    return nullptr;
}

// Starts the client, types the password and opens a session with one full
// screen; what did not come up, or null.
const char* startSession(BenchServer& server, ClientUnderTest& client) {
    if (client.pid <= 0 || !client.waitForOutput("Password for", 10000))
        return "the client did not ask for the password";
    client.type(std::string(password) + "\r");
    return showFirstScreen(server, 10000);
}

// As startSession; false (and a skip) when something does not come up.
bool openSession(benchmark::State& state, BenchServer& server, ClientUnderTest& client) {
    const char* failed = startSession(server, client);
    if (failed) state.SkipWithError(failed);
    return !failed;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void keyLatency(benchmark::State& state) {
    BenchServer server;
    ClientUnderTest client(server.port);
    if (!openSession(state, server, client)) return;
    const int keys = static_cast<int>(state.range(0));
    std::vector<double> micros;
    for (auto _ : state) {
        micros.clear();
        for (int k = 0; k < keys; ++k) {
            const auto t0 = Clock::now();
            client.type("a");
            unsigned char msg[4];
            if (!server.recvExact(msg, 4) || getWord(msg) != 0x1E610005) {
                state.SkipWithError("key message missing");
                return;
            }
            const auto t1 = Clock::now();
            micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    state.counters["median_us"] = percentile(micros, 0.5);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["max_us"] = percentile(micros, 1.0);
}

// A WebSocket viewer of the share that never reads what it is sent; -1
// when it cannot connect.
int stalledViewer(const std::string& url) {
    const size_t colon = url.find(':', 7), slash = url.find('/', 7);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(url.substr(colon + 1, slash - colon - 1).c_str())));
    const std::string request = "GET " + url.substr(slash) +
                                "ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Arguments: keys, and whether a viewer that never reads watches.
void keyLatencyShared(benchmark::State& state) {
    BenchServer server;
    ClientUnderTest client(server.port, false, "--share");
    if (!openSession(state, server, client)) return;
    std::string url;
    for (int i = 0; i < 100 && (url = client.sharedUrl()).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int viewer = state.range(1) && !url.empty() ? stalledViewer(url) : -1;
    if (state.range(1) && viewer < 0) {
        state.SkipWithError("no viewer");
        return;
    }
    ScreenImage screens[2] = {patternScreen(0), patternScreen(1)};
    const std::vector<unsigned char> updates[2] = {encodeScreenUpdate(&screens[0], screens[1]),
                                                  encodeScreenUpdate(&screens[1], screens[0])};
    std::vector<double> micros;
    for (auto _ : state) {
        for (int k = 0; k < state.range(0); ++k) {
            if (!server.sendMessage(3, updates[k & 1]) || !server.waitAck()) {
                state.SkipWithError("an update was not acknowledged");
                break;
            }
            const auto t0 = Clock::now();
            client.type("a");
            unsigned char msg[4];
            if (!server.recvExact(msg, 4) || getWord(msg) != 0x1E610005) {
                state.SkipWithError("key message missing");
                break;
            }
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    if (viewer >= 0) ::close(viewer);
    if (micros.empty()) return;
    state.counters["median_us"] = percentile(micros, 0.5);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["max_us"] = percentile(micros, 1.0);
}

void updateThroughput(benchmark::State& state) {
    BenchServer server;
    ClientUnderTest client(server.port);
    if (!openSession(state, server, client)) return;
    ScreenImage screens[2] = {patternScreen(0), patternScreen(1)};
    std::vector<unsigned char> updates[2] = {encodeScreenUpdate(&screens[0], screens[1]),
                                            encodeScreenUpdate(&screens[1], screens[0])};
    const int count = static_cast<int>(state.range(0));
    const auto cap = std::chrono::seconds(state.range(1));
    long long sent = 0;
    double seconds = 0;
    const long long bytesBefore = client.outputBytes;
    const double cpuBefore = client.cpuSeconds();
    const auto wineBefore = wineProcessesCpu();
    for (auto _ : state) {
        const auto t0 = Clock::now();
        // The time cap keeps a slow client (wine on a loaded machine) bounded.
        for (int i = 0; i < count && Clock::now() - t0 < cap; ++i) {
            if (!server.sendMessage(3, updates[i & 1]) || !server.waitAck()) {
                state.SkipWithError("an update was not acknowledged");
                return;
            }
            ++sent;
        }
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    state.counters["updates"] = static_cast<double>(sent);
    state.counters["updates_per_s"] = static_cast<double>(sent) / seconds;
    state.counters["client_cpu_percent"] = 100.0 * (client.cpuSeconds() - cpuBefore) / seconds;
    state.counters["client_cpu_us_per_update"] = 1e6 * (client.cpuSeconds() - cpuBefore) / static_cast<double>(sent);
    if (windowsClient()) state.counters["wine_cpu_percent"] = 100.0 * wineCpuSince(wineBefore) / seconds;
    state.counters["payload_bytes"] = static_cast<double>(updates[0].size());
    state.counters["pty_bytes_per_update"] =
        static_cast<double>(client.outputBytes - bytesBefore) / static_cast<double>(sent);
    if (const double mib = client.peakMiB(); mib > 0) state.counters["peak_rss_mib"] = mib;
}

void idleCpu(benchmark::State& state) {
    BenchServer server;
    ClientUnderTest client(server.port);
    if (!openSession(state, server, client)) return;
    const int seconds = static_cast<int>(state.range(0));
    const auto beat = std::chrono::milliseconds(state.range(1));
    double used = 0, wineUsed = 0;
    for (auto _ : state) {
        const double before = client.cpuSeconds();
        const auto wineBefore = wineProcessesCpu();
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        if (beat.count() == 0) {
            std::this_thread::sleep_until(end);
        } else {
            for (auto next = Clock::now() + beat; next <= end; next += beat) {
                std::this_thread::sleep_until(next);
                if (!server.sendMessage(1, {})) {   // a type that carries nothing
                    state.SkipWithError("the client left during the quiet session");
                    return;
                }
            }
            std::this_thread::sleep_until(end);
        }
        used = client.cpuSeconds() - before;
        wineUsed = wineCpuSince(wineBefore);
    }
    state.counters["cpu_percent"] = 100.0 * used / seconds;
    if (windowsClient()) state.counters["wine_cpu_percent"] = 100.0 * wineUsed / seconds;
}

// The server that never reads: empty updates for as long as the socket takes
// them, for `seconds`, on every connection the client makes; the client's
// memory and CPU every 10 s.
int neverRead(int seconds) {
    BenchServer server;
    ClientUnderTest client(server.port, true);
    if (const char* failed = startSession(server, client)) {
        std::fprintf(stderr, "never-read: %s\n", failed);
        return 1;
    }
    fcntl(server.fd, F_SETFL, fcntl(server.fd, F_GETFL) | O_NONBLOCK);
    std::vector<unsigned char> pending;
    long long sent = 0;
    int connections = 1;
    bool linkGone = false;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto nextSample = start;
    auto lastSample = start;
    double cpuBefore = client.cpuSeconds();
    std::printf("%8s %10s %10s %8s %14s %12s\n", "seconds", "rss_mib", "hwm_mib", "cpu_%", "server_sent_kb",
                "connections");
    for (;;) {
        const auto now = Clock::now();
        if (now >= nextSample) {
            const double cpu = client.cpuSeconds();
            const double interval = std::chrono::duration<double>(now - lastSample).count();
            std::printf("%8.0f %10.2f %10.2f %8.1f %14lld %12d\n", std::chrono::duration<double>(now - start).count(),
                        statusMiB(client.pid, "VmRSS:"), statusMiB(client.pid, "VmHWM:"),
                        interval > 0 ? 100.0 * (cpu - cpuBefore) / interval : 0.0, sent / 1024, connections);
            std::fflush(stdout);
            cpuBefore = cpu;
            lastSample = now;
            nextSample += std::chrono::seconds(10);
        }
        if (now >= end) break;
        if (pending.empty()) {
            for (int i = 0; i < 1024; ++i) putWord(pending, 3);   // type 3, no payload
            server.out.crypt(pending.data(), static_cast<int32_t>(pending.size()), 0);
        }
        const auto wait = std::min(nextSample, end) - now;
        // A new connection: the client gave the link up (without a word to
        // this end when its kernel timed the link out) and came back.
        pollfd p[2] = {{linkGone ? -1 : server.fd, POLLOUT, 0}, {server.listenFd, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1) <= 0)
            continue;
        if (p[1].revents & POLLIN) {
            linkGone = showFirstScreen(server, 0) != nullptr;   // else the client's next attempt
            if (!linkGone) fcntl(server.fd, F_SETFL, fcntl(server.fd, F_GETFL) | O_NONBLOCK);
            pending.clear();
            ++connections;
            continue;
        }
        const ssize_t n = ::send(server.fd, pending.data(), pending.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            linkGone = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
            continue;
        }
        pending.erase(pending.begin(), pending.begin() + n);
        sent += n;
    }
    // Shift+F2 alone must end the session: the client closes the connection.
    const auto pressed = Clock::now();
    client.type("\x1b[26~");
    bool closed = false;
    char b[65536];
    while (!closed && Clock::now() - pressed < std::chrono::seconds(5)) {
        pollfd p{server.fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = ::recv(server.fd, b, sizeof b, 0);
            closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        }
    }
    std::printf("Shift+F2 ended the session: %s (%.0f ms)\n", closed ? "yes" : "no",
                std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
    return closed ? 0 : 1;
}

}  // namespace

BENCHMARK(keyLatency)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(keyLatencyShared)->Args({500, 0})->Args({500, 1})->Iterations(1)->Unit(benchmark::kMillisecond);
// Arguments: full-screen updates, and the most seconds they may take.
BENCHMARK(updateThroughput)->Args({5000, 60})->Iterations(1)->Unit(benchmark::kMillisecond);
// Arguments: seconds, and the interval of the server's empty headers in ms (0: none).
BENCHMARK(idleCpu)->Args({10, 0})->Args({10, 250})->Iterations(1)->Unit(benchmark::kMillisecond);

// --client=PATH and --never-read=SECONDS are this program's own; the rest
// goes to Google Benchmark.
int main(int argc, char** argv) {
    int kept = 1;
    int neverReadSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--client=", 9) == 0) clientOption = argv[i] + 9;
        else if (std::strncmp(argv[i], "--never-read=", 13) == 0) neverReadSeconds = std::atoi(argv[i] + 13);
        else argv[kept++] = argv[i];
    }
    argc = kept;
    if (neverReadSeconds > 0) return neverRead(neverReadSeconds);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
