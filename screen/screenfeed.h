#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "screen/remotescreen.h"

// Why a session ended, or an attempt to open one came to nothing.
enum class endReason {
    closedByOperator,   // the operator or a script ended it (or the server's greeting was not valid)
    linkLostRetrying,   // the link failed; the client tries again by itself at retryAt
    linkLostForGood,    // the link failed (the server closed it, or it broke); nothing follows
    passwordRefused,    // the server never showed a screen: the password was wrong
    connectionFailed,   // no connection could be made; words say why
};

struct sessionEnding {
    endReason reason = endReason::closedByOperator;
    std::chrono::steady_clock::time_point retryAt{};   // linkLostRetrying: when the next attempt begins
    std::string words;                                 // connectionFailed: why, in words

    bool linkLost() const { return reason == endReason::linkLostRetrying || reason == endReason::linkLostForGood; }
};

// What keeps or shows the remote screen (recordings, history, sharing,
// scripts) subscribes to the session's feed; it learns every change through
// these calls, on the session's thread, and must return quickly.
class screenWatcher {
public:
    virtual ~screenWatcher() = default;
    // A connection to screen.server is being made (also before each
    // attempt of an automatic reconnection).
    virtual void sessionConnecting(const remoteScreen& screen) {}
    // A session with screen.server began; resumed when it takes up one
    // whose link failed, after an automatic reconnection.
    virtual void sessionStarted(const remoteScreen& screen, bool resumed) {}
    // The rows marked in `rows` changed, and perhaps the cursor.
    virtual void rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) {}
    // Only the cursor moved.
    virtual void cursorMoved(const remoteScreen& screen) {}
    // The server shows another screen, or renamed the one it shows.
    virtual void screenShown(const remoteScreen& screen) {}
    // The session ended, or the connection for one failed, and why.
    virtual void sessionEnded(const remoteScreen& screen, const sessionEnding& how) {}
    // Called at least once a second while a session runs, and when dueInMs
    // says so: time for deferred work (flushing a file).
    virtual void tick() {}
    // Milliseconds until the watcher wants tick(); -1 when it does not.
    virtual long long dueInMs() const { return -1; }
};

// The one stream of changes to the remote screen. The session announces;
// watchers listen. Watchers are not owned and must unsubscribe before they go.
class screenFeed {
public:
    void subscribe(screenWatcher* w);
    void unsubscribe(screenWatcher* w);
    const remoteScreen& screen() const { return screen_; }
    // Whether the current session has shown a screen yet.
    bool live() const { return live_; }

    // The session's side.
    void connecting(const char* server);
    void started(const char* server, bool resumed);
    // The cell screen as painted now (the server's picture), with the rows
    // the update touched; the cursor as the update left it.
    void painted(const uint16_t (*cells)[screenCols], const bool (&rows)[screenRows], int x, int y);
    void shown(uint32_t id, const char* name);
    void ended(const sessionEnding& how);
    void tick();
    long long dueInMs() const;

    // Something a watcher wants the operator to read on the status row
    // (a failed recording), as UTF-8; taken by the session, once.
    void say(std::string text) { notice_ = std::move(text); }
    std::string takeNotice() { return std::exchange(notice_, std::string()); }

private:
    std::vector<screenWatcher*> watchers_;
    remoteScreen screen_;
    bool live_ = false;
    std::string notice_;
};
