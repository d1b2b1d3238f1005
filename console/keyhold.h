#pragma once
#include <cstddef>
#include <deque>

#include "console/keyboard.h"

// Key events taken from the terminal ahead of their turn (a session watches
// the keyboard for its end key while it cannot act on other keys yet), and
// keys a script or a menu item queues for the session. Each session holds
// its own; the terminal hands out those of the session in front first, in
// the order they came, before reading new ones.
class heldKeys {
public:
    // Keeps one event; false when the store is full and the event was dropped.
    bool hold(const INPUT_RECORD& record);
    // The oldest kept event, if any.
    bool take(INPUT_RECORD* record);
    size_t count() const { return events_.size(); }
    void drop() { events_.clear(); }

private:
    std::deque<INPUT_RECORD> events_;
};

// The keys the terminal's readers hand out first while a session is in
// front (null: none); scoped, the one before comes back at the end.
class heldKeysInFront {
public:
    explicit heldKeysInFront(heldKeys* keys);
    ~heldKeysInFront();
    heldKeysInFront(const heldKeysInFront&) = delete;
    heldKeysInFront& operator=(const heldKeysInFront&) = delete;

private:
    heldKeys* before_;
};

// One key event straight from the terminal, without waiting and without
// looking at the kept ones: 1 record filled, 0 none waiting, -1 input gone.
int pollTerminalKey(INPUT_RECORD* record);
