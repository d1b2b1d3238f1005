#pragma once
#include <string>

#include "console/keyboard.h"

// Key names of batch scripts, turned into the key events that the same keys
// typed in a session give, so that the session's own key handling sends them.

// The key event of one key name (Enter, F5, Ctrl+c, Shift+Tab...), as the
// same key typed in a session gives it; false with why otherwise. Shift+F1
// to F7 and Alt+F1 to F7 both name the session's shortcut on either build;
// those that would open a view or end the session are refused. literal:
// the key as the server gets it, never a shortcut (send).
bool batchKeyEvent(const std::string& name, INPUT_RECORD& record, std::string& why, bool literal = false);
// The key event of one typed character (a byte of UTF-8 text).
INPUT_RECORD typedKeyEvent(unsigned char c);
