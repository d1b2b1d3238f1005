#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "crypto/ccomm.h"
#include "crypto/md5c.h"
#include "crypto/rc4.h"
#include "sim/encoder.h"
#include "sim/program.h"

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Bytes = std::vector<unsigned char>;

constexpr int openingSize = 128;
constexpr int greetingSize = 26;
constexpr int expandLimit = 4100;            // what a client can expand
constexpr int payloadLimit = 8000;           // what a client can receive
constexpr auto sendPatience = std::chrono::seconds(10);
const char serverGreetingText[] = "QUORVEX Ready";

// Server message types.
enum : uint16_t { msgScreenList = 0, msgIgnored = 1, msgScreenId = 2, msgUpdate = 3, msgCompressed = 6 };
// Client message types.
enum : uint16_t {
    cmdStart = 1, cmdSelect = 2, cmdAck = 4, cmdKey = 5, cmdPassword = 7, cmdSignal = 8,
    cmdRestart = 9, cmdForcedRestart = 10, cmdCompressed = 20,
};

uint32_t getLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void putLe32(Bytes& out, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}

std::string hex(const unsigned char* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t k = 0; k < n; ++k) {
        s.push_back(digits[p[k] >> 4]);
        s.push_back(digits[p[k] & 15]);
    }
    return s;
}

std::string jsonString(const unsigned char* p, size_t n)
{
    std::string s = "\"";
    for (size_t k = 0; k < n; ++k) {
        const unsigned char c = p[k];
        if (c == '"' || c == '\\') {
            s.push_back('\\');
            s.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            s += esc;
        } else {
            s.push_back(static_cast<char>(c));
        }
    }
    return s + "\"";
}

// Waits for events on fd, or for input on alsoFd unless it is -1, until the
// deadline with SIGTERM and SIGINT let through; returns the events on fd, or
// 0 after a timeout or a signal.
short waitFd(int fd, short events, TimePoint deadline, int alsoFd = -1)
{
    pollfd p[2] = {{fd, events, 0}, {alsoFd, POLLIN, 0}};
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    sigset_t mask;
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, nullptr, &blocked);
    mask = blocked;
    sigdelset(&mask, SIGTERM);
    sigdelset(&mask, SIGINT);
    const int ready = ppoll(p, alsoFd >= 0 ? 2 : 1, &ts, &mask);
    // A ppoll that finds a descriptor ready puts the mask back without
    // taking a stop request: a program that always has output would keep
    // it waiting for ever. Unblocking takes it.
    sigset_t pending;
    if (ready > 0 && sigpending(&pending) == 0 && (sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT))) {
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        sigprocmask(SIG_SETMASK, &blocked, nullptr);
    }
    if (ready <= 0)
        return 0;
    return p[0].revents;
}

}   // namespace

JsonLog::~JsonLog()
{
    if (file_)
        std::fclose(file_);
}

// The log holds every key typed, passwords included: private to its owner,
// and never written through a link that another user may have placed.
bool JsonLog::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1 ||
        fchmod(fd, 0600) != 0) {
        ::close(fd);
        errno = EPERM;
        return false;
    }
    file_ = fdopen(fd, "a");
    if (!file_)
        ::close(fd);
    return file_ != nullptr;
}

void JsonLog::line(const std::string& json)
{
    if (!file_)
        return;
    std::fputs(json.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

// One connected client, from the opening blocks to its departure.
class SimSession {
public:
    SimSession(SimServer& server, int fd, volatile std::sig_atomic_t* stop);
    void run();

private:
    enum class Phase { Opening, Greeting, Words };
    // Normal serving, or one of the failures asked for on the command line.
    enum class Mode { Normal, Garbage, Stalled, Broken };

    bool sendBytes(Bytes& bytes);
    bool sendMessage(uint32_t header, const Bytes& payload);
    bool sendOpening();
    bool sendGreeting();
    bool receive();
    bool flooding() const;
    void parseInbox();
    void handleWord(uint16_t type, uint16_t value, const unsigned char* extra);
    void start();
    void select(uint32_t screenId);
    void sendScreenList();
    void sendScreenId();
    void maybeSendUpdate();
    void heartbeat();
    uint32_t garbageWord();

    SimServer& server_;
    const SimOptions& options_;
    int fd_;
    volatile std::sig_atomic_t* stop_;
    rc4Cipher send_;
    rc4Cipher recv_;
    bool alive_ = true;
    Phase phase_ = Phase::Opening;
    Mode mode_ = Mode::Normal;
    Bytes inbox_;
    bool started_ = false;
    bool compressed_ = false;
    bool awaitingAck_ = false;
    bool fullPending_ = true;
    uint32_t currentId_;
    ScreenImage sent_;
    TimePoint lastSend_;
    TimePoint floodUntil_;
    std::mt19937 random_;
};

SimSession::SimSession(SimServer& server, int fd, volatile std::sig_atomic_t* stop)
    : server_(server), options_(server.options_), fd_(fd), stop_(stop),
      currentId_(server.screens_.find(server.options_.firstScreen) ? server.options_.firstScreen
                                                                     : server.screens_.all().front()->id()),
      lastSend_(Clock::now()),
      random_(static_cast<uint32_t>(Clock::now().time_since_epoch().count()))
{
    send_.setKey(server.digest_, 16);
    recv_.setKey(server.digest_, 16);
}

// Encrypts the bytes and sends all of them; a client that stops reading for
// long, or has gone, ends the session.
bool SimSession::sendBytes(Bytes& bytes)
{
    if (bytes.empty())
        return true;
    const auto size = static_cast<int32_t>(bytes.size());
    int32_t n = c_send(send_, fd_, bytes.data(), size);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        alive_ = false;
        return false;
    }
    // The buffer now holds ciphertext; whatever the first send left over goes
    // out as it is, so the keystream stays in step.
    size_t done = n > 0 ? static_cast<size_t>(n) : 0;
    const TimePoint deadline = Clock::now() + sendPatience;
    while (done < bytes.size()) {
        if (*stop_ || Clock::now() >= deadline) {
            alive_ = false;
            return false;
        }
        if (waitFd(fd_, POLLOUT, deadline) == 0)
            continue;
        const ssize_t m = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (m < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            alive_ = false;
            return false;
        }
        done += static_cast<size_t>(m);
    }
    lastSend_ = Clock::now();
    return true;
}

bool SimSession::sendMessage(uint32_t header, const Bytes& payload)
{
    Bytes bytes;
    bytes.reserve(4 + payload.size());
    putLe32(bytes, header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return sendBytes(bytes);
}

bool SimSession::sendOpening()
{
    Bytes block(openingSize);
    for (int k = 0; k < openingSize - 1; ++k)
        block[static_cast<size_t>(k)] = static_cast<unsigned char>((random_() & 0xC8) + 0x37);
    // '0' tells the client that a greeting follows.
    block[openingSize - 1] = options_.greeting ? '0' : '1';
    return sendBytes(block);
}

bool SimSession::sendGreeting()
{
    Bytes hello;
    putLe32(hello, options_.greetingCmd);
    putLe32(hello, options_.restart ? 1 : 0);
    putLe32(hello, 0);
    hello.insert(hello.end(), serverGreetingText, serverGreetingText + 13);
    hello.push_back(0);
    if (options_.badGreeting)
        hello[12 + 8] = 'r';   // "QUORVEX ready"
    return sendBytes(hello);
}

bool SimSession::flooding() const
{
    return started_ && mode_ == Mode::Normal && Clock::now() < floodUntil_;
}

void SimSession::run()
{
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (options_.silent) {
        mode_ = Mode::Stalled;   // no opening, no heartbeat: nothing at all
    } else {
        if (!sendOpening() || (options_.greeting && !sendGreeting()))
            return;
        if (options_.noRead)
            start();   // without waiting for the client: what it sends stays unread
    }
    const auto beat = std::chrono::milliseconds(options_.heartbeatMs);
    while (alive_ && !*stop_) {
        server_.tickIfDue();
        server_.serveProgram(started_ && mode_ == Mode::Normal && server_.program_ &&
                             currentId_ == server_.program_->id());
        if (flooding()) {
            // A full update after another, acknowledged or not.
            fullPending_ = true;
            awaitingAck_ = false;
        }
        if (mode_ == Mode::Normal)
            maybeSendUpdate();
        TimePoint deadline = flooding() ? Clock::now() : server_.nextTick_;
        // No heartbeat before the client's opening block: a client still
        // asking its operator for the password would count them as headers.
        if (options_.heartbeatMs > 0 && mode_ != Mode::Stalled && phase_ != Phase::Opening) {
            if (Clock::now() - lastSend_ >= beat)
                heartbeat();
            deadline = std::min(deadline, lastSend_ + beat);
        }
        if (!alive_)
            break;
        if (options_.noRead) {
            // Only a client that leaves ends this: its shutdown shows, its bytes stay unread.
            if (waitFd(fd_, POLLRDHUP, deadline, server_.programFd()) & (POLLRDHUP | POLLHUP | POLLERR))
                break;
            continue;
        }
        if (waitFd(fd_, POLLIN, deadline, server_.programFd()) != 0 && !receive())
            break;
    }
}

// Reads what the client sent and acts on every complete message.
bool SimSession::receive()
{
    unsigned char buffer[4096];
    const int32_t n = c_recv(recv_, fd_, buffer, sizeof buffer);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    inbox_.insert(inbox_.end(), buffer, buffer + n);
    parseInbox();
    return alive_;
}

void SimSession::parseInbox()
{
    size_t pos = 0;
    while (alive_) {
        const size_t avail = inbox_.size() - pos;
        const unsigned char* p = inbox_.data() + pos;
        if (phase_ == Phase::Opening) {
            if (avail < openingSize)
                break;
            server_.log_.line("{\"type\":\"opening\",\"bytes\":128,\"last\":" + std::to_string(p[openingSize - 1]) + "}");
            pos += openingSize;
            phase_ = options_.greeting ? Phase::Greeting : Phase::Words;
            continue;
        }
        if (phase_ == Phase::Greeting) {
            if (avail < greetingSize)
                break;
            server_.log_.line("{\"type\":\"greeting\",\"cmd\":" + std::to_string(getLe32(p)) +
                              ",\"word1\":" + std::to_string(getLe32(p + 4)) + ",\"word2\":" +
                              std::to_string(getLe32(p + 8)) + ",\"text\":" + jsonString(p + 12, 13) + "}");
            pos += greetingSize;
            phase_ = Phase::Words;
            continue;
        }
        if (avail < 4)
            break;
        const uint32_t word = getLe32(p);
        const auto type = static_cast<uint16_t>(word & 0xFFFF);
        const size_t need = 4 + (type == cmdSelect ? 4 : type == cmdPassword ? 16 : 0);
        if (avail < need)
            break;
        pos += need;
        handleWord(type, static_cast<uint16_t>(word >> 16), p + 4);
    }
    // handleWord may have sent but never touches the inbox, so p stayed valid.
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void SimSession::handleWord(uint16_t type, uint16_t value, const unsigned char* extra)
{
    JsonLog& log = server_.log_;
    const std::string head = "{\"type\":" + std::to_string(type);
    switch (type) {
    case cmdSelect: {
        const uint32_t screenId = getLe32(extra);
        log.line(head + ",\"screen\":" + std::to_string(screenId) + "}");
        select(screenId);
        break;
    }
    case cmdPassword:
        log.line(head + ",\"digest\":\"" + hex(extra, 16) + "\"}");
        std::memcpy(server_.digest_, extra, 16);
        server_.screens_.log().notice("remote console password changed (next connection)");
        break;
    case cmdKey: {
        char keyword[8];
        std::snprintf(keyword, sizeof keyword, "0x%04x", value);
        log.line(head + ",\"value\":" + std::to_string(value) + ",\"keyword\":\"" + keyword + "\"}");
        if (SimScreen* screen = server_.screens_.find(currentId_))
            screen->key(value);
        break;
    }
    default:
        log.line(head + ",\"value\":" + std::to_string(value) + "}");
        break;
    }
    switch (type) {
    case cmdStart:
        start();
        break;
    case cmdCompressed:
        compressed_ = true;
        break;
    case cmdAck:
        awaitingAck_ = false;
        break;
    case cmdSignal:
        server_.screens_.log().notice("operator signal (word 8) received");
        break;
    case cmdRestart:
        server_.screens_.console().notice("*** Restart requested by the remote operator ***");
        server_.screens_.log().notice("restart requested");
        break;
    case cmdForcedRestart:
        server_.screens_.console().notice("*** Forced restart requested by the remote operator ***");
        server_.screens_.log().notice("forced restart requested");
        break;
    default:
        break;
    }
}

// The client finished its opening: it gets the screen list, the screen id
// and a full update, or the failure the command line asked for.
void SimSession::start()
{
    if (started_)
        return;
    started_ = true;
    floodUntil_ = Clock::now() + std::chrono::seconds(options_.floodSeconds);
    if (options_.garbageHeaders) {
        mode_ = Mode::Garbage;
        Bytes words;
        for (int k = 0; k < 40; ++k)
            putLe32(words, garbageWord());
        sendBytes(words);
        return;
    }
    sendScreenList();
    sendScreenId();
    if (options_.stall) {
        // A header for 100 bytes and only 10 of them, then silence.
        mode_ = Mode::Stalled;
        sendMessage(msgUpdate | (100u << 16), Bytes(10, 0));
        return;
    }
    if (options_.oversize) {
        // The largest length the field holds, far above what a client keeps;
        // the bytes follow so that a client reading them all would overflow.
        mode_ = Mode::Broken;
        sendMessage(msgUpdate | (0x7FFFu << 16), Bytes(0x7FFF, 0));
        return;
    }
    if (options_.negative) {
        mode_ = Mode::Broken;
        sendMessage(msgUpdate | (0xFFF0u << 16), Bytes(16, 0));
        return;
    }
    fullPending_ = true;
    maybeSendUpdate();
}

void SimSession::select(uint32_t screenId)
{
    if (server_.screens_.find(screenId)) {
        if (screenId != currentId_) {
            currentId_ = screenId;
            fullPending_ = true;
        }
    }
    // An unknown id is answered with the screen still shown.
    if (started_ && mode_ == Mode::Normal)
        sendScreenId();
}

void SimSession::sendScreenList()
{
    Bytes payload;
    putLe32(payload, 0);
    for (const auto& screen : server_.screens_.all()) {
        putLe32(payload, screen->id());
        putLe32(payload, static_cast<uint32_t>(screen->name().size()));
        payload.insert(payload.end(), screen->name().begin(), screen->name().end());
    }
    sendMessage(msgScreenList | (static_cast<uint32_t>(payload.size()) << 16), payload);
}

void SimSession::sendScreenId()
{
    Bytes payload;
    putLe32(payload, currentId_);
    sendMessage(msgScreenId | (4u << 16), payload);
}

// Sends the difference between what the client has and the screen now, one
// update at a time: the next waits for the acknowledgement of this one.
void SimSession::maybeSendUpdate()
{
    if (!started_ || awaitingAck_ || !alive_)
        return;
    SimScreen* screen = server_.screens_.find(currentId_);
    if (screen == nullptr)
        return;
    const ScreenImage& now = screen->nextFrame();
    if (!fullPending_ && now == sent_) {
        screen->frameSent();
        return;
    }
    Bytes payload = encodeScreenUpdate(fullPending_ ? nullptr : &sent_, now);
    uint32_t type = msgUpdate;
    // Compressed only when the client expands it within its limit and it pays.
    if (compressed_ && payload.size() <= static_cast<size_t>(expandLimit)) {
        Bytes packed = compressScreenData(payload.data(), payload.size());
        if (packed.size() < payload.size()) {
            payload.swap(packed);
            type = msgCompressed;
        }
    }
    if (payload.size() > static_cast<size_t>(payloadLimit))
        return;   // cannot happen for 80 x 25 screens; never send what a client cannot hold
    if (!sendMessage(type | (static_cast<uint32_t>(payload.size()) << 16), payload))
        return;
    // Only compressed updates are logged: they show that a client asked for them.
    if (type == msgCompressed)
        server_.log_.line("{\"sent\":6,\"screen\":" + std::to_string(currentId_) + ",\"bytes\":" +
                          std::to_string(payload.size()) + "}");
    sent_ = now;
    screen->frameSent();
    fullPending_ = false;
    awaitingAck_ = true;
}

void SimSession::heartbeat()
{
    Bytes word;
    putLe32(word, mode_ == Mode::Garbage ? garbageWord() : uint32_t{msgIgnored});
    sendBytes(word);
}

// A random header of a type that carries no payload, so that a client counts
// headers and never waits for a payload.
uint32_t SimSession::garbageWord()
{
    for (;;) {
        const uint32_t w = random_();
        const uint16_t type = w & 0xFFFF;
        if (type != msgScreenList && type != msgScreenId && type != msgUpdate && type != 5 && type != msgCompressed)
            return w;
    }
}

namespace {

// A peer's address and port: 127.0.0.1:5000, or [::1]:5000.
std::string peerText(const sockaddr_storage& peer)
{
    char name[INET6_ADDRSTRLEN] = "";
    if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        inet_ntop(AF_INET6, &v6.sin6_addr, name, sizeof name);
        return std::string("[") + name + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
    inet_ntop(AF_INET, &v4.sin_addr, name, sizeof name);
    return std::string(name) + ":" + std::to_string(ntohs(v4.sin_port));
}

}   // namespace

SimServer::SimServer(const SimOptions& options) : options_(options)
{
    passwordDigest(digest_, options_.password.c_str());
    options_.updateMs = std::max(options_.updateMs, 10);
    options_.heartbeatMs = std::max(options_.heartbeatMs, 0);
    started_ = Clock::now();
    nextTick_ = started_ + std::chrono::milliseconds(options_.updateMs);
    screens_.find(1)->rename(options_.consoleName);
}

SimServer::~SimServer()
{
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

int SimServer::open()
{
    if (!options_.logPath.empty() && !log_.open(options_.logPath)) {
        error_ = "cannot open log file " + options_.logPath + ": " + std::strerror(errno);
        return -1;
    }
    // An IPv4 or an IPv6 literal.
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, options_.bindAddress.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(options_.port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, options_.bindAddress.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(options_.port));
        length = sizeof *v6;
    } else {
        error_ = "not an IPv4 or IPv6 address: " + options_.bindAddress;
        return -1;
    }
    listenFd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // The port may be shared with sockets of the same user that set the option
    // too, such as one that holds it without listening while no server runs.
    if (options_.reusePort && setsockopt(listenFd_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0) {
        error_ = std::string("SO_REUSEPORT: ") + std::strerror(errno);
        return -1;
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listenFd_, 4) != 0) {
        error_ = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port) + ": " +
                 std::strerror(errno);
        return -1;
    }
    socklen_t size = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size);
    // The program starts only once the server listens.
    if (!options_.ptyArgs.empty()) {
        auto program = std::make_unique<ProgramScreen>(4, "Program");
        if (!program->start(options_.ptyArgs, error_))
            return -1;
        program_ = program.get();
        screens_.addFirst(std::move(program));
    }
    return ntohs(address.ss_family == AF_INET6 ? v6->sin6_port : v4->sin_port);
}

std::string SimServer::listenText(int port) const
{
    const bool v6 = options_.bindAddress.find(':') != std::string::npos;
    return (v6 ? "[" + options_.bindAddress + "]" : options_.bindAddress) + ":" + std::to_string(port);
}

void SimServer::serveProgram(bool watched)
{
    if (program_) {
        program_->watch(watched);
        program_->pump();
    }
}

int SimServer::programFd() const
{
    return program_ ? program_->waitFd() : -1;
}

void SimServer::tickIfDue()
{
    const TimePoint now = Clock::now();
    if (now < nextTick_)
        return;
    TickInfo info;
    info.count = ++ticks_;
    info.wallClock = std::time(nullptr);
    info.uptimeSeconds = std::chrono::duration<double>(now - started_).count();
    screens_.tick(info);
    // After a long stall, go on from now instead of catching up tick by tick.
    nextTick_ += std::chrono::milliseconds(options_.updateMs);
    if (nextTick_ <= now)
        nextTick_ = now + std::chrono::milliseconds(options_.updateMs);
}

int SimServer::run(volatile std::sig_atomic_t* stop)
{
    while (!*stop) {
        tickIfDue();
        serveProgram(false);
        if (!(waitFd(listenFd_, POLLIN, nextTick_, programFd()) & POLLIN))
            continue;
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        log_.line(std::string("{\"event\":\"accept\",\"peer\":\"") + peerText(peer) + "\"}");
        if (!options_.closeOnAccept) {
            SimSession session(*this, fd, stop);
            session.run();
        }
        ::close(fd);
        log_.line("{\"event\":\"close\"}");
    }
    return 0;
}
