#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/remotesession.h"
#include "client/sessionlink.h"
#include "console/waitpoint.h"
#include "crypto/rc4.h"
#include "net/sysnet.h"
#include "screen/sessioncontrol.h"

class ClientSocket;
class proxyInfo;

// One session of a sessionHost: its connection, its link and its state,
// and the control that what keeps or shows its screen may use.
class hostedSession final : public sessionControl {
public:
    hostedSession(waitPoint& waits, std::string name);
    ~hostedSession() override;
    hostedSession(const hostedSession&) = delete;
    hostedSession& operator=(const hostedSession&) = delete;

    // The session's screen model, screens, ids, keys and feed.
    remoteSession session;
    const std::string name;

    // Connects to host:port (an IPv4 address or a name) and starts the
    // session keyed by the password's digest, which is wiped. False when
    // there is no connection; the session has ended then, with result().
    bool open(const char* host, int port, unsigned char key[16]);
    // Keeps the session open: connects to host:port now without waiting for
    // the connection, and after a failed link or connection connects again
    // after pauses of reconnectDelaySeconds (1, 2, 4, 8, 16, then 30 s; from
    // 1 s again after a session that showed a screen), each attempt, the
    // connection and its first screen, within attemptMs. The feed tells
    // every attempt and every end: a link lost, or a failed connection of
    // a session that showed a screen before, as linkLostRetrying with the
    // time of the next attempt. The password's digest is kept for that and
    // wiped with the session; a refused password, or endSession, ends it.
    // Through the proxy entry `via` when given: each attempt connects to the
    // proxy and asks it for a CONNECT tunnel to host:port, its answer read as
    // it comes, within the attempt's time (the entry is copied, its password
    // wiped with the session). Through a tunnel entry, each attempt starts
    // its command (net/tunnel.h), whose standard input and output carry the
    // session; the command is ended with the attempt or the link.
    void keepOpen(std::string host, int port, const unsigned char key[16], const proxyInfo* via = nullptr);
    static constexpr int attemptMs = 15000;
    bool running() const { return link_ && !link_->leaving(); }
    // Running, connecting, or waiting for the next attempt.
    bool active() const { return running() || connecting_ || retry_ != 0; }
    sessionResult result() const { return result_; }
    // The server's greeting (words 1 and 2 are 0 without one).
    const helloData& greeting() const { return greeting_; }

    void sendKey(const INPUT_RECORD& key) override;
    void sendRawKey(uint16_t word) override;
    size_t keysQueued() const override { return session.keys.count(); }
    bool selectScreen(uint32_t id) override;
    const char* findScreen(uint32_t id) const override;
    uint32_t findScreenByName(std::string_view shown) const override;
    void endSession() override;
    void statusLine(const std::string& text) override { session.feed.say(text); }
    // There is no operator at a hosted session's own screen: messages go to
    // the feed's status line, modes are not opened.
    void messageBox(const char* text) override { session.feed.say(text); }
    void openMode(std::unique_ptr<screenMode>) override {}

private:
    waitPoint& waits_;
    std::unique_ptr<ClientSocket> socket_;
    rc4Cipher sendCipher_;
    rc4Cipher recvCipher_;
    std::unique_ptr<sessionLink> link_;
    helloData greeting_{};
    sessionResult result_ = resultEnded;
    int watch_ = 0;
    int timer_ = 0;
    bool inPass_ = false;
    // keepOpen's: where, the key, the next attempt's timer and its number,
    // the screen to select again.
    bool keep_ = false;
    bool stopped_ = false;
    bool connecting_ = false;
    bool everShown_ = false;
    std::string host_;
    int port_ = 0;
    unsigned char key_[16] = {};
    int retry_ = 0;
    int attempt_ = 0;
    int32_t lastScreenId_ = 0;
    // The proxy of a session kept open, and its answer being read: the line
    // so far, the lines before the status line and after it.
    std::string proxyHost_;
    int proxyPort_ = 0;
    std::string proxyUser_, proxyPassword_;
    bool proxyCredentials_ = false;
    std::string answer_;
    std::string tunnel_;   // a tunnel entry's command
    // Tunnel commands being ended off the wait point.
    struct tunnelEndings {
        std::mutex lock;
        std::condition_variable done;
        int pending = 0;
    };
    std::shared_ptr<tunnelEndings> endings_ = std::make_shared<tunnelEndings>();
    // The attempt's name lookup under way, its addresses and the next to try.
    struct lookupJob;
    std::shared_ptr<lookupJob> lookup_;
    std::vector<sockAddress> addresses_;
    size_t next_ = 0;
    int linesBefore_ = 0;
    int headerLines_ = -1;   // -1: no status line yet

    void startLink(bool resumes);
    void attempt();
    void connected();
    void startTunnel();
    void lookedUp(lookupJob& job);
    void forgetLookup();
    void connectNext();
    void closeSocket();
    void askProxy();
    void readProxyAnswer();
    bool proxyLine(const std::string& line);
    void proxyRefused(const std::string& why);
    void connectFailed(const std::string& why);
    void retryLater(sessionEnding& ending);
    void ready(int seen);
    void sendHeldKeys();
    void armTimer();
    void finish();
};

// Sessions side by side in one thread, all on its one wait point: however
// many there are, the thread sleeps until one of their sockets or timers
// has something, and an idle session costs no wake-up.
class sessionHost {
public:
    explicit sessionHost(waitPoint& waits) : waits_(waits) {}

    // A new session, not yet connected (see hostedSession::open); owned by
    // the host.
    hostedSession& add(std::string name);
    const std::vector<std::unique_ptr<hostedSession>>& sessions() const { return sessions_; }
    size_t running() const;
    // Running, connecting or waiting to reconnect.
    size_t active() const;
    // Turns the wait point until done says so (checked after each turn),
    // no session is active any more, or maxMs have passed (-1: no limit); true
    // when done said so or all have ended.
    bool runUntil(const std::function<bool()>& done, int maxMs = -1);

private:
    waitPoint& waits_;
    std::vector<std::unique_ptr<hostedSession>> sessions_;
};
