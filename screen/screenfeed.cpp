#include "screen/screenfeed.h"

#include <algorithm>
#include <cstring>

void screenFeed::subscribe(screenWatcher* w) {
    if (w && std::find(watchers_.begin(), watchers_.end(), w) == watchers_.end()) watchers_.push_back(w);
}

void screenFeed::unsubscribe(screenWatcher* w) { std::erase(watchers_, w); }

void screenFeed::connecting(const char* server) {
    screen_.server = server ? server : "";
    for (screenWatcher* w : watchers_) w->sessionConnecting(screen_);
}

void screenFeed::started(const char* server, bool resumed) {
    screen_.server = server ? server : "";
    if (!resumed) {
        std::memset(screen_.cells, 0, sizeof screen_.cells);
        screen_.cursorX = screen_.cursorY = 0;
        screen_.screenId = 0;
        screen_.screenName.clear();
    }
    live_ = false;
    for (screenWatcher* w : watchers_) w->sessionStarted(screen_, resumed);
}

void screenFeed::painted(const uint16_t (*cells)[screenCols], const bool (&rows)[screenRows], int x, int y) {
    bool changed[screenRows] = {};
    bool any = !live_;
    live_ = true;
    for (int r = 0; r < screenRows; ++r) {
        if (!rows[r] || std::memcmp(screen_.cells[r], cells[r], sizeof screen_.cells[r]) == 0) continue;
        std::memcpy(screen_.cells[r], cells[r], sizeof screen_.cells[r]);
        changed[r] = any = true;
    }
    const bool moved = x != screen_.cursorX || y != screen_.cursorY;
    screen_.cursorX = x;
    screen_.cursorY = y;
    if (any) {
        for (screenWatcher* w : watchers_) w->rowsChanged(screen_, changed);
    } else if (moved) {
        for (screenWatcher* w : watchers_) w->cursorMoved(screen_);
    }
}

void screenFeed::shown(uint32_t id, const char* name) {
    const char* n = name ? name : "";
    if (id == screen_.screenId && screen_.screenName == n) return;
    screen_.screenId = id;
    screen_.screenName = n;
    for (screenWatcher* w : watchers_) w->screenShown(screen_);
}

void screenFeed::ended(const sessionEnding& how) {
    for (screenWatcher* w : watchers_) w->sessionEnded(screen_, how);
    live_ = false;
}

void screenFeed::tick() {
    for (screenWatcher* w : watchers_) w->tick();
}

long long screenFeed::dueInMs() const {
    long long due = -1;
    for (const screenWatcher* w : watchers_) {
        const long long d = w->dueInMs();
        if (d >= 0 && (due < 0 || d < due)) due = d;
    }
    return due;
}
