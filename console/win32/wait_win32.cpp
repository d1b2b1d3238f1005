// The wait point of the Windows build: a socket (through its network events),
// the key queue's event and a wake-up event, in one WaitForMultipleObjects.

#include <winsock2.h>
#include <windows.h>

#include <thread>

#include "console/term.h"
#include "console/wait.h"

namespace {

// What the socket is ready for right now, as seen* bits.
int socketReadyNow(int sock, int events) {
    const auto s = static_cast<SOCKET>(sock);
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (events & waitRead) FD_SET(s, &readable);
    if (events & waitWrite) FD_SET(s, &writable);
    FD_SET(s, &failed);   // a connect that failed shows here only
    timeval now{0, 0};
    if (select(0, &readable, &writable, &failed, &now) <= 0) return 0;
    int seen = 0;
    if (FD_ISSET(s, &failed)) seen |= seenSocket | seenReadable | seenWritable;
    if (FD_ISSET(s, &readable)) seen |= seenSocket | seenReadable;
    if (FD_ISSET(s, &writable)) seen |= seenSocket | seenWritable;
    return seen;
}

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool signalled(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

// What there is to see without waiting.
int lookNow(int sock, int events, bool watchKeys, const wakeSignal* wake) {
    int seen = sock >= 0 ? socketReadyNow(sock, events) : 0;
    if (watchKeys) {
        Terminal* t = terminal();
        const int keys = t->inputFd();
        if (t->keyPending() || keys < 0 || signalled(asHandle(keys))) seen |= seenKeys;
    }
    if (wake && wake->raised()) seen |= seenWake;
    return seen;
}

}  // namespace

wakeSignal::wakeSignal() { read_ = reinterpret_cast<intptr_t>(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }

wakeSignal::~wakeSignal() {
    if (read_) CloseHandle(asHandle(read_));
}

void wakeSignal::raise() { SetEvent(asHandle(read_)); }

void wakeSignal::clear() { ResetEvent(asHandle(read_)); }

bool wakeSignal::raised() const { return read_ && signalled(asHandle(read_)); }

intptr_t wakeSignal::handle() const { return read_; }

int waitSocketOrKey(int sock, int events, int timeoutMs, bool watchKeys, const wakeSignal* wake) {
    int seen = lookNow(sock, events, watchKeys, wake);
    const bool scriptedKeys = watchKeys && terminal()->inputFd() < 0;
    if ((seen & ~seenKeys) || (seen && !scriptedKeys) || timeoutMs == 0) return seen;
    // A terminal without a handle can only be asked: look often.
    if (scriptedKeys && (timeoutMs < 0 || timeoutMs > 10)) timeoutMs = 10;

    HANDLE handles[3];
    DWORD n = 0;
    WSAEVENT network = WSA_INVALID_EVENT;
    if (sock >= 0) {
        network = WSACreateEvent();
        if (network != WSA_INVALID_EVENT &&
            WSAEventSelect(static_cast<SOCKET>(sock), network, FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT) == 0)
            handles[n++] = network;
    }
    if (watchKeys && !scriptedKeys) handles[n++] = asHandle(terminal()->inputFd());
    if (wake && wake->handle()) handles[n++] = asHandle(wake->handle());
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (n > 0) WaitForMultipleObjects(n, handles, FALSE, wait);
    else Sleep(wait);
    if (network != WSA_INVALID_EVENT) {
        // Back to plain calls; the socket stays non-blocking until told otherwise.
        WSAEventSelect(static_cast<SOCKET>(sock), nullptr, 0);
        WSACloseEvent(network);
    }
    return lookNow(sock, events, watchKeys, wake);
}

bool runDetached(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
    } catch (...) {
        return false;
    }
    return true;
}
