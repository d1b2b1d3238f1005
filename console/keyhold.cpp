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
    INPUT_RECORD got{};
    const int read = terminal()->readKey(0, got);
    if (read == 1 && record) *record = got;
    return read;
}
