#include "client/sessionhost.h"

#include <cstdio>
#include <cstring>

#include "client/build.h"
#include "client/cmain.h"
#include "client/connect.h"
#include "client/pxylist.h"
#include "client/scrlist.h"
#include "client/sessionkeys.h"
#include "console/global.h"
#include "net/iclass.h"
#include "net/sutil.h"
#include "net/sysnet.h"
#include "net/tunnel.h"

// A name lookup on its own thread; owner is the session that still waits
// for it, and only the wait point's thread reads or changes it.
struct hostedSession::lookupJob {
    hostedSession* owner = nullptr;
    std::string host;
    int port = 0;
    hostLookupFn lookup;
    std::vector<sockAddress> addresses;
};

namespace {

constexpr uint32_t wordKey = 5;   // a key message: the key word in the high half

}  // namespace

hostedSession::hostedSession(waitPoint& waits, std::string sessionName) : name(std::move(sessionName)), waits_(waits) {}

hostedSession::~hostedSession() {
    forgetLookup();
    if (watch_) waits_.forget(watch_);
    if (timer_) waits_.cancel(timer_);
    if (retry_) waits_.cancel(retry_);
    // The tunnel commands still being ended are waited for (each is bounded).
    closeSocket();
    {
        std::unique_lock<std::mutex> hold(endings_->lock);
        endings_->done.wait(hold, [this] { return endings_->pending == 0; });
    }
    link_.reset();
    sendCipher_.wipe();
    recvCipher_.wipe();
    wipeMemory(key_, sizeof key_);
    wipeMemory(proxyPassword_.data(), proxyPassword_.size());
}

bool hostedSession::open(const char* host, int port, unsigned char key[16]) {
    std::memcpy(key_, key, sizeof key_);
    wipeMemory(key, 16);
    socket_ = std::make_unique<ClientSocket>(InternetAddress::resolve(host), htons(static_cast<uint16_t>(port)));
    if (!socket_->connected()) {
        result_ = resultConnectFailed;
        session.feed.ended(sessionEnding{endReason::connectionFailed, {}, "the connection was refused"});
        return false;
    }
    socket_->noblock();
    startLink(false);
    return link_ != nullptr;
}

// The session's protocol over the connected socket, keyed anew.
void hostedSession::startLink(bool resumes) {
    sendCipher_.setKey(key_, 16);
    recvCipher_.setKey(key_, 16);
    // Only a session kept open needs the key again.
    if (!keep_) wipeMemory(key_, sizeof key_);
    link_ = std::make_unique<sessionLink>(session, sendCipher_, recvCipher_, socket_->sock,
                                          thisBuild().compressedUpdates, keep_ ? attemptMs : 0);
    if (!link_->usable()) {
        link_.reset();
        result_ = resultNoMemory;
        return;
    }
    link_->greetingOut = &greeting_;
    if (resumes) link_->reselectScreenId = lastScreenId_;
    session.outbox = &link_->outbox();
    link_->start(name.c_str(), resumes);
    watch_ = waits_.watch(socket_->sock, link_->events(), [this](int seen) { ready(seen); });
    armTimer();
}

void hostedSession::keepOpen(std::string host, int port, const unsigned char key[16], const proxyInfo* via) {
    std::memcpy(key_, key, sizeof key_);
    if (via && via->hostName && *via->hostName) {
        proxyHost_ = via->hostName;
        proxyPort_ = via->port;
        proxyCredentials_ = via->userName && via->password;
        if (proxyCredentials_) {
            proxyUser_ = via->userName;
            proxyPassword_ = via->password;
        }
    }
    if (via && via->command) tunnel_ = via->command;
    host_ = std::move(host);
    port_ = port;
    keep_ = true;
    attempt();
}

// One attempt, within attemptMs: the tunnel command started, or the name
// looked up and a connection started without waiting for it, then its
// socket watched until it is made or has failed (and, through a proxy, the
// tunnel asked for).
void hostedSession::attempt() {
    retry_ = 0;
    if (stopped_) return;
    headerLines_ = -1;
    link_.reset();
    session.outbox = nullptr;
    session.feed.connecting(name.c_str());
    connecting_ = true;
    timer_ = waits_.at(waitPoint::clock::now() + std::chrono::milliseconds(attemptMs), [this] {
        timer_ = 0;
        connectFailed("no connection within " + std::to_string(attemptMs / 1000) + " s");
    });
    if (!tunnel_.empty()) return startTunnel();
    const bool viaProxy = !proxyHost_.empty();
    const std::string& host = viaProxy ? proxyHost_ : host_;
    const int port = viaProxy ? proxyPort_ : port_;
    addresses_.clear();
    next_ = 0;
    sockAddress literal;
    if (sockLiteralAddress(host.c_str(), port, literal)) {
        addresses_.push_back(literal);
        return connectNext();
    }
    // A name is looked up on a thread of its own, so that the other
    // sessions run on meanwhile; its answer comes back through the wait
    // point's mailbox to the session that still waits for it.
    auto job = std::make_shared<lookupJob>();
    job->owner = this;
    job->host = host;
    job->port = port;
    job->lookup = hostLookup ? hostLookup : hostLookupFn(sockResolveAll);
    lookup_ = job;
    auto mail = waits_.mail();
    const bool started = runDetached([job, mail] {
        job->addresses = job->lookup(job->host.c_str(), job->port);
        mail->post([job] {
            if (job->owner) job->owner->lookedUp(*job);
        });
    });
    if (!started) {
        // No thread to be had: looked up here.
        job->addresses = job->lookup(host.c_str(), port);
        lookedUp(*job);
    }
}

// The lookup's answer: the addresses to try, or a failed attempt.
void hostedSession::lookedUp(lookupJob& job) {
    lookup_.reset();
    job.owner = nullptr;
    if (job.addresses.empty()) {
        char message[128];
        resolveFailureText(message, sizeof message, job.host.c_str());
        return connectFailed(message);
    }
    addresses_ = std::move(job.addresses);
    connectNext();
}

// Drops the lookup under way, which finishes on its own.
void hostedSession::forgetLookup() {
    if (lookup_) lookup_->owner = nullptr;
    lookup_.reset();
}

// Connects to the next of the addresses without waiting for it: one that
// fails gives way to the next, all within the attempt's time.
void hostedSession::connectNext() {
    int error = sockErrTimedOut;
    while (next_ < addresses_.size()) {
        const sockAddress& address = addresses_[next_++];
        socket_ = std::make_unique<ClientSocket>();
        if (socket_->open(address.family()) != 0) {
            error = sockLastError();
            continue;
        }
        socket_->noblock();
        if (socket_->connectTo(address) == 0) return connected();
        error = sockLastError();
        if (!sockInProgress(error) && !sockWouldBlock(error)) continue;
        watch_ = waits_.watch(socket_->sock, waitWrite, [this](int) {
            const int failed = sockPendingError(socket_->sock);
            if (!failed) return connected();
            waits_.forget(watch_);
            watch_ = 0;
            if (next_ < addresses_.size()) connectNext();
            else connectFailed(sockErrorText(failed));
        });
        return;
    }
    connectFailed(sockErrorText(error));
}

void hostedSession::connected() {
    if (watch_) waits_.forget(watch_);
    watch_ = 0;
    socket_->state |= Socket::Connected;
    if (!proxyHost_.empty() && headerLines_ < 0) return askProxy();
    connecting_ = false;
    if (timer_) waits_.cancel(timer_);
    timer_ = 0;
    startLink(everShown_);
    if (!link_) connectFailed("no memory for the session");
}

// The tunnel command started for the attempt, its end of the connection
// watched as a connected socket's. A target that is not plain starts nothing.
void hostedSession::startTunnel() {
    char message[128];
    if (!tunnelTargetPlain(host_.c_str(), port_)) {
        resolveFailureText(message, sizeof message, host_.c_str());
        return connectFailed(message);
    }
    auto carrier = std::make_unique<TunnelSocket>();
    std::vector<std::string> args;
    const bool started =
        tunnelArguments(tunnel_.c_str(), host_.c_str(), port_, args) && carrier->start(args) == tunnelStarted;
    socket_ = std::move(carrier);
    if (!started) {
        std::snprintf(message, sizeof message, "Tunnel command '%.40s' has failed!", tunnel_.c_str());
        return connectFailed(message);
    }
    socket_->noblock();
    connected();
}

// Closes the connection; a tunnel's command is ended (and reaped) at once,
// not when the next attempt replaces it, on a thread of its own: a command
// that takes its grace to go holds that thread, not the wait point and the
// other sessions on it.
void hostedSession::closeSocket() {
    if (!socket_) return;
    socket_->close();   // a tunnel's command sees the end of its input now
    if (!dynamic_cast<TunnelSocket*>(socket_.get())) return;
    std::shared_ptr<TunnelSocket> tunnel(static_cast<TunnelSocket*>(socket_.release()));
    auto endings = endings_;
    {
        std::lock_guard<std::mutex> hold(endings->lock);
        ++endings->pending;
    }
    auto end = [endings](std::shared_ptr<TunnelSocket>& t) {
        t->finish();
        t.reset();
        std::lock_guard<std::mutex> hold(endings->lock);
        --endings->pending;
        endings->done.notify_all();
    };
    if (!runDetached([tunnel, end]() mutable { end(tunnel); })) end(tunnel);
}

// The CONNECT request to the proxy, then its answer watched for, still
// within the attempt's time.
void hostedSession::askProxy() {
    connecting_ = true;
    answer_.clear();
    linesBefore_ = 0;
    auto request = std::make_unique<char[]>(proxyMessageLen + 1);
    const int len = proxyRequest(request.get(), host_.c_str(), port_, proxyCredentials_ ? proxyUser_.c_str() : nullptr,
                                 proxyCredentials_ ? proxyPassword_.c_str() : nullptr);
    const int sent = len < 0 ? -1 : sendAll(socket_->sock, request.get(), len);
    const int error = sockLastError();
    wipeMemory(request.get(), proxyMessageLen + 1);   // it holds the credentials
    if (sent != 0) return proxyRefused(len < 0 ? "" : sockErrorText(error));
    watch_ = waits_.watch(socket_->sock, waitRead, [this](int) { readProxyAnswer(); });
}

// What the proxy answered so far, one byte at a time so that nothing of the
// session after the answer is taken; a line at most proxyMessageLen - 1
// characters long.
void hostedSession::readProxyAnswer() {
    for (;;) {
        char c = 0;
        const int got = sockRecv(socket_->sock, &c, 1);
        if (got == 0) return proxyRefused("The proxy closed the connection");
        if (got < 0) {
            const int error = sockLastError();
            if (sockInterrupted(error)) continue;
            if (!sockWouldBlock(error)) proxyRefused(sockErrorText(error));
            return;
        }
        if (c != '\n') {
            if (answer_.size() + 1 >= proxyMessageLen) return proxyRefused("The proxy's answer has a line too long");
            answer_ += c;
            continue;
        }
        std::string line(strip(answer_.data()));
        answer_.clear();
        if (!proxyLine(line)) return;
    }
}

// One line of the proxy's answer: one empty line may come before the status
// line, which must grant the tunnel; an empty line ends the header, of at
// most proxyHeaderLinesMax lines. False once the answer is over.
bool hostedSession::proxyLine(const std::string& line) {
    if (headerLines_ < 0) {
        if (line.empty() && linesBefore_++ == 0) return true;
        if (!proxyGranted(line.c_str())) {
            proxyRefused(line);
            return false;
        }
        headerLines_ = 0;
        return true;
    }
    if (line.empty()) {
        connected();
        return false;
    }
    if (++headerLines_ < proxyHeaderLinesMax) return true;
    proxyRefused("");
    return false;
}

// A refusal, or an answer that could not be read, fails the attempt with
// the proxy's words.
void hostedSession::proxyRefused(const std::string& why) {
    const std::string text = proxyFailureText(proxyHost_.c_str(), proxyPort_);
    connectFailed(why.empty() ? text : text + " " + why);
}

void hostedSession::connectFailed(const std::string& why) {
    headerLines_ = -1;
    answer_.clear();
    connecting_ = false;
    forgetLookup();
    if (watch_) waits_.forget(watch_);
    if (timer_) waits_.cancel(timer_);
    watch_ = timer_ = 0;
    closeSocket();
    result_ = resultConnectFailed;
    sessionEnding ending{endReason::connectionFailed, {}, why};
    retryLater(ending);
    // The console that showed a screen before lost its link: that is what
    // it still says while the server cannot be reached.
    if (everShown_) ending.reason = endReason::linkLostRetrying;
    session.feed.ended(ending);
}

// The next attempt of a session kept open, after its pause; ending gets
// its time.
void hostedSession::retryLater(sessionEnding& ending) {
    if (!keep_ || stopped_) return;
    ending.retryAt = waitPoint::clock::now() + std::chrono::seconds(reconnectDelaySeconds(attempt_++));
    retry_ = waits_.at(ending.retryAt, [this] { attempt(); });
}

// One pass of the session for what its socket showed (0: a timer fell due).
void hostedSession::ready(int seen) {
    if (!running()) return;
    inPass_ = true;
    link_->pass(seen);
    if (running()) session.feed.tick();
    if (running() && !link_->keysWait()) sendHeldKeys();
    if (running()) link_->checkRules();
    inPass_ = false;
    if (!running()) {
        finish();
        return;
    }
    waits_.change(watch_, link_->events());
    armTimer();
}

// The keys queued go out as key messages, as far as the server takes them.
void hostedSession::sendHeldKeys() {
    INPUT_RECORD record{};
    while (!link_->keysWait() && session.keys.take(&record))
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            link_->outbox().postWord(wordKey | (uint32_t{sessionKeyWord(record.Event.KeyEvent)} << 16));
}

// One timer, for what falls due first: the time allowed for the first
// screen, or what a watcher of the screen waits for.
void hostedSession::armTimer() {
    long long due = -1;
    for (const long long left : {link_->ruleDueInMs(), session.feed.dueInMs()})
        if (left >= 0 && (due < 0 || left < due)) due = left;
    if (timer_) waits_.cancel(timer_);
    timer_ = 0;
    if (due >= 0)
        timer_ = waits_.at(waitPoint::clock::now() + std::chrono::milliseconds(due), [this] {
            timer_ = 0;
            ready(0);
        });
}

void hostedSession::finish() {
    result_ = link_->result();
    if (watch_) waits_.forget(watch_);
    if (timer_) waits_.cancel(timer_);
    watch_ = timer_ = 0;
    sessionEnding ending;
    if (result_ == resultPasswordRefused || link_->greetingInvalid) ending.reason = endReason::passwordRefused;
    else if (result_ == resultServerClosed || result_ == resultLinkLost) ending.reason = endReason::linkLostForGood;
    session.outbox = nullptr;
    session.keys.drop();
    if (session.sessionEstablished) {
        everShown_ = true;
        attempt_ = 0;
        lastScreenId_ = session.currentScreenId;
    }
    if (ending.reason != endReason::passwordRefused && result_ != resultEnded) {
        retryLater(ending);
        if (retry_) ending.reason = endReason::linkLostRetrying;
    }
    session.feed.ended(ending);
    closeSocket();
}

void hostedSession::sendKey(const INPUT_RECORD& key) {
    session.keys.hold(key);
    if (running() && !link_->keysWait()) {
        sendHeldKeys();
        waits_.change(watch_, link_->events());
    }
}

void hostedSession::sendRawKey(uint16_t word) {
    if (!running()) return;
    link_->outbox().postWord(wordKey | (uint32_t{word} << 16));
    waits_.change(watch_, link_->events());
}

bool hostedSession::selectScreen(uint32_t id) {
    if (!running()) return false;
    const bool sent = ::selectScreen(id, session.currentScreenId, session.previousScreenId, link_->outbox()) != 0;
    waits_.change(watch_, link_->events());
    return sent;
}

const char* hostedSession::findScreen(uint32_t id) const {
    const serverScreen* s = session.screens.find(id);
    return s ? s->name : nullptr;
}

uint32_t hostedSession::findScreenByName(std::string_view shown) const {
    const serverScreen* s = session.screens.findByName(shown);
    return s ? s->id : 0;
}

// Called from within the session's own pass (a watcher of its feed), the
// pass finishes it; otherwise it is finished here.
void hostedSession::endSession() {
    session.keys.drop();
    stopped_ = true;
    if (retry_ || connecting_) {
        if (retry_) waits_.cancel(retry_);
        if (watch_) waits_.forget(watch_);
        if (timer_) waits_.cancel(timer_);
        retry_ = watch_ = timer_ = 0;
        connecting_ = false;
        forgetLookup();
        closeSocket();
        session.feed.ended(sessionEnding{});
        return;
    }
    if (!running()) return;
    link_->end(resultEnded);
    if (!inPass_) finish();
}

hostedSession& sessionHost::add(std::string name) {
    sessions_.push_back(std::make_unique<hostedSession>(waits_, std::move(name)));
    return *sessions_.back();
}

size_t sessionHost::running() const {
    size_t n = 0;
    for (const auto& s : sessions_) n += s->running() ? 1 : 0;
    return n;
}

size_t sessionHost::active() const {
    size_t n = 0;
    for (const auto& s : sessions_) n += s->active() ? 1 : 0;
    return n;
}

bool sessionHost::runUntil(const std::function<bool()>& done, int maxMs) {
    const auto until = waitPoint::clock::now() + std::chrono::milliseconds(maxMs);
    for (;;) {
        if ((done && done()) || active() == 0) return true;
        int left = -1;
        if (maxMs >= 0) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - waitPoint::clock::now()).count();
            if (ms <= 0) return false;
            left = static_cast<int>(ms);
        }
        waits_.turn(left);
    }
}
