#pragma once
#include "console/term.h"

// The terminal of a batch run: nothing is shown, and no key is typed on it
// (a script's keys go to the session through its control). A dialog that
// waits for a key finds none and reads the terminal as gone; that it asked
// is remembered, for the run ends with an error then.
class scriptTerminal : public MemoryTerminal {
public:
    scriptTerminal() { goneWhenEmpty = false; }
    bool dialogAsked = false;
    int readKey(int timeoutMs, INPUT_RECORD& record) override;
    // The script's text is UTF-8: the session takes its bytes beyond ASCII
    // as the characters they make.
    bool utf8Keys() const override { return true; }
    // No key comes by itself: a waiting run sleeps until its server or
    // its timers wake it.
    bool needsAsking() const override { return false; }
};
