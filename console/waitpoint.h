#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "console/wait.h"

// The one wait of a thread: the sockets of every session it serves, their
// timers, the terminal's keys and a wake-up signal, in a single call to the
// system. Nothing is polled: a turn sleeps until a socket is ready, a key
// may be waiting, the earliest timer is due or another thread wakes it, and
// then calls the handlers of what it saw. Handlers may watch, change, forget,
// set and cancel anything, themselves included, but not turn the wait
// point themselves.
class waitPoint {
public:
    using clock = std::chrono::steady_clock;

    waitPoint() = default;
    waitPoint(const waitPoint&) = delete;
    waitPoint& operator=(const waitPoint&) = delete;
    ~waitPoint();

    // Watches socket sock for events (waitRead | waitWrite, 0: nothing for
    // now); ready gets the seen* bits. A hang-up or an error counts as ready
    // for both. Returns the watch's id (above 0).
    int watch(int sock, int events, std::function<void(int seen)> ready);
    void change(int id, int events);
    void forget(int id);
    // Calls due once at `when`; returns the timer's id (above 0). A timer
    // may be cancelled until it has run; cancelling a stale id does nothing.
    int at(clock::time_point when, std::function<void()> due);
    void cancel(int id);
    // Calls ready whenever the terminal may hold a key; null stops watching.
    void watchKeys(std::function<void()> ready) { keys_ = std::move(ready); }
    // What another thread raises to end a turn at once (the turn clears
    // it); made on the first call, by the wait point's thread.
    wakeSignal& wakeUp();

    // Where another thread hands work back to this one: a call posted runs
    // on the wait point's thread in the turn that the post wakes. The box
    // outlives the wait point for the threads that still hold it; what they
    // post then is dropped. Made on the first call, by the wait point's
    // thread.
    class mailbox {
    public:
        void post(std::function<void()> call);

    private:
        friend class waitPoint;
        std::mutex mutex_;
        std::vector<std::function<void()>> calls_;
        wakeSignal* wake_ = nullptr;   // null once the wait point is gone
    };
    std::shared_ptr<mailbox> mail();

    // One turn: waits up to maxMs (-1: no limit besides the timers) and runs
    // the handlers of what was seen and of the timers due. Returns how many
    // handlers ran.
    int turn(int maxMs = -1);

    size_t sockets() const { return watches_.size(); }
    size_t timers() const { return timers_.size(); }

private:
    struct watched {
        int id;
        waitItem item;
        std::function<void(int)> ready;
    };
    std::vector<watched> watches_;
    std::vector<waitItem> items_;
    std::multimap<clock::time_point, std::pair<int, std::function<void()>>> timers_;
    std::function<void()> keys_;
    std::unique_ptr<wakeSignal> wake_;
    std::shared_ptr<mailbox> mail_;
    int nextId_ = 1;
    bool forgot_ = false;   // a watch was forgotten during this turn's calls

    int runDueTimers();
    int runPosted();
};
