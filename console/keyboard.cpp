#include "console/keyboard.h"

#include <chrono>

#include "console/global.h"
#include "console/keyhold.h"
#include "console/term.h"

INPUT_RECORD escEvent() {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = 1;
    record.Event.KeyEvent.wVirtualKeyCode = kcEsc;
    record.Event.KeyEvent.wVirtualScanCode = kcEscScan;
    return record;
}

namespace {

bool takeHeld(INPUT_RECORD* record) {
    heldKeys* held = terminal()->held();
    return held && held->take(record);
}

}  // namespace

int getKey(_win_st*, INPUT_RECORD* record) {
    if (!record) return 0;
    if (takeHeld(record)) return 1;
    return terminal()->readKey(1, *record) == 1 ? 1 : 0;
}

int waitKey(_win_st*, INPUT_RECORD* record, int timeoutMs) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    if (!EXIT && record && takeHeld(record)) return 1;
    for (;;) {
        if (EXIT) return -1;
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        INPUT_RECORD got{};
        const int read = terminal()->readKey(wait, got);
        if (read < 0) return -1;
        if (read == 1) {
            if (record) *record = got;
            return 1;
        }
        // Nothing came: the wait ran out, was interrupted by a signal (look at
        // EXIT again), or the terminal cannot block at all (scripted input).
        if (EXIT) return -1;
        if (terminal()->inputFd() < 0 && !terminal()->keyPending()) return 0;
        if (timeoutMs >= 0 && clock::now() >= deadline) return 0;
    }
}
