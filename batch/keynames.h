#pragma once
#include <string>

#include "console/keyboard.h"

// Key names of batch scripts, turned into the key events that the same keys
// typed in a session give, so that the session's own key handling sends them.

// The key event of one key name (Enter, F5, Ctrl+c, Shift+Tab...), as the
// same key typed in a session gives it; false with why otherwise.
bool batchKeyEvent(const std::string& name, INPUT_RECORD& record, std::string& why);
// The key event of one typed character (a byte of UTF-8 text).
INPUT_RECORD typedKeyEvent(unsigned char c);
