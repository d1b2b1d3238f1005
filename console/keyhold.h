#pragma once

#include "console/keyboard.h"

// Key events taken from the terminal ahead of their turn (a session watches
// the keyboard for its end key while it cannot act on other keys yet). Every
// key reader hands these out first, in the order they were typed.

// Keeps one event; false when the store is full and the event was dropped.
bool holdKeyEvent(const INPUT_RECORD& record);
// The oldest kept event, if any.
bool takeHeldKey(INPUT_RECORD* record);
int heldKeyCount();
void dropHeldKeys();

// One key event straight from the terminal, without waiting and without
// looking at the kept ones: 1 record filled, 0 none waiting, -1 input gone.
int pollTerminalKey(INPUT_RECORD* record);
