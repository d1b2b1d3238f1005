#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>

#include "client/build.h"
#include "client/cmain.h"
#include "client/outbox.h"
#include "client/scrlist.h"
#include "client/sessionkeys.h"
#include "console/cp437.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyhold.h"
#include "screen/decode.h"
#include "console/term.h"
#include "console/wait.h"
#include "crypto/ccomm.h"
#include "net/iclass.h"
#include "net/sutil.h"
#include "net/sysnet.h"
#include "net/tunnel.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int idleWaitMs = 1000;           // a safety net: signals end the waits themselves
constexpr auto hintAfter = std::chrono::seconds(3);
constexpr int catchUpQuietMs = 150;   // how long a server that is done is quiet
constexpr int32_t stateHeader = 2;        // the protocol state once the greetings are done

// The status row while the client has something to say over the server's
// picture: that the server keeps the session waiting (and how to leave), or
// for a few seconds a notice about a key. The server's own row comes back
// when the hint is no longer true or the notice's time is up; what the
// server paints on it meanwhile goes under the notice.
class statusNote {
public:
    statusNote(_win_st* window, const remoteScreen& model) : window_(window), model_(model) {}
    bool hintShown() const { return shown_ && !notice_; }
    // Whether the client's words cover the server's status row.
    bool covering() const { return shown_; }
    void showHint() {
        if (hintShown()) return;
        shown_ = true;
        notice_ = false;
        static const char action[] = "=End remote session";
        const int keyLen = static_cast<int>(std::strlen(endSessionKeyName()));
        const int at = screenCols - 1 - keyLen - static_cast<int>(sizeof action - 1);
        consoleTextLine(window_, 0, 24, "Waiting for the server's screen...", 80, 0x71);
        consoleTextLine(window_, at, 24, endSessionKeyName(), keyLen, 0x70);
        consoleTextLine(window_, at + keyLen, 24, action, static_cast<int>(sizeof action - 1), 0x71);
    }
    void hideHint() {
        if (hintShown()) hide();
    }
    // Whatever is shown goes, the server's row back in place.
    void dismiss() {
        if (shown_) hide();
    }
    void showNotice(const char* text) {
        shown_ = true;
        notice_ = true;
        std::snprintf(text_, sizeof text_, "%s", fitToRow(text).c_str());
        until_ = Clock::now() + noticeTime;
        consoleTextLine(window_, 0, 24, text_, screenCols, 0x71);
    }
    // Milliseconds until the notice goes (0 when due), -1 without one.
    long long noticeLeft() const {
        if (!shown_ || !notice_) return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until_ - Clock::now()).count();
        return left > 0 ? left : 0;
    }
    void hideDueNotice() {
        if (noticeLeft() == 0) hide();
    }

private:
    static constexpr auto noticeTime = std::chrono::seconds(3);
    _win_st* window_;
    const remoteScreen& model_;
    bool shown_ = false;
    bool notice_ = false;
    char text_[screenCols + 1] = {};
    Clock::time_point until_{};

    // The terminal shows the server's status row again.
    void hide() {
        std::memcpy(screenBuf[screenRows - 1], model_.cells[screenRows - 1], sizeof screenBuf[0]);
        updateScreen(window_, screenRows - 1, 1);
        shown_ = false;
    }
};

// The session the operator is in: its link to the server, shown on the
// terminal, with the status row's notes, a mode over the screen when one
// is open, and the keys.
class sessionRun final : public linkView {
public:
    sessionRun(consoleMain& app, waitPoint& waits, int fd, int screenWaitMs)
        : app_(app), waits_(waits), fd_(fd),
          link_(app.session, app.sendCipher, app.recvCipher, fd, thisBuild().compressedUpdates, screenWaitMs),
          note_(app.window, app.session.model) {
        link_.view = this;
        link_.greetingOut = &app.serverGreeting;
        link_.reselectScreenId = app.reselectScreenId;
        app_.session.outbox = &link_.outbox();
        app_.catchUp = [this] { catchUp(); };
    }
    ~sessionRun() override {
        app_.reselectScreenId = link_.reselectScreenId;
        app_.session.outbox = nullptr;
        app_.catchUp = nullptr;
    }
    sessionRun(const sessionRun&) = delete;
    sessionRun& operator=(const sessionRun&) = delete;

    bool usable() const { return link_.usable(); }
    int run();

    void painted(const bool (&rows)[screenRows], bool cursor) override {
        if (mode_) drawMode();
        else showRows(rows, cursor);
    }
    void progressed() override { note_.hideHint(); }

private:
    consoleMain& app_;
    waitPoint& waits_;
    int fd_;
    sessionLink link_;
    statusNote note_;
    std::unique_ptr<screenMode> mode_;   // a mode over the screen (the history view), while open
    int seen_ = 0;                       // what this turn of the wait saw

    bool leavingNow() const { return link_.leaving(); }
    void end(sessionResult result) { link_.end(result); }
    void passNotice();
    void openMode(std::unique_ptr<screenMode> mode);
    void drawMode();
    void closeMode();
    void showRows(const bool (&rows)[screenRows], bool cursor);
    void watchKeys(bool inputReady);
    void handleKey();
    void catchUp();
    int waitTimeout() const;
};

// Puts the model's rows flagged in `rows` on the terminal (the status row
// stays under the client's words while they cover it), and the model's
// cursor when asked; one refresh for all.
void sessionRun::showRows(const bool (&rows)[screenRows], bool cursor) {
    const remoteScreen& model = app_.session.model;
    Terminal* t = terminal();
    bool any = false;
    for (int r = 0; r < screenRows; ++r) {
        if (!rows[r] || (r == screenRows - 1 && note_.covering())) continue;
        std::memcpy(screenBuf[r], model.cells[r], sizeof screenBuf[r]);
        t->putRow(r, screenBuf[r]);
        any = true;
    }
    if (cursor) {
        cursorX = static_cast<int16_t>(model.cursorX);
        cursorY = static_cast<int16_t>(model.cursorY);
        t->moveCursor(cursorX, cursorY);
    }
    if (any || cursor) t->refresh();
}

void sessionRun::openMode(std::unique_ptr<screenMode> mode) {
    note_.dismiss();
    mode_ = std::move(mode);
    drawMode();
}

void sessionRun::drawMode() {
    int x = 0, y = 0;
    mode_->draw(screenBuf, x, y);
    updateScreen(app_.window, 0, screenRows);
    SetConsoleCursorPosition(app_.window, COORD{static_cast<int16_t>(x), static_cast<int16_t>(y)});
}

// The live screen comes back as the server last painted it.
void sessionRun::closeMode() {
    mode_.reset();
    bool all[screenRows];
    std::fill(std::begin(all), std::end(all), true);
    showRows(all, true);
}

// What a watcher of the screen (a recording) has to say goes on the status
// row; its file names hold glyphs as UTF-8, which the row shows as they are.
void sessionRun::passNotice() {
    if (mode_) return;   // kept until the mode closes
    const std::string text = cp437FromUtf8(app_.session.feed.takeNotice());
    if (!text.empty()) note_.showNotice(text.c_str());
}

// While other keys must wait, the keyboard is still read so that the end key
// acts at once; the keys read meanwhile are kept, in order, for later.
void sessionRun::watchKeys(bool inputReady) {
    // A terminal without a descriptor (a scripted one) is read only while it
    // says it holds keys.
    inputReady = inputReady && terminal()->inputFd() >= 0;
    while (inputReady || terminal()->keyPending()) {
        inputReady = false;
        INPUT_RECORD record{};
        const int got = pollTerminalKey(&record);
        if (got < 0) {
            end(resultEnded);   // the terminal is gone: leave in order
            return;
        }
        if (got == 0) return;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        if (isEndSessionKey(record.Event.KeyEvent)) {
            end(resultEnded);
            return;
        }
        // A tunnel is still connecting until the server greets: Esc gives up
        // as it does while a socket connects.
        if (record.Event.KeyEvent.wVirtualKeyCode == kcEsc && app_.session.protocolState < stateHeader &&
            dynamic_cast<TunnelSocket*>(app_.socket)) {
            end(resultEscaped);
            return;
        }
        app_.session.keys.hold(record);
    }
}

// The server sends an update only once the one before is acknowledged: what
// it sent while a menu stood open is taken and acknowledged, and what it
// sends after that, until it has been quiet for a moment (a second at most).
void sessionRun::catchUp() {
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (!leavingNow() && !link_.outputStuck() && Clock::now() < until) {
        if (link_.outbox().backlog() > 0) link_.outbox().flush();
        const int seen = waitSocketOrKey(fd_, waitRead, catchUpQuietMs, false);
        if ((seen & seenReadable) == 0) break;
        link_.pass(seen & ~seenWritable);
    }
}

// Takes one key event, if any, and hands it to the key handler.
void sessionRun::handleKey() {
    INPUT_RECORD record{};
    int got = waitKey(app_.window, &record, 0);
    if (got < 0) {
        end(resultEnded);   // the terminal is gone: leave in order
        return;
    }
    if (got > 0 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
        // While a mode is open no key reaches the server; the end key still ends.
        if (!mode_) app_.onKey(record.Event.KeyEvent);
        else if (isEndSessionKey(record.Event.KeyEvent)) end(resultEnded);
        else if (!mode_->key(record.Event.KeyEvent)) closeMode();
        else drawMode();
    }
    if (app_.pendingMode) {
        std::unique_ptr<screenMode> asked = std::move(app_.pendingMode);
        if (!mode_ && !leavingNow()) openMode(std::move(asked));
    }
    if (app_.untypable) {
        char text[40];
        std::snprintf(text, sizeof text, "Not in code page 437: U+%04X", static_cast<unsigned>(app_.untypable));
        note_.showNotice(text);
        app_.untypable = 0;
    }
    // A dialog of the key handler may have sent while the loop stood still.
    if (!leavingNow() && link_.outbox().failure()) end(static_cast<sessionResult>(link_.outbox().failure()));
}

// How long the loop may sleep: not at all while keys can be handled, until
// the hint is due while the server keeps the session waiting or the time for
// the first screen runs out, and never so long that a termination request
// goes unseen.
int sessionRun::waitTimeout() const {
    if (!link_.keysWait() && app_.session.keys.count() > 0) return 0;
    long long wait = idleWaitMs;
    if (link_.keysWait() && !note_.hintShown()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(link_.lastProgress() + hintAfter - Clock::now());
        wait = std::min<long long>(wait, left.count());
    }
    for (const long long left : {link_.ruleDueInMs(), note_.noticeLeft(), app_.session.feed.dueInMs()})
        if (left >= 0) wait = std::min(wait, left);
    return wait > 0 ? static_cast<int>(wait) : 0;
}

// The loop of the session on the thread's wait point: the socket, the keys,
// and one timer for what falls due next (the hint, a notice, the first
// screen's time, what the screen's watchers wait for).
int sessionRun::run() {
    link_.start(app_.sessionServer.c_str(), app_.sessionResumes);
    const int watch = waits_.watch(fd_, link_.events(), [this](int seen) { seen_ |= seen; });
    waits_.watchKeys([this] { seen_ |= seenKeys; });

    while (!leavingNow()) {
        if (EXIT) {
            end(resultEnded);
            break;
        }
        waits_.change(watch, link_.events());
        seen_ = 0;
        const int due = waits_.at(Clock::now() + std::chrono::milliseconds(waitTimeout()), [] {});
        waits_.turn();
        waits_.cancel(due);
        const int seen = seen_;
        note_.hideDueNotice();
        if (link_.keysWait()) {
            watchKeys((seen & seenKeys) != 0);
            if (leavingNow()) break;
        }
        link_.pass(seen);
        if (leavingNow()) break;
        app_.session.feed.tick();
        if (leavingNow()) break;   // a watcher (a script) ended the session
        passNotice();
        if (!link_.keysWait()) {
            if (app_.session.keys.count() > 0 || (seen & seenKeys)) {
                handleKey();
                link_.announceScreen();
                passNotice();
            }
        } else {
            link_.checkRules();
            if (!leavingNow() && Clock::now() - link_.lastProgress() >= hintAfter) note_.showHint();
        }
    }
    waits_.watchKeys(nullptr);
    waits_.forget(watch);
    const sessionResult result = link_.result();
    sessionEnding ending = app_.endingOf(result);
    // A greeting that is not valid most often comes of a wrong password.
    app_.greetingInvalid = link_.greetingInvalid;
    if (link_.greetingInvalid) ending.reason = endReason::passwordRefused;
    app_.session.feed.ended(ending);
    return result;
}

// Puts the socket in non-blocking mode for the session and back afterwards.
class nonBlockingScope {
public:
    explicit nonBlockingScope(Socket* s) : s_(s) { s_->noblock(); }
    ~nonBlockingScope() { s_->block(); }
    nonBlockingScope(const nonBlockingScope&) = delete;
    nonBlockingScope& operator=(const nonBlockingScope&) = delete;

private:
    Socket* s_;
};

// Reads the terminal raw for the session and as before afterwards.
class rawKeysScope {
public:
    rawKeysScope() : t_(terminal()) { t_->rawKeys(true); }
    ~rawKeysScope() { t_->rawKeys(false); }
    rawKeysScope(const rawKeysScope&) = delete;
    rawKeysScope& operator=(const rawKeysScope&) = delete;

private:
    Terminal* t_;
};

}  // namespace

// Runs one session on the connected socket with the session key; returns 0
// when it ended normally, -2 without buffers, 4001 closed, 4002 socket error,
// 4003 when no screen was ever reported (wrong password), -1 on Esc while a
// tunnel still waited for the server. With screenWaitMs above 0, a session
// that shows no screen within that many milliseconds ends with 4002.
sessionResult consoleMain::processConnection(int screenWaitMs) {
    typedChar.reset();
    untypable = 0;
    pendingMode.reset();

    sendCipher.setKey(sessionKey, 16);
    recvCipher.setKey(sessionKey, 16);
    wipeMemory(sessionKey, sizeof sessionKey);
    // The keyed states go with the session, however it ends.
    struct cipherWipe {
        rc4Cipher& a;
        rc4Cipher& b;
        ~cipherWipe() {
            a.wipe();
            b.wipe();
        }
    } wipeOnEnd{sendCipher, recvCipher};

    const int fd = socket ? socket->sock : -1;
    int result = 0;
    {
        sessionRun running(*this, waits, fd, screenWaitMs);
        if (!running.usable()) return resultNoMemory;
        if (fd < 0) return resultLinkLost;
        nonBlockingScope nonBlocking(socket);
        rawKeysScope raw;
        heldKeysInFront front(&session.keys);
        result = running.run();
    }
    // Keys kept for the session mean nothing to the lists.
    session.keys.drop();
    return static_cast<sessionResult>(result);
}
