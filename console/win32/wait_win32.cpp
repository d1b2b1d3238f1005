// The wait point of the Windows build: a socket (through its network events),
// the key queue's event and a wake-up event, in one WaitForMultipleObjects.

#include <winsock2.h>
#include <windows.h>

#include <thread>
#include <vector>

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
        // The key handle itself is left to the wait, which returns at once
        // when it is set: asking it here would cost a call each time.
        if (t->keyPending() || t->needsAsking()) seen |= seenKeys;
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

namespace {

// The event that a waiting thread's socket signals, made once and kept: a
// new one per wait would cost two more calls to the system each time.
struct networkEvent {
    WSAEVENT handle = WSACreateEvent();
    networkEvent() = default;
    networkEvent(const networkEvent&) = delete;
    networkEvent& operator=(const networkEvent&) = delete;
    ~networkEvent() {
        if (handle != WSA_INVALID_EVENT) WSACloseEvent(handle);
    }
};

// The thread's one network event, for its single waits and its waits for many.
networkEvent& threadNetworkEvent() {
    thread_local networkEvent network;
    return network;
}

// How often this thread's single waits selected a socket to its event.
thread_local unsigned singleSelects = 0;

}  // namespace

int waitSocketOrKey(int sock, int events, int timeoutMs, bool watchKeys, const wakeSignal* wake) {
    int seen = lookNow(sock, events, watchKeys, wake);
    const bool scriptedKeys = watchKeys && terminal()->needsAsking();
    if ((seen & ~seenKeys) || (seen && !scriptedKeys) || timeoutMs == 0) return seen;
    // A terminal without a handle can only be asked: look often.
    if (scriptedKeys && (timeoutMs < 0 || timeoutMs > 10)) timeoutMs = 10;

    networkEvent& network = threadNetworkEvent();
    HANDLE handles[3];
    DWORD n = 0;
    bool selected = false;
    if (sock >= 0 && network.handle != WSA_INVALID_EVENT) {
        // FD_WRITE is recorded at once on a socket with room to send: asked
        // for while only reading, it would end every wait at once.
        long what = FD_CLOSE;
        if (events & waitRead) what |= FD_READ;
        if (events & waitWrite) what |= FD_WRITE | FD_CONNECT;
        selected = WSAEventSelect(static_cast<SOCKET>(sock), network.handle, what) == 0;
        ++singleSelects;
        if (selected) handles[n++] = network.handle;
    }
    const DWORD keysAt = n;
    if (watchKeys && !scriptedKeys && terminal()->inputFd() >= 0) handles[n++] = asHandle(terminal()->inputFd());
    if (wake && wake->handle()) handles[n++] = asHandle(wake->handle());
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    DWORD woke = WAIT_TIMEOUT;
    if (n > 0) woke = WaitForMultipleObjects(n, handles, FALSE, wait);
    else Sleep(wait);
    // The socket stays selected to this thread's event after the wait: the
    // next wait selects it again anyway, and a close cancels it. Only what
    // woke the wait is asked: one call, which also resets the event, where
    // a reset and a fresh look would cost three.
    if (selected && woke == WAIT_OBJECT_0) {
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(static_cast<SOCKET>(sock), network.handle, &happened) == 0) {
            const long e = happened.lNetworkEvents;
            int now = 0;
            if (e & (FD_READ | FD_CLOSE)) now |= seenSocket | seenReadable;
            if (e & (FD_WRITE | FD_CONNECT)) now |= seenSocket | seenWritable;
            if ((e & FD_CONNECT) && happened.iErrorCode[FD_CONNECT_BIT] != 0)
                now |= seenSocket | seenReadable | seenWritable;
            if (watchKeys && (scriptedKeys || terminal()->keyPending())) now |= seenKeys;
            if (wake && wake->raised()) now |= seenWake;
            // Nothing recorded (a stale signal): the plain look below decides.
            if (now & seenSocket) return now;
        }
    }
    if (!scriptedKeys && (sock < 0 || selected)) {
        // Nothing was signalled, or only keys: the socket is looked at by
        // the next wait, so a key is handled without further calls.
        if (woke == WAIT_TIMEOUT) return 0;
        if (watchKeys && woke == WAIT_OBJECT_0 + keysAt) return seenKeys;
    }
    return lookNow(sock, events, watchKeys, wake);
}

// Every socket of the wait is selected to the thread's one network event
// (the memo keeps what it was selected for, so that it is selected again
// only when that changes); the event, the key queue's and the wake-up's are
// one WaitForMultipleObjects, however many sockets there are. When the
// network event woke the wait, it is reset first and the sockets are then
// asked in one WSAPoll: what any of them records after the reset signals
// the event again, so nothing is lost between the two. Only the sockets
// found ready have their records cleared: an idle one costs no call.
int waitSockets(waitItem* items, size_t n, int timeoutMs, bool watchKeys, const wakeSignal* wake) {
    networkEvent& network = threadNetworkEvent();
    // A single wait of this thread selected a socket anew: the memos no
    // longer say what is selected.
    thread_local unsigned singlesSeen = 0;
    const bool reselect = singlesSeen != singleSelects;
    singlesSeen = singleSelects;
    const bool scriptedKeys = watchKeys && terminal()->needsAsking();
    int seen = 0;
    if (watchKeys && (terminal()->keyPending() || scriptedKeys)) seen |= seenKeys;
    if (wake && wake->raised()) seen |= seenWake;
    if (scriptedKeys && (timeoutMs < 0 || timeoutMs > 10)) timeoutMs = 10;
    if (seen && !scriptedKeys) timeoutMs = 0;

    bool anySocket = false;
    for (size_t i = 0; i < n; ++i) {
        waitItem& item = items[i];
        item.seen = 0;
        if (item.sock < 0 || network.handle == WSA_INVALID_EVENT) continue;
        long what = FD_CLOSE;
        if (item.events & waitRead) what |= FD_READ;
        if (item.events & waitWrite) what |= FD_WRITE | FD_CONNECT;
        if ((reselect || item.memo != what) && WSAEventSelect(static_cast<SOCKET>(item.sock), network.handle, what) == 0)
            item.memo = static_cast<int>(what);
        anySocket = true;
    }
    HANDLE handles[3];
    DWORD count = 0;
    if (anySocket) handles[count++] = network.handle;
    const DWORD keysAt = count;
    if (watchKeys && !scriptedKeys && terminal()->inputFd() >= 0) handles[count++] = asHandle(terminal()->inputFd());
    if (wake && wake->handle()) handles[count++] = asHandle(wake->handle());
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    DWORD woke = WAIT_TIMEOUT;
    if (count > 0) woke = WaitForMultipleObjects(count, handles, FALSE, wait);
    else if (wait > 0) Sleep(wait);
    if (watchKeys && !scriptedKeys && keysAt < count && woke == WAIT_OBJECT_0 + keysAt) seen |= seenKeys;
    if (anySocket && woke == WAIT_OBJECT_0) {
        WSAResetEvent(network.handle);
        thread_local std::vector<WSAPOLLFD> fds;
        fds.assign(n, WSAPOLLFD{});
        for (size_t i = 0; i < n; ++i) {
            fds[i].fd = items[i].sock < 0 ? INVALID_SOCKET : static_cast<SOCKET>(items[i].sock);
            fds[i].events = static_cast<SHORT>(((items[i].events & waitRead) ? POLLRDNORM : 0) |
                                               ((items[i].events & waitWrite) ? POLLWRNORM : 0));
        }
        if (WSAPoll(fds.data(), static_cast<ULONG>(n), 0) > 0)
            for (size_t i = 0; i < n; ++i) {
                const SHORT got = fds[i].revents;
                const SHORT bad = POLLHUP | POLLERR | POLLNVAL;
                if (got & (POLLRDNORM | bad)) items[i].seen |= seenSocket | seenReadable;
                if (got & (POLLWRNORM | bad)) items[i].seen |= seenSocket | seenWritable;
                seen |= items[i].seen & seenSocket;
                // The socket's record of what happened is cleared, so that
                // what happens next is recorded, and signalled, anew.
                WSANETWORKEVENTS happened{};
                if (got) WSAEnumNetworkEvents(static_cast<SOCKET>(items[i].sock), nullptr, &happened);
            }
    }
    if (watchKeys && terminal()->keyPending()) seen |= seenKeys;
    if (wake && wake->raised()) seen |= seenWake;
    return seen;
}

void releaseWaitItem(waitItem& item) {
    if (item.sock >= 0 && item.memo != 0) WSAEventSelect(static_cast<SOCKET>(item.sock), nullptr, 0);
    item.memo = 0;
}

bool runDetached(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
    } catch (...) {
        return false;
    }
    return true;
}
