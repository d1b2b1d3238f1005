#pragma once
#include <chrono>
#include <cstdint>
#include <memory>

#include "client/outbox.h"
#include "client/remotesession.h"
#include "console/cutil.h"

class rc4Cipher;

// What a session, or the connection for one, came to: the program's result
// codes, whose numbers the batch mode's exit statuses and the tests know.
enum sessionResult : int {
    resultEnded = 0,               // the operator ended it, or the server's greeting was not valid
    resultEscaped = -1,            // Esc while connecting, or while a tunnel waited for the server
    resultNoMemory = -2,
    resultServerClosed = 4001,     // the server closed the connection
    resultLinkLost = 4002,         // a socket error, or no screen in the time allowed
    resultPasswordRefused = 4003,  // no screen after 34 headers: the password was wrong
    resultConnectFailed = 4004,    // the TCP connection failed
    resultProxyRefused = 4005,     // the proxy refused the tunnel or did not answer
    resultProxyLineTooLong = 4006,
    resultNoSuchHost = 4007,       // the host name did not resolve (or the address is not valid)
};

// The 26-byte greeting record exchanged at the start of a session.
struct helloData {
    unsigned char bytes[26];

    void setCmd(uint32_t v) { setWord(0, v); }
    uint32_t getCmd() const { return getWord(0); }
    void setWord(int index, uint32_t v) {
        for (int b = 0; b < 4; ++b) bytes[index * 4 + b] = static_cast<unsigned char>(v >> (8 * b));
    }
    uint32_t getWord(int index) const {
        uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | bytes[index * 4 + b];
        return v;
    }
};

// What a link tells the one who shows its session. Each is called on the
// wait point's thread, while the link is in the middle of a pass.
class linkView {
public:
    virtual ~linkView() = default;
    // The update just painted into the model touched `rows`, and placed the
    // cursor when `cursor`.
    virtual void painted(const bool (&rows)[screenRows], bool cursor) = 0;
    // A unit arrived whole: the server does not keep the session waiting.
    virtual void progressed() {}
};

// The protocol of one session over its connected, non-blocking socket: the
// opening and the greetings, then the server's messages, painted into the
// session's model, told to its feed and acknowledged, and the session's
// output through its outbox. It never waits itself: whoever waits (the one
// wait point of the thread) hands it what it saw of the socket.
class sessionLink {
public:
    // The ciphers are keyed already; the receive one turns what arrives,
    // the send one what the outbox posts. With compressed, type 6 updates
    // are asked for and expanded. With screenWaitMs above 0, a session that
    // shows no screen within that many milliseconds ends as a lost link.
    sessionLink(remoteSession& session, rc4Cipher& sendCipher, rc4Cipher& recvCipher, int sock, bool compressed,
                int screenWaitMs);
    ~sessionLink();
    sessionLink(const sessionLink&) = delete;
    sessionLink& operator=(const sessionLink&) = delete;

    // False when the buffers could not be had: the session cannot run.
    bool usable() const { return static_cast<bool>(in_); }
    // Resets the session's state for a new connection, sends the opening
    // block and tells the feed; server: the description of the server.
    void start(const char* server, bool resumes);
    // What the wait saw of the socket (seen* bits): sends what waits, and
    // takes what arrived, a few units at a time.
    void pass(int seen);
    // What to wait for on the socket now.
    int events() const;
    // Ends the session after a pass that broke one of its rules: too many
    // headers without a screen (the password was wrong), or no screen in
    // the time allowed.
    void checkRules();
    // When the next rule falls due (the time allowed for the first screen),
    // -1 without one.
    long long ruleDueInMs() const;

    // Keys other than the end key wait for the first screen, for a payload
    // under way to be complete, and for the server to take our output.
    bool keysWait() const;
    // The server does not take our output: reading waits too.
    bool outputStuck() const { return outbox_.backlog() > outboxBacklogLimit; }
    bool leaving() const;
    void end(sessionResult result);
    sessionResult result() const { return result_; }
    // When a unit last arrived whole.
    std::chrono::steady_clock::time_point lastProgress() const { return lastProgress_; }
    sessionOutbox& outbox() { return outbox_; }
    // Tells the feed which screen the server shows, once it shows one.
    void announceScreen();

    // Where the server's greeting goes as it comes (null: nowhere).
    helloData* greetingOut = nullptr;
    // The server sent a greeting that was not valid, which is how a wrong
    // password often shows (what the opening block said was garbled).
    bool greetingInvalid = false;
    // After a reconnection: the screen to select again once the server
    // shows one and lists it (0: none).
    int32_t reselectScreenId = 0;
    linkView* view = nullptr;

private:
    remoteSession& session_;
    rc4Cipher& recvCipher_;
    int sock_;
    sessionOutbox outbox_;
    std::unique_ptr<unsigned char[]> in_;
    std::unique_ptr<unsigned char[]> out_;
    std::unique_ptr<unsigned char[]> unpacked_;   // null where compressed updates are not asked for
    int32_t expected_ = 0;
    int32_t received_ = 0;
    uint32_t msgType_ = 0;
    int32_t msgLen_ = 0;
    int32_t headerCount_ = 0;
    sessionResult result_ = resultEnded;
    std::chrono::steady_clock::time_point lastProgress_;
    std::chrono::steady_clock::time_point started_;
    const int screenWaitMs_;

    long long screenWaitLeft() const;
    bool receive();
    void completeUnit();
    void completeOpening();
    void completeGreeting();
    void completeHeader();
    void completePayload();
    void reselectScreen();
    void paint(const unsigned char* payload, int32_t length);
};
