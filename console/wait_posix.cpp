#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "console/term.h"
#include "console/wait.h"

wakeSignal::wakeSignal() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        read_ = fds[0];
        write_ = fds[1];
    }
}

wakeSignal::~wakeSignal() {
    if (read_ >= 0) ::close(static_cast<int>(read_));
    if (write_ >= 0) ::close(static_cast<int>(write_));
}

void wakeSignal::raise() {
    const char one = 1;
    if (write_ >= 0) (void)!::write(static_cast<int>(write_), &one, 1);
}

void wakeSignal::clear() {
    char buffer[64];
    if (read_ >= 0)
        while (::read(static_cast<int>(read_), buffer, sizeof buffer) > 0) {
        }
}

bool wakeSignal::raised() const {
    pollfd p{static_cast<int>(read_), POLLIN, 0};
    return read_ >= 0 && poll(&p, 1, 0) > 0;
}

intptr_t wakeSignal::handle() const { return read_; }

int waitSocketOrKey(int sock, int events, int timeoutMs, bool watchKeys, const wakeSignal* wake) {
    waitItem item;
    item.sock = sock;
    item.events = events;
    const int seen = waitSockets(&item, sock >= 0 ? 1 : 0, timeoutMs, watchKeys, wake);
    return (seen & ~seenSocket) | item.seen;
}

int waitSockets(waitItem* items, size_t n, int timeoutMs, bool watchKeys, const wakeSignal* wake) {
    // Kept from wait to wait: a wait allocates nothing once it has grown.
    thread_local std::vector<pollfd> fds;
    fds.clear();
    for (size_t i = 0; i < n; ++i) {
        short want = 0;
        if (items[i].events & waitRead) want |= POLLIN;
        if (items[i].events & waitWrite) want |= POLLOUT;
        fds.push_back(pollfd{items[i].sock, want, 0});
        items[i].seen = 0;
    }
    int seen = 0;
    int keyAt = -1, wakeAt = -1;
    if (watchKeys) {
        Terminal* t = terminal();
        if (t->keyPending()) {
            seen |= seenKeys;
            timeoutMs = 0;
        }
        if (t->inputFd() >= 0) {
            keyAt = static_cast<int>(fds.size());
            fds.push_back(pollfd{t->inputFd(), POLLIN, 0});
        } else if (t->needsAsking()) {
            // A terminal without a descriptor can only be asked: look often.
            seen |= seenKeys;
            if (timeoutMs < 0 || timeoutMs > 10) timeoutMs = 10;
        }
    }
    if (wake && wake->handle() >= 0) {
        wakeAt = static_cast<int>(fds.size());
        fds.push_back(pollfd{static_cast<int>(wake->handle()), POLLIN, 0});
    }
    const int ready = poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
    if (ready < 0 && errno == EINTR && watchKeys && terminal()->keyPending()) return seen | seenKeys;
    if (ready <= 0) return seen;
    const short bad = POLLHUP | POLLERR | POLLNVAL;
    for (size_t i = 0; i < n; ++i) {
        const short got = fds[i].revents;
        if (got & (POLLIN | bad)) items[i].seen |= seenSocket | seenReadable;
        if (got & (POLLOUT | bad)) items[i].seen |= seenSocket | seenWritable;
        seen |= items[i].seen & seenSocket;
    }
    if (keyAt >= 0 && (fds[keyAt].revents & (POLLIN | bad))) seen |= seenKeys;
    if (wakeAt >= 0 && (fds[wakeAt].revents & POLLIN)) seen |= seenWake;
    return seen;
}

void releaseWaitItem(waitItem&) {}

bool runDetached(std::function<void()> work) {
    // The new thread inherits the mask: all signals blocked.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    bool started = true;
    try {
        std::thread(std::move(work)).detach();
    } catch (...) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return started;
}
