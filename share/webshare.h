#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "screen/screenfeed.h"
#include "screen/sessionaction.h"

// A read-only view of the remote screen in a browser: a small web server
// inside the client serves one page at http://ADDR:PORT/<token>/, and sends
// it the screen as it changes, as Server-Sent Events from <token>/events.

// What a page is told of the session.
enum class shareStatus { waiting, live, linkLost, ended };

// The screen as the viewers see it, between the session's thread (which
// writes it) and the server's threads (which read it), under one lock. Each
// viewer has a slot that records what changed since it was last sent: a
// slow viewer gets the latest state, never a queue.
class shareHub {
public:
    static constexpr int maxViewers = 16;

    // The session's side; quick, never waits for a viewer.
    void setRows(const remoteScreen& screen, const bool* rows);   // rows null: every row
    void setName(const std::string& name);
    void setStatus(shareStatus status);

    // The server's side. A slot for a new viewer (all of the screen to
    // send), or -1 when there are maxViewers already.
    int join();
    // Waits at most wait for the viewer's slot to have something to send:
    // true with the message to send ("" when nothing came in that time),
    // false when the viewer must stop.
    bool next(int slot, std::string& message, std::chrono::milliseconds wait);
    void leave(int slot);
    // Every viewer's next() returns false once its slot has nothing more.
    void finish();
    // Whether no viewer has anything left to send.
    bool drained();
    int viewers();

    // The message that brings a page from nothing (or its rows) to this
    // state: {"s":status,"n":name,"r":[[row,text,attributes],...]} with the
    // text as UTF-8 glyphs and the attributes as two hex digits a cell.
    static std::string message(shareStatus status, const std::string* name, const uint16_t (*cells)[screenCols],
                               uint32_t rows);

private:
    struct slotState {
        bool used = false;
        uint32_t rows = 0;   // bit r: row r changed since it was sent
        bool name = false;
        bool status = false;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    uint16_t cells_[screenRows][screenCols] = {};
    std::string name_;
    shareStatus status_ = shareStatus::waiting;
    bool finished_ = false;
    slotState slots_[maxViewers];
};

// The running web server; it ends (and its threads with it) when destroyed.
class shareServer {
public:
    virtual ~shareServer() = default;
    virtual const std::string& url() const = 0;
    virtual shareHub& hub() = 0;
};

// Starts a server on host:port (port 0: a free one); null with the reason
// in error when it cannot. Builds without a server always fail.
std::unique_ptr<shareServer> startShareServer(const std::string& host, int port, std::string& error);
// Whether this build can share at all.
bool shareAvailable();
extern const char* const shareUnavailableText;

// host and port of "ADDR", "ADDR:PORT" or ":PORT": one IPv4 address in
// dotted decimal (127.0.0.1 when left out) and one port (0, a free one,
// when left out). "" when text is one of these, else what is wrong with it.
std::string parseShareAddress(const std::string& text, std::string& host, int& port);
// The warning for a share that listens on host, "" for a loopback address.
std::string shareAddressWarning(const std::string& host);
// Whether text is an IPv4 address in dotted decimal: four numbers from 0
// to 255, without leading zeros.
bool ipv4Literal(std::string_view text);

// What the program asks of its share: one for the whole run (--share),
// listening on address ("": 127.0.0.1 with a free port).
struct shareOptions {
    bool forRun = false;
    std::string address;
};

// The watcher that feeds the hub and owns the server. Started from the
// session menu, the share ends with that session; started for the run
// (--share), it shows every session of the run and ends with the program.
class webShare : public screenWatcher {
public:
    webShare(screenFeed& feed, shareOptions options);
    ~webShare() override;
    webShare(const webShare&) = delete;
    webShare& operator=(const webShare&) = delete;

    bool sharing() const { return server_ != nullptr; }
    // The page's address while sharing, else "".
    std::string url() const;
    // Starts the server on address ("" for 127.0.0.1 with a free port);
    // what the status row should say, and false in ok when it failed.
    std::string start(const std::string& address, bool forRun, bool* ok = nullptr);
    std::string stop();
    // The share of the run, when the options ask for one: "" when it
    // started or was not asked for, else why it could not start.
    std::string startForRun();

    void sessionStarted(const remoteScreen& screen, bool resumed) override;
    void rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) override;
    void cursorMoved(const remoteScreen&) override {}
    void screenShown(const remoteScreen& screen) override;
    void sessionEnded(const remoteScreen& screen, const sessionEnding& how) override;
    void tick() override;

private:
    screenFeed& feed_;
    const shareOptions options_;
    std::unique_ptr<shareServer> server_;
    bool forRun_ = false;
    bool urlSaid_ = false;
    int viewersSaid_ = 0;
    // A server whose last state is still going out to its viewers, ended
    // on a thread of its own so that the session does not wait for it.
    std::thread retiring_;

    void retire(bool drain);
};

// The session menu's "Show share address" while the share runs: a box with
// the whole address (the status row shows it only a while), put on the
// terminal's clipboard where the terminal can take it.
class shareAddressAction : public sessionAction {
public:
    explicit shareAddressAction(const webShare& share) : share_(share) {}
    std::string menuText() const override { return share_.sharing() ? "Show share address" : ""; }
    after run(sessionControl& session) override;

private:
    const webShare& share_;
};

// The session menu's "Share in a browser (read-only)", which reads "Stop
// sharing" while the share runs. Started here, the share ends with the
// session.
class shareAction : public sessionAction {
public:
    explicit shareAction(webShare& share) : share_(share) {}
    std::string menuText() const override;
    after run(sessionControl& session) override;

private:
    webShare& share_;
};
