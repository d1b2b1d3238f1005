#include "console/keyhold.h"

#include <deque>

#include "console/term.h"

namespace {

// Far more than anyone types ahead; past it keys are dropped, not stored
// without bound.
constexpr size_t maxHeld = 65536;

std::deque<INPUT_RECORD>& held() {
    static std::deque<INPUT_RECORD> events;
    return events;
}

}  // namespace

bool holdKeyEvent(const INPUT_RECORD& record) {
    if (held().size() >= maxHeld) return false;
    held().push_back(record);
    return true;
}

bool takeHeldKey(INPUT_RECORD* record) {
    if (held().empty()) return false;
    if (record) *record = held().front();
    held().pop_front();
    return true;
}

int heldKeyCount() { return static_cast<int>(held().size()); }

void dropHeldKeys() { held().clear(); }

int pollTerminalKey(INPUT_RECORD* record) {
    int code = 0;
    for (;;) {
        const int got = terminal()->readKey(0, code);
        if (got < 0) return -1;
        if (got == 0) return 0;
        if (code <= 0) continue;  // a key code of 0 is not reported
        makeKeyEvent(code, record);
        return 1;
    }
}
