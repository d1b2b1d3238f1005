#include "console/waitpoint.h"

#include <algorithm>

waitPoint::~waitPoint() {
    for (watched& w : watches_) releaseWaitItem(w.item);
    if (mail_) {
        std::lock_guard<std::mutex> lock(mail_->mutex_);
        mail_->wake_ = nullptr;
        mail_->calls_.clear();
    }
}

void waitPoint::mailbox::post(std::function<void()> call) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!wake_) return;
    calls_.push_back(std::move(call));
    wake_->raise();
}

std::shared_ptr<waitPoint::mailbox> waitPoint::mail() {
    if (!mail_) {
        mail_ = std::make_shared<mailbox>();
        mail_->wake_ = &wakeUp();
    }
    return mail_;
}

// Runs what other threads posted, outside the box's lock: a call may post.
int waitPoint::runPosted() {
    if (!mail_) return 0;
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(mail_->mutex_);
        calls.swap(mail_->calls_);
    }
    for (auto& call : calls) call();
    return static_cast<int>(calls.size());
}

int waitPoint::watch(int sock, int events, std::function<void(int seen)> ready) {
    watched w{nextId_++, waitItem{}, std::move(ready)};
    w.item.sock = sock;
    w.item.events = events;
    watches_.push_back(std::move(w));
    return watches_.back().id;
}

void waitPoint::change(int id, int events) {
    for (watched& w : watches_)
        if (w.id == id) w.item.events = events;
}

void waitPoint::forget(int id) {
    for (watched& w : watches_)
        if (w.id == id && w.item.sock >= 0) {
            releaseWaitItem(w.item);
            w.item.sock = -1;   // swept after the turn's calls
            forgot_ = true;
        }
}

wakeSignal& waitPoint::wakeUp() {
    if (!wake_) wake_ = std::make_unique<wakeSignal>();
    return *wake_;
}

int waitPoint::at(clock::time_point when, std::function<void()> due) {
    const int id = nextId_++;
    timers_.emplace(when, std::make_pair(id, std::move(due)));
    return id;
}

void waitPoint::cancel(int id) {
    for (auto t = timers_.begin(); t != timers_.end(); ++t)
        if (t->second.first == id) {
            timers_.erase(t);
            return;
        }
}

// Runs the timers due now, one at a time: each may set or cancel others.
int waitPoint::runDueTimers() {
    int ran = 0;
    const auto now = clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        std::function<void()> due = std::move(timers_.begin()->second.second);
        timers_.erase(timers_.begin());
        due();
        ++ran;
    }
    return ran;
}

int waitPoint::turn(int maxMs) {
    long long waitMs = maxMs;
    if (!timers_.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(timers_.begin()->first - clock::now()).count();
        const long long untilDue = std::max<long long>(left, 0);
        if (waitMs < 0 || untilDue < waitMs) waitMs = untilDue;
    }
    // The items are gathered afresh (a handler may have added some) into a
    // vector kept from turn to turn.
    std::vector<waitItem>& items = items_;
    items.clear();
    for (const watched& w : watches_) items.push_back(w.item);
    const int seen = waitSockets(items.data(), items.size(), static_cast<int>(std::min<long long>(waitMs, 1 << 30)),
                                 static_cast<bool>(keys_), wake_.get());
    if (seen & seenWake) wake_->clear();
    int ran = 0;
    // Handlers run in the order the sockets were watched; one that a handler
    // before forgot is not called.
    const size_t n = items.size();
    for (size_t i = 0; i < n; ++i) {
        watches_[i].item.memo = items[i].memo;
        if (items[i].seen == 0 || watches_[i].item.sock < 0) continue;
        auto ready = watches_[i].ready;   // the handler may forget its own watch
        ready(items[i].seen);
        ++ran;
    }
    if ((seen & seenKeys) && keys_) {
        auto keys = keys_;
        keys();
        ++ran;
    }
    ran += runPosted();
    ran += runDueTimers();
    if (forgot_) {
        std::erase_if(watches_, [](const watched& w) { return w.item.sock < 0; });
        forgot_ = false;
    }
    return ran;
}
