#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include "client/cmain.h"
#include "client/connect.h"
#include "client/scrlist.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/term.h"
#include "crypto/ccomm.h"
#include "net/iclass.h"
#include "net/sutil.h"

namespace {

constexpr int32_t openingLen = 128;
constexpr int32_t greetingLen = 26;
constexpr int32_t headerLen = 4;
constexpr int32_t maxHeadersWithoutScreen = 34;
constexpr uint32_t startWord = 1;          // type 1, value 0
constexpr uint32_t ackWord = 0x10004;      // type 4, value 1
constexpr char serverReady[] = "QUORVEX Ready";
constexpr char clientReady[] = "QUORCLI Ready";
constexpr int readyLen = 13;
constexpr int idleWaitMs = 250;            // wake now and then to see EXIT

enum : int32_t { stateOpening = 0, stateGreeting = 1, stateHeader = 2, statePayload = 3 };
enum : int32_t { receiving = 0, unitComplete = 1, leaving = 2 };
enum : uint32_t { msgScreenList = 0, msgScreenId = 2, msgScreenUpdate = 3, msgIgnored = 5 };

uint32_t readWord(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void writeWord(unsigned char* p, uint32_t v) {
    for (int b = 0; b < 4; ++b) p[b] = static_cast<unsigned char>(v >> (8 * b));
}

// Stands in for the terminal while one screen update is painted: the rows
// the update touches are pushed once and the terminal is refreshed once,
// instead of once per run-encoded item.
class paintBatch : public Terminal {
public:
    paintBatch() : real_(terminal()) { setTerminal(this); }
    ~paintBatch() override {
        setTerminal(real_);
        bool any = moved_;
        for (int r = 0; r < screenRows; ++r) {
            if (!dirty_[r]) continue;
            real_->putRow(r, screenBuf[r]);
            any = true;
        }
        if (moved_) real_->moveCursor(x_, y_);
        if (any) real_->refresh();
    }
    paintBatch(const paintBatch&) = delete;
    paintBatch& operator=(const paintBatch&) = delete;

    void putRow(int row, const uint16_t*) override {
        if (row >= 0 && row < screenRows) dirty_[row] = true;
    }
    void moveCursor(int x, int y) override {
        x_ = x;
        y_ = y;
        moved_ = true;
    }
    int refresh() override { return 0; }
    int readKey(int timeoutMs, int& keyCode) override { return real_->readKey(timeoutMs, keyCode); }
    int inputFd() const override { return real_->inputFd(); }
    bool keyPending() const override { return real_->keyPending(); }

private:
    Terminal* real_;
    bool dirty_[screenRows] = {};
    bool moved_ = false;
    int x_ = 0, y_ = 0;
};

void paintUpdate(_win_st* window, const unsigned char* payload, int32_t length) {
    paintBatch batch;
    paintScreenUpdate(window, payload, length);
}

// One session: the receive state machine over the encrypted connection.
class sessionRun {
public:
    sessionRun(consoleMain& app, unsigned char* recvBuf, unsigned char* sendBuf, int fd)
        : app_(app), in_(recvBuf), out_(sendBuf), fd_(fd) {}

    int run();

private:
    consoleMain& app_;
    unsigned char* in_;
    unsigned char* out_;
    int fd_;
    int32_t expected_ = openingLen;
    int32_t received_ = 0;
    uint32_t msgType_ = 0;
    int32_t msgLen_ = 0;
    int32_t headerCount_ = 0;
    int32_t result_ = 0;

    void end(int32_t result) {
        result_ = result;
        app_.receiveStatus = leaving;
    }
    void send(int32_t len) { c_send(app_.sendCipher, fd_, out_, len); }
    void sendWord(uint32_t word) {
        writeWord(out_, word);
        send(4);
    }
    void sendOpeningBlock();
    void receive();
    void completeUnit();
    void completeOpening();
    void completeGreeting();
    void completeHeader();
    void completePayload();
    void handleKey();
};

// Filler bytes are (r & 0xC8) + 0x37; the last byte says "greeting follows".
void sessionRun::sendOpeningBlock() {
    for (int i = 0; i < openingLen - 1; ++i) out_[i] = static_cast<unsigned char>((std::rand() & 0xC8) + 0x37);
    out_[openingLen - 1] = '0';
    send(openingLen);
}

// Receives what the current unit still lacks, never more.
void sessionRun::receive() {
    int32_t missing = expected_ - received_;
    if (missing <= 0) return;
    int32_t n = c_recv(app_.recvCipher, fd_, in_ + received_, missing);
    if (n == 0) {
        end(4001);
    } else if (n < 0) {
        if (errno == EINTR) updateScreen(app_.window, 0, screenRows);
        else if (errno != EAGAIN && errno != EWOULDBLOCK) end(4002);
    } else {
        received_ += n;
        if (received_ == expected_) app_.receiveStatus = unitComplete;
    }
}

void sessionRun::completeOpening() {
    if (in_[openingLen - 1] == '0') {
        app_.protocolState = stateGreeting;
        expected_ = greetingLen;
    } else {
        sendWord(startWord);
        app_.protocolState = stateHeader;
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
        send(greetingLen);
        sendWord(startWord);
        std::memcpy(app_.serverGreeting.bytes, in_, greetingLen);
    } else {
        app_.receiveStatus = leaving;   // result stays 0
    }
    app_.protocolState = stateHeader;
}

void sessionRun::completeHeader() {
    ++headerCount_;
    const uint32_t header = readWord(in_);
    msgType_ = header & 0xFFFF;
    msgLen_ = static_cast<int16_t>(header >> 16);
    switch (msgType_) {
    case msgScreenList:
    case msgScreenUpdate:
    case msgIgnored:
        // A payload must fit the receive buffer; anything else is a broken stream.
        if (msgLen_ < 0 || msgLen_ > comBufferSize) {
            end(4002);
            return;
        }
        expected_ = msgLen_;
        app_.protocolState = statePayload;
        break;
    case msgScreenId:
        expected_ = 4;
        app_.protocolState = statePayload;
        break;
    default:
        break;
    }
}

void sessionRun::completePayload() {
    switch (msgType_) {
    case msgScreenList:
        screens.free();
        readScreenList(in_, msgLen_);
        break;
    case msgScreenId:
        if (app_.currentScreenId == 0) app_.sessionEstablished = 1;
        app_.currentScreenId = static_cast<int32_t>(readWord(in_));
        break;
    case msgScreenUpdate:
        paintUpdate(app_.window, in_, msgLen_);
        sendWord(ackWord);
        break;
    default:
        break;
    }
    msgType_ = 0;
    msgLen_ = 0;
    app_.protocolState = stateHeader;
}

// Completes every unit that is ready; an empty payload is ready at once.
void sessionRun::completeUnit() {
    while (app_.receiveStatus == unitComplete) {
        app_.receiveStatus = receiving;
        switch (app_.protocolState) {
        case stateOpening: completeOpening(); break;
        case stateGreeting: completeGreeting(); break;
        case stateHeader: completeHeader(); break;
        default: completePayload(); break;
        }
        if (app_.protocolState == stateHeader) expected_ = headerLen;
        received_ = 0;
        if (app_.receiveStatus == receiving && app_.protocolState == statePayload && expected_ == 0)
            app_.receiveStatus = unitComplete;
    }
}

// Takes one key event, if any, and hands it to the key handler.
void sessionRun::handleKey() {
    INPUT_RECORD record{};
    int got = waitKey(app_.window, &record, 0);
    if (got < 0) {
        end(0);   // the terminal is gone: leave in order
        return;
    }
    if (got > 0 && record.EventType == KEY_EVENT && record.Event.bKeyDown) app_.onKey(record.Event);
}

int sessionRun::run() {
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sendOpeningBlock();
    screens.free();
    headerCount_ = 0;

    while (app_.receiveStatus != leaving) {
        if (EXIT) {
            end(0);
            break;
        }
        // Keys are read only once the server shows a screen, and never while
        // a payload is on its way.
        const bool wantKeys = app_.sessionEstablished && app_.protocolState != statePayload;
        const int seen = waitSocketOrKey(fd_, POLLIN, idleWaitMs, wantKeys);
        if (seen & seenSocket) receive();
        completeUnit();
        if (app_.receiveStatus == leaving || app_.protocolState == statePayload) continue;
        if (app_.sessionEstablished) {
            if (wantKeys && (seen & seenKeys)) handleKey();
        } else if (headerCount_ > maxHeadersWithoutScreen) {
            end(4003);
        }
    }
    return result_;
}

}  // namespace

// Runs one session on the connected socket with the session key; returns 0
// when it ended normally, -2 without buffers, 4001 closed, 4002 socket error,
// 4003 when no screen was ever reported (wrong password).
int consoleMain::processConnection() {
    std::unique_ptr<unsigned char[]> recvBuf(new (std::nothrow) unsigned char[comBufferSize]);
    std::unique_ptr<unsigned char[]> sendBuf(new (std::nothrow) unsigned char[comBufferSize]);

    serverGreeting.setWord(1, 0);
    serverGreeting.setWord(2, 0);
    previousScreenId = 0;
    currentScreenId = 0;
    receiveStatus = receiving;
    protocolState = stateOpening;
    sessionEstablished = 0;

    sendCipher.setKey(sessionKey, 16);
    recvCipher.setKey(sessionKey, 16);
    wipeMemory(sessionKey, sizeof sessionKey);

    if (!recvBuf || !sendBuf) return -2;
    if (!socket || socket->sock < 0) return 4002;

    sessionRun session(*this, recvBuf.get(), sendBuf.get(), socket->sock);
    int result = session.run();
    wipeMemory(recvBuf.get(), comBufferSize);
    wipeMemory(sendBuf.get(), comBufferSize);
    return result;
}
