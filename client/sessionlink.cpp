#include "client/sessionlink.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "client/scrlist.h"
#include "crypto/ccomm.h"
#include "screen/decode.h"
#include "console/global.h"
#include "console/wait.h"
#include "net/sutil.h"
#include "net/sysnet.h"

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
constexpr int unitsPerPass = 16;           // headers and payloads taken in one pass

enum : int32_t { stateOpening = 0, stateGreeting = 1, stateHeader = 2, statePayload = 3 };
enum : int32_t { receiving = 0, unitComplete = 1, leavingStatus = 2 };
enum : uint32_t { msgScreenList = 0, msgScreenId = 2, msgScreenUpdate = 3, msgIgnored = 5, msgCompressed = 6 };

uint32_t readWord(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

unsigned char* buffer(size_t size) { return new (std::nothrow) unsigned char[size]; }

}  // namespace

sessionLink::sessionLink(remoteSession& session, rc4Cipher& sendCipher, rc4Cipher& recvCipher, int sock,
                         bool compressed, int screenWaitMs)
    : session_(session), recvCipher_(recvCipher), sock_(sock), outbox_(sendCipher, sock), in_(buffer(comBufferSize)),
      out_(buffer(comBufferSize)), unpacked_(compressed ? buffer(unpackBufferSize) : nullptr),
      screenWaitMs_(screenWaitMs) {
    if (!out_ || (compressed && !unpacked_)) in_.reset();
}

sessionLink::~sessionLink() {
    if (in_) wipeMemory(in_.get(), comBufferSize);
    if (out_) wipeMemory(out_.get(), comBufferSize);
}

bool sessionLink::leaving() const { return session_.receiveStatus == leavingStatus; }

void sessionLink::end(sessionResult result) {
    result_ = result;
    session_.receiveStatus = leavingStatus;
}

bool sessionLink::keysWait() const {
    return !session_.sessionEstablished || session_.protocolState == statePayload || outputStuck();
}

// A server that does not read is not read from either: what it sends stays
// in the socket until it takes our output again.
int sessionLink::events() const {
    return (outputStuck() ? 0 : waitRead) | (outbox_.backlog() > 0 ? waitWrite : 0);
}

long long sessionLink::screenWaitLeft() const {
    if (screenWaitMs_ <= 0 || session_.sessionEstablished) return -1;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
    return waited < screenWaitMs_ ? screenWaitMs_ - waited : 0;
}

long long sessionLink::ruleDueInMs() const { return screenWaitLeft(); }

void sessionLink::checkRules() {
    if (leaving() || session_.sessionEstablished) return;
    if (headerCount_ > maxHeadersWithoutScreen && session_.protocolState != statePayload) end(resultPasswordRefused);
    else if (screenWaitLeft() == 0) end(resultLinkLost);   // no screen in the time allowed: counts as a lost link
}

// Filler bytes are (r & 0xC8) + 0x37; the last byte says "greeting follows".
void sessionLink::start(const char* server, bool resumes) {
    if (greetingOut) {
        greetingOut->setWord(1, 0);
        greetingOut->setWord(2, 0);
    }
    session_.previousScreenId = 0;
    session_.currentScreenId = 0;
    session_.receiveStatus = receiving;
    session_.protocolState = stateOpening;
    session_.sessionEstablished = 0;
    session_.screens.free();
    expected_ = openingLen;
    received_ = 0;
    headerCount_ = 0;
    greetingInvalid = false;
    started_ = lastProgress_ = Clock::now();
    sockSetNoDelay(sock_);
    // Seeded afresh so that two runs never open with the same bytes.
    std::srand(std::random_device{}());
    for (int i = 0; i < openingLen - 1; ++i) out_[i] = static_cast<unsigned char>((std::rand() & 0xC8) + 0x37);
    out_[openingLen - 1] = '0';
    outbox_.post(out_.get(), openingLen);
    session_.feed.started(server, resumes);
}

void sessionLink::pass(int seen) {
    if (seen & seenWritable) outbox_.flush();
    if (!outputStuck() && (seen & seenReadable)) {
        // What arrived together is taken together, a few units a pass: a
        // message does not cost a wait of its own (on Windows several calls
        // to the system), and keys still come in between.
        for (int units = 0; receive() && units < unitsPerPass; ++units) {
            completeUnit();
            if (leaving() || outputStuck()) break;
        }
    }
    completeUnit();
    if (!leaving() && outbox_.failure()) end(static_cast<sessionResult>(outbox_.failure()));
}

// Receives what the current unit still lacks, never more. True when that
// completed the unit: more may be waiting behind it.
bool sessionLink::receive() {
    int32_t missing = expected_ - received_;
    if (missing <= 0 || leaving()) return false;
    int32_t n = c_recv(recvCipher_, sock_, in_.get() + received_, missing);
    if (n == 0) {
        end(resultServerClosed);
    } else if (n < 0) {
        const int err = sockLastError();
        if (!sockInterrupted(err) && !sockWouldBlock(err)) end(resultLinkLost);
    } else {
        received_ += n;
        if (received_ == expected_) session_.receiveStatus = unitComplete;
    }
    return session_.receiveStatus == unitComplete;
}

void sessionLink::completeOpening() {
    if (in_[openingLen - 1] == '0') {
        session_.protocolState = stateGreeting;
        expected_ = greetingLen;
    } else {
        outbox_.postWord(startWord);
        session_.protocolState = stateHeader;
    }
}

void sessionLink::completeGreeting() {
    const uint32_t cmd = readWord(in_.get());
    const bool valid = cmd <= 1 && std::memcmp(in_.get() + 12, serverReady, readyLen) == 0;
    if (valid) {
        helloData hello;
        std::memset(hello.bytes, 0, sizeof hello.bytes);
        hello.setCmd(0);
        hello.setWord(1, 1);
        hello.setWord(2, 0);
        std::memcpy(hello.bytes + 12, clientReady, readyLen);
        std::memcpy(out_.get(), hello.bytes, greetingLen);
        outbox_.post(out_.get(), greetingLen);
        outbox_.postWord(startWord);
        if (unpacked_) outbox_.postWord(compressedStartWord);
        if (greetingOut) std::memcpy(greetingOut->bytes, in_.get(), greetingLen);
    } else {
        greetingInvalid = true;
        session_.receiveStatus = leavingStatus;   // result stays 0
    }
    session_.protocolState = stateHeader;
}

void sessionLink::completeHeader() {
    ++headerCount_;
    const uint32_t header = readWord(in_.get());
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
        session_.protocolState = statePayload;
        break;
    case msgScreenId:
        expected_ = 4;
        session_.protocolState = statePayload;
        break;
    default:
        break;
    }
}

void sessionLink::completePayload() {
    switch (msgType_) {
    case msgScreenList:
        session_.screens.free();
        readScreenList(session_.screens, in_.get(), msgLen_);
        reselectScreen();
        announceScreen();
        break;
    case msgScreenId:
        if (session_.currentScreenId == 0) session_.sessionEstablished = 1;
        session_.currentScreenId = static_cast<int32_t>(readWord(in_.get()));
        reselectScreen();
        announceScreen();
        break;
    case msgScreenUpdate:
        paint(in_.get(), msgLen_);
        outbox_.postWord(ackWord);
        break;
    case msgCompressed: {
        // An update that does not expand within the buffer is dropped, but
        // still acknowledged: the server waits for that before the next.
        const int32_t n = unpackScreenData(in_.get(), unpacked_.get(), msgLen_, unpackBufferSize);
        if (n >= 0) paint(unpacked_.get(), n);
        outbox_.postWord(ackWord);
        break;
    }
    default:
        break;
    }
    msgType_ = 0;
    msgLen_ = 0;
    session_.protocolState = stateHeader;
}

// The update goes into the session's model of the server's screen, then to
// the feed and to whoever shows the session.
void sessionLink::paint(const unsigned char* payload, int32_t length) {
    remoteScreen& model = session_.model;
    bool rows[screenRows] = {};
    paintScreenUpdate(model, payload, length, rows);
    session_.feed.painted(model.cells, rows, model.cursorX, model.cursorY);
    if (view) view->painted(rows, payload && length >= 4);
}

// Tells the feed which screen the server shows, by its id and name.
void sessionLink::announceScreen() {
    if (!session_.sessionEstablished) return;
    const auto id = static_cast<uint32_t>(session_.currentScreenId);
    const serverScreen* s = session_.screens.find(id);
    session_.feed.shown(id, s ? s->name : "");
}

// After a reconnection: once the server shows a screen and has listed its
// screens, goes back to the one shown before the link dropped, when the
// server still lists it; otherwise stays on what the server shows.
void sessionLink::reselectScreen() {
    if (reselectScreenId == 0 || !session_.sessionEstablished || session_.screens.count == 0) return;
    const auto id = static_cast<uint32_t>(reselectScreenId);
    reselectScreenId = 0;
    if (session_.screens.find(id)) selectScreen(id, session_.currentScreenId, session_.previousScreenId, outbox_);
}

// Completes every unit that is ready; an empty payload is ready at once.
void sessionLink::completeUnit() {
    while (session_.receiveStatus == unitComplete) {
        session_.receiveStatus = receiving;
        lastProgress_ = Clock::now();
        if (view) view->progressed();
        switch (session_.protocolState) {
        case stateOpening: completeOpening(); break;
        case stateGreeting: completeGreeting(); break;
        case stateHeader: completeHeader(); break;
        default: completePayload(); break;
        }
        if (session_.protocolState == stateHeader) expected_ = headerLen;
        received_ = 0;
        if (session_.receiveStatus == receiving && session_.protocolState == statePayload && expected_ == 0)
            session_.receiveStatus = unitComplete;
    }
}
