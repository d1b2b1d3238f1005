#include "console/keyhold.h"

#include "console/term.h"

namespace {

// Far more than anyone types ahead; past it keys are dropped, not stored
// without bound.
constexpr size_t maxHeld = 65536;

}  // namespace

bool heldKeys::hold(const INPUT_RECORD& record) {
    if (events_.size() >= maxHeld) return false;
    events_.push_back(record);
    return true;
}

bool heldKeys::take(INPUT_RECORD* record) {
    if (events_.empty()) return false;
    if (record) *record = events_.front();
    events_.pop_front();
    return true;
}

heldKeysInFront::heldKeysInFront(heldKeys* keys) : before_(terminal()->held()) { terminal()->holdFrom(keys); }

heldKeysInFront::~heldKeysInFront() { terminal()->holdFrom(before_); }

int pollTerminalKey(INPUT_RECORD* record) {
    INPUT_RECORD got{};
    const int read = terminal()->readKey(0, got);
    if (read == 1 && record) *record = got;
    return read;
}
