#pragma once
#include <cstdint>

#include "console/cutil.h"
#include "console/keyboard.h"

// A mode of the session's screen (the history view): while it is open it
// takes the keys and makes the picture, and the session goes on under it.
class screenMode {
public:
    virtual ~screenMode() = default;

    // One key; false when the mode is done and closes.
    virtual bool key(const KEY_EVENT_RECORD& key) = 0;
    // The whole picture, with the cursor.
    virtual void draw(uint16_t (&cells)[screenRows][screenCols], int& x, int& y) = 0;
};
