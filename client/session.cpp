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

constexpr int32_t openingLen = 128;
constexpr int32_t greetingLen = 26;
constexpr int32_t headerLen = 4;
constexpr int32_t maxHeadersWithoutScreen = 34;
constexpr uint32_t startWord = 1;          // type 1, value 0
constexpr uint32_t compressedStartWord = 20;   // type 20: this client expands type 6
constexpr uint32_t ackWord = 0x10004;      // type 4, value 1
constexpr char serverReady[] = "QUORVEX Ready";
constexpr char clientReady[] = "QUORCLI Ready";
constexpr int readyLen = 13;
constexpr int idleWaitMs = 1000;           // a safety net: signals end the waits themselves
constexpr auto hintAfter = std::chrono::seconds(3);
constexpr int catchUpQuietMs = 150;   // how long a server that is done is quiet
constexpr int unitsPerPass = 16;           // headers and payloads taken in one turn of the loop

enum : int32_t { stateOpening = 0, stateGreeting = 1, stateHeader = 2, statePayload = 3 };
enum : int32_t { receiving = 0, unitComplete = 1, leaving = 2 };
enum : uint32_t { msgScreenList = 0, msgScreenId = 2, msgScreenUpdate = 3, msgIgnored = 5, msgCompressed = 6 };

uint32_t readWord(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

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

// One session: the receive state machine over the encrypted connection,
// the keys, and the output that waits for the socket.
class sessionRun {
public:
    sessionRun(consoleMain& app, unsigned char* recvBuf, unsigned char* sendBuf, unsigned char* unpackBuf, int fd,
               int screenWaitMs)
        : app_(app), in_(recvBuf), out_(sendBuf), unpacked_(unpackBuf), fd_(fd), outbox_(app.sendCipher, fd),
          note_(app.window, app.session.model), screenWaitMs_(screenWaitMs) {
        app_.session.outbox = &outbox_;
        app_.catchUp = [this] { catchUp(); };
    }
    ~sessionRun() {
        app_.session.outbox = nullptr;
        app_.catchUp = nullptr;
    }
    sessionRun(const sessionRun&) = delete;
    sessionRun& operator=(const sessionRun&) = delete;

    int run();

private:
    consoleMain& app_;
    unsigned char* in_;
    unsigned char* out_;
    unsigned char* unpacked_;   // null where compressed updates are not understood
    int fd_;
    sessionOutbox outbox_;
    statusNote note_;
    std::unique_ptr<screenMode> mode_;   // a mode over the screen (the history view), while open
    int32_t expected_ = openingLen;
    int32_t received_ = 0;
    uint32_t msgType_ = 0;
    int32_t msgLen_ = 0;
    int32_t headerCount_ = 0;
    sessionResult result_ = resultEnded;
    Clock::time_point lastProgress_ = Clock::now();
    const Clock::time_point started_ = Clock::now();
    const int screenWaitMs_;   // 0: the first screen may take as long as it takes

    void end(sessionResult result) {
        result_ = result;
        app_.session.receiveStatus = leaving;
    }
    bool leavingNow() const { return app_.session.receiveStatus == leaving; }
    // Keys other than the end key wait for the first screen, for a payload
    // under way to be complete, and for the server to take our output.
    bool keysWait() const {
        return !app_.session.sessionEstablished || app_.session.protocolState == statePayload || outputStuck();
    }
    // The server does not take our output: reading waits too, for what it
    // sends would only add acknowledgements.
    bool outputStuck() const { return outbox_.backlog() > outboxBacklogLimit; }
    // Milliseconds left for the first screen; -1 without a limit.
    long long screenWaitLeft() const {
        if (screenWaitMs_ <= 0 || app_.session.sessionEstablished) return -1;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
        return waited < screenWaitMs_ ? screenWaitMs_ - waited : 0;
    }
    void sendOpeningBlock();
    bool receive();
    void completeUnit();
    void completeOpening();
    void completeGreeting();
    void completeHeader();
    void completePayload();
    void reselectScreen();
    void announceScreen();
    void passNotice();
    void openMode(std::unique_ptr<screenMode> mode);
    void drawMode();
    void closeMode();
    void paint(const unsigned char* payload, int32_t length);
    void showRows(const bool (&rows)[screenRows], bool cursor);
    void watchKeys(bool inputReady);
    void handleKey();
    void catchUp();
    int waitTimeout() const;
};

// Filler bytes are (r & 0xC8) + 0x37; the last byte says "greeting follows".
void sessionRun::sendOpeningBlock() {
    // Seeded afresh so that two runs never open with the same bytes.
    std::srand(std::random_device{}());
    for (int i = 0; i < openingLen - 1; ++i) out_[i] = static_cast<unsigned char>((std::rand() & 0xC8) + 0x37);
    out_[openingLen - 1] = '0';
    outbox_.post(out_, openingLen);
}

// Receives what the current unit still lacks, never more. True when that
// completed the unit: more may be waiting behind it.
bool sessionRun::receive() {
    int32_t missing = expected_ - received_;
    if (missing <= 0) return false;
    int32_t n = c_recv(app_.recvCipher, fd_, in_ + received_, missing);
    if (n == 0) {
        end(resultServerClosed);
    } else if (n < 0) {
        const int err = sockLastError();
        if (sockInterrupted(err)) updateScreen(app_.window, 0, screenRows);
        else if (!sockWouldBlock(err)) end(resultLinkLost);
    } else {
        received_ += n;
        if (received_ == expected_) app_.session.receiveStatus = unitComplete;
    }
    return app_.session.receiveStatus == unitComplete;
}

void sessionRun::completeOpening() {
    if (in_[openingLen - 1] == '0') {
        app_.session.protocolState = stateGreeting;
        expected_ = greetingLen;
    } else {
        outbox_.postWord(startWord);
        app_.session.protocolState = stateHeader;
    }
}

void sessionRun::completeGreeting() {
    const uint32_t cmd = readWord(in_);
    const bool valid = cmd <= 1 && std::memcmp(in_ + 12, serverReady, readyLen) == 0;
    if (valid) {
        helloData hello;
        std::memset(hello.bytes, 0, sizeof hello.bytes);
        hello.setCmd(0);
        hello.setWord(1, 1);
        hello.setWord(2, 0);
        std::memcpy(hello.bytes + 12, clientReady, readyLen);
        std::memcpy(out_, hello.bytes, greetingLen);
        outbox_.post(out_, greetingLen);
        outbox_.postWord(startWord);
        if (unpacked_) outbox_.postWord(compressedStartWord);
        std::memcpy(app_.serverGreeting.bytes, in_, greetingLen);
    } else {
        app_.session.receiveStatus = leaving;   // result stays 0
    }
    app_.session.protocolState = stateHeader;
}

void sessionRun::completeHeader() {
    ++headerCount_;
    const uint32_t header = readWord(in_);
    msgType_ = header & 0xFFFF;
    msgLen_ = static_cast<int16_t>(header >> 16);
    if (msgType_ == msgCompressed && !unpacked_) return;   // no payload on a build that cannot expand it
    switch (msgType_) {
    case msgScreenList:
    case msgScreenUpdate:
    case msgIgnored:
    case msgCompressed:
        // A payload must fit the receive buffer; anything else is a broken stream.
        if (msgLen_ < 0 || msgLen_ > comBufferSize) {
            end(resultLinkLost);
            return;
        }
        expected_ = msgLen_;
        app_.session.protocolState = statePayload;
        break;
    case msgScreenId:
        expected_ = 4;
        app_.session.protocolState = statePayload;
        break;
    default:
        break;
    }
}

void sessionRun::completePayload() {
    switch (msgType_) {
    case msgScreenList:
        app_.session.screens.free();
        readScreenList(app_.session.screens, in_, msgLen_);
        reselectScreen();
        announceScreen();
        break;
    case msgScreenId:
        if (app_.session.currentScreenId == 0) app_.session.sessionEstablished = 1;
        app_.session.currentScreenId = static_cast<int32_t>(readWord(in_));
        reselectScreen();
        announceScreen();
        break;
    case msgScreenUpdate:
        paint(in_, msgLen_);
        outbox_.postWord(ackWord);
        break;
    case msgCompressed: {
        // An update that does not expand within the buffer is dropped, but
        // still acknowledged: the server waits for that before the next.
        const int32_t n = unpackScreenData(in_, unpacked_, msgLen_, unpackBufferSize);
        if (n >= 0) paint(unpacked_, n);
        outbox_.postWord(ackWord);
        break;
    }
    default:
        break;
    }
    msgType_ = 0;
    msgLen_ = 0;
    app_.session.protocolState = stateHeader;
}

// The update goes into the session's model of the server's screen; the
// terminal shows the rows it touched, unless a mode is open over it.
void sessionRun::paint(const unsigned char* payload, int32_t length) {
    remoteScreen& model = app_.session.model;
    bool rows[screenRows] = {};
    paintScreenUpdate(model, payload, length, rows);
    app_.session.feed.painted(model.cells, rows, model.cursorX, model.cursorY);
    if (mode_) drawMode();
    else showRows(rows, payload && length >= 4);
}

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

// Tells the feed which screen the server shows, by its id and name.
void sessionRun::announceScreen() {
    if (!app_.session.sessionEstablished) return;
    const auto id = static_cast<uint32_t>(app_.session.currentScreenId);
    const serverScreen* s = app_.session.screens.find(id);
    app_.session.feed.shown(id, s ? s->name : "");
}

// What a watcher of the screen (a recording) has to say goes on the status
// row; its file names hold glyphs as UTF-8, which the row shows as they are.
void sessionRun::passNotice() {
    if (mode_) return;   // kept until the mode closes
    const std::string text = cp437FromUtf8(app_.session.feed.takeNotice());
    if (!text.empty()) note_.showNotice(text.c_str());
}

// After a reconnection: once the server shows a screen and has listed its
// screens, goes back to the one shown before the link dropped, when the
// server still lists it; otherwise stays on what the server shows.
void sessionRun::reselectScreen() {
    if (app_.reselectScreenId == 0 || !app_.session.sessionEstablished || app_.session.screens.count == 0) return;
    const auto id = static_cast<uint32_t>(app_.reselectScreenId);
    app_.reselectScreenId = 0;
    if (app_.session.screens.find(id)) selectScreen(id, app_.session.currentScreenId, app_.session.previousScreenId, outbox_);
}

// Completes every unit that is ready; an empty payload is ready at once.
void sessionRun::completeUnit() {
    while (app_.session.receiveStatus == unitComplete) {
        app_.session.receiveStatus = receiving;
        lastProgress_ = Clock::now();
        note_.hideHint();
        switch (app_.session.protocolState) {
        case stateOpening: completeOpening(); break;
        case stateGreeting: completeGreeting(); break;
        case stateHeader: completeHeader(); break;
        default: completePayload(); break;
        }
        if (app_.session.protocolState == stateHeader) expected_ = headerLen;
        received_ = 0;
        if (app_.session.receiveStatus == receiving && app_.session.protocolState == statePayload && expected_ == 0)
            app_.session.receiveStatus = unitComplete;
    }
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
    while (!leavingNow() && !outputStuck() && Clock::now() < until) {
        if (outbox_.backlog() > 0) outbox_.flush();
        if ((waitSocketOrKey(fd_, waitRead, catchUpQuietMs, false) & seenReadable) == 0) break;
        for (int units = 0; receive() && units < unitsPerPass; ++units) {
            completeUnit();
            if (leavingNow() || outputStuck()) break;
        }
        completeUnit();
    }
    if (!leavingNow() && outbox_.failure()) end(static_cast<sessionResult>(outbox_.failure()));
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
    if (outbox_.failure()) end(static_cast<sessionResult>(outbox_.failure()));
}

// How long the loop may sleep: not at all while keys can be handled, until
// the hint is due while the server keeps the session waiting or the time for
// the first screen runs out, and never so long that a termination request
// goes unseen.
int sessionRun::waitTimeout() const {
    if (!keysWait() && app_.session.keys.count() > 0) return 0;
    long long wait = idleWaitMs;
    if (keysWait() && !note_.hintShown()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastProgress_ + hintAfter - Clock::now());
        wait = std::min<long long>(wait, left.count());
    }
    for (const long long left : {screenWaitLeft(), note_.noticeLeft(), app_.session.feed.dueInMs()})
        if (left >= 0) wait = std::min(wait, left);
    return wait > 0 ? static_cast<int>(wait) : 0;
}

int sessionRun::run() {
    sockSetNoDelay(fd_);
    sendOpeningBlock();
    app_.session.screens.free();
    headerCount_ = 0;
    app_.session.feed.started(app_.sessionServer.c_str(), app_.sessionResumes);

    while (!leavingNow()) {
        if (EXIT) {
            end(resultEnded);
            break;
        }
        // A server that does not read is not read from either: what it
        // sends stays in the socket until it takes our output again.
        const bool reading = !outputStuck();
        const int events = (reading ? waitRead : 0) | (outbox_.backlog() > 0 ? waitWrite : 0);
        const int seen = waitSocketOrKey(fd_, events, waitTimeout(), true);
        note_.hideDueNotice();
        if (keysWait()) {
            watchKeys((seen & seenKeys) != 0);
            if (leavingNow()) break;
        }
        if (seen & seenWritable) outbox_.flush();
        if (reading && (seen & seenReadable)) {
            // What arrived together is taken together, a few units a pass:
            // a message does not cost a wait of its own (on Windows several
            // calls to the system), and keys still come in between.
            for (int units = 0; receive() && units < unitsPerPass; ++units) {
                completeUnit();
                if (leavingNow() || outputStuck()) break;
            }
        }
        completeUnit();
        if (!leavingNow() && outbox_.failure()) end(static_cast<sessionResult>(outbox_.failure()));
        if (leavingNow()) break;
        app_.session.feed.tick();
        if (leavingNow()) break;   // a watcher (a script) ended the session
        passNotice();
        if (!keysWait()) {
            if (app_.session.keys.count() > 0 || (seen & seenKeys)) {
                handleKey();
                announceScreen();
                passNotice();
            }
        } else if (!app_.session.sessionEstablished && headerCount_ > maxHeadersWithoutScreen &&
                   app_.session.protocolState != statePayload) {
            end(resultPasswordRefused);
        } else if (screenWaitLeft() == 0) {
            end(resultLinkLost);   // no screen in the time allowed: counts as a lost link
        } else if (Clock::now() - lastProgress_ >= hintAfter) {
            note_.showHint();
        }
    }
    app_.session.feed.ended(app_.endingOf(result_));
    return result_;
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
    std::unique_ptr<unsigned char[]> recvBuf(new (std::nothrow) unsigned char[comBufferSize]);
    std::unique_ptr<unsigned char[]> sendBuf(new (std::nothrow) unsigned char[comBufferSize]);
    const bool compressed = thisBuild().compressedUpdates;
    std::unique_ptr<unsigned char[]> unpackBuf(compressed ? new (std::nothrow) unsigned char[unpackBufferSize] : nullptr);

    serverGreeting.setWord(1, 0);
    serverGreeting.setWord(2, 0);
    session.previousScreenId = 0;
    session.currentScreenId = 0;
    session.receiveStatus = receiving;
    session.protocolState = stateOpening;
    session.sessionEstablished = 0;
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

    if (!recvBuf || !sendBuf || (compressed && !unpackBuf)) return resultNoMemory;
    if (!socket || socket->sock < 0) return resultLinkLost;

    int result = 0;
    {
        nonBlockingScope nonBlocking(socket);
        rawKeysScope raw;
        heldKeysInFront front(&session.keys);
        sessionRun running(*this, recvBuf.get(), sendBuf.get(), unpackBuf.get(), socket->sock, screenWaitMs);
        result = running.run();
    }
    // Keys kept for the session mean nothing to the lists.
    session.keys.drop();
    wipeMemory(recvBuf.get(), comBufferSize);
    wipeMemory(sendBuf.get(), comBufferSize);
    return static_cast<sessionResult>(result);
}
